#include "quillon_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

fs::path BinDir() {
    return fs::path(std::getenv("SUITE_BIN_DIR"));
}

}  // namespace

QuillonHome::QuillonHome() : m_folder("quillon-home"), m_root(m_folder.Path()) {
    if (m_root.empty()) {
        std::abort();
    }
    for (const fs::path& dir : {m_root / "bin", ConfigHome(), RuntimeDir(), DeviceNamespace()}) {
        fs::create_directories(dir);
    }
    fs::permissions(RuntimeDir(), fs::perms::owner_all);
    fs::copy_file(BinDir() / "quillon", Program());
    fs::copy_file(BinDir() / "imageico.ico", m_root / "bin" / "imageico.ico");
}

std::vector<std::string> QuillonHome::Environment(const std::string& display) const {
    auto replaced = [](const std::string& line) {
        for (const char* name :
             {"DISPLAY=", "WAYLAND_DISPLAY=", "DBUS_SESSION_BUS_ADDRESS=", "XDG_RUNTIME_DIR=",
              "XDG_CONFIG_HOME=", "KTR_RUNTIME_DIR=", "QT_QPA_PLATFORM=", "LD_LIBRARY_PATH="}) {
            if (line.rfind(name, 0) == 0) {
                return true;
            }
        }
        return false;
    };
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (!replaced(*entry)) {
            env.emplace_back(*entry);
        }
    }
    env.push_back("XDG_RUNTIME_DIR=" + RuntimeDir().string());
    env.push_back("XDG_CONFIG_HOME=" + ConfigHome().string());
    env.push_back("KTR_RUNTIME_DIR=" + DeviceNamespace().string());
    // The copied program finds the suite's libraries where the build put them.
    env.push_back("LD_LIBRARY_PATH=" + BinDir().string());
    if (!display.empty()) {
        env.push_back("DISPLAY=" + display);
        env.push_back("QT_QPA_PLATFORM=xcb");
    }
    return env;
}

QuillonRun::QuillonRun(const QuillonHome& home, const std::vector<std::string>& arguments,
                       const std::string& display)
    : QuillonRun(home.Program(), arguments, home.Environment(display)) {}

QuillonRun::QuillonRun(const fs::path& program, const std::vector<std::string>& arguments,
                       const std::vector<std::string>& env) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return;
    }
    std::vector<std::string> args{program.string()};
    args.insert(args.end(), arguments.begin(), arguments.end());
    m_pid = fork();
    if (m_pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        dup2(fds[1], STDERR_FILENO);
        int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, STDIN_FILENO);
        std::vector<char*> argv;
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (const std::string& e : env) {
            envp.push_back(const_cast<char*>(e.c_str()));
        }
        envp.push_back(nullptr);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(fds[1]);
    m_outputFd = fds[0];
}

QuillonRun::~QuillonRun() {
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    if (m_outputFd >= 0) {
        close(m_outputFd);
    }
}

bool QuillonRun::ReadSome(int timeoutMs) {
    pollfd p{m_outputFd, POLLIN, 0};
    if (m_outputFd < 0 || poll(&p, 1, timeoutMs) <= 0) {
        return false;
    }
    char buffer[4096];
    ssize_t n = read(m_outputFd, buffer, sizeof buffer);
    if (n <= 0) {
        close(m_outputFd);
        m_outputFd = -1;
        return false;
    }
    m_output.append(buffer, static_cast<size_t>(n));
    return true;
}

bool QuillonRun::WaitFor(const std::string& text, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        size_t found = m_output.find(text, m_consumed);
        if (found != std::string::npos) {
            m_consumed = found + text.size();
            return true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        if (!ReadSome(100) && m_outputFd < 0) {
            return false;
        }
    }
}

int QuillonRun::Wait(int seconds) {
    if (m_pid <= 0) {
        return m_status;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (waitpid(m_pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, &status, 0);
            m_pid = -1;
            return m_status = -1;
        }
        ReadSome(20);
    }
    m_pid = -1;
    while (ReadSome(50)) {
    }
    m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return m_status;
}

int QuillonRun::Stop(int seconds) {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
    }
    return Wait(seconds);
}

ScannerProcess::ScannerProcess(const QuillonHome& home, const std::string& suffix,
                               const std::string& serial)
    : m_entry(home.DeviceNamespace() / "usb" / ("usb#vid_1eab&pid_0d10#" + serial)) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return;
    }
    const std::string program = (BinDir() / "scansim").string();
    const std::string runtime = home.DeviceNamespace().string();
    m_pid = fork();
    if (m_pid == 0) {
        dup2(fds[0], STDIN_FILENO);
        int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, STDOUT_FILENO);
        dup2(devNull, STDERR_FILENO);
        execl(program.c_str(), program.c_str(), "--usb", serial.c_str(), "--runtime-dir",
              runtime.c_str(), "--scan-suffix", suffix.c_str(), "--stdin", nullptr);
        _exit(127);
    }
    close(fds[0]);
    m_input = fds[1];
}

ScannerProcess::~ScannerProcess() {
    if (m_input >= 0) {
        close(m_input);
    }
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
}

bool ScannerProcess::WaitPresent(int seconds) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        std::error_code error;
        if (fs::exists(m_entry, error)) {
            return true;
        }
        usleep(20000);
    }
    return false;
}

void ScannerProcess::Send(const std::string& line) {
    const std::string text = line + "\n";
    [[maybe_unused]] ssize_t written = write(m_input, text.data(), text.size());
}

std::string ReadTextFile(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    std::string lines = text.str();
    std::erase(lines, '\r');
    return lines;
}
