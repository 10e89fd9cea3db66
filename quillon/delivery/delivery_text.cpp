#include "delivery/delivery_text.h"

#include <array>
#include <cstdio>

namespace quillon {
namespace {

constexpr char16_t kCr = 13;
constexpr char16_t kLf = 10;
constexpr size_t kHexRecordUnits = 364;
constexpr std::array<char16_t, 3> kHexRecordStart = {0x81, 0x01, 0x69};

}  // namespace

size_t CountLineEnds(std::u16string_view text) {
    if (text.size() < 2) {
        return 0;
    }
    size_t count = 0;
    for (char16_t unit : text.substr(text.size() - 2)) {
        if (unit == kCr) {
            ++count;
        } else if (unit == kLf) {
            ++count;
            break;
        }
    }
    return count;
}

bool IsHexRecord(std::u16string_view text) {
    return text.size() - CountLineEnds(text) == kHexRecordUnits && text.size() >= 3 &&
           text[0] == kHexRecordStart[0] && text[1] == kHexRecordStart[1] &&
           text[2] == kHexRecordStart[2];
}

std::u16string HexDigits(std::u16string_view text) {
    static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
    std::u16string out;
    out.reserve(text.size() * 2);
    for (char16_t unit : text) {
        out.push_back(kDigits[(unit >> 4) & 0xF]);
        out.push_back(kDigits[unit & 0xF]);
    }
    return out;
}

DeliveryText BuildDeliveryText(std::u16string_view pending, bool hexOut) {
    if (hexOut && IsHexRecord(pending)) {
        return {HexDigits(pending), true};
    }
    return {std::u16string(pending), false};
}

std::string FormatLengthLog(std::u16string_view pending) {
    auto unitAt = [&](size_t i) { return i < pending.size() ? unsigned{pending[i]} : 0u; };
    // "%.2X" prints what the Windows format "%02.2X" prints: at least two
    // digits, more for a unit above 0xFF.
    char line[64];
    std::snprintf(line, sizeof line, "Length=%zu %.2X%.2X%.2X", pending.size(), unitAt(0),
                  unitAt(1), unitAt(2));
    return line;
}

}  // namespace quillon
