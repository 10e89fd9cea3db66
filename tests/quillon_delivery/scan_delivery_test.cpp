// The delivery object between the reader thread and the network: its queue,
// its worker, the outbox, and the decoding of the cursor mode.
#include "delivery/scan_delivery.h"

#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <condition_variable>
#include <fstream>
#include <future>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "recording_server.h"

namespace {

using delivery_test::RecordedRequest;
using delivery_test::RecordingServer;
using delivery_test::TempDir;
using quillon::DeliveryNotice;
using quillon::ScanDelivery;

using Clock = std::chrono::steady_clock;

// Notices as the worker reports them, waited for with a deadline.
class Notices {
  public:
    quillon::DeliveryNoticeFn Fn() {
        return [this](DeliveryNotice notice, size_t waiting) {
            std::lock_guard lock(m_mutex);
            m_seen.push_back({notice, waiting});
            m_changed.notify_all();
        };
    }
    // The notices once `count` of kind `notice` came (or the deadline passed).
    std::vector<std::pair<DeliveryNotice, size_t>> WaitFor(DeliveryNotice notice, size_t count) {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::seconds(30), [&] { return Count(notice) >= count; });
        return m_seen;
    }
    size_t CountOf(DeliveryNotice notice) {
        std::lock_guard lock(m_mutex);
        return Count(notice);
    }

  private:
    size_t Count(DeliveryNotice notice) const {
        size_t n = 0;
        for (const auto& seen : m_seen) {
            n += seen.first == notice ? 1 : 0;
        }
        return n;
    }
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::pair<DeliveryNotice, size_t>> m_seen;
};

std::vector<RecordedRequest> WaitForRequests(const RecordingServer& server, size_t count) {
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    std::vector<RecordedRequest> requests = server.Requests();
    while (requests.size() < count && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        requests = server.Requests();
    }
    return requests;
}

std::string Body(const std::string& scan) {
    return scan + std::string(1, '\0');
}

size_t LinesIn(const std::string& file) {
    std::ifstream in(file);
    size_t lines = 0;
    for (std::string line; std::getline(in, line);) {
        ++lines;
    }
    return lines;
}

class NetworkQueue : public testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"http_proxy", "all_proxy", "ALL_PROXY"}) {
            unsetenv(name);
        }
        ASSERT_TRUE(m_server.Started());
    }
    quillon::DeliverySettings Network(const std::string& url, bool outbox = false) {
        quillon::DeliverySettings settings;
        settings.mode = quillon::WorkMode::Network;
        settings.url = url;
        settings.outbox = outbox;
        settings.outboxFile = m_dir.Path() + "/ktr.outbox";
        return settings;
    }

    TempDir m_dir;
    RecordingServer m_server{m_dir.Path()};
    quillon::PendingText m_pending;
    Notices m_notices;
};

// A server that takes the request and never answers: later scans queue up
// behind it, and the end aborts the stuck POST instead of waiting for it.
TEST_F(NetworkQueue, AStuckPostNeitherBlocksTheReaderNorTheEnd) {
    auto delivery = std::make_unique<ScanDelivery>(m_pending);
    delivery->Start(Network(m_server.Url("/hang")), m_notices.Fn());
    delivery->Receive("FIRST");
    ASSERT_EQ(WaitForRequests(m_server, 1).size(), 1u);
    delivery->Receive("SECOND");
    delivery->Receive("THIRD");
    EXPECT_EQ(delivery->Queued(), 2u);
    auto stopped = std::async(std::launch::async, [&] { delivery.reset(); });
    // The idle limit is 30 s: only the abort ends the POST within 2 s.
    ASSERT_EQ(stopped.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    EXPECT_EQ(m_server.Requests().size(), 1u);
    // Stopping is not a failure to report.
    EXPECT_EQ(m_notices.CountOf(DeliveryNotice::PostFailed), 0u);
}

TEST_F(NetworkQueue, AFullQueueRefusesTheScanAndSaysSo) {
    ScanDelivery delivery(m_pending);
    delivery.Start(Network(m_server.Url("/hang")), m_notices.Fn());
    delivery.Receive("IN-FLIGHT");
    ASSERT_EQ(WaitForRequests(m_server, 1).size(), 1u);
    for (size_t i = 0; i < quillon::kDeliveryQueueCapacity; ++i) {
        delivery.Receive("QUEUED");
    }
    // Past the number of blocks a block joins the last one: nothing is lost.
    delivery.Receive("JOINED");
    EXPECT_EQ(m_notices.CountOf(DeliveryNotice::QueueFull), 0u);
    EXPECT_EQ(delivery.Queued(), quillon::kDeliveryQueueCapacity);
    // Past the number of bytes a block is refused.
    const std::string tooMany(quillon::kDeliveryQueueBytes, 'x');
    delivery.Receive(tooMany);
    delivery.Receive(tooMany);
    EXPECT_EQ(delivery.Queued(), quillon::kDeliveryQueueCapacity);
    const auto seen = m_notices.WaitFor(DeliveryNotice::QueueFull, 2);
    EXPECT_EQ(m_notices.CountOf(DeliveryNotice::QueueFull), 2u);
    EXPECT_EQ(seen.back().second, quillon::kDeliveryQueueCapacity);
}

TEST_F(NetworkQueue, ScansArePostedInOrderAndFailuresReported) {
    ScanDelivery delivery(m_pending);
    delivery.Start(Network(m_server.Url("/reply?text=succes")), m_notices.Fn());
    for (int i = 0; i < 20; ++i) {
        delivery.Receive("SCAN-" + std::to_string(i));
    }
    const auto requests = WaitForRequests(m_server, 20);
    ASSERT_EQ(requests.size(), 20u);
    std::set<std::string> connections;
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(requests[static_cast<size_t>(i)].body, Body("SCAN-" + std::to_string(i)));
        connections.insert(requests[static_cast<size_t>(i)].client);
    }
    // The server keeps the connection open: every scan goes over the first.
    EXPECT_EQ(connections.size(), 1u);
    EXPECT_EQ(m_notices.CountOf(DeliveryNotice::PostFailed), 0u);

    ScanDelivery failing(m_pending);
    failing.Start(Network(m_server.Url("/reply?text=success")), m_notices.Fn());
    failing.Receive("X");
    const auto seen = m_notices.WaitFor(DeliveryNotice::PostFailed, 1);
    ASSERT_EQ(m_notices.CountOf(DeliveryNotice::PostFailed), 1u);
    // Without the outbox nothing waits.
    EXPECT_EQ(seen.back().second, 0u);
    EXPECT_FALSE(std::filesystem::exists(m_dir.Path() + "/ktr.outbox"));
}

// The server is down for 20 scans: each is kept, and once the server is back
// the next start delivers all of them, oldest first, once each.
TEST_F(NetworkQueue, OutboxKeepsFailedScansAndDeliversThemAfterARestart) {
    const int port = delivery_test::UnusedPort();
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/reply?text=succes";
    const std::string outbox = m_dir.Path() + "/ktr.outbox";
    {
        ScanDelivery delivery(m_pending);
        delivery.Start(Network(url, true), m_notices.Fn());
        for (int i = 0; i < 20; ++i) {
            delivery.Receive("KEPT-" + std::to_string(i) + std::string("\0\xff\r", 3));
        }
        const auto seen = m_notices.WaitFor(DeliveryNotice::PostFailed, 20);
        ASSERT_EQ(m_notices.CountOf(DeliveryNotice::PostFailed), 20u);
        EXPECT_EQ(seen.back().second, 20u);
        // Each was on disk before its failure was reported.
        EXPECT_EQ(LinesIn(outbox), 20u);
    }
    TempDir backLog;
    RecordingServer back(backLog.Path(), {}, {}, port);
    ASSERT_TRUE(back.Started());
    ScanDelivery restarted(m_pending);
    restarted.Start(Network(url, true), m_notices.Fn());
    const auto requests = WaitForRequests(back, 20);
    ASSERT_EQ(requests.size(), 20u);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(requests[static_cast<size_t>(i)].body,
                  Body("KEPT-" + std::to_string(i) + std::string("\0\xff\r", 3)));
    }
    m_notices.WaitFor(DeliveryNotice::OutboxChanged, 1);
    EXPECT_EQ(LinesIn(outbox), 0u);
    // Nothing goes out twice.
    restarted.Receive("NEW");
    EXPECT_EQ(WaitForRequests(back, 21).size(), 21u);
    restarted.Stop();
    EXPECT_EQ(back.Requests().size(), 21u);
}

// Kept scans go before a newer one, in the same run, once the server answers.
TEST_F(NetworkQueue, OutboxScansGoBeforeTheNextScan) {
    const int port = delivery_test::UnusedPort();
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/reply?text=succes";
    ScanDelivery delivery(m_pending);
    delivery.Start(Network(url, true), m_notices.Fn());
    for (const char* scan : {"A", "B", "C"}) {
        delivery.Receive(scan);
    }
    ASSERT_EQ(m_notices.WaitFor(DeliveryNotice::PostFailed, 3).back().second, 3u);
    TempDir backLog;
    RecordingServer back(backLog.Path(), {}, {}, port);
    ASSERT_TRUE(back.Started());
    delivery.Receive("D");
    const auto requests = WaitForRequests(back, 4);
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].body, Body("A"));
    EXPECT_EQ(requests[1].body, Body("B"));
    EXPECT_EQ(requests[2].body, Body("C"));
    EXPECT_EQ(requests[3].body, Body("D"));
    EXPECT_EQ(m_notices.WaitFor(DeliveryNotice::OutboxChanged, 1).back().second, 0u);
}

// With no further scan, the outbox is tried again on its own after the retry
// period.
TEST_F(NetworkQueue, OutboxIsRetriedWithoutAScan) {
    const int port = delivery_test::UnusedPort();
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/reply?text=succes";
    quillon::DeliverySettings settings = Network(url, true);
    settings.outboxRetry = std::chrono::milliseconds(200);
    ScanDelivery delivery(m_pending);
    delivery.Start(settings, m_notices.Fn());
    delivery.Receive("A");
    delivery.Receive("B");
    ASSERT_EQ(m_notices.WaitFor(DeliveryNotice::PostFailed, 2).back().second, 2u);
    TempDir backLog;
    RecordingServer back(backLog.Path(), {}, {}, port);
    ASSERT_TRUE(back.Started());
    const auto requests = WaitForRequests(back, 2);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].body, Body("A"));
    EXPECT_EQ(requests[1].body, Body("B"));
    EXPECT_EQ(m_notices.WaitFor(DeliveryNotice::OutboxChanged, 1).back().second, 0u);
}

// The end cuts a stuck POST short: with the outbox on, that scan and the
// ones queued behind it are kept for the next start.
TEST_F(NetworkQueue, OutboxKeepsWhatTheEndCutShort) {
    {
        ScanDelivery delivery(m_pending);
        delivery.Start(Network(m_server.Url("/hang"), true), m_notices.Fn());
        delivery.Receive("STUCK");
        ASSERT_EQ(WaitForRequests(m_server, 1).size(), 1u);
        delivery.Receive("WAITING");
    }
    quillon::Outbox outbox(m_dir.Path() + "/ktr.outbox");
    ASSERT_EQ(outbox.Count(), 2u);
    EXPECT_EQ(outbox.Oldest(), "STUCK");
}

TEST(OutboxFile, KeepsBytesAcrossReopeningAndDropsATornLine) {
    TempDir dir;
    const std::string file = dir.Path() + "/ktr.outbox";
    const std::string binary("\0\n\r\xff", 4);
    {
        quillon::Outbox outbox(file);
        EXPECT_TRUE(outbox.Empty());
        ASSERT_TRUE(outbox.Append("one"));
        ASSERT_TRUE(outbox.Append(binary));
        ASSERT_TRUE(outbox.Append("three"));
        ASSERT_TRUE(outbox.RemoveOldest());
    }
    // A crash in the middle of an append leaves half a line.
    std::ofstream(file, std::ios::app) << "6e6f";
    quillon::Outbox reopened(file);
    ASSERT_EQ(reopened.Count(), 2u);
    EXPECT_EQ(reopened.Oldest(), binary);
    ASSERT_TRUE(reopened.Append("four"));
    ASSERT_TRUE(reopened.RemoveOldest());
    quillon::Outbox again(file);
    ASSERT_EQ(again.Count(), 2u);
    EXPECT_EQ(again.Oldest(), "three");
    ASSERT_TRUE(again.RemoveOldest());
    EXPECT_EQ(again.Oldest(), "four");
}

class CursorMode : public testing::Test {
  protected:
    void SetUp() override {
        m_saved = setlocale(LC_ALL, nullptr);
        ASSERT_NE(setlocale(LC_ALL, "C.UTF-8"), nullptr);
        quillon::DeliverySettings settings;
        settings.mode = quillon::WorkMode::Cursor;
        settings.codePage = 1252;
        m_delivery.Start(settings, {});
    }
    void TearDown() override { setlocale(LC_ALL, m_saved.c_str()); }

    std::string m_saved;
    quillon::PendingText m_pending;
    ScanDelivery m_delivery{m_pending};
};

TEST_F(CursorMode, ACharacterSplitBetweenReadsArrivesWhole) {
    // Nothing decodable yet: no text, so no arming from here.
    EXPECT_FALSE(m_delivery.Receive("\xC3"));
    EXPECT_TRUE(m_pending.Empty());
    EXPECT_TRUE(m_delivery.Receive("\x9C\r"));
    EXPECT_EQ(m_delivery.TakePending(), u"\u00DC\r");
}

TEST_F(CursorMode, TheTimersTakeDecodesHeldBytesAsTheyStand) {
    EXPECT_TRUE(m_delivery.Receive("A\xC3"));
    EXPECT_EQ(m_delivery.TakePending(), u"A\u00C3");
    // What comes next is a new burst.
    m_delivery.Receive("B");
    EXPECT_EQ(m_delivery.TakePending(), u"B");
}

TEST_F(CursorMode, ACodePageChangeAppliesToLaterBlocks) {
    m_delivery.Receive("\xDC");
    EXPECT_EQ(m_delivery.TakePending(), u"\u00DC");
    m_delivery.SetCodePage(1251);
    m_delivery.Receive("\xDC");
    EXPECT_EQ(m_delivery.TakePending(), u"\u042C");
}

}  // namespace
