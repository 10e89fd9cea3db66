// The bus in-process: ports made for USB endpoints, their published values,
// bytes both ways, lifemodes, the linked pair, the data pipe and clean stop.
#include <gtest/gtest.h>

#include "ovrix/daemon.h"
#include "ovrix_test_support.h"

namespace {

using namespace ovrix_test;

constexpr char kScanner[] = "usb#vid_1eab&pid_0d10#sim0001";
constexpr char kScannerInstancePath[] = "USB\\VID_1EAB&PID_0D10\\SIM0001";

class BusTest : public BusFixture {
  protected:
    // Waits for the port of a USB endpoint and returns it.
    ovrix::PortInfo PortOf(const std::string& usbName) {
        const std::optional<ovrix::PortInfo> port = OnlinePort(usbName);
        EXPECT_TRUE(port.has_value()) << "no port for " << usbName;
        return port.value_or(ovrix::PortInfo{});
    }
    ovrix::DeviceState StateOf(unsigned comNumber) {
        Request request{ovrix::IOCTL_VCOM_GetDeviceState,
                        ovrix::Target::Port,
                        false,
                        "COM" + std::to_string(comNumber),
                        {},
                        sizeof(ovrix::DeviceState)};
        Reply reply = Send(Path("vbus/control"), request);
        EXPECT_TRUE(reply.received);
        EXPECT_EQ(reply.header.winError, 0u);
        return As<ovrix::DeviceState>(reply);
    }
    // Sends text one way and checks it arrives whole.
    static void ExpectCarried(int from, int to, const std::string& text) {
        WriteText(from, text);
        EXPECT_EQ(ReadBytes(to, text.size()), text);
    }
};

TEST_F(BusTest, PortIsPublishedWithItsValuesOnTheFirstFreeNumber) {
    // COM7 is already somebody else's live port: the bus must not take it.
    ASSERT_TRUE(platform::AddEntry(platform::kComFolder, "COM7", "/dev/null"));

    // Values left behind by a bus that died.
    fs::create_directories(Path("vbus/Ktr_vcom/0005"));
    std::ofstream(Path("vbus/Ktr_vcom/0005/PortName")) << "COM3";

    FakeEndpoint scanner(kScanner);
    StartBus();
    ovrix::PortInfo port = PortOf(kScanner);
    EXPECT_FALSE(fs::exists(Path("vbus/Ktr_vcom/0005"))) << "stale port values kept";
    EXPECT_EQ(port.comNumber, 8u);
    EXPECT_EQ(port.instance, "0001");
    EXPECT_EQ(fs::read_symlink(ComLink(8)), port.ttyPath);
    EXPECT_EQ(ReadText(Path("vbus/Ktr_vcom/0001/PortName")), "COM8");
    EXPECT_EQ(ReadText(Path("vbus/Ktr_vcom/0001/HardwareDevinstpath")), kScannerInstancePath);
    EXPECT_EQ(fs::read_symlink(ComLink(7)), "/dev/null") << "a foreign link was replaced";

    // A scanner plugged in while the bus runs gets the next number.
    FakeEndpoint second("usb#vid_1eab&pid_0d10#sim0002");
    EXPECT_EQ(PortOf(second.name()).comNumber, 9u);
    EXPECT_EQ(ReadText(Path("vbus/Ktr_vcom/0002/PortName")), "COM9");
}

TEST_F(BusTest, BytesFlowBothWaysBetweenPortAndScanner) {
    FakeEndpoint scanner(kScanner);
    StartBus();
    ovrix::PortInfo port = PortOf(kScanner);
    TtyHandle com(ComLink(port.comNumber));
    ASSERT_GE(com.fd(), 0);
    ExpectCarried(com.fd(), scanner.master(), "DFMQCU;\r");
    // Binary data including bytes a cooked tty would eat or translate.
    ExpectCarried(scanner.master(), com.fd(), std::string("\x02scan\r\n\x03\x00\x7f\x11\x13", 12));
    std::string large(20000, 'x');
    for (size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<char>('a' + i % 26);
    std::thread writer([&] { WriteText(scanner.master(), large); });
    EXPECT_EQ(ReadBytes(com.fd(), large.size()), large);
    writer.join();
}

TEST_F(BusTest, ScannerBytesWaitUntouchedForTheFirstReader) {
    // Until a program opens the port, the bus's own hold on it must not act
    // as a terminal: no echo back to the scanner, no line editing.
    FakeEndpoint scanner(kScanner);
    StartBus();
    ovrix::PortInfo port = PortOf(kScanner);
    const std::string scan("4006381333931\r", 14);
    WriteText(scanner.master(), scan);
    EXPECT_EQ(ReadBytes(scanner.master(), 1, 1), "") << "the scan was echoed to the scanner";
    TtyHandle com(ComLink(port.comNumber));
    EXPECT_EQ(ReadBytes(com.fd(), scan.size()), scan);
}

TEST_F(BusTest, TemporalPortGoesWithItsScanner) {
    // However the scanner leaves: its entry removed, its tty hung up, or both.
    struct Way {
        const char* name;
        void (FakeEndpoint::*leave)();
    } ways[] = {{"unplug", &FakeEndpoint::Unplug},
                {"link removed", &FakeEndpoint::RemoveLink},
                {"hang-up", &FakeEndpoint::HangUp}};
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        FakeEndpoint scanner(kScanner);
        StartBus();
        ovrix::PortInfo port = PortOf(kScanner);
        (scanner.*way.leave)();
        EXPECT_TRUE(Eventually([&] { return !daemon_->PortForUsb(kScanner).has_value(); }));
        EXPECT_FALSE(fs::is_symlink(ComLink(port.comNumber)));
        EXPECT_FALSE(fs::exists(Path("vbus/Ktr_vcom/" + port.instance)));
        daemon_.reset();
    }
}

TEST_F(BusTest, KeptPortWaitsOfflineAndReconnects) {
    for (ovrix::Lifemode mode : {ovrix::Lifemode::Friendly, ovrix::Lifemode::Persistent}) {
        SCOPED_TRACE(static_cast<int>(mode));
        auto scanner = std::make_unique<FakeEndpoint>(kScanner);
        ovrix::DaemonOptions options;
        options.lifemode = mode;
        StartBus(options);
        ovrix::PortInfo port = PortOf(kScanner);
        TtyHandle com(ComLink(port.comNumber));

        ovrix::DeviceState online = StateOf(port.comNumber);
        EXPECT_EQ(online.lifemode, static_cast<uint32_t>(mode));
        EXPECT_EQ(online.isUsbdOnline, 1u);
        EXPECT_GT(online.uemsecUsbdLastOnline, 1600000000000u);
        EXPECT_EQ(online.uemsecUsbdLastOffline, 0u);
        const fs::path onlineValue = Path("vbus/Ktr_vcom/" + port.instance + "/UsbdOnline");
        EXPECT_EQ(ReadText(onlineValue), "1");

        scanner->Unplug();
        ASSERT_TRUE(Eventually([&] { return !daemon_->PortForUsb(kScanner)->usbOnline; }));
        EXPECT_TRUE(ComLive(port.comNumber));
        EXPECT_EQ(ReadText(onlineValue), "0");
        ovrix::DeviceState offline = StateOf(port.comNumber);
        EXPECT_EQ(offline.isUsbdOnline, 0u);
        EXPECT_GE(offline.uemsecUsbdLastOffline, online.uemsecUsbdLastOnline);
        EXPECT_EQ(Narrow(offline.szUsbdDevinstpath), kScannerInstancePath);

        // The scanner returns on a new tty; the same open port carries data again.
        scanner = std::make_unique<FakeEndpoint>(kScanner);
        EXPECT_EQ(PortOf(kScanner).comNumber, port.comNumber);
        ExpectCarried(scanner->master(), com.fd(), "again");
        ExpectCarried(com.fd(), scanner->master(), "back");
        EXPECT_EQ(StateOf(port.comNumber).isUsbdOnline, 1u);
        EXPECT_EQ(ReadText(onlineValue), "1");
        scanner.reset();
        daemon_.reset();
    }
}

TEST_F(BusTest, LinkedPairCarriesBytesBothWays) {
    ovrix::DaemonOptions options;
    options.pairs.push_back({20, 21});
    StartBus(options);
    ASSERT_TRUE(ComLive(20) && ComLive(21));
    TtyHandle a(ComLink(20));
    TtyHandle b(ComLink(21));
    ExpectCarried(a.fd(), b.fd(), "ping from 20");
    ExpectCarried(b.fd(), a.fd(), "pong from 21");
    // Pair ends are bus ports with their own values, without hardware behind.
    auto ports = daemon_->Ports();
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ReadText(Path("vbus/Ktr_vcom/" + ports[0].instance + "/PortName")), "COM20");
    EXPECT_FALSE(fs::exists(Path("vbus/Ktr_vcom/" + ports[0].instance + "/HardwareDevinstpath")));
}

TEST_F(BusTest, PairOnANumberInUseRefusesToStart) {
    ASSERT_TRUE(platform::AddEntry(platform::kComFolder, "COM21", "/dev/null"));
    ovrix::DaemonOptions options;
    options.pairs.push_back({20, 21});
    ovrix::Daemon daemon(options);
    std::string error;
    EXPECT_FALSE(daemon.Start(&error));
    EXPECT_NE(error.find("COM20:COM21"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(Path("vbus/control")));
    EXPECT_EQ(fs::read_symlink(ComLink(21)), "/dev/null");
}

TEST_F(BusTest, DatapipeEchoesWhatIsWritten) {
    StartBus();
    TtyHandle pipe(Path("vbus/datapipe"));
    ASSERT_GE(pipe.fd(), 0);
    ExpectCarried(pipe.fd(), pipe.fd(), "round trip\r\n");
}

TEST_F(BusTest, StopRemovesEverythingPublished) {
    FakeEndpoint scanner(kScanner);
    ovrix::DaemonOptions options;
    options.pairs.push_back({30, 31});
    StartBus(options);
    unsigned number = PortOf(kScanner).comNumber;
    daemon_->Stop();
    for (unsigned n : {number, 30u, 31u})
        EXPECT_FALSE(fs::is_symlink(ComLink(n))) << n;
    EXPECT_FALSE(fs::exists(Path("vbus/control")));
    EXPECT_FALSE(fs::is_symlink(Path("vbus/datapipe")));
    EXPECT_TRUE(fs::is_empty(Path("vbus/Ktr_vcom")));
    // The scanner's own entry is not the bus's to remove.
    EXPECT_TRUE(fs::is_symlink(Path(std::string("usb/") + kScanner)));
}

TEST_F(BusTest, SecondBusOnTheSameNamespaceIsRefused) {
    StartBus();
    ovrix::Daemon second{ovrix::DaemonOptions{}};
    std::string error;
    EXPECT_FALSE(second.Start(&error));
    EXPECT_NE(error.find("another ovrixd"), std::string::npos) << error;
    // The first one still answers.
    Reply reply =
        Send(Path("vbus/control"),
             Request{ovrix::IOCTL_OVRIX_VbusReadTest, ovrix::Target::Bus, false, "", {}, 0});
    EXPECT_TRUE(reply.received);
    EXPECT_EQ(reply.header.winError, 0u);
}

}  // namespace
