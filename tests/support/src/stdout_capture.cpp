#include "support/stdout_capture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace support {

std::string CaptureStdout(const std::function<void()>& body) {
    std::FILE* file = std::tmpfile();
    if (file == nullptr) {
        ADD_FAILURE() << "no temporary file for standard output";
        body();
        return {};
    }
    std::cout.flush();
    std::fflush(stdout);
    const int saved = ::dup(1);
    ::dup2(::fileno(file), 1);
    body();
    std::cout.flush();
    std::fflush(stdout);
    ::dup2(saved, 1);
    ::close(saved);
    std::string text;
    std::rewind(file);
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        text.append(buffer, n);
    std::fclose(file);
    return text;
}

}  // namespace support
