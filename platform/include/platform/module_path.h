// Where the running program lives.
#pragma once

#include <filesystem>

namespace platform {

// Full path of the running program file (/proc/self/exe).
std::filesystem::path ModuleFilePath();
// Directory of the running program file.
std::filesystem::path ModuleDirectory();

}  // namespace platform
