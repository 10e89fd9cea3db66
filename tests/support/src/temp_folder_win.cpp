// Private temporary folders on Windows: a fresh folder of the user's own
// temporary folder, which only its owner can enter.
#include <windows.h>

#include <cerrno>
#include <random>
#include <system_error>

#include "support/temp_folder.h"

namespace support {

std::filesystem::path MakePrivateFolder(std::string_view prefix, std::filesystem::path base) {
    if (base.empty()) {
        std::error_code error;
        base = std::filesystem::temp_directory_path(error);
        if (error) {
            errno = ENOENT;
            return {};
        }
    }
    std::random_device seed;
    std::mt19937 random(seed() ^ GetCurrentProcessId());
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name(prefix);
        name += '-';
        for (int i = 0; i < 6; ++i)
            name += kLetters[random() % (sizeof kLetters - 1)];
        const std::filesystem::path candidate = base / name;
        // CreateDirectory fails on a name that exists, as mkdtemp needs.
        if (CreateDirectoryW(candidate.c_str(), nullptr))
            return candidate;
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            errno = EACCES;
            return {};
        }
    }
    errno = EEXIST;
    return {};
}

}  // namespace support
