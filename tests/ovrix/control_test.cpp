// Every control code of the bus over vbus/control, sent as raw messages:
// answers, byte layouts and refusals.
#include <gtest/gtest.h>

#include <atomic>

#include "ovrix/daemon.h"
#include "ovrix_test_support.h"

namespace {

using namespace ovrix_test;
using ovrix::Target;

constexpr char kScanner[] = "usb#vid_1eab&pid_0d10#sim0001";

class ControlTest : public BusFixture {
  protected:
    void SetUp() override {
        BusFixture::SetUp();
        scanner_ = std::make_unique<FakeEndpoint>(kScanner);
        ovrix::DaemonOptions options;
        options.lifemode = ovrix::Lifemode::Persistent;
        options.isAdministrator = [this](uid_t) { return admin_.load(); };
        StartBus(options);
        if (HasFatalFailure())
            return;
        const std::optional<ovrix::PortInfo> port = OnlinePort(kScanner);
        ASSERT_TRUE(port && port->usbOnline);
        port_ = *port;
        com_ = "COM" + std::to_string(port_.comNumber);
    }
    void TearDown() override {
        daemon_.reset();
        scanner_.reset();
        BusFixture::TearDown();
    }
    Reply Ask(const Request& request) {
        Reply reply = Send(Path("vbus/control"), request);
        EXPECT_TRUE(reply.received);
        EXPECT_EQ(reply.header.magic, ovrix::kWireMagic);
        EXPECT_EQ(reply.header.outputLength, reply.output.size());
        return reply;
    }
    Reply AskPort(uint32_t code, uint32_t capacity = 0, bool forWrite = true) {
        return Ask(Request{code, Target::Port, forWrite, com_, {}, capacity});
    }

    std::unique_ptr<FakeEndpoint> scanner_;
    std::atomic<bool> admin_{false};
    ovrix::PortInfo port_;
    std::string com_;
};

TEST_F(ControlTest, VersionComesInTheFirstThreeWordsOfA180ByteRecord) {
    for (Target target : {Target::Interface, Target::Bus}) {
        Reply reply = Ask(Request{ovrix::IOCTL_OVRIX_GetVersion, target, false, "", {}, 180});
        ASSERT_EQ(reply.header.winError, 0u);
        auto version = As<ovrix::VersionInfo>(reply);
        EXPECT_EQ(version.major, ovrix::kVersionMajor);
        EXPECT_EQ(version.minor, ovrix::kVersionMinor);
        EXPECT_EQ(version.patch, ovrix::kVersionPatch);
    }
}

TEST_F(ControlTest, UsbInstancePathOfAPort) {
    struct Case {
        std::string id;
        uint32_t capacity;
        uint32_t error;
        std::string path;
    } cases[] = {
        {"KTR_VBUS\\Ktr_vcom\\" + port_.instance, 520, 0, "USB\\VID_1EAB&PID_0D10\\SIM0001"},
        {port_.instance, 520, 0, "USB\\VID_1EAB&PID_0D10\\SIM0001"},
        {"KTR_VBUS\\Ktr_vcom\\9999", 520, ovrix::kErrorDeviceNotConnected, ""},
        {"KTR_VBUS\\Ktr_vcom\\" + port_.instance, 8, ovrix::kErrorInsufficientBuffer, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id + " capacity " + std::to_string(c.capacity));
        Reply reply = Ask(Request{ovrix::IOCTL_OVRIX_GetUsbdDevinstpath, Target::Interface, false,
                                  "", Wide(c.id), c.capacity});
        EXPECT_EQ(reply.header.winError, c.error);
        if (c.error == 0)
            EXPECT_EQ(reply.output, Wide(c.path));
        else
            EXPECT_TRUE(reply.output.empty());
    }
    // Offline, nothing is connected behind the port.
    scanner_->Unplug();
    ASSERT_TRUE(Eventually([&] { return !daemon_->PortForUsb(kScanner)->usbOnline; }));
    Reply reply = Ask(Request{ovrix::IOCTL_OVRIX_GetUsbdDevinstpath, Target::Interface, false, "",
                              Wide(port_.instance), 520});
    EXPECT_EQ(reply.header.winError, ovrix::kErrorDeviceNotConnected);
}

TEST_F(ControlTest, QueryVcomFdoPdoNamesThePortAndTheLinkTargetItMade) {
    Request request{ovrix::IOCTL_OVRIX_QueryVcomFdoPdo,
                    Target::Bus,
                    false,
                    "",
                    Wide(port_.instance, ovrix::kQueryVcomInputBytes),
                    272};
    Reply reply = Ask(request);
    ASSERT_EQ(reply.header.winError, 0u);
    auto answer = As<ovrix::VcomFdoPdo>(reply);
    EXPECT_EQ(Narrow(answer.portName), com_);
    EXPECT_EQ(Narrow(answer.correctLinkTarget), port_.ttyPath);
    EXPECT_EQ(Narrow(answer.kernelLinkTarget), port_.ttyPath);
    EXPECT_FALSE(Narrow(answer.secondDeviceName).empty());
    // The link check compares the correct target with what the link holds.
    EXPECT_EQ(fs::read_symlink(ComLink(port_.comNumber)).string(),
              Narrow(answer.correctLinkTarget));

    // With the link removed behind the bus's back the answer still names the
    // correct target, so the caller can tell the link is missing.
    ASSERT_TRUE(platform::RemoveEntry(platform::kComFolder, com_));
    reply = Ask(request);
    ASSERT_EQ(reply.header.winError, 0u);
    EXPECT_EQ(Narrow(As<ovrix::VcomFdoPdo>(reply).correctLinkTarget), port_.ttyPath);

    request.input = Wide("0999", ovrix::kQueryVcomInputBytes);
    EXPECT_EQ(Ask(request).header.winError, ovrix::kErrorFileNotFound);
    request.input = Wide(port_.instance, ovrix::kQueryVcomInputBytes);
    request.outputCapacity = 271;
    EXPECT_EQ(Ask(request).header.winError, ovrix::kErrorInsufficientBuffer);
}

TEST_F(ControlTest, BusTestsAndAdministratorCheck) {
    struct Case {
        uint32_t code;
        bool forWrite;
        bool admin;
        uint32_t error;
    } cases[] = {
        {ovrix::IOCTL_OVRIX_VbusReadTest, false, false, 0},
        {ovrix::IOCTL_OVRIX_VbusWriteTest, true, false, ovrix::kErrorAccessDenied},
        {ovrix::IOCTL_OVRIX_VbusWriteTest, true, true, 0},
        // A write-access code on a handle opened read-only.
        {ovrix::IOCTL_OVRIX_VbusWriteTest, false, true, ovrix::kErrorAccessDenied},
        {ovrix::IOCTL_OVRIX_UnplugAllVcoms, false, true, ovrix::kErrorAccessDenied},
        {0x16123FFC, true, true, ovrix::kErrorInvalidFunction},
        // Port codes mean nothing to the bus.
        {ovrix::IOCTL_VCOM_GetDeviceState, true, true, ovrix::kErrorInvalidFunction},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << std::hex << c.code << " write " << c.forWrite << " admin " << c.admin);
        admin_ = c.admin;
        Reply reply = Ask(Request{c.code, Target::Bus, c.forWrite, "", {}, 0});
        EXPECT_EQ(reply.header.winError, c.error);
        EXPECT_TRUE(reply.output.empty());
    }
    EXPECT_TRUE(ComLive(port_.comNumber)) << "a refused unplug removed the port";
}

TEST_F(ControlTest, UnplugAllRemovesPortsAndReinstallBringsThemBack) {
    EXPECT_EQ(Ask(Request{ovrix::IOCTL_OVRIX_UnplugAllVcoms, Target::Bus, true, "", {}, 0})
                  .header.winError,
              0u);
    EXPECT_FALSE(daemon_->PortForUsb(kScanner).has_value());
    EXPECT_FALSE(fs::is_symlink(ComLink(port_.comNumber)));
    EXPECT_EQ(AskPort(ovrix::IOCTL_VCOM_GetDeviceState, 1072).header.winError,
              ovrix::kErrorDeviceNotConnected);

    EXPECT_EQ(Ask(Request{ovrix::IOCTL_OVRIX_ReinstallVbus, Target::Bus, true, "", {}, 0})
                  .header.winError,
              0u);
    auto port = daemon_->PortForUsb(kScanner);
    ASSERT_TRUE(port.has_value());
    EXPECT_TRUE(port->usbOnline);
    EXPECT_TRUE(ComLive(port->comNumber));
    EXPECT_EQ(ReadText(Path("vbus/Ktr_vcom/" + port->instance + "/PortName")),
              "COM" + std::to_string(port->comNumber));
    TtyHandle com(ComLink(port->comNumber));
    WriteText(scanner_->master(), "after reinstall");
    EXPECT_EQ(ReadBytes(com.fd(), 15), "after reinstall");
}

TEST_F(ControlTest, DeviceStateLayout) {
    Reply reply = AskPort(ovrix::IOCTL_VCOM_GetDeviceState, 1072, false);
    ASSERT_EQ(reply.header.winError, 0u);
    ASSERT_EQ(reply.output.size(), 1072u);
    auto word = [&](size_t offset) {
        uint32_t value;
        std::memcpy(&value, reply.output.data() + offset, 4);
        return value;
    };
    EXPECT_EQ(word(4), 2u);  // Persistent
    EXPECT_EQ(word(8), 1u);
    uint64_t lastOnline;
    std::memcpy(&lastOnline, reply.output.data() + 16, 8);
    EXPECT_GT(lastOnline, 1600000000000u);
    auto wideAt = [&](size_t offset) {
        std::string text;
        for (size_t i = offset; i + 1 < offset + 520 && reply.output[i] != 0; i += 2)
            text += static_cast<char>(reply.output[i]);
        return text;
    };
    EXPECT_EQ(wideAt(32), "KTR_VBUS\\Ktr_vcom\\" + port_.instance);
    EXPECT_EQ(wideAt(552), "USB\\VID_1EAB&PID_0D10\\SIM0001");
    EXPECT_EQ(AskPort(ovrix::IOCTL_VCOM_GetDeviceState, 1071).header.winError,
              ovrix::kErrorInsufficientBuffer);
}

TEST_F(ControlTest, OneTimeTemporalSwitchRemovesAKeptPortOnce) {
    auto query = [&] {
        Reply reply = AskPort(ovrix::IOCTL_VCOM_OneTimeTemporalLifemode_Query, 1, false);
        EXPECT_EQ(reply.header.winError, 0u);
        return reply.output.size() == 1 ? reply.output[0] : 0xFF;
    };
    EXPECT_EQ(query(), 0);
    EXPECT_EQ(AskPort(ovrix::IOCTL_VCOM_OneTimeTemporalLifemode_Enable).header.winError, 0u);
    EXPECT_EQ(query(), 1);
    EXPECT_EQ(AskPort(ovrix::IOCTL_VCOM_OneTimeTemporalLifemode_Disable).header.winError, 0u);
    EXPECT_EQ(query(), 0);
    EXPECT_EQ(AskPort(ovrix::IOCTL_VCOM_OneTimeTemporalLifemode_Enable, 0, false).header.winError,
              ovrix::kErrorAccessDenied);
    EXPECT_EQ(query(), 0);

    EXPECT_EQ(AskPort(ovrix::IOCTL_VCOM_OneTimeTemporalLifemode_Enable).header.winError, 0u);
    scanner_->Unplug();
    EXPECT_TRUE(Eventually([&] { return !daemon_->PortForUsb(kScanner).has_value(); }));
    EXPECT_FALSE(fs::is_symlink(ComLink(port_.comNumber)));

    // On return the scanner gets a port again, with the bus's lifemode and
    // the switch off.
    scanner_ = std::make_unique<FakeEndpoint>(kScanner);
    ASSERT_TRUE(Eventually([&] { return daemon_->PortForUsb(kScanner).has_value(); }));
    auto port = *daemon_->PortForUsb(kScanner);
    EXPECT_EQ(port.lifemode, ovrix::Lifemode::Persistent);
    EXPECT_FALSE(port.oneTimeTemporal);
}

TEST_F(ControlTest, MalformedRequestsAreAnsweredNotDropped) {
    auto good = Encode(Request{ovrix::IOCTL_OVRIX_VbusReadTest, Target::Bus, false, "", {}, 0});
    std::vector<uint8_t> badMagic = good;
    badMagic[0] ^= 0xFF;
    std::vector<uint8_t> lyingLength = good;
    lyingLength[offsetof(ovrix::RequestHeader, inputLength)] = 40;
    std::vector<uint8_t> tooShort(good.begin(), good.begin() + 20);
    std::vector<uint8_t> badTarget = good;
    badTarget[offsetof(ovrix::RequestHeader, target)] = 9;
    std::vector<uint8_t> tooLarge =
        Encode(Request{ovrix::IOCTL_OVRIX_QueryVcomFdoPdo, Target::Bus, false, "",
                       std::vector<uint8_t>(ovrix::kMaxPayload + 1, 1), 272});
    for (const auto& message : {badMagic, lyingLength, tooShort, badTarget, tooLarge}) {
        Reply reply = SendRaw(Path("vbus/control"), message);
        ASSERT_TRUE(reply.received);
        EXPECT_EQ(reply.header.winError, ovrix::kErrorInvalidParameter);
        EXPECT_TRUE(reply.output.empty());
    }
    // An unknown port name, and a port code sent to no port.
    Reply unknown =
        Ask(Request{ovrix::IOCTL_VCOM_GetDeviceState, Target::Port, true, "COM99", {}, 1072});
    EXPECT_EQ(unknown.header.winError, ovrix::kErrorDeviceNotConnected);
    EXPECT_EQ(AskPort(ovrix::IOCTL_OVRIX_GetVersion, 180).header.winError,
              ovrix::kErrorInvalidFunction);
}

}  // namespace
