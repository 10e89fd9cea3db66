// Command line of the scansim program.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "scansim/scanner.h"

namespace scansim {

struct ProgramOptions {
    ScannerOptions scanner;
    std::string profile;     // empty: the default profile beside the program, if any
    std::string runtimeDir;  // empty: the usual runtime namespace
    std::vector<std::string> identityOverrides;  // "key=value" applied after the profile
    std::vector<std::string> scans;
    std::string scanFile;
    std::string scanSuffix = "\r";
    int scanEveryMs = 0;
    int scanDelayMs = 0;
    bool readStdin = false;
    std::optional<Fault> fault;
    bool showHelp = false;
    bool showVersion = false;
};

// false with `error` set on a bad option.
bool ParseProgramOptions(int argc, char** argv, ProgramOptions& options, std::string& error);
// Applies the profile, then the identity overrides given on the command line.
bool ApplyProfileAndOverrides(ProgramOptions& options, const std::string& defaultProfile,
                              std::string& error);
// "\r", "\n", "\t", "\\" and "\xHH" escapes of a command-line text.
std::string Unescape(const std::string& text);
const char* UsageText();

}  // namespace scansim
