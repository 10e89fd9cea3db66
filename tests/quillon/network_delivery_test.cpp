// Network output end to end: a simulated scanner, the real program (headless)
// and a real HTTP server that records what it gets.
#include <gtest/gtest.h>

#include <signal.h>

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "../quillon_delivery/recording_server.h"
#include "platform/ini_file.h"
#include "support/quillon_process.h"

using delivery_test::RecordedRequest;
using delivery_test::RecordingServer;
using delivery_test::TempDir;

namespace {

constexpr char kErrorBalloon[] = "[balloon] Interface communication error!";

std::vector<RecordedRequest> WaitForRequests(const RecordingServer& server, size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::vector<RecordedRequest> requests = server.Requests();
    while (requests.size() < count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        requests = server.Requests();
    }
    return requests;
}

class NetworkDelivery : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(m_server.Started()); }

    // Starts the program against `url` with a scanner present and waits
    // until it shows the scanner. `extra` holds more lines of section init.
    void Start(const std::string& url, const std::string& workMode = "1",
               const std::string& extra = "") {
        std::ofstream(m_home.IniFile())
            << "[init]\nlang=en\nWorkMode=" << workMode << "\nurl=" << url << "\n"
            << extra;
        ASSERT_TRUE(m_scanner.WaitPresent());
        m_run = std::make_unique<QuillonRun>(m_home, std::vector<std::string>{"--headless"});
        ASSERT_TRUE(m_run->WaitFor("Device is Connected\n")) << m_run->Output();
    }

    TempDir m_dir;
    RecordingServer m_server{m_dir.Path()};
    QuillonHome m_home;
    ScannerProcess m_scanner{m_home};
    std::unique_ptr<QuillonRun> m_run;
};

TEST_F(NetworkDelivery, EveryScanIsPostedWithItsBytesAZeroByteAndTheFixedHeaders) {
    Start(m_server.Url("/reply?text=succes"));
    EXPECT_TRUE(m_run->WaitFor("Server Address: " + m_server.Url("/reply?text=succes")));
    // One block per scan: each goes out before the next is read (bytes that
    // arrive together are one block and one request).
    const char* scans[] = {"0123456789", "\xc3\x9c-umlaut", "third"};
    for (size_t i = 0; i < std::size(scans); ++i) {
        m_scanner.Send(scans[i]);
        ASSERT_EQ(WaitForRequests(m_server, i + 1).size(), i + 1);
    }
    const std::vector<RecordedRequest> requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    // The scanner's suffix (CR) is part of the scan; one zero byte follows.
    EXPECT_EQ(requests[0].body, std::string("0123456789\r\0", 12));
    EXPECT_EQ(requests[0].headers.at("content-length"), "12");
    EXPECT_EQ(requests[1].body, std::string("\xc3\x9c-umlaut\r\0", 11));
    EXPECT_EQ(requests[2].body, std::string("third\r\0", 7));
    for (const RecordedRequest& request : requests) {
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.headers.at("content-type"),
                  "application/x-www-form-urlencoded;charset=UTF-8");
        EXPECT_EQ(request.headers.at("user-agent"),
                  "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; .NET CLR 2.0.50727)");
    }
    EXPECT_EQ(m_run->Stop(), 0);
    EXPECT_EQ(m_run->Output().find(kErrorBalloon), std::string::npos) << m_run->Output();
}

// The error line names the url and the reason: the reply that was not
// "succes" (control characters escaped), or why no reply came.
TEST_F(NetworkDelivery, AnyReplyButSuccesShowsTheErrorBalloonWithUrlAndReason) {
    struct Case {
        std::string url;
        bool reachesServer;
        std::string reason;
    };
    const std::string unused = std::to_string(delivery_test::UnusedPort());
    const Case cases[] = {
        {m_server.Url("/reply?text=success"), true,
         "the server answered \"success\" instead of \"succes\""},
        {m_server.Url("/reply?text=succes%0A"), true,
         "the server answered \"succes\\x0A\" instead of \"succes\""},
        {m_server.Url("/status/500?text=succes%21"), true, "the server answered \"succes!\""},
        {"http://127.0.0.1:" + unused + "/", false, "127.0.0.1 port " + unused},
        {"ftp://127.0.0.1:" + std::to_string(m_server.Port()) + "/", false,
         "not an http or https address"},
    };
    size_t expected = 0;
    for (const Case& c : cases) {
        Start(c.url);
        m_scanner.Send("SCAN-1");
        EXPECT_TRUE(m_run->WaitFor(std::string(kErrorBalloon) + ": " + c.url + ": "))
            << c.url << "\n"
            << m_run->Output();
        EXPECT_TRUE(m_run->WaitFor(c.reason)) << c.url << "\n" << m_run->Output();
        EXPECT_EQ(m_run->Stop(), 0);
        expected += c.reachesServer ? 1 : 0;
        EXPECT_EQ(WaitForRequests(m_server, expected).size(), expected) << c.url;
    }
}

// --headless --json: every line one JSON object with a time, the kind and
// the text; status changes and balloons alike.
TEST_F(NetworkDelivery, JsonLinesCarryStatusesAndBalloons) {
    const std::string url = m_server.Url("/reply?text=nope");
    std::ofstream(m_home.IniFile()) << "[init]\nlang=en\nWorkMode=1\nurl=" << url << "\n";
    ASSERT_TRUE(m_scanner.WaitPresent());
    // Standard output alone: the data-stream library's log lines go to
    // standard error.
    const std::string errors = (m_home.Root() / "stderr.txt").string();
    m_run = std::make_unique<QuillonRun>(
        "/bin/sh",
        std::vector<std::string>{"-c", "exec \"$0\" --headless --json 2>\"$1\"",
                                 m_home.Program().string(), errors},
        m_home.Environment({}));
    ASSERT_TRUE(m_run->WaitFor("Device is Connected")) << m_run->Output();
    m_scanner.Send("SCAN-1");
    ASSERT_TRUE(m_run->WaitFor("\"kind\":\"balloon\"")) << m_run->Output();
    m_scanner.Send(":unplug");
    ASSERT_TRUE(m_run->WaitFor("Please insert the scanning device")) << m_run->Output();
    EXPECT_EQ(m_run->Stop(), 0);

    std::vector<QJsonObject> objects;
    std::istringstream lines(m_run->Output());
    for (std::string line; std::getline(lines, line);) {
        QJsonParseError error{};
        const QJsonDocument document =
            QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
        ASSERT_TRUE(document.isObject()) << "not a JSON object: " << line;
        const QJsonObject object = document.object();
        EXPECT_TRUE(QDateTime::fromString(object["time"].toString(), Qt::ISODateWithMs).isValid())
            << line;
        EXPECT_TRUE(object["text"].isString()) << line;
        objects.push_back(object);
    }
    auto find = [&](const QString& kind, const QString& start) -> const QJsonObject* {
        for (const QJsonObject& object : objects) {
            if (object["kind"].toString() == kind && object["text"].toString().startsWith(start)) {
                return &object;
            }
        }
        return nullptr;
    };
    EXPECT_NE(find("caption", "Quillon V1.0.0.B2"), nullptr) << m_run->Output();
    const QJsonObject* connected = find("status", "Device is Connected\n\nProduct Name:  ");
    ASSERT_NE(connected, nullptr) << m_run->Output();
    EXPECT_TRUE((*connected)["text"].toString().endsWith(QString::fromStdString(url)));
    const QJsonObject* balloon = find("balloon", QString::fromStdString(url));
    ASSERT_NE(balloon, nullptr) << m_run->Output();
    EXPECT_EQ((*balloon)["title"].toString(), "Interface communication error!");
    EXPECT_EQ((*balloon)["text"].toString(),
              QString::fromStdString(url + ": the server answered \"nope\" instead of \"succes\""));
    EXPECT_NE(find("status", "Device not connected"), nullptr) << m_run->Output();
    EXPECT_NE(find("prompt", "Please insert the scanning device"), nullptr) << m_run->Output();
}

TEST_F(NetworkDelivery, OtherWorkModesPostNothing) {
    Start(m_server.Url("/reply?text=succes"), "2");
    m_scanner.Send("IGNORED");
    m_scanner.Send("ALSO-IGNORED");
    // A scan after a marker run proves the scans went through the program.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(m_run->Stop(), 0);
    EXPECT_TRUE(m_server.Requests().empty());
}

TEST_F(NetworkDelivery, UnplugAndReplugReconnectsAndScansFlowAgain) {
    Start(m_server.Url("/reply?text=succes"));
    m_scanner.Send("BEFORE");
    ASSERT_EQ(WaitForRequests(m_server, 1).size(), 1u);

    m_scanner.Send(":unplug");
    ASSERT_TRUE(m_run->WaitFor("Device not connected\n")) << m_run->Output();
    // Without a window the program cannot ask: it says so once and keeps looking.
    ASSERT_TRUE(m_run->WaitFor("Please insert the scanning device")) << m_run->Output();
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    m_scanner.Send(":plug");
    ASSERT_TRUE(m_run->WaitFor("Device is Connected\n")) << m_run->Output();
    m_scanner.Send("AFTER");
    const std::vector<RecordedRequest> requests = WaitForRequests(m_server, 2);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].body, std::string("AFTER\r\0", 7));
    EXPECT_EQ(m_run->Stop(), 0);
    const std::string& output = m_run->Output();
    size_t prompts = 0;
    for (size_t at = output.find("Please insert"); at != std::string::npos;
         at = output.find("Please insert", at + 1)) {
        ++prompts;
    }
    EXPECT_EQ(prompts, 1u) << output;
}

// A server that answers 307 with its own address: the first POST and five
// redirects, then the error balloon.
TEST_F(NetworkDelivery, ARedirectLoopEndsWithTheErrorBalloon) {
    Start(m_server.Url("/loop"));
    m_scanner.Send("LOOPED");
    EXPECT_TRUE(m_run->WaitFor(kErrorBalloon)) << m_run->Output();
    EXPECT_EQ(m_run->Stop(), 0);
    const std::vector<RecordedRequest> requests = m_server.Requests();
    EXPECT_GE(requests.size(), 1u);
    EXPECT_LE(requests.size(), 6u);
}

// The peak resident size of a running process, in KiB.
long PeakRssKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

TEST_F(NetworkDelivery, AnEndlessReplyLeavesMemoryAloneAndShowsTheError) {
    Start(m_server.Url("/endless"));
    m_scanner.Send("ENDLESS");
    EXPECT_TRUE(m_run->WaitFor(kErrorBalloon)) << m_run->Output();
    const long peak = PeakRssKiB(m_run->Pid());
    EXPECT_GT(peak, 0);
    EXPECT_LT(peak, 200 * 1024);
    // The next scan is posted as usual.
    m_scanner.Send("AFTER");
    EXPECT_EQ(WaitForRequests(m_server, 2).size(), 2u);
    EXPECT_EQ(m_run->Stop(), 0);
}

// A server that takes the POST and never answers: the scans after it are
// still read and queued, and SIGTERM ends the program within 2 s with the
// settings written. The outbox shows what was queued: the stuck scan and the
// two behind it are kept for the next start.
TEST_F(NetworkDelivery, AStuckPostNeitherHoldsScansNorTheEnd) {
    // The program's trace shows when a block was read.
    const std::string trace = m_dir.Path() + "/trace.log";
    setenv("TIDESTREAM_LOG_FILE", trace.c_str(), 1);
    setenv("TIDESTREAM_LOG_LEVEL", "5", 1);
    Start(m_server.Url("/hang"), "1", "Outbox=1\n");
    unsetenv("TIDESTREAM_LOG_FILE");
    unsetenv("TIDESTREAM_LOG_LEVEL");
    m_scanner.Send("STUCK");
    ASSERT_EQ(WaitForRequests(m_server, 1).size(), 1u);
    m_scanner.Send("SECOND");
    m_scanner.Send("THIRD");
    // Both are read while the POST hangs.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (ReadTextFile(trace).find("THIRD") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_NE(ReadTextFile(trace).find("THIRD"), std::string::npos) << ReadTextFile(trace);
    // The device is served, so its loss is seen well before the POST's 30 s
    // idle limit could free the reader.
    m_scanner.Send(":unplug");
    ASSERT_TRUE(m_run->WaitFor("Device not connected\n", 10)) << m_run->Output();
    kill(m_run->Pid(), SIGTERM);
    EXPECT_EQ(m_run->Wait(2), 0) << m_run->Output();
    // Written at the end: a key the test's file did not have.
    EXPECT_EQ(platform::IniReadString(m_home.IniFile(), "init", "TlsVerifyHost", "<none>"), "0");
    // One hexadecimal line per kept block (SECOND and THIRD may have come
    // in one read).
    std::ifstream outbox(m_home.IniFile().parent_path() / "ktr.outbox");
    std::string kept;
    size_t lines = 0;
    for (std::string line; std::getline(outbox, line); ++lines) {
        for (size_t at = 0; at + 1 < line.size(); at += 2) {
            kept.push_back(static_cast<char>(std::stoi(line.substr(at, 2), nullptr, 16)));
        }
    }
    EXPECT_GE(lines, 2u);
    EXPECT_EQ(kept, "STUCK\rSECOND\rTHIRD\r");
    EXPECT_EQ(m_server.Requests().size(), 1u);
}

// The bodies the server got, one after another, each without its zero byte.
std::string ReceivedScans(const std::vector<RecordedRequest>& requests) {
    std::string stream;
    for (const RecordedRequest& request : requests) {
        stream += request.body.substr(0, request.body.size() - 1);
    }
    return stream;
}

// The server is down for 20 scans: each is kept in the outbox, and after a
// restart of Quillon with the server back all 20 arrive, in order, once.
TEST_F(NetworkDelivery, OutboxDeliversScansOfADownServerAfterARestart) {
    const int port = delivery_test::UnusedPort();
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/reply?text=succes";
    Start(url, "1", "Outbox=1\n");
    std::string sent;
    for (int i = 1; i <= 20; ++i) {
        const std::string scan = "KEPT-" + std::to_string(i);
        m_scanner.Send(scan);
        sent += scan + "\r";
        ASSERT_TRUE(m_run->WaitFor(kErrorBalloon)) << m_run->Output();
    }
    ASSERT_TRUE(m_run->WaitFor("Scans waiting to be sent: 20")) << m_run->Output();
    EXPECT_EQ(m_run->Stop(), 0);

    TempDir backLog;
    RecordingServer back(backLog.Path(), {}, {}, port);
    ASSERT_TRUE(back.Started());
    m_run = std::make_unique<QuillonRun>(m_home, std::vector<std::string>{"--headless"});
    ASSERT_TRUE(m_run->WaitFor("Scans waiting to be sent: 0")) << m_run->Output();
    EXPECT_EQ(ReceivedScans(back.Requests()), sent);
    // A new scan follows them, and nothing goes out twice.
    ASSERT_NE(m_run->Output().find("Device is Connected\n"), std::string::npos) << m_run->Output();
    const size_t before = back.Requests().size();
    m_scanner.Send("NEW");
    ASSERT_EQ(WaitForRequests(back, before + 1).size(), before + 1);
    EXPECT_EQ(m_run->Stop(), 0);
    EXPECT_EQ(ReceivedScans(back.Requests()), sent + "NEW\r");
    EXPECT_EQ(m_run->Output().find(kErrorBalloon), std::string::npos) << m_run->Output();
}

// The TLS keys of ktr.ini decide whether a scan goes out over HTTPS: by
// default a certificate for another name from a trusted authority is taken;
// TlsVerifyHost=1 wants the address named; a pin must match the key.
TEST_F(NetworkDelivery, TlsKeysDecideWhetherAScanGoesOut) {
    TempDir certs;
    ASSERT_TRUE(delivery_test::MakeTestCertificates(certs.Path()));
    setenv("CURL_CA_BUNDLE", (certs.Path() + "/trusted-ca.crt").c_str(), 1);
    struct Case {
        const char* server;
        std::string extra;
        bool delivered;
    };
    const Case cases[] = {
        {"trusted", "", true},
        {"trusted", "TlsVerifyHost=1\n", false},
        {"named", "TlsVerifyHost=1\n", true},
        {"trusted", "TlsPinnedKey=" + delivery_test::KeyPin(certs.Path(), "unknown") + "\n", false},
        {"trusted", "TlsPinnedKey=" + delivery_test::KeyPin(certs.Path(), "trusted") + "\n", true},
    };
    for (const Case& c : cases) {
        TempDir log;
        const std::string files = certs.Path() + "/" + c.server + "-server";
        RecordingServer server(log.Path(), files + ".crt", files + ".key");
        ASSERT_TRUE(server.Started());
        Start(server.Url("/reply?text=succes"), "1", c.extra);
        m_scanner.Send("TLS");
        if (c.delivered) {
            EXPECT_EQ(WaitForRequests(server, 1).size(), 1u) << c.server << " " << c.extra;
            EXPECT_EQ(m_run->Stop(), 0);
            EXPECT_EQ(m_run->Output().find(kErrorBalloon), std::string::npos) << m_run->Output();
        } else {
            EXPECT_TRUE(m_run->WaitFor(kErrorBalloon)) << c.extra << m_run->Output();
            EXPECT_EQ(m_run->Stop(), 0);
            EXPECT_TRUE(server.Requests().empty()) << c.server << " " << c.extra;
        }
    }
    unsetenv("CURL_CA_BUNDLE");
}

}  // namespace
