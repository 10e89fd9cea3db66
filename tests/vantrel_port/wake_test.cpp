// Who is woken when a state changes: every waiter ends on what it waits for
// and on nothing else; bytes that come while nobody reads wait in the device
// for later reads, whole and in order.
#include <algorithm>
#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "port_test_support.h"

namespace porttest {
namespace {

using namespace win;
using Clock = std::chrono::steady_clock;

bool Eventually(const std::function<bool()>& condition, int seconds = 10) {
    auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < deadline) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

TEST(Wakeups, EachWaiterEndsOnItsOwnEventsOnly) {
    // Single waits on auto-reset events, and one wait for all of two events:
    // events are set one at a time in a shuffled order, and after each only
    // the waiter it completes may have ended.
    constexpr int kSingles = 6;
    std::vector<HANDLE> events;
    for (int i = 0; i < kSingles + 2; ++i)
        events.push_back(CreateEvent(nullptr, FALSE, FALSE, nullptr));
    std::vector<std::atomic<DWORD>> results(kSingles + 1);
    for (auto& result : results)
        result = WAIT_FAILED - 1;  // still waiting
    std::vector<std::thread> waiters;
    for (int i = 0; i < kSingles; ++i)
        waiters.emplace_back([&, i] { results[i] = WaitForSingleObject(events[i], 30000); });
    waiters.emplace_back([&] {
        HANDLE both[2] = {events[kSingles], events[kSingles + 1]};
        results[kSingles] = WaitForMultipleObjects(2, both, TRUE, 30000);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    std::vector<int> order(kSingles + 2);
    for (int i = 0; i < kSingles + 2; ++i)
        order[i] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937(7));
    std::vector<bool> expectedDone(kSingles + 1, false);
    bool otherOfPairSet = false;
    for (int which : order) {
        ASSERT_TRUE(SetEvent(events[which]));
        int waiter = std::min(which, kSingles);
        bool completes = which < kSingles || otherOfPairSet;
        if (which >= kSingles)
            otherOfPairSet = true;
        if (completes) {
            expectedDone[waiter] = true;
            EXPECT_TRUE(Eventually([&] { return results[waiter] == WAIT_OBJECT_0; }))
                << "waiter " << waiter << " did not wake for its event";
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        for (int i = 0; i <= kSingles; ++i) {
            if (!expectedDone[i]) {
                EXPECT_EQ(results[i], WAIT_FAILED - 1) << "waiter " << i << " ended early";
            }
        }
    }
    for (auto& thread : waiters)
        thread.join();
    // The auto-reset events were taken by their waiters.
    for (HANDLE event : events) {
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
        CloseHandle(event);
    }
}

TEST(Wakeups, AlertableSleepWakesForARoutineQueuedFromAnotherThread) {
    // The read ends on the port's own thread when its bytes come; the
    // sleeping issuer must be woken to run the routine, long before the
    // sleep would end.
    RuntimeDirScope runtime;
    Pty pty;
    PublishCom(3, pty);
    HANDLE port = OpenOverlapped("COM3");
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    static std::atomic<DWORD> routineBytes{0};
    routineBytes = 0;
    OVERLAPPED ov{};
    char buffer[4] = {};
    ASSERT_TRUE(ReadFileEx(port, buffer, 4, &ov,
                           [](DWORD, DWORD bytes, OVERLAPPED*) { routineBytes = bytes; }));
    std::thread sender([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        pty.Send("ping");
    });
    auto start = Clock::now();
    EXPECT_EQ(SleepEx(20000, TRUE), WAIT_IO_COMPLETION);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(15));
    EXPECT_EQ(routineBytes, 4u);
    EXPECT_EQ(std::string(buffer, 4), "ping");
    sender.join();
    CloseHandle(port);
}

TEST(Wakeups, ClosingAPortEndsTheDeviceWatchOfAThreadWaitingForSomethingElse) {
    // A thread with a read pending waits for an unrelated event; meanwhile
    // it watches the device for its read. Closing the port must not wait
    // for that watch (nothing would end it), and the thread's own wait goes
    // on until its event comes.
    RuntimeDirScope runtime;
    Pty pty;
    PublishCom(3, pty);
    HANDLE port = OpenOverlapped("COM3");
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    HANDLE unrelated = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> readPending{false};
    std::atomic<DWORD> waitResult{WAIT_FAILED};
    std::thread waiter([&] {
        OVERLAPPED ov{};
        ov.hEvent = CreateEvent(nullptr, TRUE, FALSE, nullptr);
        char buffer[8];
        DWORD done = 0;
        readPending = !ReadFile(port, buffer, sizeof buffer, &done, &ov) &&
                      GetLastError() == ERROR_IO_PENDING;
        waitResult = WaitForSingleObject(unrelated, 30000);
        CloseHandle(ov.hEvent);
    });
    ASSERT_TRUE(Eventually([&] { return readPending.load(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // it is in its wait now

    auto start = Clock::now();
    std::atomic<bool> closed{false};
    std::thread closer([&] {
        CloseHandle(port);
        closed = true;
    });
    EXPECT_TRUE(Eventually([&] { return closed.load(); }, 5)) << "closing hung";
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(waitResult, WAIT_FAILED) << "the unrelated wait ended with the port";
    SetEvent(unrelated);
    waiter.join();
    closer.join();
    EXPECT_EQ(waitResult, WAIT_OBJECT_0);
    CloseHandle(unrelated);
}

std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    uint32_t state = 99;
    for (char& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>(state >> 16);
    }
    return bytes;
}

TEST(PortInput, BytesThatCameWithoutAReaderReachLaterReadsWholeAndInOrder) {
    // Far more than the input queue holds arrives before the first read;
    // reads of varied sizes, issued slowly, must still get every byte.
    RuntimeDirScope runtime;
    Pty pty;
    PublishCom(3, pty);
    HANDLE port = OpenOverlapped("COM3");
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    SetTimeouts(port, MAXDWORD, 0, 0);  // reads take what is there and end
    const std::string sent = Pattern(64 * 1024);
    std::thread device([&] { pty.Send(sent); });

    COMSTAT stat{};
    DWORD errors = 0;
    EXPECT_TRUE(Eventually([&] {
        return ClearCommError(port, &errors, &stat) && stat.cbInQue > 0;
    })) << "bytes waiting in the device are not counted";

    std::string got;
    const DWORD sizes[] = {1, 700, 4096, 5000, 13, 16000};
    auto deadline = Clock::now() + std::chrono::seconds(20);
    for (size_t i = 0; got.size() < sent.size() && Clock::now() < deadline; ++i) {
        DWORD size = std::min<DWORD>(sizes[i % std::size(sizes)],
                                     static_cast<DWORD>(sent.size() - got.size()));
        std::vector<char> buffer(size);
        OverlappedCall call;
        DWORD done = 0;
        if (!ReadFile(port, buffer.data(), size, &done, &call.ov)) {
            ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
            ASSERT_TRUE(GetOverlappedResult(port, &call.ov, &done, TRUE));
        }
        got.append(buffer.data(), done);
        if (i % 8 == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    device.join();
    ASSERT_EQ(got.size(), sent.size());
    EXPECT_TRUE(got == sent) << "bytes out of order";
    CloseHandle(port);
}

}  // namespace
}  // namespace porttest
