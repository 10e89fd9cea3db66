#include "x_session.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <thread>
#include <vector>

namespace {

void StopChild(pid_t pid) {
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
}

void SilenceOutput() {
    int devNull = open("/dev/null", O_WRONLY);
    dup2(devNull, STDOUT_FILENO);
    dup2(devNull, STDERR_FILENO);
}

bool TrayOwnerPresent(const std::string& display) {
    Display* connection = XOpenDisplay(display.c_str());
    if (connection == nullptr) {
        return false;
    }
    const std::string selection = "_NET_SYSTEM_TRAY_S" + std::to_string(DefaultScreen(connection));
    Atom atom = XInternAtom(connection, selection.c_str(), False);
    const bool present = XGetSelectionOwner(connection, atom) != 0;
    XCloseDisplay(connection);
    return present;
}

}  // namespace

XSession::~XSession() {
    StopChild(m_tray);
    StopChild(m_server);
}

bool XSession::Start(bool withTray) {
    return StartServer() && (!withTray || StartTray());
}

bool XSession::StartServer() {
    int fds[2];
    if (pipe(fds) != 0) {
        m_error = "pipe failed";
        return false;
    }
    m_server = fork();
    if (m_server == 0) {
        close(fds[0]);
        SilenceOutput();
        const std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "800x600x24", "-nolisten",
               "tcp", nullptr);
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    for (;;) {
        pollfd p{fds[0], POLLIN, 0};
        char c = 0;
        if (poll(&p, 1, 30000) <= 0 || read(fds[0], &c, 1) != 1 || c == '\n') {
            break;
        }
        number.push_back(c);
    }
    close(fds[0]);
    if (number.empty()) {
        m_error = "Xvfb did not report a display";
        return false;
    }
    m_display = ":" + number;
    return true;
}

bool XSession::StartTray() {
    // trayer gives up at once when its first connection fails; a fresh
    // server sometimes refuses the first clients, so it is started again.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        if (m_tray <= 0) {
            m_tray = fork();
            if (m_tray == 0) {
                SilenceOutput();
                setenv("DISPLAY", m_display.c_str(), 1);
                execlp("trayer", "trayer", "--edge", "top", "--align", "right", "--widthtype",
                       "request", "--height", "32", "--SetDockType", "false", nullptr);
                _exit(127);
            }
        }
        if (TrayOwnerPresent(m_display)) {
            return true;
        }
        if (waitpid(m_tray, nullptr, WNOHANG) == m_tray) {
            m_tray = -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    m_error = "trayer did not take the tray selection";
    return false;
}

int RunOnDisplay(const std::string& display, const std::string& command) {
    const std::string line = "DISPLAY=" + display + " " + command;
    const int status = std::system(line.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

namespace {

std::string CommandOutput(const std::string& display, const std::string& command) {
    const std::string line = "DISPLAY=" + display + " " + command + " 2>/dev/null";
    std::string output;
    if (FILE* pipe = popen(line.c_str(), "r")) {
        char buffer[256];
        while (fgets(buffer, sizeof buffer, pipe) != nullptr) {
            output += buffer;
        }
        pclose(pipe);
    }
    return output;
}

}  // namespace

bool ClickTrayIconOf(const std::string& display, pid_t pid) {
    std::istringstream windows(
        CommandOutput(display, "xdotool search --onlyvisible --pid " + std::to_string(pid)));
    std::string smallest;
    long smallestArea = 0;
    for (std::string window; windows >> window;) {
        std::istringstream shell(
            CommandOutput(display, "xdotool getwindowgeometry --shell " + window));
        long width = 0;
        long height = 0;
        for (std::string line; std::getline(shell, line);) {
            if (line.rfind("WIDTH=", 0) == 0) {
                width = std::stol(line.substr(6));
            } else if (line.rfind("HEIGHT=", 0) == 0) {
                height = std::stol(line.substr(7));
            }
        }
        if (width > 1 && height > 1 && (smallest.empty() || width * height < smallestArea)) {
            smallest = window;
            smallestArea = width * height;
        }
    }
    if (smallest.empty()) {
        return false;
    }
    return RunOnDisplay(display, "xdotool mousemove --window " + smallest + " 5 5 click 1") == 0;
}
