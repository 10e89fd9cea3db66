// UTF-8 decoding and encoding with Windows' results for malformed input.
#include "codepage_utf8.h"

namespace platform::codepage_utf8 {
namespace {

void AppendCodePoint(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

// Length and first-byte payload of a well-formed sequence start; 0 when the
// byte cannot start one.
int SequenceLength(uint8_t lead) {
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

// Range of the second byte, which excludes overlong forms, surrogates and
// code points above U+10FFFF.
bool SecondByteFits(uint8_t lead, uint8_t second) {
    uint8_t low = 0x80, high = 0xBF;
    if (lead == 0xE0)
        low = 0xA0;
    if (lead == 0xED)
        high = 0x9F;
    if (lead == 0xF0)
        low = 0x90;
    if (lead == 0xF4)
        high = 0x8F;
    return second >= low && second <= high;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

std::u16string DecodeUtf8(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
        uint8_t lead = static_cast<uint8_t>(bytes[i]);
        int length = SequenceLength(lead);
        if (length == 1) {
            out.push_back(lead);
            ++i;
            continue;
        }
        if (length == 0) {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        char32_t cp = lead & (0xFF >> (length + 1));
        size_t used = 1;
        bool complete = true;
        for (int k = 1; k < length; ++k) {
            if (i + used >= bytes.size()) {
                complete = false;
                break;
            }
            uint8_t next = static_cast<uint8_t>(bytes[i + used]);
            bool fits = k == 1 ? SecondByteFits(lead, next) : (next >= 0x80 && next <= 0xBF);
            if (!fits) {
                complete = false;
                break;
            }
            cp = (cp << 6) | (next & 0x3F);
            ++used;
        }
        if (complete) {
            AppendCodePoint(out, cp);
        } else {
            out.push_back(kReplacement);
        }
        i += used;
    }
    return out;
}

std::string EncodeUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size() * 3);
    ForEachCodePoint(text, [&](char32_t cp, std::u16string_view) {
        bool lone = cp >= 0xD800 && cp <= 0xDFFF;
        AppendUtf8(out, lone ? kReplacement : cp);
    });
    return out;
}

}  // namespace platform::codepage_utf8
