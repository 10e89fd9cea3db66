// Temporary folders for tests on Windows: a fresh folder of the user's own
// temporary folder (which only its owner can enter), removed at the end.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <random>
#include <system_error>

#include "support/temp_dir.h"

namespace support {

TempDir::TempDir(std::string_view prefix) {
    std::error_code error;
    const std::filesystem::path base = std::filesystem::temp_directory_path(error);
    if (error) {
        ADD_FAILURE() << "no temporary folder: " << error.message();
        return;
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
        if (CreateDirectoryW(candidate.c_str(), nullptr)) {
            path_ = candidate;
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            ADD_FAILURE() << "CreateDirectory " << candidate.string() << ": error "
                          << GetLastError();
            return;
        }
    }
    ADD_FAILURE() << "no free temporary folder name in " << base.string();
}

TempDir::~TempDir() {
    if (path_.empty())
        return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

RuntimeDir::RuntimeDir(std::string_view prefix) : dir_(prefix) {
    if (const char* value = std::getenv("KTR_RUNTIME_DIR"))
        previous_ = value;
    _putenv_s("KTR_RUNTIME_DIR", dir_.String().c_str());
}

RuntimeDir::~RuntimeDir() {
    // An empty value removes the variable.
    _putenv_s("KTR_RUNTIME_DIR", previous_ ? previous_->c_str() : "");
}

}  // namespace support
