#include "delivery/text_conversion.h"

#include <cstdint>

#include "platform/codepage.h"

namespace quillon {
namespace {

// Continuation bytes a lead byte announces; -1 for a stray continuation byte.
int ContinuationsAfter(uint8_t byte) {
    if (byte < 0x80)
        return 0;
    if (byte >= 0xFC && byte <= 0xFD)
        return 5;
    if (byte >= 0xF8)
        return 4;
    if (byte >= 0xF0)
        return 3;
    if (byte >= 0xE0)
        return 2;
    if (byte >= 0xC0)
        return 1;
    return -1;
}

}  // namespace

bool IsUtf8Text(std::string_view bytes) {
    if (bytes.empty()) {
        return false;
    }
    int expected = 0;
    bool allAscii = true;
    for (char c : bytes) {
        uint8_t byte = static_cast<uint8_t>(c);
        if (byte >= 0x80) {
            allAscii = false;
        }
        if (expected == 0) {
            expected = ContinuationsAfter(byte);
            if (expected < 0) {
                return false;
            }
        } else {
            if (byte < 0x80 || byte > 0xBF) {
                return false;
            }
            --expected;
        }
    }
    return expected == 0 && !allAscii;
}

std::optional<std::u16string> ConvertToWide(std::string_view bytes, size_t capacity,
                                            unsigned codePage) {
    unsigned used = IsUtf8Text(bytes) ? platform::kUtf8CodePage : codePage;
    auto wide = platform::MultiByteToWide(used, bytes);
    if (!wide || wide->size() > capacity) {
        return std::nullopt;
    }
    return wide;
}

}  // namespace quillon
