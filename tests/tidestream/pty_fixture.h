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

namespace test {

class TempRuntimeDir {
  public:
    TempRuntimeDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "ktr-ts-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            ADD_FAILURE() << "mkdtemp failed";
        }
        path_ = pattern;
        ::setenv("KTR_RUNTIME_DIR", path_.c_str(), 1);
    }
    ~TempRuntimeDir() {
        ::unsetenv("KTR_RUNTIME_DIR");
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// The device end of a pty. The test keeps a slave fd of its own so that it
// can read the line settings the library gave the slave.
class Pty {
  public:
    Pty() {
        char name[128] = {};
        if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
            ADD_FAILURE() << "openpty failed";
        }
        node_ = name;
        termios tio{};
        ::tcgetattr(master_, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(master_, TCSANOW, &tio);
    }
    ~Pty() {
        CloseSlave();
        Unplug();
    }
    // Closing the master hangs up the slave: the device has gone.
    void Unplug() {
        if (master_ >= 0) {
            ::close(master_);
            master_ = -1;
        }
    }
    void CloseSlave() {
        if (slave_ >= 0) {
            ::close(slave_);
            slave_ = -1;
        }
    }
    void Send(std::string_view bytes) const {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                ADD_FAILURE() << "write to master failed";
                return;
            }
            if (n > 0) {
                done += static_cast<size_t>(n);
            }
        }
    }
    // Everything the library sent within timeoutMs, stopping once `want`
    // bytes have come.
    std::string Receive(size_t want, int timeoutMs = 5000) const {
        std::string got;
        char buffer[4096];
        while (got.size() < want) {
            pollfd pfd{master_, POLLIN, 0};
            if (::poll(&pfd, 1, timeoutMs) <= 0) {
                break;
            }
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            got.append(buffer, static_cast<size_t>(n));
        }
        return got;
    }
    speed_t SlaveSpeed() const {
        termios tio{};
        ::tcgetattr(slave_, &tio);
        return ::cfgetospeed(&tio);
    }
    const std::filesystem::path& node() const { return node_; }
    int master() const { return master_; }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::filesystem::path node_;
};

// A device loop on a pty master: every received chunk is appended to a
// buffer that `serve` consumes (returning how many bytes it used) and answers
// through the pty.
class Device {
  public:
    using Serve = std::function<size_t(const std::string& received, Pty& pty)>;
    Device(Pty& pty, Serve serve) : pty_(pty), serve_(std::move(serve)) {
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

    Pty& pty_;
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
