#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <thread>

#include "pty_fixture.h"

using namespace test;
using namespace std::chrono_literals;

namespace {

constexpr char kUsbName[] = "usb#vid_1eab&pid_0d10#sim0001";
const std::string kTerminator(";\x03", 2);

class StreamTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(platform::AddEntry(platform::kUsbFolder, kUsbName, pty_.node()));
        const std::u16string path = UsbPath(kUsbName);
        int err = -1;
        ASSERT_EQ(qvds_open_usb(h_, path.c_str(), 3, &err), 1);
        ASSERT_EQ(err, QVDS_OK);
    }
    int ReadUntil(std::string& out, uint32_t size, uint32_t timeoutMs, int* err) {
        out.assign(size, '\0');
        const int n =
            qvds_read_until(h_, out.data(), size, timeoutMs, -2, kTerminator.data(), 2, err);
        out.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return n;
    }

    support::RuntimeDir dir_;
    support::PtyPair pty_;
    Handle h_;
};

TEST_F(StreamTest, ReadStopsAtTerminatorAndKeepsTheRestForTheNextRead) {
    pty_.Send(std::string("first;\x03second;\x03tail", 19));
    std::string got;
    int err = -1;
    EXPECT_EQ(ReadUntil(got, 10240, 3000, &err), 7);
    EXPECT_EQ(got, std::string("first;\x03", 7));
    EXPECT_EQ(err, QVDS_OK);
    EXPECT_EQ(ReadUntil(got, 10240, 3000, &err), 8);
    EXPECT_EQ(got, std::string("second;\x03", 8));
    EXPECT_EQ(ReadUntil(got, 10240, 200, &err), 4);
    EXPECT_EQ(got, "tail");
    EXPECT_EQ(err, QVDS_ERR_TIMEOUT);
}

TEST_F(StreamTest, TerminatorSplitAcrossArrivalsIsFound) {
    std::thread sender([&] {
        pty_.Send("abc;");
        std::this_thread::sleep_for(50ms);
        pty_.Send(std::string("\x03more", 5));
    });
    std::string got;
    int err = -1;
    EXPECT_EQ(ReadUntil(got, 10240, 5000, &err), 5);
    EXPECT_EQ(got, std::string("abc;\x03", 5));
    sender.join();
}

TEST_F(StreamTest, ReadStopsAtSize) {
    pty_.Send("0123456789abcdef");
    std::string got;
    int err = -1;
    EXPECT_EQ(ReadUntil(got, 10, 3000, &err), 10);
    EXPECT_EQ(got, "0123456789");
    EXPECT_EQ(err, QVDS_OK);
    EXPECT_EQ(ReadUntil(got, 10, 200, &err), 6);  // the rest was kept
    EXPECT_EQ(got, "abcdef");
}

TEST_F(StreamTest, ReadStopsAtTimeLimitWithoutSpinning) {
    std::string got;
    int err = -1;
    const auto startWall = std::chrono::steady_clock::now();
    const std::clock_t startCpu = std::clock();
    EXPECT_EQ(ReadUntil(got, 10240, 300, &err), 0);
    const auto wall = std::chrono::steady_clock::now() - startWall;
    const double cpuMs = 1000.0 * double(std::clock() - startCpu) / CLOCKS_PER_SEC;
    EXPECT_EQ(err, QVDS_ERR_TIMEOUT);
    EXPECT_GE(wall, 290ms);
    // A busy loop would burn about the whole 300 ms; a waiting read nearly none.
    EXPECT_LT(cpuMs, 150.0);
}

TEST_F(StreamTest, CleanDropsPendingInputAndWriteReachesTheDevice) {
    pty_.Send(std::string("stale;\x03stale2", 13));
    std::string got;
    int err = -1;
    ASSERT_EQ(ReadUntil(got, 10240, 2000, &err), 7);  // leaves "stale2" pending
    std::this_thread::sleep_for(50ms);
    pty_.Send("more stale");
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(qvds_clean(h_, 0), 1);

    const std::string frame = CommandFrame("QRYSYS");
    EXPECT_EQ(qvds_write(h_, frame.data(), static_cast<uint32_t>(frame.size())), 1);
    EXPECT_EQ(pty_.Receive(frame.size()), frame);
    pty_.Send(ReplyFrame("fresh"));
    ASSERT_GT(ReadUntil(got, 10240, 3000, &err), 0);
    EXPECT_EQ(got, ReplyFrame("fresh"));
}

TEST_F(StreamTest, DisconnectIsSeenByIsOpenAndByARead) {
    EXPECT_EQ(qvds_is_open(h_), 1);
    pty_.Unplug();
    EXPECT_EQ(qvds_is_open(h_), 0);
    std::string got;
    int err = -1;
    EXPECT_EQ(ReadUntil(got, 10240, 3000, &err), 0);
    EXPECT_EQ(err, QVDS_ERR_IO);
}

TEST_F(StreamTest, SecondOpenOfTheSameDeviceIsBusy) {
    Handle second;
    const std::u16string path = UsbPath(kUsbName);
    int err = -1;
    EXPECT_EQ(qvds_open_usb(second, path.c_str(), 3, &err), 0);
    EXPECT_EQ(err, QVDS_ERR_BUSY);
    // Once the first stream closes, the device is free again.
    EXPECT_EQ(qvds_close(h_), 1);
    EXPECT_EQ(qvds_is_open(h_), 0);
    EXPECT_EQ(qvds_open_usb(second, path.c_str(), 3, &err), 1);
    EXPECT_EQ(err, QVDS_OK);
}

TEST(StreamOpen, ComPortOpensAtItsSettings) {
    support::RuntimeDir dir;
    support::PtyPair pty;
    ASSERT_TRUE(platform::AddEntry(platform::kComFolder, "COM4", pty.node()));
    Handle h;
    ComPortSettings settings{4, 57600, 7};
    int err = -1;
    ASSERT_EQ(qvds_open_com(h, &settings, &err), 1);
    EXPECT_EQ(pty.SlaveSpeed(), static_cast<speed_t>(B57600));
    // Raw: no echo, no line editing, bytes pass unchanged.
    pty.Send(std::string("a\r\n\x03\x7f;\x03", 7));
    char buffer[16];
    EXPECT_EQ(qvds_read_until(h, buffer, sizeof buffer, 2000, -2, ";\x03", 2, &err), 7);
    EXPECT_EQ(std::string(buffer, 7), std::string("a\r\n\x03\x7f;\x03", 7));
    EXPECT_EQ(pty.Receive(1, 100), "");
}

TEST(StreamOpen, ErrorsTellTheCausesApart) {
    support::RuntimeDir dir;
    support::PtyPair pty;
    ASSERT_TRUE(platform::AddEntry(platform::kComFolder, "COM4", pty.node()));
    ASSERT_TRUE(platform::AddEntry(platform::kComFolder, "COM5", dir.Path() / "gone"));
    struct Case {
        const char* what;
        ComPortSettings settings;
        int error;
    };
    const Case cases[] = {
        {"unknown port", {9, 9600, 8}, QVDS_ERR_NO_DEVICE},
        {"dangling link", {5, 9600, 8}, QVDS_ERR_NO_DEVICE},
        {"odd baud rate", {4, 12345, 8}, QVDS_ERR_SETTINGS},
        {"odd data bits", {4, 9600, 9}, QVDS_ERR_SETTINGS},
    };
    for (const auto& c : cases) {
        Handle h;
        int err = -1;
        EXPECT_EQ(qvds_open_com(h, &c.settings, &err), 0) << c.what;
        EXPECT_EQ(err, c.error) << c.what;
        EXPECT_EQ(qvds_is_open(h), 0) << c.what;
    }
    Handle h;
    int err = -1;
    const std::u16string unknown = UsbPath("usb#vid_1eab&pid_0d10#none");
    EXPECT_EQ(qvds_open_usb(h, unknown.c_str(), 3, &err), 0);
    EXPECT_EQ(err, QVDS_ERR_NO_DEVICE);
    ComPortSettings settings{4, 9600, 8};
    EXPECT_EQ(qvds_open_com(0xDEADBEEF, &settings, &err), 0);
    EXPECT_EQ(err, QVDS_ERR_BAD_HANDLE);
}

TEST(Handles, AreNonZeroDistinctAndUnknownOnesAreHarmless) {
    std::set<QVDS_HANDLE> seen;
    std::vector<QVDS_HANDLE> handles;
    for (int i = 0; i < 50; ++i) {
        const QVDS_HANDLE h = qvds_create();
        EXPECT_NE(h, 0u);
        EXPECT_TRUE(seen.insert(h).second);
        handles.push_back(h);
    }
    for (QVDS_HANDLE h : handles) {
        EXPECT_EQ(qvds_destory(h), 1);
        EXPECT_EQ(qvds_destory(h), 0);  // second destroy: unknown, harmless
    }
    char buffer[4];
    int err = -1;
    EXPECT_EQ(qvds_is_open(0), 0);
    EXPECT_EQ(qvds_write(12345678, "x", 1), 0);
    EXPECT_EQ(qvds_read_until(0, buffer, 4, 10, -2, ";\x03", 2, &err), 0);
    EXPECT_EQ(err, QVDS_ERR_BAD_HANDLE);
    EXPECT_EQ(qvds_close(0), 0);
}

TEST(Handles, DestroyWithoutCloseReleasesTheDevice) {
    support::RuntimeDir dir;
    support::PtyPair pty;
    ASSERT_TRUE(platform::AddEntry(platform::kComFolder, "COM3", pty.node()));
    ComPortSettings settings{3, 115200, 8};
    int err = -1;
    QVDS_HANDLE first = qvds_create();
    ASSERT_EQ(qvds_open_com(first, &settings, &err), 1);
    EXPECT_EQ(qvds_destory(first), 1);
    Handle second;
    EXPECT_EQ(qvds_open_com(second, &settings, &err), 1);
}

TEST(Handles, CloseWakesAReadWaitingOnAnotherThread) {
    support::RuntimeDir dir;
    support::PtyPair pty;
    ASSERT_TRUE(platform::AddEntry(platform::kComFolder, "COM3", pty.node()));
    ComPortSettings settings{3, 115200, 8};
    Handle h;
    int err = -1;
    ASSERT_EQ(qvds_open_com(h, &settings, &err), 1);
    std::atomic<int> result{-1};
    std::thread reader([&] {
        char buffer[64];
        int readErr = 0;
        result = qvds_read_until(h, buffer, sizeof buffer, 60000, -2, ";\x03", 2, &readErr);
    });
    std::this_thread::sleep_for(100ms);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(qvds_close(h), 1);
    reader.join();
    EXPECT_EQ(result, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);  // not the 60 s limit
}

}  // namespace

namespace {

TEST(StreamOpen, PlainLinuxPathOpensAndANonTtyIsNoDevice) {
    support::RuntimeDir dir;
    support::PtyPair pty;
    Handle h;
    int err = -1;
    const std::u16string node = pty.node().u16string();
    EXPECT_EQ(qvds_open_usb(h, node.c_str(), 3, &err), 1);
    EXPECT_EQ(err, QVDS_OK);

    const auto file = dir.Path() / "plain-file";
    std::FILE* f = std::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    Handle other;
    EXPECT_EQ(qvds_open_usb(other, file.u16string().c_str(), 3, &err), 0);
    EXPECT_EQ(err, QVDS_ERR_NO_DEVICE);
}

}  // namespace
