// A program run to its end with standard output and standard error kept
// apart, for checks of which stream a line went to. Test programs that use it
// list src/split_run.cpp among their sources.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "support/child_process.h"

namespace support {

struct SplitResult {
    int exitStatus = -1;
    std::string out;
    std::string err;
    // The lines of standard error, without their line ends.
    std::vector<std::string> ErrLines() const;
};

// Runs `program` with `args` and `input` on standard input; standard error
// goes to a file of a private temporary folder and is read back at the end.
// `options.mergeStderr` is ignored.
SplitResult RunSplit(const std::string& program, const std::vector<std::string>& args,
                     std::string_view input = {}, ChildOptions options = {});

}  // namespace support
