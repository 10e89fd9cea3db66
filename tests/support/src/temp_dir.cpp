#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace support {

TempDir::TempDir(std::string_view prefix) {
    std::error_code error;
    std::filesystem::path base = std::filesystem::temp_directory_path(error);
    if (error)
        base = "/tmp";
    std::string pattern = (base / (std::string(prefix) + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp " << pattern << ": " << std::strerror(errno);
        return;
    }
    // mkdtemp makes it 0700 already; say so, whatever the umask did.
    ::chmod(pattern.c_str(), 0700);
    path_ = pattern;
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
    ::setenv("KTR_RUNTIME_DIR", dir_.String().c_str(), 1);
}

RuntimeDir::~RuntimeDir() {
    if (previous_)
        ::setenv("KTR_RUNTIME_DIR", previous_->c_str(), 1);
    else
        ::unsetenv("KTR_RUNTIME_DIR");
}

}  // namespace support
