// The console line printers. Each line is built whole in the caller's own
// buffer and written with one call, so lines of different threads never mix.
#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "console_log.h"
#include "fmtx.h"
#include "platform/tick.h"
#include "port/win_port.h"
#include "texts.h"

namespace vantrel::log {

namespace {

constexpr int kLineBuffer = 1000;

enum class Stamp { kNone, kTick, kClock, kClockMs };

// The message is cut to the buffer, but the line end always survives so that
// a long message never runs into the next line.
void PrintShaped(Stamp stamp, uint32_t tick, const FmtxVaRec* message) {
    char line[kLineBuffer + 1];
    int32_t length = 0;
    switch (stamp) {
        case Stamp::kNone:
            length = fmtx_snprintf(line, kLineBuffer, "%w", message);
            break;
        case Stamp::kTick:
            length = fmtx_snprintf(line, kLineBuffer, "%c[%u.%03u] %w", ThreadMarker(), tick / 1000,
                                   tick % 1000, message);
            break;
        case Stamp::kClock:
        case Stamp::kClockMs: {
            FmtxFnRec time;
            fmtx_fn_rec_init(&time, LocalTimeText, stamp == Stamp::kClockMs ? 1 : 0);
            length = fmtx_snprintf(line, kLineBuffer, "%c[%F] %w", ThreadMarker(), &time, message);
            break;
        }
    }
    length = std::clamp(length, 0, kLineBuffer - 1);
    line[length++] = '\n';
    std::fwrite(line, 1, static_cast<size_t>(length), stdout);
    std::fflush(stdout);
}

void PrintRecord(Stamp stamp, uint32_t tick, const char* format, va_list* args) {
    FmtxVaRec message;
    fmtx_va_rec_init(&message, format, args);
    PrintShaped(stamp, tick, &message);
}

uint32_t TickFor(Stamp stamp) {
    return stamp == Stamp::kTick ? platform::TickCountMs() : 0;
}

// The caller's message travels as a nested record behind the error text.
void PrintWithError(Stamp stamp, const char* format, ...) {
    va_list args;
    va_start(args, format);
    PrintRecord(stamp, TickFor(stamp), format, &args);
    va_end(args);
}

void PrintWinErr(Stamp stamp, const char* format, va_list* args) {
    uint32_t code = win::GetLastError();
    FmtxVaRec message;
    fmtx_va_rec_init(&message, format, args);
    PrintWithError(stamp, "%w WinErr=%u(%s)", &message, code, WinErrName(code));
    // Writing the line may change the last error (Windows' own calls do);
    // the caller still finds the one it reported.
    win::SetLastError(code);
}

}  // namespace

#define VANTREL_LOG_PRINTER(name, stamp)                      \
    void name(const char* format, ...) {                      \
        va_list args;                                         \
        va_start(args, format);                               \
        PrintRecord(stamp, TickFor(stamp), format, &args);    \
        va_end(args);                                         \
    }                                                         \
    void name##WinErr(int success, const char* format, ...) { \
        if (success)                                          \
            return;                                           \
        va_list args;                                         \
        va_start(args, format);                               \
        PrintWinErr(stamp, format, &args);                    \
        va_end(args);                                         \
    }

VANTREL_LOG_PRINTER(PrintLine, Stamp::kNone)
VANTREL_LOG_PRINTER(PrintTickLine, Stamp::kTick)
VANTREL_LOG_PRINTER(PrintClockLine, Stamp::kClock)
VANTREL_LOG_PRINTER(PrintClockLineMs, Stamp::kClockMs)

#undef VANTREL_LOG_PRINTER

void PrintTickLineAligned(const char* format, ...) {
    uint32_t tick = platform::TickCountMs();
    if (tick % 100 != 0) {
        uint32_t target = tick - tick % 100 + 100;
        // Signed distance, so that a wrap of the tick count ends the wait too.
        while (static_cast<int32_t>(target - tick) > 0) {
            platform::SleepMs(1);
            tick = platform::TickCountMs();
        }
    }
    va_list args;
    va_start(args, format);
    PrintRecord(Stamp::kTick, tick, format, &args);
    va_end(args);
}

}  // namespace vantrel::log
