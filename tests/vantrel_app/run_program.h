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

// A program that keeps running while the test types keys and reads its
// output as it comes.
class LiveProgram {
  public:
    LiveProgram(const std::vector<std::string>& args, const std::string& runtimeDir);
    ~LiveProgram();
    void Type(const std::string& keys);
    // Reads output until `text` appears after what earlier waits consumed;
    // false when it does not within a generous limit.
    bool WaitFor(const std::string& text);
    // Closes the keys' input and collects the rest; the exit status.
    int Finish();
    const std::string& Output() const { return output_; }

  private:
    int pid_ = -1;
    int input_ = -1;
    int output_fd_ = -1;
    std::string output_;
    size_t consumed_ = 0;
};
