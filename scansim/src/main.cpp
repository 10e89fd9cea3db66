// scansim: a simulated scanner for demos and manual tests.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

#include "platform/module_path.h"
#include "platform/runtime_namespace.h"
#include "program_options.h"
#include "scansim/scanner.h"

namespace {

using scansim::ProgramOptions;
using scansim::Scanner;

constexpr char kDefaultProfileName[] = "scansim-default.ini";

// Ends the waits of the helper threads when the program stops.
class Quit {
  public:
    void Request() {
        {
            std::lock_guard lock(mu_);
            quit_ = true;
        }
        cv_.notify_all();
    }
    // false when quitting.
    bool Sleep(int ms) {
        std::unique_lock lock(mu_);
        return !cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return quit_; });
    }
    bool Requested() {
        std::lock_guard lock(mu_);
        return quit_;
    }

  private:
    std::mutex mu_;
    std::condition_variable cv_;
    bool quit_ = false;
};

// Exit statuses, the same in every program of the suite.
constexpr int kExitDone = 0;     // everything asked was done
constexpr int kExitRefused = 1;  // a file, the namespace or the pty said no
constexpr int kExitUsage = 2;    // the command line is wrong

// Why the scan file cannot be read, checked before the scanner appears; empty
// when it can.
std::string ScanFileProblem(const std::string& file) {
    std::error_code failed;
    if (std::filesystem::is_directory(file, failed)) {
        return std::strerror(EISDIR);
    }
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::strerror(errno);
    }
    ::close(fd);
    return "";
}

// false when the scan file could not be sent whole.
bool SendScans(Scanner& scanner, const ProgramOptions& options, Quit& quit) {
    if (options.scanDelayMs > 0 && !quit.Sleep(options.scanDelayMs)) {
        return true;
    }
    bool sent = true;
    if (!options.scanFile.empty() &&
        !scanner.SendScansFromFile(options.scanFile, options.scanSuffix)) {
        std::cerr << "scansim: cannot send the scans of " << options.scanFile << "\n";
        sent = false;
    }
    do {
        for (const auto& scan : options.scans) {
            scanner.SendScan(scan + options.scanSuffix);
        }
    } while (options.scanEveryMs > 0 && !options.scans.empty() && quit.Sleep(options.scanEveryMs));
    return sent;
}

// One control line of standard input; false on ":quit".
bool HandleStdinLine(Scanner& scanner, const ProgramOptions& options, const std::string& line) {
    if (line == ":quit") {
        return false;
    }
    if (line == ":unplug") {
        std::cout << (scanner.Unplug() ? "unplugged" : "already unplugged") << std::endl;
    } else if (line == ":plug") {
        std::cout << (scanner.Plug() ? "link " + scanner.LinkPath().string() : "plug failed")
                  << std::endl;
    } else if (line.rfind(":fault ", 0) == 0) {
        auto fault = scansim::ParseFault(line.substr(7));
        if (fault) {
            scanner.SetFault(*fault);
        }
        std::cout << (fault ? "fault set" : "bad fault") << std::endl;
    } else {
        scanner.SendScan(line + options.scanSuffix);
    }
    return true;
}

void ReadStdin(Scanner& scanner, const ProgramOptions& options, Quit& quit) {
    std::string pending;
    while (!quit.Requested()) {
        pollfd fd{STDIN_FILENO, POLLIN, 0};
        if (::poll(&fd, 1, 100) <= 0) {
            continue;
        }
        char buffer[1024];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            break;  // end of input ends the program
        }
        pending.append(buffer, static_cast<size_t>(n));
        for (auto nl = pending.find('\n'); nl != std::string::npos; nl = pending.find('\n')) {
            std::string line = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            if (!HandleStdinLine(scanner, options, line)) {
                ::kill(::getpid(), SIGTERM);
                return;
            }
        }
    }
    ::kill(::getpid(), SIGTERM);
}

// Serves the control signals until SIGINT or SIGTERM.
void ServeSignals(Scanner& scanner, const sigset_t& signals) {
    while (true) {
        int signal = 0;
        if (sigwait(&signals, &signal) != 0) {
            continue;
        }
        if (signal == SIGUSR1) {
            scanner.Unplug();
        } else if (signal == SIGUSR2 && scanner.Plug()) {
            std::cout << "link " << scanner.LinkPath().string() << std::endl;
        } else if (signal == SIGINT || signal == SIGTERM) {
            return;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    ProgramOptions options;
    std::string error;
    if (!scansim::ParseProgramOptions(argc, argv, options, error)) {
        std::cerr << "scansim: " << error << "\n";
        return kExitUsage;
    }
    if (options.showHelp) {
        std::cout << scansim::UsageText();
        return kExitDone;
    }
    if (options.showVersion) {
        std::cout << "scansim " << SCANSIM_VERSION << "\n";
        return kExitDone;
    }
    if (!options.runtimeDir.empty()) {
        ::setenv("KTR_RUNTIME_DIR", options.runtimeDir.c_str(), 1);
    }
    if (const std::string refusal = platform::RuntimeDirRefusal(); !refusal.empty()) {
        std::cerr << "scansim: " << refusal << "\n";
        return kExitRefused;
    }
    const auto defaultProfile = (platform::ModuleDirectory() / kDefaultProfileName).string();
    if (!scansim::ApplyProfileAndOverrides(options, defaultProfile, error)) {
        std::cerr << "scansim: " << error << "\n";
        return kExitRefused;
    }
    if (!options.scanFile.empty()) {
        if (const std::string problem = ScanFileProblem(options.scanFile); !problem.empty()) {
            std::cerr << "scansim: cannot read scan file " << options.scanFile << ": " << problem
                      << "\n";
            return kExitRefused;
        }
    }

    // Every thread inherits the blocked set, so only sigwait sees these signals.
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGUSR1, SIGUSR2, SIGINT, SIGTERM}) {
        sigaddset(&signals, s);
    }
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    auto scanner = Scanner::Start(options.scanner, &error);
    if (!scanner) {
        std::cerr << "scansim: " << error << "\n";
        return kExitRefused;
    }
    if (options.fault) {
        scanner->SetFault(*options.fault);
    }
    std::cout << "link " << scanner->LinkPath().string() << std::endl;

    Quit quit;
    std::atomic<bool> scansSent{true};
    std::thread scans([&] { scansSent = SendScans(*scanner, options, quit); });
    std::thread input;
    if (options.readStdin) {
        input = std::thread([&] { ReadStdin(*scanner, options, quit); });
    }
    ServeSignals(*scanner, signals);
    quit.Request();
    scanner->Stop();
    scans.join();
    if (input.joinable()) {
        input.join();
    }
    return scansSent ? kExitDone : kExitRefused;
}
