// Console lines: one formatted message per line with an optional stamp and
// the writing thread's marker, each line handed to standard output at once.
// Formats are those of the console's formatting engine.
#pragma once

#include <cstdint>

namespace vantrel::log {

enum class ThreadRole { kMain, kEventMonitor, kReadCom, kPushing, kPulling };

// The calling thread takes (or gives up) the slot of `role`.
void ClaimThreadRole(ThreadRole role);
void ReleaseThreadRole(ThreadRole role);
// ' ' main, '*' event monitor, '#' ReadCom, '>' pushing, '<' pulling, '?' other.
char ThreadMarker();

void PrintLine(const char* format, ...);
void PrintTickLine(const char* format, ...);
void PrintTickLineAligned(const char* format, ...);
void PrintClockLine(const char* format, ...);
void PrintClockLineMs(const char* format, ...);

// Nothing when `success` is non-zero; otherwise the message followed by the
// calling thread's last Windows error and its name.
void PrintLineWinErr(int success, const char* format, ...);
void PrintTickLineWinErr(int success, const char* format, ...);
void PrintClockLineWinErr(int success, const char* format, ...);
void PrintClockLineMsWinErr(int success, const char* format, ...);

}  // namespace vantrel::log
