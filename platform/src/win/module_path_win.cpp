// Path of the running program, from the system's module list.
#include <windows.h>

#include <string>

#include "platform/module_path.h"

namespace platform {

std::filesystem::path ModuleFilePath() {
    // A path longer than the buffer comes back cut, with the buffer full:
    // try again with a larger one.
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return {};
        if (length < buffer.size()) {
            buffer.resize(length);
            return std::filesystem::path(buffer);
        }
        if (buffer.size() >= 32768)
            return {};
        buffer.resize(buffer.size() * 2);
    }
}

std::filesystem::path ModuleDirectory() {
    return ModuleFilePath().parent_path();
}

}  // namespace platform
