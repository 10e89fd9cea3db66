// The Win32 serial stream on a COM port that pty_device.py plays: an echoing
// device that hangs up when it receives "BYE". The cases run in order in one
// program; the hang-up comes last.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "com_ports.h"
#include "com_stream.h"

namespace {

using tidestream::ComStream;
using tidestream::ReadEnd;
using Clock = std::chrono::steady_clock;

std::wstring PortPath() {
    const char* port = std::getenv("SUITE_COM_PORT");
    if (port == nullptr)
        return {};
    const std::string name(port);
    return tidestream::ComDevicePath(std::wstring(name.begin(), name.end()));
}

class ComStreamTest : public testing::Test {
  protected:
    void SetUp() override {
        const std::wstring path = PortPath();
        ASSERT_FALSE(path.empty()) << "SUITE_COM_PORT names no port";
        ASSERT_EQ(stream_.Open(path, 115200, 8), static_cast<DWORD>(ERROR_SUCCESS));
    }
    void Send(const std::string& bytes) {
        DWORD error = 0;
        ASSERT_TRUE(stream_.Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &error))
            << "error " << error;
    }
    std::string Read(uint32_t size, uint32_t timeoutMs, std::string_view terminator, ReadEnd* end,
                     DWORD* error = nullptr) {
        std::string buffer(size, '\0');
        const uint32_t got = stream_.ReadUntil(reinterpret_cast<uint8_t*>(buffer.data()), size,
                                               timeoutMs, terminator, end, error);
        buffer.resize(got);
        return buffer;
    }
    ComStream stream_;
};

TEST(ComStreamErrors, DeviceGoneAndTimeOutAreToldApart) {
    struct Case {
        DWORD error;
        bool cancelledByUs;
        bool gone;
        bool timeout;
    };
    const Case cases[] = {
        // What a removed USB serial device gives on Windows.
        {ERROR_ACCESS_DENIED, false, true, false},
        {ERROR_BAD_COMMAND, false, true, false},
        {ERROR_DEVICE_NOT_CONNECTED, false, true, false},
        {ERROR_GEN_FAILURE, false, true, false},
        // A hung-up pseudo-terminal under Wine: reads, then writes.
        {ERROR_BROKEN_PIPE, false, true, false},
        {ERROR_NOT_READY, false, true, false},
        // Our own cancel is no removal; anyone else's is.
        {ERROR_OPERATION_ABORTED, true, false, false},
        {ERROR_OPERATION_ABORTED, false, true, false},
        // A read that timed out under Wine.
        {ERROR_TIMEOUT, false, false, true},
        {ERROR_SEM_TIMEOUT, false, false, true},
        {ERROR_INVALID_PARAMETER, false, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tidestream::IsDeviceGoneError(c.error, c.cancelledByUs), c.gone) << c.error;
        EXPECT_EQ(tidestream::IsReadTimeoutError(c.error), c.timeout) << c.error;
    }
    EXPECT_EQ(tidestream::ComDevicePath(L"COM5"), L"\\\\.\\COM5");
    EXPECT_EQ(tidestream::ComDevicePath(L"\\\\?\\usb#vid_1eab"), L"\\\\?\\usb#vid_1eab");
}

// With the port entered in Wine's Ports key, Wine lists it as Windows' serial
// drivers do.
TEST(ComPortList, ARegisteredPortIsListed) {
    if (std::getenv("SUITE_COM_REGISTERED") == nullptr)
        GTEST_SKIP() << "the port is only linked, not registered";
    const char* port = std::getenv("SUITE_COM_PORT");
    ASSERT_NE(port, nullptr);
    const unsigned number = static_cast<unsigned>(std::atoi(port + 3));
    const std::vector<unsigned> ports = tidestream::ListSerialCommPorts();
    EXPECT_NE(std::find(ports.begin(), ports.end(), number), ports.end()) << port;
}

TEST_F(ComStreamTest, ARepliedFrameIsReadToItsTerminatorAndTheRestKept) {
    Send("7E0130;first;second;");
    ReadEnd end{};
    EXPECT_EQ(Read(64, 5000, ";", &end), "7E0130;");
    EXPECT_EQ(end, ReadEnd::kComplete);
    EXPECT_EQ(Read(64, 5000, ";", &end), "first;");
    EXPECT_EQ(Read(64, 5000, ";", &end), "second;");
    EXPECT_EQ(end, ReadEnd::kComplete);
}

TEST_F(ComStreamTest, AFullBufferEndsTheRead) {
    Send("0123456789");
    ReadEnd end{};
    EXPECT_EQ(Read(4, 5000, ";", &end), "0123");
    EXPECT_EQ(end, ReadEnd::kFull);
    EXPECT_EQ(Read(6, 5000, ";", &end), "456789");
    EXPECT_EQ(end, ReadEnd::kFull);
}

TEST_F(ComStreamTest, SilenceIsATimeOutNotAGoneDevice) {
    ReadEnd end{};
    DWORD error = 0;
    const auto start = Clock::now();
    EXPECT_EQ(Read(64, 300, ";", &end, &error), "");
    EXPECT_EQ(end, ReadEnd::kTimeout) << "error " << error;
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(250));
    // Bytes without their terminator come back with the time-out.
    Send("half");
    EXPECT_EQ(Read(64, 500, ";", &end), "half");
    EXPECT_EQ(end, ReadEnd::kTimeout);
}

TEST_F(ComStreamTest, CancelWakesAWaitingRead) {
    ReadEnd end{};
    std::string got = "unset";
    const auto start = Clock::now();
    std::thread reader([&] { got = Read(64, 20000, ";", &end); });
    // The read waits for the device, which says nothing: a cancel made
    // before or while it waits ends it, long before its 20 s.
    stream_.Cancel();
    reader.join();
    EXPECT_EQ(got, "");
    EXPECT_EQ(end, ReadEnd::kCancelled);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
}

// Last: the device hangs up on "BYE".
TEST_F(ComStreamTest, ZzAHungUpDeviceIsGone) {
    Send("BYE");
    ReadEnd end{};
    DWORD error = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    do {
        Read(64, 1000, ";", &end, &error);
    } while (end == ReadEnd::kTimeout && Clock::now() < deadline);
    EXPECT_EQ(end, ReadEnd::kGone) << "error " << error;
    DWORD writeError = 0;
    EXPECT_FALSE(stream_.Write("x", 1, &writeError));
    EXPECT_TRUE(tidestream::IsDeviceGoneError(writeError)) << writeError;
}

}  // namespace
