#include "support/child_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <thread>

namespace support {

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const ChildOptions& options)
    : endSignal_(options.endSignal) {
    // A program that ends before reading its input must not take the test down.
    std::signal(SIGPIPE, SIG_IGN);
    int toChild[2];
    int fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe for " << program;
        return;
    }
    if (::pipe2(fromChild, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe for " << program;
        ::close(toChild[0]);
        ::close(toChild[1]);
        return;
    }
    // Everything the child needs is made before the fork: after it, in a
    // threaded test program, only async-signal-safe calls are allowed.
    std::vector<std::string> environment;
    for (char** entry = environ; !options.clearEnvironment && *entry != nullptr; ++entry) {
        const std::string text(*entry);
        const std::string name = text.substr(0, text.find('='));
        bool dropped = false;
        for (const auto& change : options.set)
            dropped = dropped || change.first == name;
        for (const std::string& gone : options.unset)
            dropped = dropped || gone == name;
        if (!dropped)
            environment.push_back(text);
    }
    for (const auto& change : options.set) {
        bool unset = false;
        for (const std::string& gone : options.unset)
            unset = unset || gone == change.first;
        if (!unset)
            environment.push_back(change.first + "=" + change.second);
    }
    std::vector<char*> envp;
    for (std::string& text : environment)
        envp.push_back(text.data());
    envp.push_back(nullptr);
    std::vector<std::string> argvText{program};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& text : argvText)
        argv.push_back(text.data());
    argv.push_back(nullptr);

    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(toChild[0], 0);
        ::dup2(fromChild[1], 1);
        if (options.mergeStderr)
            ::dup2(fromChild[1], 2);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    if (pid_ < 0) {
        ADD_FAILURE() << "fork for " << program;
        ::close(toChild[1]);
        ::close(fromChild[0]);
        return;
    }
    input_ = toChild[1];
    output_fd_ = fromChild[0];
}

ChildProcess::~ChildProcess() {
    if (pid_ <= 0)
        return;
    CloseInput();
    if (endSignal_ != 0)
        ::kill(pid_, endSignal_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (::waitpid(pid_, nullptr, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            break;
        }
        // Drain the output so a child blocked on a full pipe can end.
        if (!ReadMore(std::min(deadline,
                               std::chrono::steady_clock::now() + std::chrono::milliseconds(50))))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (output_fd_ >= 0)
        ::close(output_fd_);
}

void ChildProcess::Signal(int signal) {
    if (pid_ > 0)
        ::kill(pid_, signal);
}

bool ChildProcess::ReadMore(std::chrono::steady_clock::time_point deadline) {
    if (output_fd_ < 0)
        return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd entry{output_fd_, POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(std::max<long long>(0, left.count()))) <= 0)
        return true;
    char chunk[4096];
    const ssize_t got = ::read(output_fd_, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR)
        return true;
    if (got <= 0) {
        ::close(output_fd_);
        output_fd_ = -1;
        return false;
    }
    output_.append(chunk, static_cast<size_t>(got));
    return true;
}

std::string ChildProcess::ReadLine(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const size_t end = output_.find('\n', consumed_);
        if (end != std::string::npos) {
            std::string line = output_.substr(consumed_, end - consumed_);
            consumed_ = end + 1;
            return line;
        }
        if (std::chrono::steady_clock::now() >= deadline || !ReadMore(deadline))
            return {};
    }
}

void ChildProcess::Write(std::string_view bytes) {
    size_t done = 0;
    while (input_ >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(input_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

void ChildProcess::CloseInput() {
    if (input_ >= 0) {
        ::close(input_);
        input_ = -1;
    }
}

bool ChildProcess::WaitFor(std::string_view text, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const size_t at = output_.find(text, consumed_);
        if (at != std::string::npos) {
            consumed_ = at + text.size();
            return true;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline || !ReadMore(std::min(deadline, now + std::chrono::milliseconds(100))))
            return false;
    }
}

int ChildProcess::Finish() {
    if (pid_ <= 0)
        return -1;
    CloseInput();
    if (output_fd_ >= 0) {
        char chunk[4096];
        for (ssize_t got; (got = ::read(output_fd_, chunk, sizeof chunk)) != 0;) {
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                break;
            output_.append(chunk, static_cast<size_t>(got));
        }
        ::close(output_fd_);
        output_fd_ = -1;
    }
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int ChildProcess::Finish(std::chrono::milliseconds limit) {
    if (pid_ <= 0)
        return -1;
    CloseInput();
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    bool exited = false;
    for (;;) {
        if (!exited) {
            const pid_t ended = ::waitpid(pid_, &status, WNOHANG);
            if (ended < 0 && errno != EINTR) {
                pid_ = -1;
                return -1;
            }
            exited = ended == pid_;
        }
        if (exited && output_fd_ < 0)
            break;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            if (!exited) {
                ::kill(pid_, SIGKILL);
                while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
                }
            }
            pid_ = -1;
            return -1;
        }
        // While the output is open its end is the event to wait for; once it
        // is closed, only the exit is left.
        if (!ReadMore(std::min(deadline, now + std::chrono::milliseconds(50))) && !exited)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

ChildResult RunChild(const std::string& program, const std::vector<std::string>& args,
                     std::string_view input, const ChildOptions& options) {
    ChildProcess child(program, args, options);
    child.Write(input);
    ChildResult result;
    result.exitStatus = child.Finish();
    result.output = child.Output();
    return result;
}

}  // namespace support
