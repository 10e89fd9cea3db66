// Local-time call-outs for %F: console stamps, log stamps and epoch values.
#include <chrono>
#include <ctime>

#include "texts.h"

namespace vantrel::log {

namespace {

struct LocalTime {
    std::tm calendar;
    int milliseconds;
};

LocalTime Now() {
    auto now = std::chrono::system_clock::now();
    auto sinceEpoch = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch());
    std::time_t seconds = static_cast<std::time_t>(sinceEpoch.count() / 1000);
    LocalTime local{};
    localtime_r(&seconds, &local.calendar);
    local.milliseconds = static_cast<int>(sinceEpoch.count() % 1000);
    return local;
}

}  // namespace

int32_t LocalTimeText(uint64_t withMilliseconds, FmtxSink* sink) {
    LocalTime t = Now();
    char milliseconds[8] = "";
    if (withMilliseconds)
        fmtx_snprintf(milliseconds, sizeof milliseconds, ".%03d", t.milliseconds);
    return fmtx_sink_printf(sink, "%04d-%02d-%02d_%02d:%02d:%02d%s", t.calendar.tm_year + 1900,
                            t.calendar.tm_mon + 1, t.calendar.tm_mday, t.calendar.tm_hour,
                            t.calendar.tm_min, t.calendar.tm_sec, milliseconds);
}

int32_t LogStampText(uint64_t, FmtxSink* sink) {
    LocalTime t = Now();
    return fmtx_sink_printf(sink, "%04d%02d%02d.%02d%02d%02d.%03d", t.calendar.tm_year + 1900,
                            t.calendar.tm_mon + 1, t.calendar.tm_mday, t.calendar.tm_hour,
                            t.calendar.tm_min, t.calendar.tm_sec, t.milliseconds);
}

int32_t EpochMsecText(uint64_t epochMilliseconds, FmtxSink* sink) {
    std::time_t seconds = static_cast<std::time_t>(epochMilliseconds / 1000);
    std::tm calendar{};
    if (!localtime_r(&seconds, &calendar))
        return 0;
    if (epochMilliseconds == 0)
        return fmtx_sink_printf(sink, "(none)");
    return fmtx_sink_printf(sink, "%04d-%02d-%02d_%02d:%02d:%02d.%03d", calendar.tm_year + 1900,
                            calendar.tm_mon + 1, calendar.tm_mday, calendar.tm_hour,
                            calendar.tm_min, calendar.tm_sec,
                            static_cast<int>(epochMilliseconds % 1000));
}

}  // namespace vantrel::log
