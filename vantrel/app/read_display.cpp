#include "read_display.h"

#include <cstdio>

#include "platform/text_escape.h"

namespace vantrel::app {

namespace {

constexpr size_t kDumpRowBytes = 16;
constexpr char kHexDigits[] = "0123456789ABCDEF";

bool Printable(uint8_t byte) {
    return byte >= 0x20 && byte < 0x7F;
}

void AppendHex(std::string& out, uint8_t byte) {
    out += kHexDigits[byte >> 4];
    out += kHexDigits[byte & 0x0F];
}

}  // namespace

std::string EscapedText(const uint8_t* bytes, size_t count) {
    platform::EscapeRules rules;
    rules.namedControls = true;
    rules.escapeBackslash = true;
    return platform::EscapeText({reinterpret_cast<const char*>(bytes), count}, rules);
}

std::string HexDump(const uint8_t* bytes, size_t count) {
    std::string out;
    for (size_t row = 0; row < count; row += kDumpRowBytes) {
        char offset[24];
        std::snprintf(offset, sizeof offset, "%04zX ", row);
        out += offset;
        std::string ascii;
        for (size_t column = 0; column < kDumpRowBytes; ++column) {
            out += ' ';
            if (row + column < count) {
                const uint8_t byte = bytes[row + column];
                AppendHex(out, byte);
                ascii += Printable(byte) ? static_cast<char>(byte) : '.';
            } else {
                out += "  ";
            }
            if (column == kDumpRowBytes / 2 - 1)
                out += ' ';
        }
        out += "  |" + ascii + "|\n";
    }
    return out;
}

}  // namespace vantrel::app
