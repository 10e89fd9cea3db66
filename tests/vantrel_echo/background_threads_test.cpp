// The event monitor and the ReadCom thread on one end of a pseudo-terminal
// link, with bytes arriving from the other end.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "comm_event_monitor.h"
#include "echo_test_support.h"
#include "pty_link.h"
#include "read_com_thread.h"

using namespace vantrel::echo;

namespace {

class BackgroundThreads : public ::testing::Test {
  protected:
    void SetUp() override {
        port_ = OpenPortPath(link_.PathA());
        ASSERT_NE(port_, win::INVALID_HANDLE_VALUE);
    }
    void TearDown() override { win::CloseHandle(port_); }

    // Sends bytes from the far end, a burst at a time, and gives the thread
    // time to report each.
    void SendBursts(int bursts) {
        for (int i = 0; i < bursts; ++i) {
            const uint8_t bytes[5] = {'h', 'e', 'l', 'l', 'o'};
            WriteAll(link_.RawB(), bytes, sizeof bytes);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
    }

    PtyLink link_;
    win::HANDLE port_ = win::INVALID_HANDLE_VALUE;
};

TEST(EventMaskText, NamesTheWatchedBitsInOrder) {
    struct Case {
        win::DWORD mask;
        const char* text;
    } cases[] = {{0x0000, ""},
                 {0x0001, "EV_RXCHAR"},
                 {0x0005, "EV_RXCHAR|EV_TXEMPTY"},
                 {0x001D, "EV_RXCHAR|EV_CTS|EV_DSR|EV_TXEMPTY"},
                 {0x0404, "EV_TXEMPTY|EV_RX80FULL"},
                 {0x0002 | 0x0080, ""}};  // bits without a name
    for (const auto& c : cases)
        EXPECT_EQ(EventMaskText(c.mask), c.text) << c.mask;
}

TEST_F(BackgroundThreads, MonitorReportsArrivingBytesWithoutClearingThem) {
    EventMonitorKeys keys;
    KeyScript script;
    const std::string out = support::CaptureStdout([&] {
        EXPECT_TRUE(keys.StartKey(port_, false, {}, script.Hooks().readKey, {}));
        EXPECT_FALSE(keys.StartKey(port_, false, {}, script.Hooks().readKey, {}));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        SendBursts(2);
        keys.StopKey();
    });
    EXPECT_NE(out.find("*["), std::string::npos) << out;  // the monitor's marker
    EXPECT_NE(out.find("WaitCommEvent thread starting."), std::string::npos) << out;
    EXPECT_NE(out.find("====SetCommMask(h, EV_RXCHAR|EV_CTS|EV_DSR|EV_TXEMPTY) Success."),
              std::string::npos);
    EXPECT_NE(out.find("====Starting WaitCommEvent(mask=0x1D)..."), std::string::npos);
    EXPECT_EQ(CountOf(out, "Already monitoring CommEvents."), 1u);
    EXPECT_GE(CountOf(out, "====New events: EV_RXCHAR"), 2u) << out;
    EXPECT_NE(out.find("cbInQue=5(not cleared) , cbOutQue=0"), std::string::npos) << out;
    EXPECT_NE(out.find("Main thread calls SetCommMask(h,0); to tell quit WaitCommEvent thread."),
              std::string::npos);
    // Clearing the mask ends the pending wait with no events; the quit follows.
    const size_t noEvent = out.find("====WaitCommEvent() completes, 0 event reported.");
    ASSERT_NE(noEvent, std::string::npos) << out;
    EXPECT_GT(out.find("====WaitCommEvent thread receives quit signal. Now quit this thread."),
              noEvent);
    EXPECT_GT(out.find("WaitCommEvent thread quitting confirmed."), noEvent);
    EXPECT_FALSE(keys.Running());
}

TEST_F(BackgroundThreads, VerboseMonitorAnsweredNoAndYesClearsWhatArrives) {
    EventMonitorKeys keys;
    KeyScript script;
    script.Answer('n');
    script.Answer('y');
    const std::string out = support::CaptureStdout([&] {
        keys.StartKey(port_, true, {}, script.Hooks().readKey, {});
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        SendBursts(2);
        keys.StopKey();
    });
    EXPECT_NE(out.find("Monitor CTS and DSR: no"), std::string::npos) << out;
    EXPECT_NE(out.find("Read and discard all chars on EV_RXCHAR: yes"), std::string::npos);
    EXPECT_NE(out.find("====SetCommMask(h, EV_RXCHAR|EV_TXEMPTY) Success."), std::string::npos);
    EXPECT_NE(out.find("====Starting WaitCommEvent(mask=0x05)..."), std::string::npos);
    EXPECT_NE(out.find("(cleared now)"), std::string::npos) << out;
    EXPECT_EQ(out.find("not cleared"), std::string::npos);
    // Purged on arrival: nothing is left for a reader.
    win::DWORD errors = 0;
    win::COMSTAT stat{};
    ASSERT_TRUE(win::ClearCommError(port_, &errors, &stat));
    EXPECT_EQ(stat.cbInQue, 0u);
}

TEST_F(BackgroundThreads, ReadComThreadKeepsReadingUntilAskedToStop) {
    // A read ends 20 ms after its bytes stop coming.
    win::COMMTIMEOUTS interval{20, 0, 0, 0, 0};
    ASSERT_TRUE(win::SetCommTimeouts(port_, &interval));
    ReadComKeys keys;
    KeyScript script;
    std::string out = support::CaptureStdout([&] {
        keys.Key(port_, 100, script.Hooks().readKey);
        EXPECT_TRUE(keys.Running());
        SendBursts(1);
        script.Answer('n');
        keys.Key(port_, 100, script.Hooks().readKey);  // answered n: keeps running
        EXPECT_TRUE(keys.Running());
        SendBursts(1);
        script.Answer('y');
        keys.Key(port_, 100, script.Hooks().readKey);
        EXPECT_FALSE(keys.Running());
    });
    EXPECT_NE(out.find("ReadCom-thread created success."), std::string::npos) << out;
    EXPECT_EQ(CountOf(out, "Stop ReadCom thread?(y/N)"), 2u);
    EXPECT_NE(out.find("#["), std::string::npos);  // the reader's marker
    EXPECT_EQ(CountOf(out, "ReadComThread: Got 5 bytes."), 2u) << out;
    EXPECT_EQ(CountOf(out, "ReadComThread: Got quit signal."), 1u);
    EXPECT_GT(out.find("ReadComThread: Got quit signal."), out.rfind("Got 5 bytes."));
}

}  // namespace
