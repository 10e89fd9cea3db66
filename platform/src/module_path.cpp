// Path of the running program, read from the process's own exe link.
#include "platform/module_path.h"

#include <system_error>

namespace platform {

std::filesystem::path ModuleFilePath() {
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return {};
    }
    return path;
}

std::filesystem::path ModuleDirectory() {
    return ModuleFilePath().parent_path();
}

}  // namespace platform
