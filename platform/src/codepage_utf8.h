// UTF-8 as Windows' code page 65001 reads and writes it, shared by the
// code-page backends of both systems.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform::codepage_utf8 {

inline constexpr char16_t kReplacement = 0xFFFD;

inline bool IsHighSurrogate(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
inline bool IsLowSurrogate(char16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

// Splits UTF-16 into code points; an unpaired surrogate is reported as
// itself so each target decides how to write it.
template <typename Sink>
void ForEachCodePoint(std::u16string_view text, Sink&& sink) {
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t unit = text[i];
        if (IsHighSurrogate(unit) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            char32_t cp = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
                          (static_cast<char32_t>(text[i + 1]) - 0xDC00);
            sink(cp, text.substr(i, 2));
            ++i;
        } else {
            sink(static_cast<char32_t>(unit), text.substr(i, 1));
        }
    }
}

// Decodes UTF-8; each maximal ill-formed subpart becomes one U+FFFD.
std::u16string DecodeUtf8(std::string_view bytes);
// Encodes UTF-16; an unpaired surrogate becomes U+FFFD.
std::string EncodeUtf8(std::u16string_view text);

}  // namespace platform::codepage_utf8
