// Shared test fixtures: a private runtime namespace, real pseudo-terminal
// pairs published as COM ports, and helpers to talk to the device side.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/runtime_namespace.h"
#include "port/win_port.h"
#include "port/win_port_errors.h"
#include "support/temp_dir.h"

namespace porttest {

using namespace std::chrono_literals;

// Points the runtime namespace at a fresh temporary folder for one test.
using RuntimeDirScope = support::RuntimeDir;

// The device side of a port: the master of a pty pair.
class Pty {
  public:
    Pty() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0)
            slave_ = ::ptsname(master_);
    }
    ~Pty() { HangUp(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& SlavePath() const { return slave_; }
    // The device disappears: the port sees a hang-up.
    void HangUp() {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }
    void Send(const std::string& bytes) const {
        ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Reads until `count` bytes arrived or a generous limit passed.
    std::string Receive(size_t count, std::chrono::milliseconds limit = 5000ms) const {
        std::string got;
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            char buf[4096];
            ssize_t n = ::read(master_, buf, std::min(sizeof buf, count - got.size()));
            if (n > 0)
                got.append(buf, static_cast<size_t>(n));
        }
        return got;
    }
    int MasterFd() const { return master_; }

  private:
    int master_ = -1;
    std::string slave_;
};

// Publishes a pty as COM<n> in the namespace.
inline void PublishCom(unsigned n, const Pty& pty) {
    ASSERT_TRUE(
        platform::AddEntry(platform::kComFolder, "COM" + std::to_string(n), pty.SlavePath()));
}

inline win::HANDLE OpenOverlapped(const std::string& path, bool readOnly = false) {
    using namespace win;
    DWORD access = readOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    return CreateFile(path.c_str(), access, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                      nullptr);
}

inline void SetTimeouts(win::HANDLE port, win::DWORD ri, win::DWORD rm, win::DWORD rc,
                        win::DWORD wm = 0, win::DWORD wc = 0) {
    win::COMMTIMEOUTS t{ri, rm, rc, wm, wc};
    ASSERT_TRUE(win::SetCommTimeouts(port, &t));
}

// One overlapped request with its own manual-reset event.
struct OverlappedCall {
    win::OVERLAPPED ov{};
    win::HANDLE event = nullptr;
    OverlappedCall() {
        event = win::CreateEvent(nullptr, win::TRUE, win::FALSE, nullptr);
        ov.hEvent = event;
    }
    ~OverlappedCall() { win::CloseHandle(event); }
    OverlappedCall(const OverlappedCall&) = delete;
    OverlappedCall& operator=(const OverlappedCall&) = delete;
};

}  // namespace porttest
