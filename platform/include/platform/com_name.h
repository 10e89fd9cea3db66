// COM port names as the Windows programs write them: "COM3", any case, also
// behind the device prefix "\\.\" ("\\.\COM12"). The numbers are those of a
// 16-bit port field, 1 to 65535.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

inline constexpr unsigned kMaxComNumber = 65535;
// The prefix that opens a device by its name.
inline constexpr std::string_view kDeviceNamePrefix = "\\\\.\\";

// "COM12", "com12" or "\\.\COM12" -> 12; nullopt for anything else
// (no digits, other characters, 0, or more than kMaxComNumber).
std::optional<unsigned> ParseComName(std::string_view name);
// 12 -> "COM12".
std::string FormatComName(unsigned number);

}  // namespace platform
