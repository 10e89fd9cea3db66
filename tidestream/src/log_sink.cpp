// The log sink: one line per call with time, level, source and line number,
// written to standard error or the file named by TIDESTREAM_LOG_FILE for
// levels up to TIDESTREAM_LOG_LEVEL (2 when unset), and handed to the hook.
#include <sys/time.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>

#include "ferrolink/tidestream/tidestream.h"
#include "log_format.h"
#include "utf16.h"

namespace {

constexpr int kDefaultLevel = QVDS_LOG_ERROR;

class LogSink {
  public:
    static LogSink& Instance() {
        // Never destroyed: threads may log while the process exits.
        static auto* sink = new LogSink();
        return *sink;
    }

    bool Wants(int level) {
        const char* text = std::getenv("TIDESTREAM_LOG_LEVEL");
        int threshold = kDefaultLevel;
        if (text != nullptr && *text != '\0') {
            char* end = nullptr;
            const long value = std::strtol(text, &end, 10);
            // A value that is no number keeps the default rather than silencing errors.
            if (*end == '\0') {
                threshold = static_cast<int>(value);
            }
        }
        return level <= threshold;
    }

    void Write(int level, const char* source, int line, const std::string& text) {
        const std::string stamped = Stamp() + " [" + std::to_string(level) + "] " +
                                    (source ? source : "") + ":" + std::to_string(line) + " " +
                                    text + "\n";
        QVDS_LOG_HOOK hook;
        void* user;
        {
            std::lock_guard lock(mutex_);
            FILE* target = Target();
            std::fwrite(stamped.data(), 1, stamped.size(), target);
            std::fflush(target);
            hook = hook_;
            user = hookUser_;
        }
        // The hook runs outside the lock, so it may log itself.
        if (hook != nullptr) {
            hook(level, source, line, text.c_str(), user);
        }
    }

    void SetHook(QVDS_LOG_HOOK hook, void* user) {
        std::lock_guard lock(mutex_);
        hook_ = hook;
        hookUser_ = user;
    }

  private:
    // The file named now; reopened (appending) when the variable changes.
    FILE* Target() {
        const char* name = std::getenv("TIDESTREAM_LOG_FILE");
        const std::string wanted = name ? name : "";
        if (wanted != fileName_ || (file_ == nullptr && !wanted.empty() && !failed_)) {
            if (file_ != nullptr) {
                std::fclose(file_);
                file_ = nullptr;
            }
            fileName_ = wanted;
            failed_ = false;
            if (!wanted.empty()) {
                file_ = std::fopen(wanted.c_str(), "ae");
                failed_ = file_ == nullptr;
            }
        }
        return file_ != nullptr ? file_ : stderr;
    }

    static std::string Stamp() {
        timeval now{};
        ::gettimeofday(&now, nullptr);
        tm local{};
        ::localtime_r(&now.tv_sec, &local);
        char text[64];
        const size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
        std::snprintf(text + n, sizeof text - n, ".%03ld", static_cast<long>(now.tv_usec / 1000));
        return text;
    }

    std::mutex mutex_;
    FILE* file_ = nullptr;
    std::string fileName_;
    bool failed_ = false;
    QVDS_LOG_HOOK hook_ = nullptr;
    void* hookUser_ = nullptr;
};

}  // namespace

extern "C" {

void logout_line(int nLevel, const char* szSource, int nLine, const char* szFormat, ...) {
    auto& sink = LogSink::Instance();
    if (szFormat == nullptr || !sink.Wants(nLevel)) {
        return;
    }
    try {
        va_list args;
        va_start(args, szFormat);
        const std::string text =
            tidestream::FormatLine(szFormat, tidestream::TextArgs::kNarrow, args);
        va_end(args);
        sink.Write(nLevel, szSource, nLine, text);
    } catch (...) {
        // Logging never throws into the caller.
    }
}

void logout_line_u(int nLevel, const char* szSource, int nLine, const char16_t* wszFormat, ...) {
    auto& sink = LogSink::Instance();
    if (wszFormat == nullptr || !sink.Wants(nLevel)) {
        return;
    }
    try {
        const std::string format = tidestream::Utf8FromUtf16(
            std::u16string_view(wszFormat, tidestream::Utf16Length(wszFormat, SIZE_MAX)));
        va_list args;
        va_start(args, wszFormat);
        const std::string text = tidestream::FormatLine(format, tidestream::TextArgs::kWide, args);
        va_end(args);
        sink.Write(nLevel, szSource, nLine, text);
    } catch (...) {
    }
}

void qvds_set_log_hook(QVDS_LOG_HOOK pfnHook, void* pUser) {
    LogSink::Instance().SetHook(pfnHook, pUser);
}

}  // extern "C"
