// The bus in front of the scanner simulator: scans reach the virtual port,
// the host's bytes reach the scanner, and a persistent port rides out an
// unplug and plug of the simulator.
#include <gtest/gtest.h>

#include "ovrix/daemon.h"
#include "ovrix_test_support.h"
#include "scansim/scanner.h"

namespace {

using namespace ovrix_test;

class ScansimBridgeTest : public RuntimeDirFixture {};

bool ScannerReceived(const scansim::Scanner& scanner, const std::string& bytes) {
    std::string all;
    for (const scansim::Received& entry : scanner.Log())
        all += entry.bytes;
    return all.find(bytes) != std::string::npos;
}

TEST_F(ScansimBridgeTest, ScansAndCommandsCrossAPersistentPortAcrossReplug) {
    std::string error;
    auto scanner = scansim::Scanner::Start(scansim::ScannerOptions{}, &error);
    ASSERT_TRUE(scanner) << error;
    ovrix::DaemonOptions options;
    options.lifemode = ovrix::Lifemode::Persistent;
    ovrix::Daemon bus(options);
    ASSERT_TRUE(bus.Start(&error)) << error;
    std::optional<ovrix::PortInfo> port;
    ASSERT_TRUE(Eventually([&] {
        port = bus.PortForUsb(scanner->EntryName());
        return port && port->usbOnline;
    }));
    TtyHandle com(ComLink(port->comNumber));

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        const std::string scan = "0123456789012-" + std::to_string(round) + "\r";
        ASSERT_TRUE(scanner->SendScan(scan));
        EXPECT_EQ(ReadBytes(com.fd(), scan.size()), scan);
        const std::string host = "host bytes " + std::to_string(round);
        WriteText(com.fd(), host);
        EXPECT_TRUE(Eventually([&] { return ScannerReceived(*scanner, host); }));

        ASSERT_TRUE(scanner->Unplug());
        ASSERT_TRUE(Eventually([&] { return !bus.PortForUsb(scanner->EntryName())->usbOnline; }));
        ASSERT_TRUE(scanner->Plug());
        ASSERT_TRUE(Eventually([&] { return bus.PortForUsb(scanner->EntryName())->usbOnline; }));
        EXPECT_EQ(bus.PortForUsb(scanner->EntryName())->comNumber, port->comNumber);
        scanner->ClearLog();
    }
}

}  // namespace
