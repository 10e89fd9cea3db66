// What every ferroctl verb shares: exit statuses, error lines, device texts
// made safe for a terminal, scan bytes decoded, JSON output, progress lines.
#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

struct _QVDeviceInfo;

namespace ferroctl {

// Exit statuses: everything asked was done; the scanner, port or file said
// no (or only part was done); the command line itself was wrong.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// "ferroctl: <message>" on standard error; kExitFailed.
int Fail(const std::string& message);
// "ferroctl: <message> (try 'ferroctl <verb> --help')" on standard error; kExitUsage.
int Usage(const std::string& verb, const std::string& message);

// Text for a terminal: valid UTF-8 is kept except control characters (C0,
// DEL, C1), which become \xNN or \u00NN; bytes that are not UTF-8 become
// \xNN; with `doubleBackslash` a backslash becomes "\\", so that scan text
// and escapes cannot be told apart wrongly. Nothing a device sends can then
// move the cursor or start an escape sequence.
std::string Escaped(std::string_view bytes, bool doubleBackslash = false);

// A fixed-size text field of a device record, up to its NUL.
std::string Field(const char* text, size_t size);

// Scan bytes as text: UTF-8 when they are valid UTF-8, otherwise the code
// page's characters when the bytes are exactly that code page's (converted
// back they give the same bytes); nullopt when neither.
struct DecodedText {
    std::string text;      // UTF-8
    std::string encoding;  // "UTF-8" or the code page's charset ("CP936", "GBK", ...)
};
std::optional<DecodedText> Decode(std::string_view bytes, std::optional<unsigned> codePage);
// The code page a scan that is not UTF-8 is read in by default: the locale's
// charset (code page 0) when it is an 8-bit or double-byte one; none under a
// UTF-8 or ASCII locale.
std::optional<unsigned> LocaleCodePage();

// Lower-case hex pairs without separators.
std::string Hex(std::string_view bytes);

// One JSON document (or NDJSON line) on standard output, flushed. Invalid
// UTF-8 inside strings becomes U+FFFD rather than failing the output.
void PrintJson(const nlohmann::json& value);

// The device record's port as text: "COM5@115200" or the USB device path.
std::string PortText(const _QVDeviceInfo& record);

// The line for a COM port that is not in the runtime namespace (no live
// dosdevices/COM<n> link); empty when it is there.
std::string MissingPort(int comPort);

// Local time as "2026-01-31T14:02:03.123+01:00".
std::string TimeStamp();

// Runs `work` on a thread of its own while a progress line on standard error
// shows `what` with the percentage, bytes (or items), rate and time left that
// `done()` reports out of `total`: redrawn in place when standard error is a
// terminal, otherwise one line at each further 10 %. It ends with the line
// "<what> ... done (1.2 s)" or "... failed (...)". With total 0 only the
// elapsed time is shown.
struct ProgressUnits {
    const char* unit = "bytes";  // "bytes" shows KiB/MiB, anything else plain counts
};
bool WithProgress(const std::string& what, uint64_t total, const std::function<uint64_t()>& done,
                  const std::function<bool()>& work, ProgressUnits units = {});

// The progress line for a state: shared by the redraw and the plain lines.
std::string ProgressText(const std::string& what, uint64_t done, uint64_t total,
                         std::chrono::duration<double> elapsed, ProgressUnits units);

}  // namespace ferroctl
