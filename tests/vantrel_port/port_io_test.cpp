// Reads, writes, time-outs, cancelling, completion routines and hang-up on
// real pseudo-terminal pairs.
#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

#include "port_test_support.h"

namespace porttest {
namespace {

using namespace win;
using Clock = std::chrono::steady_clock;

// Sends `bytes` from the device side and returns once the port has taken
// them in: the arrival event is raised after the bytes have gone into a
// pending read, so a cancel or close that follows finds them there.
void SendAndAwaitArrival(HANDLE port, Pty& pty, const char* bytes) {
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
    OverlappedCall arrival;
    DWORD events = 0;
    ASSERT_FALSE(WaitCommEvent(port, &events, &arrival.ov));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    pty.Send(bytes);
    DWORD unused = 0;
    ASSERT_TRUE(GetOverlappedResult(port, &arrival.ov, &unused, TRUE));
    ASSERT_EQ(events, DWORD{EV_RXCHAR});
    ASSERT_TRUE(SetCommMask(port, 0));
}

class PortIo : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(pty.SlavePath().empty());
        PublishCom(3, pty);
        port = OpenOverlapped("COM3");
        ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
    }
    void TearDown() override {
        if (port != INVALID_HANDLE_VALUE)
            CloseHandle(port);
    }
    RuntimeDirScope runtime;
    Pty pty;
    HANDLE port = INVALID_HANDLE_VALUE;
};

TEST(PortOpen, DeviceNamesResolveLikeWindows) {
    RuntimeDirScope runtime;
    Pty com3, com12, pipe;
    PublishCom(3, com3);
    PublishCom(12, com12);
    ASSERT_TRUE(platform::AddEntry(platform::kVbusFolder, "datapipe", pipe.SlavePath()));
    struct Case {
        std::string path;
        DWORD error;  // 0: opens
    };
    const Case cases[] = {
        {"COM3", 0},
        {"com3", 0},
        {"\\\\.\\COM3", 0},
        {"COM12", ERROR_FILE_NOT_FOUND},  // a bare name above COM9 needs the prefix
        {"\\\\.\\COM12", 0},
        {"COM4", ERROR_FILE_NOT_FOUND},
        {"\\\\.\\KTR_Datapipe", 0},
        {"\\\\.\\NoSuchDevice", ERROR_FILE_NOT_FOUND},
        {com3.SlavePath(), 0},
        {"/nonexistent/ttyUSB9", ERROR_FILE_NOT_FOUND},
        {"", ERROR_FILE_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SetLastError(0);
        HANDLE h = OpenOverlapped(c.path);
        if (c.error == 0) {
            EXPECT_NE(h, INVALID_HANDLE_VALUE) << c.path << " error " << GetLastError();
            EXPECT_TRUE(CloseHandle(h)) << c.path;
        } else {
            EXPECT_EQ(h, INVALID_HANDLE_VALUE) << c.path;
            EXPECT_EQ(GetLastError(), c.error) << c.path;
        }
    }
}

TEST(PortOpen, PortIsExclusiveUntilClosed) {
    RuntimeDirScope runtime;
    Pty pty;
    PublishCom(5, pty);
    HANDLE first = OpenOverlapped("COM5");
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    for (bool readOnly : {false, true}) {
        EXPECT_EQ(OpenOverlapped("\\\\.\\COM5", readOnly), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    }
    EXPECT_EQ(OpenOverlapped(pty.SlavePath()), INVALID_HANDLE_VALUE);
    ASSERT_TRUE(CloseHandle(first));
    EXPECT_FALSE(CloseHandle(first));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    HANDLE again = OpenOverlapped("COM5");
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    CloseHandle(again);
}

TEST(PortOpen, KilledHolderLeavesThePortFree) {
    RuntimeDirScope runtime;
    Pty pty;
    PublishCom(8, pty);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        HANDLE h = OpenOverlapped("COM8");
        char answer = h == INVALID_HANDLE_VALUE ? 'n' : 'y';
        [[maybe_unused]] ssize_t n = ::write(ready[1], &answer, 1);
        ::pause();  // held until killed, never closed
        ::_exit(0);
    }
    char answer = 0;
    ASSERT_EQ(::read(ready[0], &answer, 1), 1);
    ASSERT_EQ(answer, 'y');
    EXPECT_EQ(OpenOverlapped("COM8"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    HANDLE h = OpenOverlapped("COM8");
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    CloseHandle(h);
    ::close(ready[0]);
    ::close(ready[1]);
}

TEST(PortOpen, ReadOnlyHandleRefusesWrites) {
    RuntimeDirScope runtime;
    Pty pty;
    PublishCom(6, pty);
    HANDLE h = OpenOverlapped("COM6", true);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    OverlappedCall call;
    DWORD done = 7;
    EXPECT_FALSE(WriteFile(h, "abc", 3, &done, &call.ov));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    pty.Send("xy");
    SetTimeouts(h, MAXDWORD, MAXDWORD, 5000);
    char buf[8] = {};
    if (!ReadFile(h, buf, sizeof buf, &done, &call.ov)) {
        ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
        ASSERT_TRUE(GetOverlappedResult(h, &call.ov, &done, TRUE));
    }
    EXPECT_EQ(std::string(buf, done), "xy");
    CloseHandle(h);
}

TEST_F(PortIo, OverlappedWriteAndPendingReadCarryBytesUnchanged) {
    OverlappedCall w;
    DWORD done = 0;
    const std::string out("line\r\n\x00\x11\x13\xff", 10);
    BOOL ok = WriteFile(port, out.data(), static_cast<DWORD>(out.size()), &done, &w.ov);
    if (!ok) {
        ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
        ASSERT_TRUE(GetOverlappedResult(port, &w.ov, &done, TRUE));
    }
    EXPECT_EQ(done, out.size());
    EXPECT_EQ(pty.Receive(out.size()), out);  // raw: no CR/LF translation, no flow characters eaten

    OverlappedCall r;
    char buf[16] = {};
    ASSERT_FALSE(ReadFile(port, buf, 6, &done, &r.ov));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    EXPECT_EQ(WaitForSingleObject(r.event, 100), WAIT_TIMEOUT);
    EXPECT_FALSE(GetOverlappedResult(port, &r.ov, &done, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
    pty.Send(std::string("ab\r\x13\x00z", 6));
    ASSERT_EQ(WaitForSingleObject(r.event, 5000), WAIT_OBJECT_0);
    ASSERT_TRUE(GetOverlappedResult(port, &r.ov, &done, TRUE));
    EXPECT_EQ(std::string(buf, done), std::string("ab\r\x13\x00z", 6));
}

struct TimeoutCase {
    const char* name;
    COMMTIMEOUTS timeouts;
    DWORD length;
    std::string early;  // waiting before the read is issued
    std::string late;   // sent 50 ms after the read was issued
    bool endsAtOnce;
    std::string expected;
    int atLeastMs;
};

class PortReadTimeouts : public PortIo, public ::testing::WithParamInterface<TimeoutCase> {};

TEST_P(PortReadTimeouts, EndAsWindowsDefinesThem) {
    const auto& c = GetParam();
    SetTimeouts(port, c.timeouts.ReadIntervalTimeout, c.timeouts.ReadTotalTimeoutMultiplier,
                c.timeouts.ReadTotalTimeoutConstant);
    if (!c.early.empty()) {
        pty.Send(c.early);
        // Let the bytes reach the port's input queue.
        COMSTAT stat{};
        auto limit = Clock::now() + 5s;
        do {
            std::this_thread::sleep_for(5ms);
            ClearCommError(port, nullptr, &stat);
        } while (stat.cbInQue < c.early.size() && Clock::now() < limit);
    }
    OverlappedCall call;
    std::vector<char> buf(c.length + 1, '#');
    DWORD done = 0;
    auto start = Clock::now();
    BOOL ok = ReadFile(port, buf.data(), c.length, &done, &call.ov);
    EXPECT_EQ(ok != FALSE, c.endsAtOnce) << c.name;
    if (!ok) {
        ASSERT_EQ(GetLastError(), ERROR_IO_PENDING) << c.name;
        if (!c.late.empty()) {
            std::this_thread::sleep_for(50ms);
            pty.Send(c.late);
        }
        ASSERT_TRUE(GetOverlappedResult(port, &call.ov, &done, TRUE)) << c.name;
    }
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    EXPECT_EQ(std::string(buf.data(), done), c.expected) << c.name;
    EXPECT_EQ(buf[done], '#') << c.name;
    EXPECT_GE(elapsed.count(), c.atLeastMs) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Windows, PortReadTimeouts,
    ::testing::Values(
        TimeoutCase{"AllZeroWaitsForFullCount", {0, 0, 0, 0, 0}, 5, "abc", "de", false, "abcde", 0},
        TimeoutCase{
            "AllZeroFullCountWaitingEndsAtOnce", {0, 0, 0, 0, 0}, 3, "abc", "", true, "abc", 0},
        TimeoutCase{
            "IntervalMaxReturnsWhatIsThere", {MAXDWORD, 0, 0, 0, 0}, 10, "abc", "", true, "abc", 0},
        TimeoutCase{"IntervalMaxReturnsNothing", {MAXDWORD, 0, 0, 0, 0}, 10, "", "", true, "", 0},
        TimeoutCase{"FirstByteModeTakesWaitingBytes",
                    {MAXDWORD, MAXDWORD, 5000, 0, 0},
                    10,
                    "ab",
                    "",
                    true,
                    "ab",
                    0},
        TimeoutCase{"FirstByteModeEndsAtFirstArrival",
                    {MAXDWORD, MAXDWORD, 5000, 0, 0},
                    10,
                    "",
                    "xy",
                    false,
                    "xy",
                    0},
        TimeoutCase{"FirstByteModeEndsAfterConstant",
                    {MAXDWORD, MAXDWORD, 150, 0, 0},
                    10,
                    "",
                    "",
                    false,
                    "",
                    150},
        TimeoutCase{"TotalIsMultiplierTimesCountPlusConstant",
                    {0, 10, 100, 0, 0},
                    10,
                    "abc",
                    "",
                    false,
                    "abc",
                    200},
        TimeoutCase{"IntervalEndsAfterSilence", {100, 0, 0, 0, 0}, 10, "ab", "", false, "ab", 100},
        TimeoutCase{"IntervalDoesNotStartBeforeFirstByte",
                    {100, 0, 0, 0, 0},
                    4,
                    "",
                    "wxyz",
                    false,
                    "wxyz",
                    50},
        TimeoutCase{"ZeroByteReadEndsAtOnce", {0, 0, 0, 0, 0}, 0, "", "", true, "", 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PortIo, TimeoutsBindWhenTheRequestIsIssued) {
    // Another thread changing the time-outs (as a clearing read does) must not
    // end a read that was issued to wait for its full count.
    OverlappedCall waiting;
    char buf[4] = {};
    DWORD done = 0;
    ASSERT_FALSE(ReadFile(port, buf, 4, &done, &waiting.ov));
    SetTimeouts(port, MAXDWORD, MAXDWORD, 50);
    pty.Send("ab");
    EXPECT_EQ(WaitForSingleObject(waiting.event, 200), WAIT_TIMEOUT);
    pty.Send("cd");
    ASSERT_TRUE(GetOverlappedResult(port, &waiting.ov, &done, TRUE));
    EXPECT_EQ(std::string(buf, done), "abcd");
    OverlappedCall quick;
    auto start = Clock::now();
    if (!ReadFile(port, buf, 4, &done, &quick.ov)) {
        ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
        ASSERT_TRUE(GetOverlappedResult(port, &quick.ov, &done, TRUE));
    }
    EXPECT_EQ(done, 0u);
    EXPECT_GE(Clock::now() - start, 50ms);
}

TEST_F(PortIo, IntervalTimerRestartsWithEveryByte) {
    SetTimeouts(port, 150, 0, 0);
    OverlappedCall call;
    char buf[16] = {};
    DWORD done = 0;
    ASSERT_FALSE(ReadFile(port, buf, sizeof buf, &done, &call.ov));
    for (const char* piece : {"a", "b", "c"}) {
        pty.Send(piece);
        std::this_thread::sleep_for(40ms);  // well inside the interval
    }
    ASSERT_TRUE(GetOverlappedResult(port, &call.ov, &done, TRUE));
    EXPECT_EQ(std::string(buf, done), "abc");
}

TEST_F(PortIo, CloseHandleEndsRequestsWaitedOnByOtherThreads) {
    DWORD error = 0, done = 99;
    HANDLE closing = port;
    port = INVALID_HANDLE_VALUE;
    HANDLE issued = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    std::thread reader([&] {
        OverlappedCall call;
        char buf[8];
        BOOL ok = ReadFile(closing, buf, 8, &done, &call.ov);
        DWORD why = GetLastError();
        SetEvent(issued);
        if (!ok && why == ERROR_IO_PENDING && !GetOverlappedResult(closing, &call.ov, &done, TRUE))
            error = GetLastError();
    });
    ASSERT_EQ(WaitForSingleObject(issued, 5000), WAIT_OBJECT_0);
    CloseHandle(issued);
    ASSERT_TRUE(CloseHandle(closing));
    reader.join();
    EXPECT_EQ(error, ERROR_OPERATION_ABORTED);
    EXPECT_EQ(done, 0u);
    char b;
    OverlappedCall late;
    EXPECT_FALSE(ReadFile(closing, &b, 1, &done, &late.ov));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(PortIo, CancelIoEndsWithBytesSoFarAndNeverTouchesTheBufferAgain) {
    auto buf = std::make_unique<char[]>(64);
    std::memset(buf.get(), 'Z', 64);
    auto ov = std::make_unique<OVERLAPPED>();
    HANDLE event = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    ov->hEvent = event;
    DWORD done = 0;
    ASSERT_FALSE(ReadFile(port, buf.get(), 10, &done, ov.get()));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    // The arrival event is raised once the bytes have gone into the pending
    // read, so the cancel below finds them there.
    SendAndAwaitArrival(port, pty, "abc");
    ASSERT_TRUE(CancelIo(port));
    EXPECT_FALSE(GetOverlappedResult(port, ov.get(), &done, TRUE));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
    EXPECT_EQ(done, 3u);
    EXPECT_EQ(std::string(buf.get(), 3), "abc");
    EXPECT_EQ(buf[3], 'Z');
    CloseHandle(event);
    // The caller gives the memory back; later bytes must go to the next read.
    buf.reset();
    ov.reset();
    pty.Send("later");
    SetTimeouts(port, 0, 0, 10000);
    OverlappedCall next;
    char got[16] = {};
    if (!ReadFile(port, got, 5, &done, &next.ov)) {
        ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
        ASSERT_TRUE(GetOverlappedResult(port, &next.ov, &done, TRUE));
    }
    EXPECT_EQ(std::string(got, done), "later");
}

TEST_F(PortIo, CancelIoLeavesOtherThreadsRequests) {
    std::string result;
    DWORD resultError = 0;
    std::thread reader([&] {
        OverlappedCall call;
        char buf[4] = {};
        DWORD done = 0;
        if (!ReadFile(port, buf, 4, &done, &call.ov) && GetLastError() == ERROR_IO_PENDING) {
            if (!GetOverlappedResult(port, &call.ov, &done, TRUE))
                resultError = GetLastError();
        }
        result.assign(buf, done);
    });
    std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(CancelIo(port));  // this thread has nothing pending
    pty.Send("data");
    reader.join();
    EXPECT_EQ(resultError, 0u);
    EXPECT_EQ(result, "data");
}

TEST_F(PortIo, AbandonedRequestKeepsItsEventAndEndsSafelyAtClose) {
    // The caller closes its event and stops looking at a pending read; the
    // request must neither crash when data comes nor outlive the port.
    auto buf = std::make_unique<char[]>(8);
    OVERLAPPED ov{};
    ov.hEvent = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    DWORD done = 0;
    ASSERT_FALSE(ReadFile(port, buf.get(), 8, &done, &ov));
    ASSERT_TRUE(CloseHandle(ov.hEvent));
    SendAndAwaitArrival(port, pty, "1234");
    ASSERT_TRUE(CloseHandle(port));
    port = INVALID_HANDLE_VALUE;
    EXPECT_TRUE(HasOverlappedIoCompleted(&ov));
    EXPECT_EQ(ov.Internal, ERROR_OPERATION_ABORTED);
    EXPECT_EQ(ov.InternalHigh, 4u);
    EXPECT_EQ(std::string(buf.get(), 4), "1234");
}

struct Routine {
    static inline std::atomic<int> calls{0};
    static inline DWORD error = 0;
    static inline DWORD bytes = 0;
    static inline OVERLAPPED* overlapped = nullptr;
    static inline std::thread::id thread;
    static void Done(DWORD e, DWORD n, OVERLAPPED* ov) {
        error = e;
        bytes = n;
        overlapped = ov;
        thread = std::this_thread::get_id();
        ++calls;
    }
    static void Reset() {
        calls = 0;
        error = 12345;
        bytes = 0;
        overlapped = nullptr;
    }
};

TEST_F(PortIo, CompletionRoutinesRunOnlyInTheIssuersAlertableWait) {
    Routine::Reset();
    OVERLAPPED ov{};
    char buf[4] = {};
    ASSERT_TRUE(ReadFileEx(port, buf, 4, &ov, &Routine::Done));
    pty.Send("wxyz");
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(Routine::calls, 0);
    EXPECT_EQ(SleepEx(0, FALSE), 0u);
    EXPECT_EQ(Routine::calls, 0);
    DWORD otherWait = 0;
    std::thread([&] { otherWait = SleepEx(100, TRUE); }).join();
    EXPECT_EQ(otherWait, 0u);
    EXPECT_EQ(Routine::calls, 0);
    EXPECT_EQ(SleepEx(5000, TRUE), WAIT_IO_COMPLETION);
    EXPECT_EQ(Routine::calls, 1);
    EXPECT_EQ(Routine::error, 0u);
    EXPECT_EQ(Routine::bytes, 4u);
    EXPECT_EQ(Routine::overlapped, &ov);
    EXPECT_EQ(Routine::thread, std::this_thread::get_id());
    EXPECT_EQ(std::string(buf, 4), "wxyz");

    Routine::Reset();
    OVERLAPPED wov{};
    ASSERT_TRUE(WriteFileEx(port, "echo", 4, &wov, &Routine::Done));
    HANDLE never = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(WaitForSingleObjectEx(never, 5000, TRUE), WAIT_IO_COMPLETION);
    CloseHandle(never);
    EXPECT_EQ(Routine::calls, 1);
    EXPECT_EQ(Routine::error, 0u);
    EXPECT_EQ(Routine::bytes, 4u);
    EXPECT_EQ(pty.Receive(4), "echo");

    Routine::Reset();
    ASSERT_TRUE(ReadFileEx(port, buf, 4, &ov, &Routine::Done));
    ASSERT_TRUE(CancelIo(port));
    EXPECT_EQ(SleepEx(5000, TRUE), WAIT_IO_COMPLETION);
    EXPECT_EQ(Routine::error, ERROR_OPERATION_ABORTED);
    EXPECT_EQ(Routine::bytes, 0u);
}

TEST_F(PortIo, HangUpEndsPendingAndLaterRequests) {
    ASSERT_TRUE(SetCommMask(port, EV_CTS | EV_DSR | EV_RXCHAR));
    OverlappedCall wait, read;
    DWORD events = 0xdead, done = 0;
    ASSERT_FALSE(WaitCommEvent(port, &events, &wait.ov));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    char buf[8];
    ASSERT_FALSE(ReadFile(port, buf, 8, &done, &read.ov));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    pty.HangUp();
    ASSERT_TRUE(GetOverlappedResult(port, &wait.ov, &done, TRUE));
    EXPECT_EQ(events, EV_CTS | EV_DSR);  // the lines drop first
    EXPECT_FALSE(GetOverlappedResult(port, &read.ov, &done, TRUE));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    DWORD lines = 0xff;
    EXPECT_TRUE(GetCommModemStatus(port, &lines));
    EXPECT_EQ(lines, 0u);
    OverlappedCall again;
    EXPECT_FALSE(ReadFile(port, buf, 8, &done, &again.ov));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_FALSE(WriteFile(port, "x", 1, &done, &again.ov));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_FALSE(WaitCommEvent(port, &events, &again.ov));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
}

TEST_F(PortIo, WriteWaitsForTheDeviceAndEndsByItsTimeout) {
    // Nobody reads the device side: a big write stays pending.
    std::vector<char> big(1 << 20, 'q');
    OverlappedCall w;
    DWORD done = 0;
    ASSERT_FALSE(WriteFile(port, big.data(), static_cast<DWORD>(big.size()), &done, &w.ov));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    COMSTAT stat{};
    ASSERT_TRUE(ClearCommError(port, nullptr, &stat));
    EXPECT_GT(stat.cbOutQue, 0u);
    EXPECT_EQ(WaitForSingleObject(w.event, 200), WAIT_TIMEOUT);
    std::string got = pty.Receive(big.size(), 20s);
    ASSERT_TRUE(GetOverlappedResult(port, &w.ov, &done, TRUE));
    EXPECT_EQ(done, big.size());
    EXPECT_EQ(got.size(), big.size());

    SetTimeouts(port, 0, 0, 0, 0, 150);
    auto start = Clock::now();
    BOOL ok = WriteFile(port, big.data(), static_cast<DWORD>(big.size()), &done, &w.ov);
    if (!ok) {
        ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
        ASSERT_TRUE(GetOverlappedResult(port, &w.ov, &done, TRUE));
    }
    EXPECT_LT(done, big.size());
    EXPECT_GE(Clock::now() - start, 150ms);
}

TEST(PortSync, HandleWithoutOverlappedFlagBlocksUntilDone) {
    RuntimeDirScope runtime;
    Pty pty;
    HANDLE h = CreateFile(pty.SlavePath().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                          OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::thread device([&] {
        std::this_thread::sleep_for(100ms);
        pty.Send("12345");
    });
    char buf[5];
    DWORD done = 0;
    EXPECT_TRUE(ReadFile(h, buf, 5, &done, nullptr));
    EXPECT_EQ(std::string(buf, done), "12345");
    EXPECT_TRUE(WriteFile(h, "ok", 2, &done, nullptr));
    EXPECT_EQ(done, 2u);
    EXPECT_EQ(pty.Receive(2), "ok");
    device.join();
    CloseHandle(h);
}

}  // namespace
}  // namespace porttest
