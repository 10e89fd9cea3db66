// The ini module's one OS call: a file replaced whole by new text. Each
// system has its backend (ini_store_linux.cpp, win/ini_store_win.cpp).
#pragma once

#include <filesystem>
#include <string>

namespace platform {

// Replaces the file `target` (no link: the caller has followed those) with
// `text`, never leaving it half-written or a temporary file behind; false
// with errno set when it cannot.
bool IniStoreText(const std::filesystem::path& target, const std::string& text);

}  // namespace platform
