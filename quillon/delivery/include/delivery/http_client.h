// Network output: each scan is posted to the configured URL over libcurl,
// behaving as the Windows version's WinINet client did, with the limits a
// program that runs unattended needs.
//
// - Only http and https URLs are requested; anything else fails with no
//   network traffic.
// - Proxies: libcurl takes the system's proxy settings from the environment
//   (http_proxy, https_proxy, all_proxy, no_proxy), the Linux counterpart of
//   the system's preconfigured access.
// - HTTPS verifies the certificate chain but not the host name, so a
//   certificate issued for another host name is accepted (servers reached by
//   address rely on it). `verifyHost` asks for the name as well, `pinnedKey`
//   pins the server's public key.
// - Redirects: at most kMaxRedirects are followed, and never from https to
//   http.
// - Limits: 60 s to connect, 30 s without data, kTotalTimeoutSeconds for the
//   whole request; a reply body is read up to kMaxReplyBytes and the transfer
//   ends there.
// - A request can be aborted from another thread (Abort), so a server that
//   stops answering never holds up the program's end.
#pragma once

#include <atomic>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

typedef void CURL;
typedef void CURLM;

namespace quillon {

inline constexpr long kMaxRedirects = 5;
inline constexpr size_t kMaxReplyBytes = 64 * 1024;
inline constexpr long kTotalTimeoutSeconds = 120;

struct HttpOptions {
    long connectTimeoutSeconds = 60;
    // A transfer that moves no byte for this long is given up.
    long idleTimeoutSeconds = 30;
    // The whole request, redirects included.
    long totalTimeoutSeconds = kTotalTimeoutSeconds;
    // Trusted certificate authorities; empty means the file named by
    // CURL_CA_BUNDLE, then SSL_CERT_FILE, then the system's store.
    std::string caFile;
    // The certificate must name the host of the URL.
    bool verifyHost = false;
    // "sha256//<base64>" (several joined by ';'): the server's public key
    // must be one of these. Empty: no pin.
    std::string pinnedKey;
};

// Request results.
inline constexpr int kHttpReplyRead = 0;
inline constexpr int kHttpFailed = 1;
inline constexpr int kHttpTimedOut = 2;

class CHttpClient {
  public:
    explicit CHttpClient(HttpOptions options = {});
    virtual ~CHttpClient();
    CHttpClient(const CHttpClient&) = delete;
    CHttpClient& operator=(const CHttpClient&) = delete;

    // Sends `verb` to `url` with the body followed by one zero byte (no body:
    // length 0). On kHttpReplyRead the reply is the response body, read up to
    // the first zero byte of each 1024-byte piece, taken as UTF-8 and given in
    // the locale's charset. A body longer than kMaxReplyBytes ends the
    // transfer there; its first kMaxReplyBytes are the reply. On failure the
    // reply is empty; the result is kHttpTimedOut for a time-out and
    // kHttpFailed otherwise (an aborted request too). The HTTP status is not
    // looked at: an error page is a reply like any other.
    int Request(std::string_view verb, std::string_view url, std::optional<std::string_view> body,
                std::string& reply);

    // Ends the request under way (and every later one) at once, from any
    // thread.
    void Abort();

    // Why the last request failed, in words (libcurl's text); empty after
    // one that read a reply.
    const std::string& LastError() const { return m_lastError; }

  private:
    int Perform();

    HttpOptions m_options;
    CURL* m_pSession = nullptr;
    CURLM* m_pMulti = nullptr;
    std::atomic<bool> m_aborted{false};
    std::string m_lastError;
};

// Posts one scan to `url` with its own client; the reply, or an empty text
// when anything failed.
std::string PostScan(std::string_view url, std::string_view bytes, const HttpOptions& options = {});

}  // namespace quillon
