// printf-style formatting in which %ls (and, for UTF-16 formats, %s) take
// char16_t texts.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

namespace tidestream {

enum class TextArgs {
    kNarrow,  // %s = char*, %ls = char16_t*
    kWide,    // %s and %ls = char16_t*, %hs = char*
};

// The result is UTF-8. %n is not supported and prints nothing.
std::string FormatLine(std::string_view format, TextArgs textArgs, va_list args);

}  // namespace tidestream
