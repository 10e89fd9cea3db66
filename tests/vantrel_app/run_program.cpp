#include "run_program.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <stdexcept>

std::string ProgramPath() {
    const char* bin = std::getenv("SUITE_BIN_DIR");
    return std::string(bin ? bin : ".") + "/vantrel";
}

std::string MakeTempDir() {
    char pattern[] = "/tmp/vantrel_app_XXXXXX";
    if (!mkdtemp(pattern))
        throw std::runtime_error("mkdtemp");
    return pattern;
}

namespace {
// A program that ends before reading its keys must not take the test down.
void IgnoreBrokenPipes() {
    std::signal(SIGPIPE, SIG_IGN);
}
}  // namespace

ProgramRun RunProgram(const std::vector<std::string>& args, const std::string& input,
                      const std::string& runtimeDir, bool printLess) {
    IgnoreBrokenPipes();
    int toChild[2], fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0)
        throw std::runtime_error("pipe");
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(toChild[0], 0);
        dup2(fromChild[1], 1);
        dup2(fromChild[1], 2);
        close(toChild[1]);
        close(fromChild[0]);
        setenv("KTR_RUNTIME_DIR", runtimeDir.c_str(), 1);
        if (printLess)
            setenv("VANTREL_PRINT_LESS", "1", 1);
        else
            unsetenv("VANTREL_PRINT_LESS");
        std::vector<char*> argv;
        const std::string path = ProgramPath();
        argv.push_back(const_cast<char*>(path.c_str()));
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    if (!input.empty())
        (void)!write(toChild[1], input.data(), input.size());
    close(toChild[1]);
    ProgramRun run;
    char chunk[4096];
    for (ssize_t got; (got = read(fromChild[0], chunk, sizeof chunk)) > 0;)
        run.output.append(chunk, static_cast<size_t>(got));
    close(fromChild[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

#include <poll.h>

#include <chrono>

LiveProgram::LiveProgram(const std::vector<std::string>& args, const std::string& runtimeDir) {
    IgnoreBrokenPipes();
    int toChild[2], fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0)
        throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
        dup2(toChild[0], 0);
        dup2(fromChild[1], 1);
        dup2(fromChild[1], 2);
        close(toChild[1]);
        close(fromChild[0]);
        setenv("KTR_RUNTIME_DIR", runtimeDir.c_str(), 1);
        unsetenv("VANTREL_PRINT_LESS");
        std::vector<char*> argv;
        const std::string path = ProgramPath();
        argv.push_back(const_cast<char*>(path.c_str()));
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    input_ = toChild[1];
    output_fd_ = fromChild[0];
}

LiveProgram::~LiveProgram() {
    if (pid_ > 0)
        Finish();
}

void LiveProgram::Type(const std::string& keys) {
    (void)!write(input_, keys.data(), keys.size());
}

bool LiveProgram::WaitFor(const std::string& text) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
        const size_t at = output_.find(text, consumed_);
        if (at != std::string::npos) {
            consumed_ = at + text.size();
            return true;
        }
        if (std::chrono::steady_clock::now() > limit)
            return false;
        pollfd entry{output_fd_, POLLIN, 0};
        if (poll(&entry, 1, 100) <= 0)
            continue;
        char chunk[4096];
        const ssize_t got = read(output_fd_, chunk, sizeof chunk);
        if (got <= 0)
            return output_.find(text, consumed_) != std::string::npos;
        output_.append(chunk, static_cast<size_t>(got));
    }
}

int LiveProgram::Finish() {
    if (pid_ <= 0)
        return -1;
    if (input_ >= 0)
        close(input_);
    input_ = -1;
    char chunk[4096];
    for (ssize_t got; (got = read(output_fd_, chunk, sizeof chunk)) > 0;)
        output_.append(chunk, static_cast<size_t>(got));
    close(output_fd_);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
