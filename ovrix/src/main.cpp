// ovrixd: runs the virtual COM-port bus in the foreground until SIGINT,
// SIGTERM or SIGHUP; each of them ends it the orderly way (every link and
// value it published removed).
#include <signal.h>

#include <cstdio>

#include "options.h"
#include "ovrix/daemon.h"

namespace {

// Exit statuses, the same in every program of the suite.
constexpr int kExitDone = 0;     // served until asked to stop, or answered --help/--version
constexpr int kExitRefused = 1;  // the namespace, the control socket or a port said no
constexpr int kExitUsage = 2;    // the command line is wrong

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    ovrix::CommandLine line = ovrix::ParseCommandLine(args);
    if (!line.error.empty()) {
        std::fprintf(stderr, "ovrixd: %s (see ovrixd --help)\n", line.error.c_str());
        return kExitUsage;
    }
    if (line.showHelp) {
        std::fputs(ovrix::HelpText().c_str(), stdout);
        return kExitDone;
    }
    if (line.showVersion) {
        std::fputs(ovrix::VersionText().c_str(), stdout);
        return kExitDone;
    }
    // The signals are taken synchronously below; block them before any thread
    // starts so every thread inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    ovrix::Daemon daemon(line.daemon);
    std::string error;
    if (!daemon.Start(&error)) {
        std::fprintf(stderr, "ovrixd: %s\n", error.c_str());
        return kExitRefused;
    }
    std::fprintf(stderr, "ovrixd: serving\n");
    int received = 0;
    sigwait(&stopSignals, &received);
    daemon.Stop();
    return kExitDone;
}
