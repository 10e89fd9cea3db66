// The bus as the console's port layer reaches it: control requests through
// DeviceIoControl on the bus, its interface and an open port, and data
// through ReadFile/WriteFile.
#include <gtest/gtest.h>

#include "ovrix/daemon.h"
#include "ovrix_test_support.h"
#include "port/win_port.h"

namespace {

using namespace ovrix_test;

constexpr char kScanner[] = "usb#vid_1eab&pid_0d10#sim0001";

class PortClientTest : public RuntimeDirFixture {
  protected:
    void SetUp() override {
        RuntimeDirFixture::SetUp();
        scanner_ = std::make_unique<FakeEndpoint>(kScanner);
        ovrix::DaemonOptions options;
        options.lifemode = ovrix::Lifemode::Friendly;
        options.isAdministrator = [](uid_t) { return false; };
        bus_ = std::make_unique<ovrix::Daemon>(options);
        std::string error;
        ASSERT_TRUE(bus_->Start(&error)) << error;
        ASSERT_TRUE(Eventually([&] {
            auto port = bus_->PortForUsb(kScanner);
            return port && port->usbOnline;
        }));
        port_ = *bus_->PortForUsb(kScanner);
    }
    void TearDown() override {
        bus_.reset();
        scanner_.reset();
        RuntimeDirFixture::TearDown();
    }
    static win::HANDLE Open(const std::string& path, win::DWORD access) {
        return win::CreateFile(path.c_str(), access, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE,
                               nullptr, win::OPEN_EXISTING, 0, nullptr);
    }

    std::unique_ptr<FakeEndpoint> scanner_;
    std::unique_ptr<ovrix::Daemon> bus_;
    ovrix::PortInfo port_;
};

TEST_F(PortClientTest, BusAndInterfaceRequests) {
    const char* interfacePath = win::VbusInterfacePath();
    ASSERT_STRNE(interfacePath, "");
    win::HANDLE iface = Open(interfacePath, win::GENERIC_READ);
    ASSERT_NE(iface, win::INVALID_HANDLE_VALUE);
    ovrix::VersionInfo version{};
    win::DWORD returned = 0;
    ASSERT_TRUE(win::DeviceIoControl(iface, ovrix::IOCTL_OVRIX_GetVersion, nullptr, 0, &version,
                                     sizeof version, &returned, nullptr));
    EXPECT_EQ(returned, sizeof version);
    EXPECT_EQ(version.major, ovrix::kVersionMajor);

    auto id = Wide(ovrix::kVcomInstancePrefix + port_.instance);
    char16_t path[ovrix::kDevinstpathChars] = {};
    ASSERT_TRUE(win::DeviceIoControl(iface, ovrix::IOCTL_OVRIX_GetUsbdDevinstpath, id.data(),
                                     static_cast<win::DWORD>(id.size()), path, sizeof path,
                                     &returned, nullptr));
    EXPECT_EQ(Narrow(path), "USB\\VID_1EAB&PID_0D10\\SIM0001");
    win::CloseHandle(iface);

    win::HANDLE readOnly = Open("\\\\.\\KTR_OVRIX_VBUS", win::GENERIC_READ);
    ASSERT_NE(readOnly, win::INVALID_HANDLE_VALUE);
    EXPECT_TRUE(win::DeviceIoControl(readOnly, ovrix::IOCTL_OVRIX_VbusReadTest, nullptr, 0, nullptr,
                                     0, &returned, nullptr));
    win::CloseHandle(readOnly);
    win::HANDLE readWrite = Open("\\\\.\\KTR_OVRIX_VBUS", win::GENERIC_READ | win::GENERIC_WRITE);
    ASSERT_NE(readWrite, win::INVALID_HANDLE_VALUE);
    EXPECT_FALSE(win::DeviceIoControl(readWrite, ovrix::IOCTL_OVRIX_VbusWriteTest, nullptr, 0,
                                      nullptr, 0, &returned, nullptr));
    EXPECT_EQ(win::GetLastError(), ovrix::kErrorAccessDenied);
    win::CloseHandle(readWrite);
}

TEST_F(PortClientTest, PortRequestsAndDataOnAnOpenPort) {
    std::string name = "\\\\.\\COM" + std::to_string(port_.comNumber);
    win::HANDLE com = Open(name, win::GENERIC_READ | win::GENERIC_WRITE);
    ASSERT_NE(com, win::INVALID_HANDLE_VALUE) << win::GetLastError();
    win::DWORD returned = 0;
    ASSERT_TRUE(win::DeviceIoControl(com, ovrix::IOCTL_VCOM_OneTimeTemporalLifemode_Enable, nullptr,
                                     0, nullptr, 0, &returned, nullptr));
    uint8_t on = 0;
    ASSERT_TRUE(win::DeviceIoControl(com, ovrix::IOCTL_VCOM_OneTimeTemporalLifemode_Query, nullptr,
                                     0, &on, 1, &returned, nullptr));
    EXPECT_EQ(on, 1);
    ovrix::DeviceState state{};
    ASSERT_TRUE(win::DeviceIoControl(com, ovrix::IOCTL_VCOM_GetDeviceState, nullptr, 0, &state,
                                     sizeof state, &returned, nullptr));
    EXPECT_EQ(state.lifemode, static_cast<uint32_t>(ovrix::Lifemode::Friendly));
    EXPECT_EQ(state.isUsbdOnline, 1u);
    EXPECT_EQ(Narrow(state.szVcomDevinstpath), ovrix::kVcomInstancePrefix + port_.instance);

    win::DWORD moved = 0;
    ASSERT_TRUE(win::WriteFile(com, "SCAN?", 5, &moved, nullptr));
    EXPECT_EQ(ReadBytes(scanner_->master(), 5), "SCAN?");
    WriteText(scanner_->master(), "reply");
    char buffer[5] = {};
    ASSERT_TRUE(win::ReadFile(com, buffer, sizeof buffer, &moved, nullptr));
    EXPECT_EQ(std::string(buffer, moved), "reply");
    win::CloseHandle(com);
}

}  // namespace
