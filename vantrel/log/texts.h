// Small renderers for console and log text, and the time-stamp call-outs
// that formats print with %F.
#pragma once

#include <cstdint>
#include <string>

#include "fmtx.h"

namespace vantrel::log {

// Symbolic name of a Windows error code, "UnknownWinErrCode" if not listed.
const char* WinErrName(uint32_t code);
// "999 B", "1.00 KB", "1.23 MB", "1.00 GB" (decimal units).
std::string SizeText(uint64_t value, const char* unit);
// SizeText of bytes per second over `milliseconds`, unit "B/s".
std::string RateText(uint64_t bytes, uint64_t milliseconds);
// "MAXDWORD", "MAXDWORD-1", "MAXDWORD-2" or the decimal value.
std::string TimeoutText(uint32_t value);

// %F call-outs. LocalTimeText: user value non-zero adds milliseconds
// ("2018-06-07_10:09:02.123"). LogStampText: "20180607.100902.123".
// EpochMsecText: the user value is milliseconds since 1970 UTC, shown in
// local time; 0 gives "(none)".
int32_t LocalTimeText(uint64_t withMilliseconds, FmtxSink* sink);
int32_t LogStampText(uint64_t unused, FmtxSink* sink);
int32_t EpochMsecText(uint64_t epochMilliseconds, FmtxSink* sink);

}  // namespace vantrel::log
