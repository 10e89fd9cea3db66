// Small text helpers shared by the port layer's name lookups.
#pragma once

#include <cctype>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace win::detail {

// ASCII comparison without regard to case, as Windows compares device names.
inline bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

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
