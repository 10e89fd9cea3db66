// UTF-16 texts (char16_t, as the Windows interfaces carry them) to UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Unpaired surrogates become U+FFFD.
std::string Utf8FromUtf16(std::u16string_view text);

}  // namespace platform
