// A fresh private folder, without the test framework: fuzz targets use it as
// well as TempDir.
#pragma once

#ifndef _WIN32
#include <stdlib.h>
#include <sys/stat.h>
#endif

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace support {

// A new folder "<prefix>-XXXXXX" (the user's own: 0700 on Linux, in the
// user's temporary folder on Windows) in `base`, else in the system's
// temporary folder; empty (errno set) when it cannot be made. The caller
// removes it.
#ifdef _WIN32
std::filesystem::path MakePrivateFolder(std::string_view prefix, std::filesystem::path base = {});
#else
inline std::filesystem::path MakePrivateFolder(std::string_view prefix,
                                               std::filesystem::path base = {}) {
    if (base.empty()) {
        std::error_code error;
        base = std::filesystem::temp_directory_path(error);
        if (error)
            base = "/tmp";
    }
    std::string pattern = (base / (std::string(prefix) + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr)
        return {};
    // mkdtemp makes it 0700 already; say so, whatever the umask did.
    ::chmod(pattern.c_str(), 0700);
    return pattern;
}
#endif

}  // namespace support
