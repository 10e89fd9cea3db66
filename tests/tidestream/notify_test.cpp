#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "pty_fixture.h"

using namespace test;
using namespace std::chrono_literals;

namespace {

// What the callbacks saw, with a way to wait for it.
struct Received {
    std::mutex mutex;
    std::condition_variable changed;
    std::string data;
    std::vector<int> states;
    QVDS_HANDLE handle = 0;
    std::thread::id callbackThread;

    template <typename Pred>
    bool WaitUntil(Pred pred, std::chrono::seconds limit = 10s) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, limit, [&] { return pred(*this); });
    }
};

void OnData(const unsigned char* bytes, int length, void* user) {
    auto* r = static_cast<Received*>(user);
    std::lock_guard lock(r->mutex);
    r->data.append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length));
    r->callbackThread = std::this_thread::get_id();
    r->changed.notify_all();
}

int OnStatus(int state, void* user) {
    auto* r = static_cast<Received*>(user);
    std::lock_guard lock(r->mutex);
    r->states.push_back(state);
    r->changed.notify_all();
    return 0;
}

class NotifyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(platform::AddEntry(platform::kComFolder, "COM2", pty_.node()));
        ComPortSettings settings{2, 115200, 8};
        int err = -1;
        ASSERT_EQ(qvds_open_com(h_, &settings, &err), 1);
        received_.handle = h_;
    }
    void Status(int& s, int& d) { ASSERT_EQ(qvds_notify_status(h_, &s, &d, 0), 1); }

    support::RuntimeDir dir_;
    support::PtyPair pty_;
    Handle h_;
    Received received_;
};

TEST_F(NotifyTest, ThousandScansArriveInOrderOnTheReaderThread) {
    ASSERT_EQ(qvds_register_notify(h_, OnStatus, OnData, &received_, 0), 1);
    std::string expected;
    for (int i = 0; i < 1000; ++i) {
        const std::string scan = "SCAN" + std::to_string(i) + "\r\n";
        pty_.Send(scan);
        expected += scan;
    }
    EXPECT_TRUE(received_.WaitUntil([&](Received& r) { return r.data.size() >= expected.size(); }));
    std::lock_guard lock(received_.mutex);
    EXPECT_EQ(received_.data, expected);
    EXPECT_NE(received_.callbackThread, std::this_thread::get_id());
    EXPECT_TRUE(received_.states.empty());
}

TEST_F(NotifyTest, StatusCallbackReportsTheDeviceGoing) {
    ASSERT_EQ(qvds_register_notify(h_, OnStatus, OnData, &received_, 0), 1);
    pty_.Unplug();
    EXPECT_TRUE(received_.WaitUntil([](Received& r) { return !r.states.empty(); }));
    std::lock_guard lock(received_.mutex);
    EXPECT_EQ(received_.states, std::vector<int>{QVDS_STATE_DISCONNECTED});
    EXPECT_EQ(qvds_is_open(h_), 0);
}

TEST_F(NotifyTest, RegistrationsAreReportedAndRemovedOneByOne) {
    int s = -1, d = -1;
    Status(s, d);
    EXPECT_EQ(s + d, 0);
    ASSERT_EQ(qvds_register_notify(h_, OnStatus, OnData, &received_, 0), 1);
    Status(s, d);
    EXPECT_EQ(s, 1);
    EXPECT_EQ(d, 1);

    ASSERT_EQ(qvds_unregister_notify(h_, 0, 1, 0), 1);
    Status(s, d);
    EXPECT_EQ(s, 1);
    EXPECT_EQ(d, 0);
    pty_.Send("ignored");
    std::this_thread::sleep_for(100ms);

    ASSERT_EQ(qvds_unregister_notify(h_, 1, 0, 0), 1);
    Status(s, d);
    EXPECT_EQ(s + d, 0);
    pty_.Unplug();
    std::this_thread::sleep_for(100ms);
    std::lock_guard lock(received_.mutex);
    EXPECT_EQ(received_.data, "");
    EXPECT_TRUE(received_.states.empty());
}

TEST_F(NotifyTest, NoCallbackRunsAfterUnregisterReturns) {
    // A slow callback is running while the test unregisters.
    static std::atomic<bool> inCallback{false};
    static std::atomic<int> callsAfter{0};
    static std::atomic<bool> unregistered{false};
    auto slowData = [](const unsigned char*, int, void*) {
        if (unregistered) {
            ++callsAfter;
        }
        inCallback = true;
        std::this_thread::sleep_for(200ms);
        if (unregistered) {
            ++callsAfter;
        }
    };
    inCallback = false;
    unregistered = false;
    callsAfter = 0;
    ASSERT_EQ(qvds_register_notify(h_, nullptr, slowData, nullptr, 0), 1);
    pty_.Send("x");
    while (!inCallback) {
        std::this_thread::sleep_for(5ms);
    }
    pty_.Send("y");
    ASSERT_EQ(qvds_unregister_notify(h_, 1, 1, 0), 1);
    unregistered = true;
    pty_.Send("z");
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(callsAfter, 0);
}

TEST_F(NotifyTest, CallbackMayUnregisterAndCloseItsOwnStream) {
    auto closeOnData = [](const unsigned char*, int, void* user) {
        auto* r = static_cast<Received*>(user);
        qvds_unregister_notify(r->handle, 1, 1, 0);
        qvds_close(r->handle);
        std::lock_guard lock(r->mutex);
        r->data = "closed";
        r->changed.notify_all();
    };
    ASSERT_EQ(qvds_register_notify(h_, nullptr, closeOnData, &received_, 0), 1);
    pty_.Send("scan");
    EXPECT_TRUE(received_.WaitUntil([](Received& r) { return r.data == "closed"; }));
    EXPECT_EQ(qvds_is_open(h_), 0);
    int s = -1, d = -1;
    Status(s, d);
    EXPECT_EQ(s + d, 0);
}

TEST_F(NotifyTest, StatusCallbackMayDestroyItsOwnStream) {
    QVDS_HANDLE own = qvds_create();
    ComPortSettings settings{2, 115200, 8};
    int err = -1;
    ASSERT_EQ(qvds_close(h_), 1);
    ASSERT_EQ(qvds_open_com(own, &settings, &err), 1);
    received_.handle = own;
    auto destroyOnStatus = [](int, void* user) {
        auto* r = static_cast<Received*>(user);
        qvds_unregister_notify(r->handle, 1, 1, 0);
        qvds_destory(r->handle);
        std::lock_guard lock(r->mutex);
        r->states.push_back(1);
        r->changed.notify_all();
        return 0;
    };
    ASSERT_EQ(qvds_register_notify(own, destroyOnStatus, OnData, &received_, 0), 1);
    pty_.Unplug();
    EXPECT_TRUE(received_.WaitUntil([](Received& r) { return !r.states.empty(); }));
    EXPECT_EQ(qvds_destory(own), 0);  // already gone
}

TEST_F(NotifyTest, CloseFromAnotherThreadJoinsTheReader) {
    ASSERT_EQ(qvds_register_notify(h_, OnStatus, OnData, &received_, 0), 1);
    pty_.Send("one");
    EXPECT_TRUE(received_.WaitUntil([](Received& r) { return r.data == "one"; }));
    EXPECT_EQ(qvds_close(h_), 1);
    pty_.Unplug();
    std::this_thread::sleep_for(100ms);
    std::lock_guard lock(received_.mutex);
    EXPECT_TRUE(received_.states.empty());  // closed by us is no departure report
}

}  // namespace
