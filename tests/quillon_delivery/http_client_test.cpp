// The HTTP client of network output against a real local server.
#include "delivery/http_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <cstdlib>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <thread>

#include "recording_server.h"

namespace {

using delivery_test::PercentEncode;
using delivery_test::RecordingServer;
using delivery_test::TempDir;

constexpr const char* kUserAgent =
    "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; .NET CLR 2.0.50727)";
constexpr const char* kContentType = "application/x-www-form-urlencoded;charset=UTF-8";

// Requests to 127.0.0.1 must not wander off to a proxy of the test machine.
class HttpTest : public testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy",
                                 "ALL_PROXY", "CURL_CA_BUNDLE", "SSL_CERT_FILE"}) {
            unsetenv(name);
        }
        savedLocale_ = setlocale(LC_ALL, nullptr);
        setlocale(LC_ALL, "C.UTF-8");
        ASSERT_TRUE(server_.Started()) << "recording_server.py did not start";
    }
    void TearDown() override { setlocale(LC_ALL, savedLocale_.c_str()); }

    TempDir dir_;
    RecordingServer server_{dir_.Path()};
    std::string savedLocale_;
};

struct ReplyCase {
    const char* name;
    std::string path;
    std::string expected;
};

// Test names carry the case name; printing it keeps CTest's list readable.
void PrintTo(const ReplyCase& c, std::ostream* out) {
    *out << c.name;
}

class Replies : public HttpTest, public testing::WithParamInterface<ReplyCase> {};

// The reply text comes back as the server sent it; judging it is the caller's
// business. The status code plays no part.
TEST_P(Replies, ComeBackAsSent) {
    std::string reply = "stale";
    quillon::CHttpClient client;
    EXPECT_EQ(client.Request("POST", server_.Url(GetParam().path), "x", reply),
              quillon::kHttpReplyRead);
    EXPECT_EQ(reply, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Server, Replies,
    testing::Values(ReplyCase{"Succes", "/reply?text=succes", "succes"},
                    ReplyCase{"Success", "/reply?text=success", "success"},
                    ReplyCase{"SuccesLineFeed", "/reply?text=" + PercentEncode("succes\n"),
                              "succes\n"},
                    ReplyCase{"EmptyBody", "/reply?text=", ""},
                    ReplyCase{"ErrorPage", "/status/500?text=succes", "succes"},
                    // Each read piece counts up to its first zero byte.
                    ReplyCase{"ZeroByteCutsPiece",
                              "/reply?text=" + PercentEncode(std::string("suc\0ces", 7)), "suc"},
                    ReplyCase{"Utf8Reply", "/reply?text=" + PercentEncode("\xC3\x9C"), "\xC3\x9C"},
                    ReplyCase{"RedirectFollowed", "/redirect?text=succes", "succes"}),
    [](const testing::TestParamInfo<ReplyCase>& info) { return info.param.name; });

TEST_F(HttpTest, ReplyIsGivenInTheLocaleCharset) {
    setlocale(LC_ALL, "C");
    std::string reply;
    quillon::CHttpClient client;
    client.Request("POST", server_.Url("/reply?text=" + PercentEncode("\xC3\x9C\xE4\xB8\xAD")), "x",
                   reply);
    // U+00DC has a byte in the plain C locale's table, U+4E2D has none.
    EXPECT_EQ(reply, "\xDC?");
}

struct BodyCase {
    const char* name;
    std::string scan;
};

void PrintTo(const BodyCase& c, std::ostream* out) {
    *out << c.name;
}

class ScanBodies : public HttpTest, public testing::WithParamInterface<BodyCase> {};

TEST_P(ScanBodies, PostedAsSentPlusOneZeroByte) {
    const std::string& scan = GetParam().scan;
    EXPECT_EQ(quillon::PostScan(server_.Url("/reply?text=succes"), scan), "succes");

    auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& request = requests[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/reply?text=succes");
    EXPECT_EQ(request.headers.at("content-length"), std::to_string(scan.size() + 1));
    EXPECT_EQ(request.body, scan + std::string(1, '\0'));
    EXPECT_EQ(request.headers.at("user-agent"), kUserAgent);
    EXPECT_EQ(request.headers.at("content-type"), kContentType);
    // WinINet sends neither; a server must not be kept waiting for a 100.
    EXPECT_EQ(request.headers.count("expect"), 0u);
    EXPECT_EQ(request.headers.count("accept"), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Scans, ScanBodies,
    testing::Values(BodyCase{"TenBytes", "0123456789"},
                    BodyCase{"RawBytesAndLineEnd", std::string("A&b=c%20\xC3\x9C\xFF\0z\r\n", 14)},
                    BodyCase{"LargeScan", std::string(2 * 1024 * 1024, 'q')}),
    [](const testing::TestParamInfo<BodyCase>& info) { return info.param.name; });

TEST_F(HttpTest, VerbAndMissingBody) {
    std::string reply;
    quillon::CHttpClient client;
    EXPECT_EQ(client.Request("PUT", server_.Url("/reply?text=ok"), std::nullopt, reply),
              quillon::kHttpReplyRead);
    EXPECT_EQ(reply, "ok");
    auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "PUT");
    EXPECT_EQ(requests[0].headers.at("content-length"), "0");
}

TEST_F(HttpTest, UnreachableServerFailsWithEmptyReply) {
    std::string reply = "stale";
    quillon::CHttpClient client;
    std::string url = "http://127.0.0.1:" + std::to_string(delivery_test::UnusedPort()) + "/";
    EXPECT_EQ(client.Request("POST", url, "123", reply), quillon::kHttpFailed);
    EXPECT_EQ(reply, "");
    EXPECT_EQ(quillon::PostScan(url, "123"), "");
}

TEST_F(HttpTest, OtherSchemesSendNothing) {
    std::string port = std::to_string(server_.Port());
    for (std::string url :
         {"ftp://127.0.0.1:" + port + "/", "gopher://127.0.0.1:" + port + "/",
          std::string("file:///etc/hostname"), std::string("no url at all"), std::string("")}) {
        std::string reply = "stale";
        quillon::CHttpClient client;
        EXPECT_EQ(client.Request("POST", url, "123", reply), quillon::kHttpFailed) << url;
        EXPECT_EQ(reply, "") << url;
    }
    EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(HttpTest, SilentServerTimesOut) {
    quillon::HttpOptions options;
    options.idleTimeoutSeconds = 1;
    quillon::CHttpClient client(options);
    std::string reply = "stale";
    EXPECT_EQ(client.Request("POST", server_.Url("/stall"), "1", reply), quillon::kHttpTimedOut);
    EXPECT_EQ(reply, "");
}

// A server answering 307 with its own address: the first request and five
// redirects, then the request fails.
TEST_F(HttpTest, RedirectLoopEndsAfterFiveRedirects) {
    std::string reply = "stale";
    quillon::CHttpClient client;
    EXPECT_EQ(client.Request("POST", server_.Url("/loop"), "SCAN", reply), quillon::kHttpFailed);
    EXPECT_EQ(reply, "");
    const auto requests = server_.Requests();
    EXPECT_EQ(requests.size(), 6u);
    // 307 keeps the verb and the body.
    for (const auto& request : requests) {
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.body, std::string("SCAN\0", 5));
    }
}

TEST_F(HttpTest, FiveRedirectsAreFollowed) {
    std::string target = server_.Url("/reply?text=succes");
    for (int i = 0; i < 5; ++i) {
        target = server_.Url("/to?url=" + PercentEncode(target));
    }
    EXPECT_EQ(quillon::PostScan(target, "1"), "succes");
    EXPECT_EQ(server_.Requests().size(), 6u);
}

// Only the first kMaxReplyBytes are read; the transfer ends there instead of
// growing the reply without end.
TEST_F(HttpTest, EndlessReplyIsCutAtTheLimit) {
    std::string reply;
    quillon::CHttpClient client;
    EXPECT_EQ(client.Request("POST", server_.Url("/endless"), "1", reply), quillon::kHttpReplyRead);
    EXPECT_EQ(reply, std::string(quillon::kMaxReplyBytes, 'x'));
}

// A POST to a server that never answers ends as soon as another thread
// aborts it, not at a time limit.
TEST_F(HttpTest, AbortEndsAStuckRequestAtOnce) {
    quillon::CHttpClient client;
    std::string reply = "stale";
    auto result = std::async(std::launch::async, [&] {
        return client.Request("POST", server_.Url("/hang"), "1", reply);
    });
    // The request is under way once the server has logged it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (server_.Requests().empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(server_.Requests().size(), 1u);
    client.Abort();
    // The idle limit is 30 s: only the abort can end it this soon.
    ASSERT_EQ(result.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    EXPECT_EQ(result.get(), quillon::kHttpFailed);
    EXPECT_EQ(reply, "");
    // An aborted client sends nothing more.
    EXPECT_EQ(client.Request("POST", server_.Url("/reply?text=succes"), "2", reply),
              quillon::kHttpFailed);
    EXPECT_EQ(server_.Requests().size(), 1u);
}

// Certificates made for the test: a trusted test authority issuing one for a
// host name other than 127.0.0.1, and an unknown authority issuing another.
class HttpsTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir();
        made_ = delivery_test::MakeTestCertificates(dir_->Path());
    }
    static void TearDownTestSuite() { delete dir_; }

    void SetUp() override {
        ASSERT_TRUE(made_) << "openssl could not make the test certificates";
        for (const char* name : {"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                                 "CURL_CA_BUNDLE", "SSL_CERT_FILE"}) {
            unsetenv(name);
        }
    }
    static std::string File(const std::string& name) { return dir_->Path() + "/" + name; }
    static std::string Pin(const std::string& name) {
        return delivery_test::KeyPin(dir_->Path(), name);
    }

    static TempDir* dir_;
    static bool made_;
    TempDir logDir_;
};

TempDir* HttpsTest::dir_ = nullptr;
bool HttpsTest::made_ = false;

TEST_F(HttpsTest, CertificateForAnotherHostFromATrustedIssuerIsAccepted) {
    RecordingServer server(logDir_.Path(), File("trusted-server.crt"), File("trusted-server.key"));
    ASSERT_TRUE(server.Started());
    quillon::HttpOptions options;
    options.caFile = File("trusted-ca.crt");
    EXPECT_EQ(quillon::PostScan(server.Url("/reply?text=succes"), "0123456789", options), "succes");
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].body, std::string("0123456789\0", 11));
}

TEST_F(HttpsTest, AuthorityFileCanComeFromTheEnvironment) {
    RecordingServer server(logDir_.Path(), File("trusted-server.crt"), File("trusted-server.key"));
    ASSERT_TRUE(server.Started());
    setenv("CURL_CA_BUNDLE", File("trusted-ca.crt").c_str(), 1);
    EXPECT_EQ(quillon::PostScan(server.Url("/reply?text=succes"), "1"), "succes");
    unsetenv("CURL_CA_BUNDLE");
}

TEST_F(HttpsTest, CertificateFromAnUnknownIssuerIsRefused) {
    RecordingServer server(logDir_.Path(), File("unknown-server.crt"), File("unknown-server.key"));
    ASSERT_TRUE(server.Started());
    quillon::HttpOptions options;
    options.caFile = File("trusted-ca.crt");
    quillon::CHttpClient client(options);
    std::string reply = "stale";
    EXPECT_EQ(client.Request("POST", server.Url("/reply?text=succes"), "1", reply),
              quillon::kHttpFailed);
    EXPECT_EQ(reply, "");
    EXPECT_TRUE(server.Requests().empty());
}

struct TlsCase {
    const char* name;
    const char* serverCert;  // with its .key beside it
    bool verifyHost;
    const char* pin;  // name of a .pin file, or none
    bool accepted;
};

void PrintTo(const TlsCase& c, std::ostream* out) {
    *out << c.name;
}

class TlsOptions : public HttpsTest, public testing::WithParamInterface<TlsCase> {};

TEST_P(TlsOptions, DecideWhetherTheScanGoesOut) {
    const TlsCase& c = GetParam();
    const std::string cert = std::string(c.serverCert) + "-server";
    RecordingServer server(logDir_.Path(), File(cert + ".crt"), File(cert + ".key"));
    ASSERT_TRUE(server.Started());
    quillon::HttpOptions options;
    options.caFile = File("trusted-ca.crt");
    options.verifyHost = c.verifyHost;
    if (c.pin != nullptr) {
        options.pinnedKey = Pin(c.pin);
        ASSERT_GT(options.pinnedKey.size(), 20u);
    }
    EXPECT_EQ(quillon::PostScan(server.Url("/reply?text=succes"), "0123", options),
              c.accepted ? "succes" : "");
    EXPECT_EQ(server.Requests().size(), c.accepted ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Certificates, TlsOptions,
    testing::Values(TlsCase{"OtherNameByDefault", "trusted", false, nullptr, true},
                    TlsCase{"OtherNameWithVerifyHost", "trusted", true, nullptr, false},
                    TlsCase{"RightNameWithVerifyHost", "named", true, nullptr, true},
                    TlsCase{"RightPin", "trusted", false, "trusted", true},
                    TlsCase{"WrongPin", "trusted", false, "unknown", false},
                    TlsCase{"RightPinAndName", "named", true, "named", true}),
    [](const testing::TestParamInfo<TlsCase>& info) { return info.param.name; });

// A scan that went out over TLS is not sent again in clear text, whatever
// the server redirects to.
TEST_F(HttpsTest, RedirectFromHttpsToHttpSendsNothing) {
    TempDir plainLog;
    RecordingServer plain(plainLog.Path());
    RecordingServer server(logDir_.Path(), File("trusted-server.crt"), File("trusted-server.key"));
    ASSERT_TRUE(plain.Started());
    ASSERT_TRUE(server.Started());
    quillon::HttpOptions options;
    options.caFile = File("trusted-ca.crt");
    const std::string target = plain.Url("/reply?text=succes");
    EXPECT_EQ(quillon::PostScan(server.Url("/to?url=" + PercentEncode(target)), "SECRET", options),
              "");
    EXPECT_EQ(server.Requests().size(), 1u);
    EXPECT_TRUE(plain.Requests().empty());
    // The plain server itself works: the refusal is the redirect's.
    EXPECT_EQ(quillon::PostScan(target, "open"), "succes");
}

}  // namespace
