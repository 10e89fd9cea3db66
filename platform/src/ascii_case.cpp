// ASCII folding only: strcasecmp would follow the locale.
#include "platform/ascii_case.h"

namespace platform {

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (ToLowerAscii(a[i]) != ToLowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

bool EqualNoCase(std::u16string_view text, std::string_view ascii) {
    if (text.size() != ascii.size()) {
        return false;
    }
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(ascii[i]);
        if (c > 0x7F || ToLowerAscii(text[i]) != ToLowerAscii(static_cast<char16_t>(c))) {
            return false;
        }
    }
    return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view head) {
    return text.size() >= head.size() && EqualNoCase(text.substr(0, head.size()), head);
}

bool EndsWithNoCase(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && EqualNoCase(text.substr(text.size() - tail.size()), tail);
}

}  // namespace platform
