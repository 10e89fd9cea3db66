// ovrixd's command line.
#pragma once

#include <string>
#include <vector>

#include "ovrix/daemon.h"

namespace ovrix {

struct CommandLine {
    DaemonOptions daemon;
    bool showHelp = false;
    bool showVersion = false;
    std::string error;  // non-empty when the command line is wrong
};

CommandLine ParseCommandLine(const std::vector<std::string>& args);
std::string HelpText();
std::string VersionText();

}  // namespace ovrix
