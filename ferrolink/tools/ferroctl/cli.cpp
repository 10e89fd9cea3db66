#include "cli.h"

#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <thread>

#include "ferrolink/record.h"
#include "platform/codepage.h"
#include "platform/runtime_namespace.h"
#include "platform/text_escape.h"
#include "platform/utf16.h"

namespace ferroctl {
namespace {

std::string Amount(double value, ProgressUnits units) {
    char text[32];
    if (std::strcmp(units.unit, "bytes") != 0) {
        std::snprintf(text, sizeof text, "%.0f", value);
    } else if (value >= 1024.0 * 1024.0) {
        std::snprintf(text, sizeof text, "%.1f MiB", value / (1024.0 * 1024.0));
    } else if (value >= 1024.0) {
        std::snprintf(text, sizeof text, "%.1f KiB", value / 1024.0);
    } else {
        std::snprintf(text, sizeof text, "%.0f B", value);
    }
    return text;
}

}  // namespace

int Fail(const std::string& message) {
    std::fprintf(stderr, "ferroctl: %s\n", message.c_str());
    return kExitFailed;
}

int Usage(const std::string& verb, const std::string& message) {
    std::fprintf(stderr, "ferroctl: %s (try 'ferroctl %s--help')\n", message.c_str(),
                 verb.empty() ? "" : (verb + " ").c_str());
    return kExitUsage;
}

std::string Escaped(std::string_view bytes, bool doubleBackslash) {
    platform::EscapeRules rules;
    rules.keepUtf8 = true;
    rules.escapeBackslash = doubleBackslash;
    return platform::EscapeText(bytes, rules);
}

std::string Field(const char* text, size_t size) {
    return std::string(text, strnlen(text, size));
}

std::optional<DecodedText> Decode(std::string_view bytes, std::optional<unsigned> codePage) {
    if (platform::IsUtf8(bytes))
        return DecodedText{std::string(bytes), "UTF-8"};
    if (!codePage)
        return std::nullopt;
    const auto wide = platform::MultiByteToWide(*codePage, bytes);
    if (!wide)
        return std::nullopt;
    // Conversions never fail; only a round trip to the same bytes shows the
    // bytes really were of this code page.
    const auto back = platform::WideToMultiByte(*codePage, *wide);
    if (!back || *back != bytes)
        return std::nullopt;
    return DecodedText{platform::Utf8FromUtf16(*wide), platform::CodePageCharset(*codePage)};
}

std::optional<unsigned> LocaleCodePage() {
    const std::string charset = platform::CodePageCharset(platform::kAnsiCodePage);
    if (charset.empty() || charset == "UTF-8" || charset == "utf8" || charset == "ANSI_X3.4-1968" ||
        charset == "ASCII")
        return std::nullopt;
    return platform::kAnsiCodePage;
}

std::string Hex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        text.push_back(kDigits[c >> 4]);
        text.push_back(kDigits[c & 0x0F]);
    }
    return text;
}

void PrintJson(const nlohmann::json& value) {
    const std::string text = value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

std::string PortText(const _QVDeviceInfo& record) {
    if (record.nPortType == FERROLINK_PORT_COM) {
        ComPortSettings port;
        std::memcpy(&port, record.connInfo, sizeof port);
        return "COM" + std::to_string(port.wPort) + "@" + std::to_string(port.dwBaudRate);
    }
    const auto* units = reinterpret_cast<const char16_t*>(record.connInfo);
    size_t length = 0;
    while (length < sizeof(record.connInfo) / 2 && units[length] != 0)
        ++length;
    return platform::Utf8FromUtf16(std::u16string_view(units, length));
}

std::string MissingPort(int comPort) {
    if (platform::ResolveComPort(static_cast<unsigned>(comPort)))
        return {};
    return "COM" + std::to_string(comPort) + ": no such port (no live link dosdevices/COM" +
           std::to_string(comPort) + " in " + platform::RuntimeDir().string() + ")";
}

std::string TimeStamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[64];
    size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    n += static_cast<size_t>(
        std::snprintf(text + n, sizeof text - n, ".%03d", static_cast<int>(millis)));
    char zone[8];
    std::strftime(zone, sizeof zone, "%z", &local);  // +0100
    if (std::strlen(zone) == 5)
        std::snprintf(text + n, sizeof text - n, "%.3s:%s", zone, zone + 3);
    return text;
}

std::string ProgressText(const std::string& what, uint64_t done, uint64_t total,
                         std::chrono::duration<double> elapsed, ProgressUnits units) {
    const double seconds = elapsed.count();
    char text[256];
    if (total == 0) {
        std::snprintf(text, sizeof text, "%s ... %.1f s", what.c_str(), seconds);
        return text;
    }
    if (done > total)
        done = total;
    const double rate = seconds > 0.05 ? static_cast<double>(done) / seconds : 0.0;
    const int percent = static_cast<int>(done * 100 / total);
    std::string left = "?";
    if (rate > 0.0) {
        char eta[32];
        std::snprintf(eta, sizeof eta, "%.0f s",
                      std::ceil(static_cast<double>(total - done) / rate));
        left = eta;
    }
    const bool bytes = std::strcmp(units.unit, "bytes") == 0;
    std::snprintf(text, sizeof text, "%s ... %3d%% %s / %s%s, %s%s/s, %s left", what.c_str(),
                  percent, Amount(static_cast<double>(done), units).c_str(),
                  Amount(static_cast<double>(total), units).c_str(),
                  bytes ? "" : (std::string(" ") + units.unit).c_str(), Amount(rate, units).c_str(),
                  bytes ? "" : (std::string(" ") + units.unit).c_str(), left.c_str());
    return text;
}

bool WithProgress(const std::string& what, uint64_t total, const std::function<uint64_t()>& done,
                  const std::function<bool()>& work, ProgressUnits units) {
    const bool terminal = ::isatty(STDERR_FILENO) != 0;
    const auto start = std::chrono::steady_clock::now();
    auto elapsed = [&] { return std::chrono::steady_clock::now() - start; };
    std::atomic<bool> finished{false};
    bool ok = false;
    std::thread worker([&] {
        ok = work();
        finished = true;
    });
    int shownTenth = -1;
    auto show = [&] {
        const uint64_t now = done ? done() : 0;
        const std::string line = ProgressText(what, now, total, elapsed(), units);
        if (terminal) {
            // Back to the line's start, then erase what a longer earlier line left.
            std::fprintf(stderr, "\r%s\033[K", line.c_str());
            return;
        }
        const int tenth = total == 0 ? 0 : static_cast<int>(std::min(now, total) * 10 / total);
        if (tenth > shownTenth) {
            std::fprintf(stderr, "%s\n", line.c_str());
            shownTenth = tenth;
        }
    };
    while (!finished) {
        show();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    worker.join();
    if (ok && total > 0)
        show();  // the last step (100 %) as a line of its own when not on a terminal
    const double seconds = std::chrono::duration<double>(elapsed()).count();
    std::fprintf(stderr, terminal ? "\r%s ... %s (%.1f s)\033[K\n" : "%s ... %s (%.1f s)\n",
                 what.c_str(), ok ? "done" : "failed", seconds);
    return ok;
}

}  // namespace ferroctl
