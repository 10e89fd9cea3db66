// A simulated scanner in a runtime namespace of the test's own, with a fault
// set per case. Header only: the test programs that use it link scansim_core.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "scansim/scanner.h"
#include "support/temp_dir.h"

namespace support {

// Starts a scanner in the current runtime namespace; null, with a test
// failure naming the reason, when it cannot start.
inline std::unique_ptr<scansim::Scanner> StartScanner(const scansim::ScannerOptions& options) {
    std::string error;
    auto scanner = scansim::Scanner::Start(options, &error);
    EXPECT_NE(scanner, nullptr) << error;
    return scanner;
}

inline std::unique_ptr<scansim::Scanner> StartUsbScanner(const std::string& serial) {
    scansim::ScannerOptions options;
    options.usbSerial = serial;
    return StartScanner(options);
}

// Each test: a fresh runtime namespace, the scanners it starts, each with the
// fault it is given (scansim::Fault{} for none).
class ScansimTest : public ::testing::Test {
  protected:
    scansim::Scanner* StartUsb(const std::string& serial,
                               const scansim::Fault& fault = scansim::Fault{}) {
        scansim::ScannerOptions options;
        options.usbSerial = serial;
        return Start(options, fault);
    }
    scansim::Scanner* Start(const scansim::ScannerOptions& options,
                            const scansim::Fault& fault = scansim::Fault{}) {
        auto scanner = StartScanner(options);
        if (scanner == nullptr)
            return nullptr;
        scanner->SetFault(fault);
        scanners_.push_back(std::move(scanner));
        return scanners_.back().get();
    }

    RuntimeDir runtime_;
    std::vector<std::unique_ptr<scansim::Scanner>> scanners_;
};

}  // namespace support
