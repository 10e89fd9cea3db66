#include "support/split_run.h"

#include <fstream>
#include <sstream>

#include "support/temp_dir.h"

namespace support {

std::vector<std::string> SplitResult::ErrLines() const {
    std::vector<std::string> lines;
    std::istringstream stream(err);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

SplitResult RunSplit(const std::string& program, const std::vector<std::string>& args,
                     std::string_view input, ChildOptions options) {
    const TempDir folder("split-run");
    const std::string errFile = (folder.Path() / "stderr").string();
    // The shell only sets the redirection up and is replaced by the program.
    std::vector<std::string> shellArgs{"-c", "f=$1; shift; exec \"$@\" 2>\"$f\"", "sh", errFile,
                                       program};
    shellArgs.insert(shellArgs.end(), args.begin(), args.end());
    options.mergeStderr = false;
    const ChildResult run = RunChild("/bin/sh", shellArgs, input, options);
    std::ifstream file(errFile, std::ios::binary);
    std::stringstream err;
    err << file.rdbuf();
    return SplitResult{run.exitStatus, run.output, err.str()};
}

}  // namespace support
