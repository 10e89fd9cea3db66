// Runs the console program as a real process and collects what it printed.
#pragma once

#include <memory>
#include <string>
#include <vector>

#ifndef _WIN32
#include "support/child_process.h"
#endif

struct ProgramRun {
    int exitStatus = -1;
    std::string output;
};

std::string ProgramPath();
// Another program of the suite, built beside the console.
std::string SuiteProgramPath(const std::string& name);
// Runs vantrel with `args` and `input` on standard input, in a runtime
// directory of its own.
// `printLess` sets VANTREL_PRINT_LESS for the run.
ProgramRun RunProgram(const std::vector<std::string>& args, const std::string& input,
                      const std::string& runtimeDir, bool printLess = false);

#ifndef _WIN32
// A program that keeps running while the test types keys and reads its
// output as it comes.
class LiveProgram {
  public:
    LiveProgram(const std::vector<std::string>& args, const std::string& runtimeDir);
    void Type(const std::string& keys) { child_.Write(keys); }
    // Reads output until `text` appears after what earlier waits consumed;
    // false when it does not within a generous limit.
    bool WaitFor(const std::string& text) { return child_.WaitFor(text); }
    // Closes the keys' input and collects the rest; the exit status.
    int Finish() { return child_.Finish(); }
    const std::string& Output() const { return child_.Output(); }

  private:
    support::ChildProcess child_;
};

// ovrixd serving with `args` in `runtimeDir`; stopped with SIGTERM when the
// object goes.
std::unique_ptr<support::ChildProcess> StartOvrixd(const std::vector<std::string>& args,
                                                   const std::string& runtimeDir);
// True once `path` exists (a link counts even when its target does not);
// false after 20 s.
bool Appears(const std::string& path);

#endif  // _WIN32
