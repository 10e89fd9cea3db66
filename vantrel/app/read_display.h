// How the bytes of a read are shown on the console: as text in which every
// control and non-ASCII byte is escaped, so that binary data is shown whole and
// no byte from the port reaches the terminal as a control sequence, or as a
// hex dump.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantrel::app {

// Printable ASCII as it is; backslash as "\\"; tab, line feed and carriage
// return as "\t", "\n", "\r"; every other byte as "\xHH" (two upper-case hex
// digits, never more).
std::string EscapedText(const uint8_t* bytes, size_t count);

// Rows of 16 bytes: the offset (4 hex digits, more when needed), the bytes in
// hex and the printable ASCII of the row ('.' for the others). Each row ends
// with '\n'.
std::string HexDump(const uint8_t* bytes, size_t count);

}  // namespace vantrel::app
