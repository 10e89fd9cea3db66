// A program run as a child process with pipes on its standard streams: input
// written by the test, standard output and error read as one text.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace support {

struct ChildOptions {
    // Changes to the child's environment: variables set, then variables removed.
    std::vector<std::pair<std::string, std::string>> set;
    std::vector<std::string> unset;
    // The child starts from an empty environment (then `set`) instead of the
    // test's own.
    bool clearEnvironment = false;
    // Standard error joins standard output; otherwise it stays the test's own.
    bool mergeStderr = true;
    // Sent to a child still running when the object goes, for programs that
    // do not end when their input does (0: none, the child is waited for).
    int endSignal = 0;
};

class ChildProcess {
  public:
    // Starts `program` with `args` (argv[0] is the program path). Started()
    // tells whether it runs; a program that cannot be executed ends with 127.
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const ChildOptions& options = {});
    // Closes the input (and sends the end signal, if any) and waits for the
    // end; a child still running 10 s later is killed.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }

    // Hands bytes to the child's standard input (a child that stopped
    // reading does not end the test with SIGPIPE).
    void Write(std::string_view bytes);
    void CloseInput();

    // Reads output until `text` appears after what earlier waits consumed;
    // false when it does not within `limit` or the output ends first.
    bool WaitFor(std::string_view text, std::chrono::milliseconds limit = std::chrono::seconds(20));
    // The next line of output after what earlier waits consumed, without its
    // line end; empty when none is complete within `limit`.
    std::string ReadLine(std::chrono::milliseconds limit = std::chrono::seconds(20));
    const std::string& Output() const { return output_; }

    void Signal(int signal);

    // Closes the input, reads the output to its end and waits for the child:
    // its exit status, -1 when a signal ended it.
    int Finish();
    // The same within `limit`: a child whose output has not ended and that
    // has not exited by then is killed, and the result is -1.
    int Finish(std::chrono::milliseconds limit);

  private:
    // Reads what is there within `limit`; false at the end of the output.
    bool ReadMore(std::chrono::steady_clock::time_point deadline);

    pid_t pid_ = -1;
    int endSignal_ = 0;
    int input_ = -1;
    int output_fd_ = -1;
    std::string output_;
    size_t consumed_ = 0;
};

struct ChildResult {
    int exitStatus = -1;
    std::string output;
};

// Runs `program` to its end with `input` on standard input.
ChildResult RunChild(const std::string& program, const std::vector<std::string>& args,
                     std::string_view input, const ChildOptions& options = {});

}  // namespace support
