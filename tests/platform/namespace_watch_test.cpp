#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/runtime_namespace.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"

using namespace platform;
using namespace std::chrono_literals;

namespace {

// Collects events and lets the test wait for a number of them.
class EventLog {
  public:
    void Add(const NamespaceEvent& event) {
        std::lock_guard lock(mutex_);
        events_.push_back(event);
        changed_.notify_all();
    }
    std::vector<NamespaceEvent> WaitFor(size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, 10s, [&] { return events_.size() >= count; });
        return events_;
    }
    size_t Size() {
        std::lock_guard lock(mutex_);
        return events_.size();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<NamespaceEvent> events_;
};

class NamespaceWatchTest : public ::testing::Test {
  protected:
    support::RuntimeDir dir_;
    EventLog log_;
};

TEST_F(NamespaceWatchTest, ReportsArrivalAndRemovalInEachFolder) {
    support::PtyPair pty;
    NamespaceWatch watch({"usb", "dosdevices"}, [&](const NamespaceEvent& e) { log_.Add(e); });
    ASSERT_TRUE(watch.IsRunning());
    EXPECT_FALSE(watch.StartError().Failed());

    ASSERT_TRUE(AddEntry(kUsbFolder, "usb#vid_1eab&pid_0d10#sim0001", pty.node()));
    ASSERT_TRUE(AddEntry(kComFolder, "COM5", pty.node()));
    // An arrival is reported only while the link is live, so let it be seen first.
    ASSERT_EQ(log_.WaitFor(2).size(), 2u);
    ASSERT_TRUE(RemoveEntry(kUsbFolder, "usb#vid_1eab&pid_0d10#sim0001"));

    const auto events = log_.WaitFor(3);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].folder, "usb");
    EXPECT_EQ(events[0].name, "usb#vid_1eab&pid_0d10#sim0001");
    EXPECT_TRUE(events[0].arrived);
    EXPECT_EQ(events[1].folder, "dosdevices");
    EXPECT_EQ(events[1].name, "COM5");
    EXPECT_TRUE(events[1].arrived);
    EXPECT_EQ(events[2].folder, "usb");
    EXPECT_FALSE(events[2].arrived);
}

TEST_F(NamespaceWatchTest, DanglingLinkIsNoArrivalAndStopEndsReports) {
    support::PtyPair pty;
    NamespaceWatch watch({"dosdevices"}, [&](const NamespaceEvent& e) { log_.Add(e); });
    ASSERT_TRUE(AddEntry(kComFolder, "COM9", dir_.Path() / "missing"));
    ASSERT_TRUE(AddEntry(kComFolder, "COM6", pty.node()));
    const auto events = log_.WaitFor(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].name, "COM6");

    watch.Stop();
    EXPECT_FALSE(watch.IsRunning());
    const size_t before = log_.Size();
    ASSERT_TRUE(RemoveEntry(kComFolder, "COM6"));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(log_.Size(), before);
}

TEST_F(NamespaceWatchTest, HandlerMayStopItsOwnWatch) {
    support::PtyPair pty;
    std::unique_ptr<NamespaceWatch> watch;
    watch = std::make_unique<NamespaceWatch>(std::vector<std::string>{"usb"},
                                             [&](const NamespaceEvent& e) {
                                                 watch->Stop();
                                                 log_.Add(e);
                                             });
    ASSERT_TRUE(AddEntry(kUsbFolder, "usb#x", pty.node()));
    ASSERT_EQ(log_.WaitFor(1).size(), 1u);
    watch.reset();  // must neither hang nor crash
}

}  // namespace
