// What a paste delivers: the collected units as they are, or, for the one
// fixed-size record that starts 0x81 0x01 0x69, its units as hexadecimal
// digits when HexOut is on.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quillon {

// Line ends among the last two units: each CR counts, the first LF counts and
// ends the count. 0 for fewer than two units.
size_t CountLineEnds(std::u16string_view text);

// True for the record that goes out in hexadecimal when HexOut is on: 364
// units before its line ends, starting 0x81 0x01 0x69.
bool IsHexRecord(std::u16string_view text);

// Two upper-case hexadecimal digits per unit. A unit above 0xFF (possible
// after a multi-byte code page) is written as its low byte, so the text keeps
// exactly two digits per unit and the record's fixed width.
std::u16string HexDigits(std::u16string_view text);

struct DeliveryText {
    std::u16string text;
    bool hex = false;
};

DeliveryText BuildDeliveryText(std::u16string_view pending, bool hexOut);

// The log line before a delivery: "Length=<n> " and the first three units as
// "%02.2X" each (missing units as 0).
std::string FormatLengthLog(std::u16string_view pending);

}  // namespace quillon
