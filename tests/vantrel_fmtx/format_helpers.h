// Formatting into a std::string through the engine, checking on the way that
// the returned length matches what was stored.
#pragma once

#include <gtest/gtest.h>

#include <cstdarg>
#include <string>
#include <vector>

#include "fmtx.h"

inline std::string VFormat(const char* format, va_list args) {
    std::vector<char> buffer(8192, '\x7f');
    va_list copy;
    va_copy(copy, args);
    int32_t length =
        fmtx_vsnprintf(buffer.data(), static_cast<int32_t>(buffer.size()), format, copy);
    va_end(copy);
    EXPECT_GE(length, 0);
    EXPECT_LT(length, static_cast<int32_t>(buffer.size()));
    EXPECT_EQ(buffer[static_cast<size_t>(length)], '\0') << format;
    return std::string(buffer.data(), static_cast<size_t>(length));
}

inline std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = VFormat(format, args);
    va_end(args);
    return text;
}
