// COM names are parsed in one place so every program accepts the same ones.
#include "platform/com_name.h"

#include "platform/ascii_case.h"

namespace platform {

std::optional<unsigned> ParseComName(std::string_view name) {
    if (StartsWithNoCase(name, kDeviceNamePrefix)) {
        name.remove_prefix(kDeviceNamePrefix.size());
    }
    if (name.size() < 4 || !StartsWithNoCase(name, "COM")) {
        return std::nullopt;
    }
    unsigned number = 0;
    for (char c : name.substr(3)) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        number = number * 10 + static_cast<unsigned>(c - '0');
        if (number > kMaxComNumber) {
            return std::nullopt;
        }
    }
    if (number == 0) {
        return std::nullopt;
    }
    return number;
}

std::string FormatComName(unsigned number) {
    return "COM" + std::to_string(number);
}

}  // namespace platform
