#include "run_program.h"

#include <cstdlib>

std::string ProgramPath() {
    const char* bin = std::getenv("SUITE_BIN_DIR");
    return std::string(bin ? bin : ".") + "/vantrel";
}

namespace {

support::ChildOptions Environment(const std::string& runtimeDir, bool printLess) {
    support::ChildOptions options;
    options.set.emplace_back("KTR_RUNTIME_DIR", runtimeDir);
    if (printLess)
        options.set.emplace_back("VANTREL_PRINT_LESS", "1");
    else
        options.unset.emplace_back("VANTREL_PRINT_LESS");
    return options;
}

}  // namespace

ProgramRun RunProgram(const std::vector<std::string>& args, const std::string& input,
                      const std::string& runtimeDir, bool printLess) {
    const support::ChildResult result =
        support::RunChild(ProgramPath(), args, input, Environment(runtimeDir, printLess));
    return ProgramRun{result.exitStatus, result.output};
}

LiveProgram::LiveProgram(const std::vector<std::string>& args, const std::string& runtimeDir)
    : child_(ProgramPath(), args, Environment(runtimeDir, false)) {}
