#include "delivery/http_client.h"

#include <curl/curl.h>
#include <cctype>

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

// The URL's scheme in lower case; empty when the URL does not parse.
std::string SchemeOf(std::string_view url) {
    std::unique_ptr<CURLU, UrlDeleter> parsed(curl_url());
    std::string text(url);
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, text.c_str(), 0) != CURLUE_OK) {
        return {};
    }
    char* scheme = nullptr;
    if (curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK) {
        return {};
    }
    std::string result(scheme);
    curl_free(scheme);
    for (char& c : result) {
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    }
    return result;
}

// The reply is gathered the way the Windows client read it: pieces of at most
// 1024 bytes, each appended up to its first zero byte. Bytes past
// kMaxReplyBytes end the transfer.
struct ReplySink {
    std::string collected;
    size_t received = 0;
    bool cut = false;
};

size_t CollectReply(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<ReplySink*>(user);
    const size_t total = size * count;
    const size_t taken = std::min(total, kMaxReplyBytes - sink->received);
    for (size_t offset = 0; offset < taken; offset += kReadPiece) {
        std::string_view piece(data + offset, std::min(kReadPiece, taken - offset));
        sink->collected.append(piece.substr(0, piece.find('\0')));
    }
    sink->received += taken;
    if (taken < total) {
        sink->cut = true;
        return 0;
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
    // ASCII reads the same in every charset a locale can have: the usual
    // "succes" needs no conversion.
    if (std::all_of(utf8.begin(), utf8.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        return utf8;
    }
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
    m_pMulti = curl_multi_init();
}

CHttpClient::~CHttpClient() {
    if (m_pSession != nullptr) {
        curl_easy_cleanup(m_pSession);
    }
    if (m_pMulti != nullptr) {
        curl_multi_cleanup(m_pMulti);
    }
}

void CHttpClient::Abort() {
    m_aborted = true;
    if (m_pMulti != nullptr) {
        curl_multi_wakeup(m_pMulti);
    }
}

// Runs the transfer on the multi handle, so that Abort can wake it; the
// transfer's CURLcode.
int CHttpClient::Perform() {
    CURLcode result = CURLE_OK;
    if (curl_multi_add_handle(m_pMulti, m_pSession) != CURLM_OK) {
        return CURLE_FAILED_INIT;
    }
    for (int running = 1; running != 0;) {
        if (m_aborted) {
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        if (curl_multi_perform(m_pMulti, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        if (running != 0 && curl_multi_poll(m_pMulti, nullptr, 0, 1000, nullptr) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
    }
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(m_pMulti, &left)) {
        if (message->msg == CURLMSG_DONE && result == CURLE_OK) {
            result = message->data.result;
        }
    }
    curl_multi_remove_handle(m_pMulti, m_pSession);
    return static_cast<int>(result);
}

int CHttpClient::Request(std::string_view verb, std::string_view url,
                         std::optional<std::string_view> body, std::string& reply) {
    reply.clear();
    m_lastError.clear();
    const std::string scheme = SchemeOf(url);
    if (scheme != "http" && scheme != "https") {
        m_lastError = "not an http or https address";
        return kHttpFailed;
    }
    if (m_pSession == nullptr || m_pMulti == nullptr || m_aborted) {
        m_lastError = m_aborted ? "request aborted" : "no HTTP session";
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

    ReplySink sink;
    char errorText[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(curl, CURLOPT_URL, urlText.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    // A scan that went out encrypted is never sent again in clear text.
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, scheme == "https" ? "https" : "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headerList.get());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(payload.size()));
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, payload.data());
    if (verbText != "POST") {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, verbText.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, CollectReply);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, m_options.connectTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, m_options.idleTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, m_options.totalTimeoutSeconds);
    // The chain must lead to a trusted issuer; the host name is checked only
    // when asked for.
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, m_options.verifyHost ? 2L : 0L);
    if (!m_options.pinnedKey.empty()) {
        curl_easy_setopt(curl, CURLOPT_PINNEDPUBLICKEY, m_options.pinnedKey.c_str());
    }
    std::string caFile = CaFileFor(m_options);
    if (!caFile.empty()) {
        curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str());
    }

    const auto code = static_cast<CURLcode>(Perform());
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
    if (code != CURLE_OK) {
        m_lastError = errorText[0] != '\0' ? errorText : curl_easy_strerror(code);
    }
    if (code == CURLE_OPERATION_TIMEDOUT) {
        return kHttpTimedOut;
    }
    // A body cut at the limit still gives its first bytes as the reply.
    if (code != CURLE_OK && !(code == CURLE_WRITE_ERROR && sink.cut)) {
        return kHttpFailed;
    }
    m_lastError.clear();
    reply = ReplyInLocaleCharset(sink.collected);
    return kHttpReplyRead;
}

std::string PostScan(std::string_view url, std::string_view bytes, const HttpOptions& options) {
    CHttpClient client(options);
    std::string reply;
    client.Request("POST", url, bytes, reply);
    return reply;
}

}  // namespace quillon
