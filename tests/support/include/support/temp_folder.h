// A fresh private folder, without the test framework: fuzz targets use it as
// well as TempDir.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace support {

// A new folder "<prefix>-XXXXXX" (0700, the user's own) in `base`, else in
// the system's temporary folder; empty when it cannot be made. The caller
// removes it.
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

}  // namespace support
