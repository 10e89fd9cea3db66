// Case-blind compares of ASCII names (device paths, COM names, switches):
// only A-Z fold, whatever the locale, as the Windows names expect.
#pragma once

#include <string_view>

namespace platform {

constexpr char ToLowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}
constexpr char16_t ToLowerAscii(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
}

bool EqualNoCase(std::string_view a, std::string_view b);
// A UTF-16 text against an ASCII one.
bool EqualNoCase(std::u16string_view text, std::string_view ascii);
bool StartsWithNoCase(std::string_view text, std::string_view head);
bool EndsWithNoCase(std::string_view text, std::string_view tail);

}  // namespace platform
