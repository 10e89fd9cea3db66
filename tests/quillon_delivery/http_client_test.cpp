// The HTTP client of network output against a real local server.
#include "delivery/http_client.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <fstream>
#include <string>

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

// Certificates made for the test: a trusted test authority issuing one for a
// host name other than 127.0.0.1, and an unknown authority issuing another.
class HttpsTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir();
        const std::string& d = dir_->Path();
        std::ofstream(d + "/san.ext") << "subjectAltName=DNS:other.example\n";
        std::string script =
            "cd '" + d +
            "' && for ca in trusted unknown; do "
            "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
            "-keyout $ca-ca.key -out $ca-ca.crt -days 2 -subj \"/CN=$ca test authority\" && "
            "openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
            "-keyout $ca-server.key -out $ca-server.csr -subj /CN=other.example && "
            "openssl x509 -req -in $ca-server.csr -CA $ca-ca.crt -CAkey $ca-ca.key "
            "-CAcreateserial -days 2 -extfile san.ext -out $ca-server.crt || exit 1; "
            "done >openssl.log 2>&1";
        made_ = std::system(script.c_str()) == 0;
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

}  // namespace
