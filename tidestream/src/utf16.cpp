#include "utf16.h"

#include "platform/utf16.h"

namespace tidestream {
std::string Utf8FromUtf16(std::u16string_view text) {
    return platform::Utf8FromUtf16(text);
}

size_t Utf16Length(const char16_t* text, size_t maxUnits) {
    size_t length = 0;
    while (length < maxUnits && text[length] != 0) {
        ++length;
    }
    return length;
}

}  // namespace tidestream
