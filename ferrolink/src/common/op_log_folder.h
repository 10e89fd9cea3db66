// Where the operation log lives: <program directory>/log when that folder
// exists (a program installed in a folder of its own), else
// $XDG_STATE_HOME/ferrolink/log (~/.local/state/ferrolink/log) when that one
// exists. Neither folder is ever made here; with none of them there is no log.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/module_path.h"

// $XDG_STATE_HOME/ferrolink/log; a relative or empty XDG_STATE_HOME is
// ignored, as the base directory rules say.
inline std::filesystem::path UserOpLogFolder() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && state[0] == '/')
        return std::filesystem::path(state) / "ferrolink" / "log";
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
        return std::filesystem::path(home) / ".local" / "state" / "ferrolink" / "log";
    return {};
}

// The first of the two folders that exists, or an empty path.
inline std::filesystem::path OpLogFolder() {
    std::error_code error;
    const std::filesystem::path beside = platform::ModuleDirectory() / "log";
    if (std::filesystem::is_directory(beside, error))
        return beside;
    const std::filesystem::path user = UserOpLogFolder();
    if (!user.empty() && std::filesystem::is_directory(user, error))
        return user;
    return {};
}
