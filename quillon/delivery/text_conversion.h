// Scan bytes to UTF-16 text: UTF-8 when the bytes look like UTF-8, otherwise
// the configured code page.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

// True when the bytes are well-formed in the loose sense of the classic
// scanner check (lead bytes up to 0xFD with up to five continuation bytes) and
// contain at least one byte of 0x80 or above. Pure ASCII is not "UTF-8" here,
// so it goes through the code page.
bool IsUtf8Text(std::string_view bytes);

// Converts the bytes with code page 65001 when IsUtf8Text holds, else with
// `codePage` (0 = the locale's charset). None when the result would need more
// than `capacity` units or the code page is not supported.
std::optional<std::u16string> ConvertToWide(std::string_view bytes, size_t capacity,
                                            unsigned codePage);

}  // namespace quillon
