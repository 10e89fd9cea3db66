#include "delivery/http_client.h"

#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/codepage.h"

namespace quillon {
namespace {

constexpr const char* kUserAgent =
    "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; .NET CLR 2.0.50727)";
constexpr const char* kContentType =
    "Content-Type: application/x-www-form-urlencoded;charset=UTF-8";
constexpr size_t kReadPiece = 1024;

void InitialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct HeaderListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

bool IsHttpOrHttps(std::string_view url) {
    std::unique_ptr<CURLU, UrlDeleter> parsed(curl_url());
    std::string text(url);
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, text.c_str(), 0) != CURLUE_OK) {
        return false;
    }
    char* scheme = nullptr;
    if (curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK) {
        return false;
    }
    bool web = strcasecmp(scheme, "http") == 0 || strcasecmp(scheme, "https") == 0;
    curl_free(scheme);
    return web;
}

// The reply is gathered the way the Windows client read it: pieces of at most
// 1024 bytes, each appended up to its first zero byte.
size_t CollectReply(char* data, size_t size, size_t count, void* user) {
    auto* reply = static_cast<std::string*>(user);
    size_t total = size * count;
    for (size_t offset = 0; offset < total; offset += kReadPiece) {
        std::string_view piece(data + offset, std::min(kReadPiece, total - offset));
        reply->append(piece.substr(0, piece.find('\0')));
    }
    return total;
}

std::string CaFileFor(const HttpOptions& options) {
    if (!options.caFile.empty()) {
        return options.caFile;
    }
    for (const char* name : {"CURL_CA_BUNDLE", "SSL_CERT_FILE"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return value;
        }
    }
    return {};
}

// UTF-8 to UTF-16 to the locale's charset, as the reply text is handed on.
std::string ReplyInLocaleCharset(const std::string& utf8) {
    auto wide = platform::MultiByteToWide(platform::kUtf8CodePage, utf8);
    if (!wide) {
        return utf8;
    }
    auto local = platform::WideToMultiByte(platform::kAnsiCodePage, *wide);
    return local ? *local : utf8;
}

}  // namespace

CHttpClient::CHttpClient(HttpOptions options) : m_options(std::move(options)) {
    InitialiseCurlOnce();
    m_pSession = curl_easy_init();
}

CHttpClient::~CHttpClient() {
    if (m_pSession != nullptr) {
        curl_easy_cleanup(m_pSession);
    }
}

int CHttpClient::Request(std::string_view verb, std::string_view url,
                         std::optional<std::string_view> body, std::string& reply) {
    reply.clear();
    if (!IsHttpOrHttps(url) || m_pSession == nullptr) {
        return kHttpFailed;
    }
    CURL* curl = m_pSession;
    curl_easy_reset(curl);

    std::string urlText(url);
    std::string verbText(verb);
    // The body goes out exactly as the scanner sent it, plus one zero byte.
    std::string payload;
    if (body) {
        payload.assign(*body);
        payload.push_back('\0');
    }
    // No Accept header and no "Expect: 100-continue" round, as WinINet sends
    // neither.
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, kContentType);
    headers = curl_slist_append(headers, "Accept:");
    headers = curl_slist_append(headers, "Expect:");
    std::unique_ptr<curl_slist, HeaderListDeleter> headerList(headers);

    std::string collected;
    curl_easy_setopt(curl, CURLOPT_URL, urlText.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headerList.get());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(payload.size()));
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, payload.data());
    if (verbText != "POST") {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, verbText.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, CollectReply);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &collected);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, m_options.connectTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, m_options.idleTimeoutSeconds);
    // The chain must lead to a trusted issuer; the host name is not checked.
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    std::string caFile = CaFileFor(m_options);
    if (!caFile.empty()) {
        curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str());
    }

    CURLcode code = curl_easy_perform(curl);
    if (code == CURLE_OPERATION_TIMEDOUT) {
        return kHttpTimedOut;
    }
    if (code != CURLE_OK) {
        return kHttpFailed;
    }
    reply = ReplyInLocaleCharset(collected);
    return kHttpReplyRead;
}

std::string PostScan(std::string_view url, std::string_view bytes, const HttpOptions& options) {
    CHttpClient client(options);
    std::string reply;
    client.Request("POST", url, bytes, reply);
    return reply;
}

}  // namespace quillon
