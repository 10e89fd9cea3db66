#include "support/temp_dir.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace support {

TempDir::TempDir(std::string_view prefix) : path_(MakePrivateFolder(prefix)) {
    if (path_.empty())
        ADD_FAILURE() << "no temporary folder " << prefix << ": " << std::strerror(errno);
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
