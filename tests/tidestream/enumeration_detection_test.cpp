#include <gtest/gtest.h>

#include <cstring>

#include "pty_fixture.h"
#include "udev_devices.h"

using namespace test;

namespace {

std::u16string EntryAt(const std::vector<unsigned char>& buffer, int i) {
    const auto* units = reinterpret_cast<const char16_t*>(buffer.data() + QVDS_USB_ENTRY_BYTES * i);
    return std::u16string(units, std::char_traits<char16_t>::length(units));
}

TEST(Enumeration, ListsLiveUsbEntriesAsDevicePaths) {
    support::RuntimeDir dir;
    support::PtyPair a, b;
    ASSERT_TRUE(platform::AddEntry("usb", "usb#vid_1eab&pid_0d10#sim0002", b.node()));
    ASSERT_TRUE(platform::AddEntry("usb", "usb#vid_1eab&pid_0d10#sim0001", a.node()));
    ASSERT_TRUE(platform::AddEntry("usb", "usb#vid_1eab&pid_0d10#gone", dir.Path() / "x"));
    // 220 characters of name: with prefix and class suffix the path would
    // not fit its 256 units, so it is left out rather than cut.
    ASSERT_TRUE(platform::AddEntry("usb", "usb#" + std::string(216, 'l'), a.node()));

    std::vector<unsigned char> buffer(20 * QVDS_USB_ENTRY_BYTES, 0xCC);
    ASSERT_EQ(qvds_enum_usb_device(buffer.data(), 20), 2);
    EXPECT_EQ(EntryAt(buffer, 0), UsbPath("usb#vid_1eab&pid_0d10#sim0001"));
    EXPECT_EQ(EntryAt(buffer, 1), UsbPath("usb#vid_1eab&pid_0d10#sim0002"));
    EXPECT_EQ(buffer[2 * QVDS_USB_ENTRY_BYTES], 0xCC);  // nothing written past the list

    // The listed path opens the device.
    Handle h;
    int err = -1;
    EXPECT_EQ(qvds_open_usb(h, EntryAt(buffer, 1).c_str(), 3, &err), 1);

    std::fill(buffer.begin(), buffer.end(), 0xCC);
    EXPECT_EQ(qvds_enum_usb_device(buffer.data(), 1), 1);
    EXPECT_EQ(buffer[QVDS_USB_ENTRY_BYTES], 0xCC);
}

TEST(Enumeration, ListsComPortsInOrder) {
    support::RuntimeDir dir;
    support::PtyPair a, b;
    ASSERT_TRUE(platform::AddEntry("dosdevices", "COM10", a.node()));
    ASSERT_TRUE(platform::AddEntry("dosdevices", "COM3", b.node()));
    ASSERT_TRUE(platform::AddEntry("dosdevices", "COM4", dir.Path() / "gone"));
    ComPortSettings ports[20];
    std::memset(ports, 0xCC, sizeof ports);
    ASSERT_EQ(qvds_enum_serial_ports(ports, 20), 2);
    EXPECT_EQ(ports[0].wPort, 3);
    EXPECT_EQ(ports[0].dwBaudRate, 0u);
    EXPECT_EQ(ports[1].wPort, 10);
    EXPECT_EQ(qvds_enum_serial_ports(ports, 1), 1);
}

TEST(UsbIds, UserListsAreParsedAndMatched) {
    using tidestream::ParseUsbIds;
    using tidestream::UsbIdAccepted;
    const auto ids = ParseUsbIds("0483:5740, 1a86 # comment 9999\nzzzz 12345 04b4:zz\n");
    ASSERT_EQ(ids.size(), 2u);
    struct Case {
        uint32_t vendor, product;
        bool accepted;
    };
    const Case cases[] = {
        {0x0483, 0x5740, true},  {0x0483, 0x5741, false}, {0x1a86, 0x7523, true},
        {0x9999, 0x0001, false}, {0x04b4, 0x0001, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UsbIdAccepted(ids, c.vendor, c.product), c.accepted)
            << std::hex << c.vendor << ":" << c.product;
    }
    EXPECT_TRUE(UsbIdAccepted(ParseUsbIds("*"), 0x1234, 0x5678));
    ::setenv("TIDESTREAM_USB_IDS", "0403:6001", 1);
    EXPECT_TRUE(UsbIdAccepted(tidestream::AcceptedUsbIds(), 0x0403, 0x6001));
    EXPECT_TRUE(UsbIdAccepted(tidestream::AcceptedUsbIds(), 0x1eab, 0x0d10));  // built in
    ::unsetenv("TIDESTREAM_USB_IDS");
}

// A device that answers the identification only at 38400 baud, as a scanner
// set to that rate would: the slave's line speed decides.
size_t AnswerAt38400(const std::string& received, support::PtyPair& pty) {
    const size_t end = received.find(std::string(";\x03", 2));
    if (end == std::string::npos) {
        return 0;
    }
    if (received.substr(0, end + 2) == CommandFrame("QRYSYS,PDN,PSN") &&
        pty.SlaveSpeed() == B38400) {
        pty.Send(ReplyFrame("Product Name:SIM\r\nSerial Number:0001\r\n"));
    }
    return end + 2;
}

TEST(Detection, FindsTheRateADeviceAnswersAt) {
    support::RuntimeDir dir;
    support::PtyPair answering, silent;
    ASSERT_TRUE(platform::AddEntry("dosdevices", "COM3", answering.node()));
    ASSERT_TRUE(platform::AddEntry("dosdevices", "COM5", silent.node()));
    ASSERT_TRUE(platform::AddEntry("dosdevices", "COM6", dir.Path() / "gone"));
    Device device(answering, AnswerAt38400);

    ComPortSettings ports[20] = {};
    ASSERT_EQ(qvds_enum_serial_ports(ports, 20), 2);
    ports[2].wPort = 6;  // a port that vanished after listing
    // 500 ms per rate keeps the test calm on a loaded machine.
    ASSERT_EQ(qvds_detect_serial_settings(ports, 3, 500), 3);
    EXPECT_EQ(ports[0].wPort, 3);
    EXPECT_EQ(ports[0].dwBaudRate, 38400u);
    EXPECT_EQ(ports[0].byDataBits, 8);
    EXPECT_EQ(ports[1].dwBaudRate, 0u);
    EXPECT_EQ(ports[2].dwBaudRate, 0u);

    // The detected settings open the device, and it answers there.
    Handle h;
    int err = -1;
    ASSERT_EQ(qvds_open_com(h, &ports[0], &err), 1);
    const std::string frame = CommandFrame("QRYSYS,PDN,PSN");
    ASSERT_EQ(qvds_clean(h, 0), 1);
    ASSERT_EQ(qvds_write(h, frame.data(), static_cast<uint32_t>(frame.size())), 1);
    char reply[10240];
    EXPECT_GT(qvds_read_until(h, reply, sizeof reply, 3000, -2, ";\x03", 2, &err), 0);
}

}  // namespace
