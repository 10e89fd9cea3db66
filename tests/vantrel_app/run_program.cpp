#include "run_program.h"

#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>

std::string ProgramPath() {
    const char* bin = std::getenv("SUITE_BIN_DIR");
    return std::string(bin ? bin : ".") + "/vantrel";
}

std::string SuiteProgramPath(const std::string& name) {
    const std::string vantrel = ProgramPath();
    return vantrel.substr(0, vantrel.rfind('/') + 1) + name;
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

std::unique_ptr<support::ChildProcess> StartOvrixd(const std::vector<std::string>& args,
                                                   const std::string& runtimeDir) {
    support::ChildOptions options;
    options.set.emplace_back("KTR_RUNTIME_DIR", runtimeDir);
    options.endSignal = SIGTERM;
    return std::make_unique<support::ChildProcess>(SuiteProgramPath("ovrixd"), args, options);
}

bool Appears(const std::string& path) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    struct stat info {};
    while (std::chrono::steady_clock::now() < limit) {
        if (lstat(path.c_str(), &info) == 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}
