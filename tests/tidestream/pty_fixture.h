// Real ptys standing in for scanners: the library opens the slave node, the
// test plays the device on the master. A private runtime namespace links them.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "ferrolink/tidestream/tidestream.h"
#include "platform/runtime_namespace.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"

namespace test {

// A device loop on a pty master: every received chunk is appended to a
// buffer that `serve` consumes (returning how many bytes it used) and answers
// through the pty.
class Device {
  public:
    using Serve = std::function<size_t(const std::string& received, support::PtyPair& pty)>;
    Device(support::PtyPair& pty, Serve serve) : pty_(pty), serve_(std::move(serve)) {
        thread_ = std::thread([this] { Run(); });
    }
    ~Device() {
        stop_ = true;
        thread_.join();
    }

  private:
    void Run() {
        std::string received;
        char buffer[4096];
        while (!stop_) {
            pollfd pfd{pty_.master(), POLLIN, 0};
            if (::poll(&pfd, 1, 20) <= 0 || (pfd.revents & POLLIN) == 0) {
                if ((pfd.revents & (POLLHUP | POLLNVAL)) != 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
                continue;
            }
            const ssize_t n = ::read(pty_.master(), buffer, sizeof buffer);
            if (n <= 0) {
                continue;
            }
            received.append(buffer, static_cast<size_t>(n));
            for (size_t used; !received.empty() && (used = serve_(received, pty_)) > 0;) {
                received.erase(0, used);
            }
        }
    }

    support::PtyPair& pty_;
    Serve serve_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

inline std::string CommandFrame(std::string_view command) {
    return std::string(
               "\x7e\x01"
               "0000@",
               7) +
           std::string(command) + std::string(";\x03", 2);
}
inline std::string ReplyFrame(std::string_view payload, char status = 0x06) {
    return std::string(
               "\x02\x01"
               "0000",
               6) +
           'R' + std::string(payload) + status + std::string(";\x03", 2);
}

// Owns a handle for the length of a test.
class Handle {
  public:
    Handle() : h_(qvds_create()) {}
    ~Handle() { qvds_destory(h_); }
    QVDS_HANDLE get() const { return h_; }
    operator QVDS_HANDLE() const { return h_; }

  private:
    QVDS_HANDLE h_;
};

inline std::u16string UsbPath(std::string_view name) {
    return platform::UsbDevicePathFromName(name);
}

}  // namespace test
