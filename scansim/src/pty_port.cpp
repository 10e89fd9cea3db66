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

namespace scansim {
namespace {

unsigned SpeedToBaud(speed_t speed) {
    switch (speed) {
        case B1200:
            return 1200;
        case B2400:
            return 2400;
        case B4800:
            return 4800;
        case B9600:
            return 9600;
        case B19200:
            return 19200;
        case B38400:
            return 38400;
        case B57600:
            return 57600;
        case B115200:
            return 115200;
        case B230400:
            return 230400;
        case B460800:
            return 460800;
        case B921600:
            return 921600;
        default:
            return 0;
    }
}

}  // namespace

bool PtyPort::Open(std::string& error) {
    Close();
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        error = std::string("posix_openpt: ") + std::strerror(errno);
        if (master >= 0) {
            ::close(master);
        }
        return false;
    }
    char name[256] = {};
    if (ptsname_r(master, name, sizeof name) != 0) {
        error = std::string("ptsname: ") + std::strerror(errno);
        ::close(master);
        return false;
    }
    int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        error = std::string("open slave: ") + std::strerror(errno);
        ::close(master);
        return false;
    }
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    tcsetattr(slave, TCSANOW, &tio);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    master_ = master;
    slave_ = slave;
    slavePath_ = name;
    return true;
}

void PtyPort::Close() {
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
    if (slave_ >= 0) {
        ::close(slave_);
        slave_ = -1;
    }
    slavePath_.clear();
}

unsigned PtyPort::SlaveBaud() const {
    termios tio{};
    if (slave_ < 0 || tcgetattr(slave_, &tio) != 0) {
        return 0;
    }
    // An input speed of 0 means "the same as the output speed".
    const speed_t input = cfgetispeed(&tio);
    return SpeedToBaud(input != B0 ? input : cfgetospeed(&tio));
}

PtyPort::WaitResult PtyPort::Wait(int wakeFd, int timeoutMs) const {
    pollfd fds[2] = {{wakeFd, POLLIN, 0}, {master_, POLLIN, 0}};
    const nfds_t count = master_ >= 0 ? 2 : 1;
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
    ssize_t n = ::read(master_, buffer, size);
    if (n < 0) {
        return errno == EAGAIN || errno == EINTR ? 0 : -1;
    }
    return n;
}

bool PtyPort::WriteAll(std::string_view bytes, int giveUpMs) const {
    int idleMs = 0;
    while (!bytes.empty()) {
        if (master_ < 0) {
            return false;
        }
        ssize_t n = ::write(master_, bytes.data(), bytes.size());
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
        pollfd fd{master_, POLLOUT, 0};
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
    for (int waited = 0; slave_ >= 0 && waited < limitMs; waited += kStepMs) {
        int unread = 0;
        if (ioctl(slave_, FIONREAD, &unread) != 0) {
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

WakeHandle::~WakeHandle() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void WakeHandle::Signal() const {
    uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(fd_, &one, sizeof one);
}

void WakeHandle::Drain() const {
    uint64_t value = 0;
    [[maybe_unused]] auto n = ::read(fd_, &value, sizeof value);
}

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace scansim
