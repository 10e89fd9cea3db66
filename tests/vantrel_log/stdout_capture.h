// Captures what a piece of code writes to standard output, through a real file.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

template <typename Body>
std::string CaptureStdout(Body body) {
    char path[] = "/tmp/vantrel_log_stdout_XXXXXX";
    int file = mkstemp(path);
    if (file < 0)
        return "<mkstemp failed>";
    std::fflush(stdout);
    int saved = dup(1);
    dup2(file, 1);
    body();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    close(file);
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    unlink(path);
    return text.str();
}
