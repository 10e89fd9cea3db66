// Network output: each scan is posted to the configured URL over libcurl,
// behaving as the Windows version's WinINet client did.
//
// - Only http and https URLs are requested; anything else fails with no
//   network traffic.
// - Proxies: libcurl takes the system's proxy settings from the environment
//   (http_proxy, https_proxy, all_proxy, no_proxy), the Linux counterpart of
//   the system's preconfigured access.
// - HTTPS verifies the certificate chain but not the host name, so a
//   certificate issued for another host name is accepted.
// - Limits are WinINet's defaults: 60 s to connect, 30 s without data.
#pragma once

#include <optional>
#include <string>
#include <string_view>

typedef void CURL;

namespace quillon {

struct HttpOptions {
    long connectTimeoutSeconds = 60;
    // A transfer that moves no byte for this long is given up.
    long idleTimeoutSeconds = 30;
    // Trusted certificate authorities; empty means the file named by
    // CURL_CA_BUNDLE, then SSL_CERT_FILE, then the system's store.
    std::string caFile;
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
    // the locale's charset. On failure the reply is empty; the result is
    // kHttpTimedOut for a time-out and kHttpFailed otherwise. The HTTP status
    // is not looked at: an error page is a reply like any other.
    int Request(std::string_view verb, std::string_view url, std::optional<std::string_view> body,
                std::string& reply);

  private:
    HttpOptions m_options;
    CURL* m_pSession = nullptr;
};

// Posts one scan to `url` with its own client; the reply, or an empty text
// when anything failed.
std::string PostScan(std::string_view url, std::string_view bytes, const HttpOptions& options = {});

}  // namespace quillon
