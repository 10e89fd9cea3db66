// Conversions between the UTF-16 texts of the interface and UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace tidestream {

// Unpaired surrogates become U+FFFD.
std::string Utf8FromUtf16(std::u16string_view text);
// Length of a NUL-terminated UTF-16 text, at most maxUnits.
size_t Utf16Length(const char16_t* text, size_t maxUnits);

}  // namespace tidestream
