#include "read_display.h"

#include <cstdio>

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
    std::string out;
    out.reserve(count);
    for (size_t index = 0; index < count; ++index) {
        const uint8_t byte = bytes[index];
        switch (byte) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                if (Printable(byte)) {
                    out += static_cast<char>(byte);
                } else {
                    out += "\\x";
                    AppendHex(out, byte);
                }
        }
    }
    return out;
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
