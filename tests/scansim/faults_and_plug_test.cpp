// Faults on demand, unplugging and plugging in again, and the serial flavour's
// baud-rate gate, all seen from the host over the real pty.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <set>
#include <thread>

#include "host_port.h"
#include "scansim/scanner.h"
#include "support/scansim_fixture.h"
#include "support/temp_dir.h"

namespace {

using scansim::Attachment;
using scansim::Fault;
using scansim::Scanner;
using scansim::ScannerOptions;
using namespace scansim_test;

// Each fault against a scanner of its own: the host asks for BUFQRY once the
// fault is set, `check` looks at what came back; every scanner still plugged
// in answers normally again once its fault is cleared.
TEST(Faults, EachFaultShapesTheReply) {
    const std::string good = ReplyFrame("BUFQRY1024", kAck);
    struct Case {
        const char* name;
        Fault fault;
        std::function<void(Scanner& scanner, HostPort& host, const std::filesystem::path& link)>
            check;
    };
    const Case cases[] = {
        {"silence: nothing at all comes back",
         {Fault::Kind::kSilence, 0, 1},
         [&](Scanner&, HostPort& host, const auto&) { EXPECT_EQ(host.ReadFor(500), ""); }},
        {"NAK: the same reply, refused",
         {Fault::Kind::kNak, 0, 1},
         [&](Scanner&, HostPort& host, const auto&) {
             EXPECT_EQ(host.ReadUntilEnd(";\x03"), ReplyFrame("BUFQRY1024", kNak));
         }},
        {"garbage: bytes that are not a reply frame",
         {Fault::Kind::kGarbage, 0, 1},
         [&](Scanner&, HostPort& host, const auto&) {
             const std::string garbage = host.ReadFor(500);
             EXPECT_FALSE(garbage.empty());
             EXPECT_NE(garbage.substr(0, 1), "\x02");
         }},
        {"delay: the whole reply, but not before the delay has passed",
         {Fault::Kind::kDelay, 400, 1},
         [&](Scanner&, HostPort& host, const auto&) {
             const auto sent = std::chrono::steady_clock::now();
             EXPECT_EQ(host.ReadUntilEnd(";\x03"), good);
             EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(400));
         }},
        {"chunks: the first piece alone is incomplete, the rest follows",
         {Fault::Kind::kChunked, 3, 300},
         [&](Scanner&, HostPort& host, const auto&) {
             std::string pieces = host.ReadCount(1);
             EXPECT_LT(pieces.size(), good.size());
             pieces += host.ReadUntilEnd(";\x03");
             EXPECT_EQ(pieces, good);
         }},
        {"disconnect: half a reply, then the device hangs up and is gone",
         {Fault::Kind::kDisconnect, 0, 1},
         [&](Scanner& scanner, HostPort& host, const std::filesystem::path& link) {
             EXPECT_EQ(host.ReadCount(good.size() / 2), good.substr(0, good.size() / 2));
             EXPECT_TRUE(host.SeesHangup());
             EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
             EXPECT_FALSE(scanner.IsPlugged());
         }},
        {"truncated: half a reply, then silence, still plugged in",
         {Fault::Kind::kTruncated, 0, 1},
         [&](Scanner& scanner, HostPort& host, const auto&) {
             EXPECT_EQ(host.ReadFor(500), good.substr(0, good.size() / 2));
             EXPECT_TRUE(scanner.IsPlugged());
             EXPECT_FALSE(host.SeesHangup(200));
         }},
        {"huge: one acknowledged frame of one mebibyte",
         {Fault::Kind::kHuge, 0, 1},
         [&](Scanner&, HostPort& host, const auto&) {
             constexpr size_t kPayload = size_t{1} << 20;
             const std::string reply = host.ReadCount(7 + kPayload + 3, 20000);
             ASSERT_EQ(reply.size(), 7 + kPayload + 3);
             EXPECT_EQ(reply.substr(0, 7), good.substr(0, 7));
             EXPECT_EQ(reply.substr(7, 10), "BUFQRY1024");
             EXPECT_EQ(reply.substr(reply.size() - 3), std::string("\x06;\x03"));
             EXPECT_EQ(reply.find(";\x03"), reply.size() - 2) << "no frame end inside the payload";
             EXPECT_EQ(host.ReadFor(200), "");
         }},
        // The reply that never ends goes on for as long as the host reads and
        // holds no frame end; unread bytes are dropped with the host's input
        // once the fault is cleared.
        {"endless: a reply without an end",
         {Fault::Kind::kEndless, 0, 1},
         [&](Scanner& scanner, HostPort& host, const auto&) {
             constexpr size_t kTaken = size_t{3} << 20;  // beyond any whole reply
             const std::string reply = host.ReadCount(kTaken, 20000);
             ASSERT_GE(reply.size(), kTaken);
             EXPECT_EQ(reply.substr(0, 7), good.substr(0, 7));
             EXPECT_EQ(reply.substr(7, 10), "BUFQRY1024");
             EXPECT_EQ(reply.find(";\x03"), std::string::npos);
             scanner.SetFault({});
             const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
             std::string answer;
             while (answer != good && std::chrono::steady_clock::now() < deadline) {
                 host.ReadFor(100);
                 answer = host.Ask("BUFQRY", 1000);
             }
             EXPECT_EQ(answer, good);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        support::RuntimeDir ns;
        auto scanner = support::StartUsbScanner("faults");
        ASSERT_NE(scanner, nullptr);
        const auto link = scanner->LinkPath();
        HostPort host(link);
        ASSERT_TRUE(host.IsOpen());
        scanner->SetFault(c.fault);
        host.Write(CommandFrame("BUFQRY"));
        c.check(*scanner, host, link);
        if (scanner->IsPlugged()) {
            scanner->SetFault({});
            EXPECT_EQ(host.Ask("BUFQRY"), good);
        }
    }
}

class ImageAnswer : public support::ScansimTest {};
class PlugCycle : public support::ScansimTest {};
class Concurrency : public support::ScansimTest {};

// A test-made image answer: the header bytes exactly as given, the announced
// grey bytes, ACK ';' ETX; cleared, the real image comes back.
TEST_F(ImageAnswer, IsSentAsGivenUntilCleared) {
    Scanner* scanner = StartUsb("imgans");
    ASSERT_NE(scanner, nullptr);
    HostPort host(scanner->LinkPath());
    ASSERT_TRUE(host.IsOpen());
    scanner->SetImageSize(4, 2);
    scanner->SetImageAnswer(scansim::ImageAnswer{"IMGGETabcd", 5});
    host.Write(CommandFrame("IMGGET0T0R1F"));
    const std::string made = host.ReadUntilEnd(std::string(";\x03"));
    ASSERT_EQ(made.size(), 7u + 10 + 5 + 3);
    EXPECT_EQ(made.substr(7, 10), "IMGGETabcd");
    EXPECT_EQ(made.substr(made.size() - 3), std::string("\x06;\x03"));
    EXPECT_EQ(made.substr(17, 5).find('\0'), std::string::npos);
    scanner->SetImageAnswer(std::nullopt);
    host.Write(CommandFrame("IMGGET0T0R1F"));
    const std::string real = host.ReadUntilEnd(std::string(";\x03"));
    EXPECT_EQ(real.substr(7, 20), "IMGGET00040002000008");
}

TEST_F(PlugCycle, UnplugRemovesLinkAndHangsUpPlugGivesFreshWorkingLink) {
    Scanner* scanner = StartUsb("cycle");
    ASSERT_NE(scanner, nullptr);
    const auto link = scanner->LinkPath();
    HostPort before(link);
    ASSERT_TRUE(before.IsOpen());

    ASSERT_TRUE(scanner->Unplug());
    EXPECT_FALSE(scanner->Unplug());
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    EXPECT_TRUE(before.SeesHangup());
    EXPECT_FALSE(scanner->SendScan("lost\r"));

    ASSERT_TRUE(scanner->Plug());
    EXPECT_FALSE(scanner->Plug());
    ASSERT_TRUE(std::filesystem::is_symlink(link));
    HostPort after(link);
    ASSERT_TRUE(after.IsOpen());
    EXPECT_EQ(after.Ask("BUFQRY"), ReplyFrame("BUFQRY1024", kAck));
    ASSERT_TRUE(scanner->SendScan("back\r"));
    EXPECT_EQ(after.ReadUntilEnd("\r"), "back\r");
    // The old host handle stays dead; it does not see the new device's data.
    EXPECT_TRUE(before.SeesHangup(200));
}

TEST_F(PlugCycle, StopRemovesTheLink) {
    Scanner* scanner = StartUsb("stopper");
    ASSERT_NE(scanner, nullptr);
    const auto link = scanner->LinkPath();
    ASSERT_TRUE(std::filesystem::is_symlink(link));
    scanner->Stop();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    EXPECT_FALSE(scanner->Plug());
}

TEST(ComFlavour, AnswersOnlyAtItsConfiguredBaudRate) {
    support::RuntimeDir ns;
    for (unsigned deviceBaud : {57600u, 9600u}) {
        ScannerOptions options;
        options.attachment = Attachment::kCom;
        options.comPort = 7;
        options.baudRate = deviceBaud;
        std::string error;
        auto scanner = Scanner::Start(options, &error);
        ASSERT_NE(scanner, nullptr) << error;
        EXPECT_EQ(scanner->LinkPath(), ns.Path() / "dosdevices" / "COM7");
        HostPort host(scanner->LinkPath());
        ASSERT_TRUE(host.IsOpen());
        // The order a host's detection tries the rates in.
        std::vector<unsigned> answered;
        for (unsigned hostBaud : {115200u, 9600u, 57600u, 38400u, 19200u}) {
            ASSERT_TRUE(host.SetBaud(hostBaud));
            if (host.Ask("@QRYSYS,PDN,PSN", 1500).find("Product Name:") != std::string::npos) {
                answered.push_back(hostBaud);
            }
        }
        EXPECT_EQ(answered, std::vector<unsigned>{deviceBaud});
        bool sawIgnored = false;
        for (const auto& entry : scanner->Log()) {
            sawIgnored = sawIgnored || entry.kind == scansim::Received::Kind::kIgnoredBaud;
        }
        EXPECT_TRUE(sawIgnored);
    }
}

}  // namespace

namespace {

TEST_F(Concurrency, ScansFromManyThreadsArriveWholeBesideReplies) {
    Scanner* scanner = StartUsb("busy");
    ASSERT_NE(scanner, nullptr);
    HostPort host(scanner->LinkPath());
    ASSERT_TRUE(host.IsOpen());
    constexpr int kThreads = 4;
    constexpr int kScans = 50;
    constexpr size_t kFill = 3000;
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t) {
        senders.emplace_back([&, t] {
            for (int i = 0; i < kScans; ++i) {
                scanner->SendScan("T" + std::to_string(t) + "-" + std::to_string(i) +
                                  std::string(kFill, 'x') + "\r");
                scanner->SetSetting("232BAD", std::to_string(i % 10));
            }
        });
    }
    // Read while they write: scans larger than the pty's buffer go out in pieces.
    std::string bytes;
    for (int waited = 0;
         waited < 300 && std::count(bytes.begin(), bytes.end(), '\r') < kThreads * kScans;
         ++waited) {
        bytes += host.ReadFor(100);
    }
    for (auto& sender : senders) {
        sender.join();
    }
    std::set<std::string> seen;
    size_t start = 0;
    for (size_t end = bytes.find('\r'); end != std::string::npos; end = bytes.find('\r', start)) {
        const std::string scan = bytes.substr(start, end - start);
        const size_t firstX = scan.find('x');
        EXPECT_EQ(scan.substr(0, 1), "T") << scan.substr(0, 8);
        EXPECT_EQ(scan.find_first_not_of('x', firstX), std::string::npos) << scan.substr(0, 8);
        EXPECT_EQ(scan.size() - firstX, kFill) << scan.substr(0, 8);
        seen.insert(scan);
        start = end + 1;
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kScans));
    EXPECT_EQ(host.Ask("INTERF*"), ReplyFrame("INTERF0", kAck));
}

}  // namespace
