// Small text helpers shared by the port layer's name lookups.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "platform/ascii_case.h"

namespace win::detail {

// Device names compare as Windows compares them: ASCII without regard to case.
using platform::EqualNoCase;

// The first line of a value file the bus publishes, without its line end;
// empty when the file cannot be read.
inline std::string FirstLineOf(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
    return line;
}

}  // namespace win::detail
