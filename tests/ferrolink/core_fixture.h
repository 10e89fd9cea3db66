// A private runtime namespace per test, scanners from the simulator in it,
// and a pty pair for tests that play the device byte by byte.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ferrolink/ferrolink.h"
#include "scansim/scanner.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"

class CoreTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    scansim::Scanner* StartUsb(const std::string& serial, const std::string& product = "P1");
    scansim::Scanner* StartCom(unsigned port, unsigned baud);
    // A device the test plays itself: its master side and the record's port.
    int StartPtyDevice(const std::string& usbName);

    std::unique_ptr<support::RuntimeDir> runtime_;
    std::filesystem::path runtimeDir_;
    std::vector<std::unique_ptr<scansim::Scanner>> scanners_;
    std::vector<std::unique_ptr<support::PtyPair>> devices_;
};

// A zeroed table of records, as callers prepare them.
std::vector<_QVDeviceInfo> ZeroedTable(size_t count);
// A record for a USB endpoint of the namespace.
_QVDeviceInfo UsbRecord(const std::string& usbName);
// Reads what the device side has, waiting up to timeoutMs for the first byte.
std::string ReadMaster(int master, int timeoutMs = 2000);
