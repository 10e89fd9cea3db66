// The user's configuration directory: $XDG_CONFIG_HOME, or ~/.config.
#pragma once

#include <cstdlib>
#include <filesystem>

namespace quillon {

inline std::filesystem::path ConfigHome() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        return xdg;
    }
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home != nullptr ? home : "/tmp") / ".config";
}

}  // namespace quillon
