// Events, thread handles and waits on several objects.
#include <atomic>
#include <thread>

#include "port_test_support.h"

namespace porttest {
namespace {

using namespace win;

TEST(PortEvents, ManualStaysSetAutoResetsOnAWait) {
    HANDLE manual = CreateEvent(nullptr, TRUE, TRUE, nullptr);
    HANDLE automatic = CreateEvent(nullptr, FALSE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);
    ASSERT_TRUE(ResetEvent(manual));
    EXPECT_EQ(WaitForSingleObject(manual, 20), WAIT_TIMEOUT);
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        SetEvent(automatic);
    });
    EXPECT_EQ(WaitForSingleObject(automatic, INFINITE), WAIT_OBJECT_0);
    setter.join();
    EXPECT_TRUE(CloseHandle(manual));
    EXPECT_TRUE(CloseHandle(automatic));
    for (HANDLE gone : {manual, automatic}) {
        EXPECT_FALSE(SetEvent(gone));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_EQ(WaitForSingleObject(gone, 0), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
}

TEST(PortWaits, AnyReportsTheFirstSignaledAllNeedsEvery) {
    HANDLE e[3];
    for (auto& h : e)
        h = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(WaitForMultipleObjects(3, e, FALSE, 10), WAIT_TIMEOUT);
    SetEvent(e[2]);
    EXPECT_EQ(WaitForMultipleObjects(3, e, FALSE, 0), WAIT_OBJECT_0 + 2);
    SetEvent(e[1]);
    EXPECT_EQ(WaitForMultipleObjects(3, e, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(3, e, TRUE, 10), WAIT_TIMEOUT);
    SetEvent(e[0]);
    EXPECT_EQ(WaitForMultipleObjects(3, e, TRUE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForMultipleObjects(0, e, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    for (auto& h : e)
        CloseHandle(h);
}

TEST(PortWaits, AutoResetEventReleasesExactlyOneOfTwoWaiters) {
    HANDLE automatic = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    std::atomic<int> woken{0};
    auto waiter = [&] {
        if (WaitForSingleObject(automatic, 1500) == WAIT_OBJECT_0)
            ++woken;
    };
    std::thread a(waiter), b(waiter);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    SetEvent(automatic);
    a.join();
    b.join();
    EXPECT_EQ(woken, 1);
    CloseHandle(automatic);
}

DWORD ThreadBody(void* parameter) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return *static_cast<DWORD*>(parameter);
}

TEST(PortThreads, HandleSignalsWhenTheThreadEnds) {
    DWORD value = 42;
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, &ThreadBody, &value, 0, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    DWORD code = 0;
    ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);  // stays signaled
    EXPECT_TRUE(CloseHandle(thread));
}

}  // namespace
}  // namespace porttest
