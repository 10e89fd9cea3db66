#include "pty_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

#include "platform/baud_rates.h"
#include "platform/pty_pair.h"

namespace scansim {
namespace {

// The rate the node starts at, before a host sets its own.
constexpr uint32_t kInitialBaud = 115200;

}  // namespace

bool PtyPort::Open(std::string& error) {
    Close();
    auto pair = platform::OpenPtyPair(platform::SpeedFromBaud(kInitialBaud));
    if (!pair) {
        error = pair.GetError().message;
        return false;
    }
    master_ = std::move(pair->master);
    slave_ = std::move(pair->slave);
    slavePath_ = std::move(pair->slavePath);
    return true;
}

void PtyPort::Close() {
    master_.Reset();
    slave_.Reset();
    slavePath_.clear();
}

unsigned PtyPort::SlaveBaud() const {
    termios tio{};
    if (!slave_ || tcgetattr(slave_.Get(), &tio) != 0) {
        return 0;
    }
    // An input speed of 0 means "the same as the output speed".
    const speed_t input = cfgetispeed(&tio);
    return platform::BaudFromSpeed(input != B0 ? input : cfgetospeed(&tio));
}

PtyPort::WaitResult PtyPort::Wait(int wakeFd, int timeoutMs) const {
    pollfd fds[2] = {{wakeFd, POLLIN, 0}, {master_.Get(), POLLIN, 0}};
    const nfds_t count = master_ ? 2 : 1;
    int n = ::poll(fds, count, timeoutMs);
    if (n <= 0) {
        return WaitResult::kTimeout;
    }
    if (fds[0].revents & POLLIN) {
        return WaitResult::kWoken;
    }
    if (count == 2 && (fds[1].revents & POLLIN)) {
        return WaitResult::kReadable;
    }
    return count == 2 && (fds[1].revents & (POLLHUP | POLLERR)) ? WaitResult::kHangup
                                                                : WaitResult::kTimeout;
}

long PtyPort::Read(char* buffer, size_t size) const {
    ssize_t n = ::read(master_.Get(), buffer, size);
    if (n < 0) {
        return errno == EAGAIN || errno == EINTR ? 0 : -1;
    }
    return n;
}

bool PtyPort::WriteAll(std::string_view bytes, int giveUpMs) const {
    int idleMs = 0;
    while (!bytes.empty()) {
        if (!master_) {
            return false;
        }
        ssize_t n = ::write(master_.Get(), bytes.data(), bytes.size());
        if (n > 0) {
            bytes.remove_prefix(static_cast<size_t>(n));
            idleMs = 0;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        if (idleMs >= giveUpMs) {
            return false;
        }
        pollfd fd{master_.Get(), POLLOUT, 0};
        ::poll(&fd, 1, 50);
        idleMs += 50;
    }
    return true;
}

void PtyPort::WaitDrained(int limitMs) const {
    // Bytes written to the master reach the slave's queue a little later, so
    // "nothing unread" counts only after they were seen there or a while passed.
    constexpr int kStepMs = 5;
    constexpr int kArrivalMs = 200;
    bool seen = false;
    for (int waited = 0; slave_ && waited < limitMs; waited += kStepMs) {
        int unread = 0;
        if (ioctl(slave_.Get(), FIONREAD, &unread) != 0) {
            return;
        }
        if (unread > 0) {
            seen = true;
        } else if (seen || waited >= kArrivalMs) {
            return;
        }
        SleepMs(kStepMs);
    }
}

WakeHandle::WakeHandle() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void WakeHandle::Signal() const {
    uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(fd_.Get(), &one, sizeof one);
}

void WakeHandle::Drain() const {
    uint64_t value = 0;
    [[maybe_unused]] auto n = ::read(fd_.Get(), &value, sizeof value);
}

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace scansim
