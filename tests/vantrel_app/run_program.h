// Runs the console program as a real process and collects what it printed.
#pragma once

#include <string>
#include <vector>

struct ProgramRun {
    int exitStatus = -1;
    std::string output;
};

std::string ProgramPath();
// Runs vantrel with `args` and `input` on standard input, in a runtime
// directory of its own.
// `printLess` sets VANTREL_PRINT_LESS for the run.
ProgramRun RunProgram(const std::vector<std::string>& args, const std::string& input,
                      const std::string& runtimeDir, bool printLess = false);
std::string MakeTempDir();
