// Code-page conversion with the results Windows gives for the code pages our
// programs offer: bytes of a code page to UTF-16 and back.
//
// Code page 0 is the ANSI code page, which on Linux is the charset of the
// current locale (nl_langinfo(CODESET) after the program's setlocale call).
// Conversions never fail on bad input, as Windows' conversions without flags
// do not: malformed UTF-8 becomes U+FFFD, a byte that a single-byte code page
// leaves undefined becomes the unit of the same value (0x81 -> U+0081, as
// Windows does for the holes of 1252), a bad sequence of a multi-byte code
// page becomes '?'. Only an unknown code page yields no result.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

inline constexpr unsigned kAnsiCodePage = 0;
inline constexpr unsigned kUtf8CodePage = 65001;

// The iconv name of a code page ("CP1252", "UTF-8", the locale's codeset for
// 0), or an empty text for a code page that is not supported.
std::string CodePageCharset(unsigned codePage);

// Bytes of the code page as UTF-16 units; none for an unsupported code page.
std::optional<std::u16string> MultiByteToWide(unsigned codePage, std::string_view bytes);

// UTF-16 units as bytes of the code page. A character the code page lacks
// becomes '?', an unpaired surrogate becomes U+FFFD in UTF-8 and '?'
// elsewhere. None for an unsupported code page.
std::optional<std::string> WideToMultiByte(unsigned codePage, std::u16string_view text);

}  // namespace platform
