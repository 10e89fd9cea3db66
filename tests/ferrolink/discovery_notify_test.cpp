// Discovery against simulated scanners, notification and the one-shot read.
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "core_fixture.h"

namespace {

using namespace std::chrono_literals;

template <typename Predicate>
bool WaitFor(Predicate done, std::chrono::milliseconds limit = 5000ms) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

TEST_F(CoreTest, DiscoveryListsUsbBeforeSerialAndFillsIdentity) {
    StartCom(5, 38400);
    StartUsb("zz01", "USBSCAN");
    auto table = ZeroedTable(20);
    ASSERT_EQ(qv_GetDevice(table.data(), 20), 2);
    EXPECT_EQ(table[0].nPortType, FERROLINK_PORT_USB);
    EXPECT_STREQ(table[0].szProductName, "USBSCAN");
    EXPECT_STREQ(table[0].szSerialNumber, "SN-zz01");
    EXPECT_STREQ(table[0].szFirmwareVersion, "V1.0.0");
    EXPECT_EQ(table[1].nPortType, FERROLINK_PORT_COM);
    ComPortSettings port;
    std::memcpy(&port, table[1].connInfo, sizeof port);
    EXPECT_EQ(port.wPort, 5);
    EXPECT_EQ(port.dwBaudRate, 38400u);
    EXPECT_STREQ(table[1].szProductName, "COMSCAN");
    EXPECT_EQ(table[1].pOpenStream, nullptr);
}

TEST_F(CoreTest, DiscoveryNeverWritesMoreRecordsThanGiven) {
    StartUsb("a001");
    StartUsb("a002");
    StartUsb("a003");
    auto table = ZeroedTable(3);
    std::memset(table[1].szProductName, 'Q', 8);
    EXPECT_EQ(qv_GetDevice(table.data(), 1), 1);
    EXPECT_EQ(std::string(table[1].szProductName, 8), "QQQQQQQQ");
    EXPECT_EQ(qv_GetDevice(table.data(), 0), 0);
}

TEST_F(CoreTest, SerialPortWithoutAnsweringDeviceIsNotReturned) {
    // A COM link to a pty nobody answers on: detection finds no baud rate.
    int master = StartPtyDevice("ignored");
    ASSERT_GE(master, 0);
    std::filesystem::create_directories(runtimeDir_ / "dosdevices");
    std::filesystem::copy_symlink(runtimeDir_ / "usb" / "ignored", runtimeDir_ / "dosdevices/COM9");
    std::filesystem::remove(runtimeDir_ / "usb" / "ignored");
    auto table = ZeroedTable(20);
    EXPECT_EQ(qv_GetDevice(table.data(), 20), 0);
}

struct Received {
    std::mutex mutex;
    std::string bytes;
    std::atomic<int> disconnects{0};
};

void OnData(const unsigned char* data, int length, void* user) {
    auto* received = static_cast<Received*>(user);
    std::lock_guard<std::mutex> lock(received->mutex);
    received->bytes.append(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
}

int OnStatus(int state, void* user) {
    if (state == 1)
        ++static_cast<Received*>(user)->disconnects;
    return 0;
}

TEST_F(CoreTest, RegisteredCallbacksSeeScansInOrderAndTheUnplug) {
    scansim::Scanner* scanner = StartUsb("n001");
    auto table = ZeroedTable(20);
    ASSERT_EQ(qv_GetDevice(table.data(), 20), 1);
    Received received;
    EXPECT_EQ(ktr_register_notify_all(&table[0], OnStatus, OnData, &received), 1);
    ASSERT_TRUE(table[0].IsOpen());
    std::string expected;
    for (int i = 0; i < 200; ++i) {
        const std::string scan = "CODE" + std::to_string(i) + "\r";
        expected += scan;
        ASSERT_TRUE(scanner->SendScan(scan));
    }
    EXPECT_TRUE(WaitFor([&] {
        std::lock_guard<std::mutex> lock(received.mutex);
        return received.bytes.size() >= expected.size();
    }));
    {
        std::lock_guard<std::mutex> lock(received.mutex);
        EXPECT_EQ(received.bytes, expected);
    }
    scanner->Unplug();
    EXPECT_TRUE(WaitFor([&] { return received.disconnects.load() == 1; }));
    EXPECT_FALSE(table[0].IsOpen());
}

TEST_F(CoreTest, UnregisteringEverythingClosesTheStreamAndRegisteringAgainReopens) {
    scansim::Scanner* scanner = StartUsb("u001");
    auto table = ZeroedTable(20);
    ASSERT_EQ(qv_GetDevice(table.data(), 20), 1);
    Received received;
    ktr_register_notify_all(&table[0], OnStatus, OnData, &received);
    const QVDS_HANDLE first = table[0].pOpenStream->hStream;
    ASSERT_NE(first, 0u);
    EXPECT_EQ(ktr_unregister_notify(&table[0], 1, 1), 0);
    EXPECT_EQ(table[0].pOpenStream->hStream, 0u);
    ktr_register_notify(&table[0], OnData, &received);
    ASSERT_NE(table[0].pOpenStream->hStream, 0u);
    scanner->SendScan("AGAIN\r");
    EXPECT_TRUE(WaitFor([&] {
        std::lock_guard<std::mutex> lock(received.mutex);
        return received.bytes == "AGAIN\r";
    }));
}

TEST_F(CoreTest, RegistrationOnAPortThatCannotOpenStillReturnsOne) {
    _QVDeviceInfo record = UsbRecord("usb#vid_1eab&pid_0d10#nothere");
    Received received;
    EXPECT_EQ(ktr_register_notify_all(&record, OnStatus, OnData, &received), 1);
    ASSERT_NE(record.pOpenStream, nullptr);
    EXPECT_EQ(record.pOpenStream->hStream, 0u);
    EXPECT_FALSE(record.IsOpen());
    EXPECT_TRUE(record.Close(0));
}

TEST_F(CoreTest, CopyOfAConnectedRecordGetsAFreshUnopenedConnection) {
    StartUsb("c001");
    auto table = ZeroedTable(20);
    ASSERT_EQ(qv_GetDevice(table.data(), 20), 1);
    table[0].SetOnlineInfo();
    ASSERT_TRUE(table[0].Open());
    _QVDeviceInfo copy(table[0]);
    ASSERT_NE(copy.pOpenStream, nullptr);
    EXPECT_NE(copy.pOpenStream, table[0].pOpenStream);
    EXPECT_EQ(copy.pOpenStream->hStream, 0u);
    EXPECT_STREQ(copy.szProductName, table[0].szProductName);
    table[0].Close(0);
    table[0].~_QVDeviceInfo();
    new (&table[0]) _QVDeviceInfo();
}

TEST_F(CoreTest, OpenWithAnUnknownPortTypeFailsAndLogsIt) {
    struct Captured {
        std::mutex mutex;
        std::vector<std::string> lines;
    } captured;
    qvds_set_log_hook(
        [](int level, const char* source, int line, const char* text, void* user) {
            auto* c = static_cast<Captured*>(user);
            std::lock_guard<std::mutex> lock(c->mutex);
            c->lines.push_back(std::to_string(level) + " " + source + ":" + std::to_string(line) +
                               " " + text);
        },
        &captured);
    _QVDeviceInfo record = UsbRecord("usb#vid_1eab&pid_0d10#x");
    record.nPortType = 2;
    record.SetOnlineInfo();
    EXPECT_FALSE(record.Open());
    EXPECT_EQ(record.pOpenStream->hStream, 0u);
    qvds_set_log_hook(nullptr, nullptr);
    std::lock_guard<std::mutex> lock(captured.mutex);
    ASSERT_FALSE(captured.lines.empty());
    EXPECT_EQ(captured.lines.back(), "2 Ferrolink:753 _QVDeviceInfo::Open error");
}

TEST_F(CoreTest, GetDevBufReadsWhatTheDeviceSendsOnce) {
    int master = StartPtyDevice("usb#vid_1eab&pid_0d10#buf1");
    ASSERT_GE(master, 0);
    _QVDeviceInfo record = UsbRecord("usb#vid_1eab&pid_0d10#buf1");
    std::thread device([master] {
        std::this_thread::sleep_for(300ms);
        (void)!write(master, "SCAN-42\r", 8);
    });
    unsigned char buffer[64] = {};
    int length = -1;
    EXPECT_TRUE(GetDevBuf(&record, buffer, &length));
    device.join();
    EXPECT_EQ(length, 8);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 8), "SCAN-42\r");
    _QVDeviceInfo missing = UsbRecord("usb#vid_1eab&pid_0d10#gone");
    length = -1;
    EXPECT_FALSE(GetDevBuf(&missing, buffer, &length));
    EXPECT_EQ(length, -1);
}

std::atomic<int> g_listCalls{0};
void OnList(_QVDeviceInfo*, int count, void*) {
    if (count == 20)
        ++g_listCalls;
}

TEST_F(CoreTest, DeviceListThreadPollsAndCallsBackWhileDevicesArePresent) {
    StartUsb("l001");
    static _QVDeviceInfo table[20];
    EXPECT_EQ(ktr_register_GetDev(OnList, table, nullptr, nullptr), 1);
    EXPECT_TRUE(WaitFor([] { return g_listCalls.load() >= 2; }, 8000ms));
    // A null callback ends the thread at its next discovery that finds a device.
    ktr_register_GetDev(nullptr, table, nullptr, nullptr);
    std::this_thread::sleep_for(1500ms);
    const int calls = g_listCalls.load();
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(g_listCalls.load(), calls);
}

}  // namespace
