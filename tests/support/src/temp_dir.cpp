#include "support/temp_dir.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

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

namespace {

// Sets the namespace variable, or removes it for nullptr.
void SetRuntimeDirVariable(const char* value) {
#ifdef _WIN32
    // An empty value removes the variable.
    _putenv_s("KTR_RUNTIME_DIR", value != nullptr ? value : "");
#else
    if (value != nullptr)
        ::setenv("KTR_RUNTIME_DIR", value, 1);
    else
        ::unsetenv("KTR_RUNTIME_DIR");
#endif
}

}  // namespace

RuntimeDir::RuntimeDir(std::string_view prefix) : dir_(prefix) {
    if (const char* value = std::getenv("KTR_RUNTIME_DIR"))
        previous_ = value;
    SetRuntimeDirVariable(dir_.String().c_str());
}

RuntimeDir::~RuntimeDir() {
    SetRuntimeDirVariable(previous_ ? previous_->c_str() : nullptr);
}

}  // namespace support
