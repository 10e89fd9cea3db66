#include "platform/text_escape.h"

namespace platform {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

void AppendByteEscape(std::string& out, unsigned char byte) {
    out += "\\x";
    out += kHexDigits[byte >> 4];
    out += kHexDigits[byte & 0x0F];
}

void AppendC1Escape(std::string& out, char32_t c) {
    out += "\\u00";
    out += kHexDigits[(c >> 4) & 0x0F];
    out += kHexDigits[c & 0x0F];
}

}  // namespace

size_t Utf8SequenceAt(std::string_view bytes, size_t at, char32_t* codePoint) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(at);
    size_t length = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        *codePoint = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, value = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, value = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, value = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (at + length > bytes.size())
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (byte(at + i) & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *codePoint = value;
    return length;
}

bool IsUtf8(std::string_view bytes) {
    char32_t ignored = 0;
    for (size_t at = 0; at < bytes.size();) {
        const size_t n = Utf8SequenceAt(bytes, at, &ignored);
        if (n == 0)
            return false;
        at += n;
    }
    return true;
}

std::string EscapeText(std::string_view bytes, const EscapeRules& rules) {
    std::string out;
    out.reserve(bytes.size());
    for (size_t at = 0; at < bytes.size();) {
        const auto byte = static_cast<unsigned char>(bytes[at]);
        if (byte >= 0x80) {
            char32_t c = 0;
            const size_t n = rules.keepUtf8 ? Utf8SequenceAt(bytes, at, &c) : 0;
            if (n == 0) {
                AppendByteEscape(out, byte);
                ++at;
            } else {
                if (c < 0xA0)
                    AppendC1Escape(out, c);
                else
                    out.append(bytes.substr(at, n));
                at += n;
            }
            continue;
        }
        ++at;
        if (byte == '\\' && rules.escapeBackslash)
            out += "\\\\";
        else if (rules.namedControls && byte == '\t')
            out += "\\t";
        else if (rules.namedControls && byte == '\n')
            out += "\\n";
        else if (rules.namedControls && byte == '\r')
            out += "\\r";
        else if (byte < 0x20 || byte == 0x7F)
            AppendByteEscape(out, byte);
        else
            out += static_cast<char>(byte);
    }
    return out;
}

}  // namespace platform
