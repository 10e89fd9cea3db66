#include "support/pty_pair.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace support {

PtyPair::PtyPair() {
    char name[128] = {};
    if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        ADD_FAILURE() << "openpty: " << std::strerror(errno);
        return;
    }
    node_ = name;
    termios tio{};
    ::tcgetattr(master_, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(master_, TCSANOW, &tio);
}

PtyPair::~PtyPair() {
    Close();
}

void PtyPair::Unplug() {
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

void PtyPair::CloseSlave() {
    if (slave_ >= 0) {
        ::close(slave_);
        slave_ = -1;
    }
}

void PtyPair::Close() {
    CloseSlave();
    Unplug();
}

void PtyPair::Send(std::string_view bytes) const {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            ADD_FAILURE() << "write to the pty master: " << std::strerror(errno);
            return;
        }
        if (n > 0)
            done += static_cast<size_t>(n);
    }
}

std::string PtyPair::Receive(size_t want, int timeoutMs) const {
    std::string got;
    char buffer[4096];
    while (got.size() < want) {
        pollfd pfd{master_, POLLIN, 0};
        if (::poll(&pfd, 1, timeoutMs) <= 0)
            break;
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0)
            break;
        got.append(buffer, static_cast<size_t>(n));
    }
    return got;
}

speed_t PtyPair::SlaveSpeed() const {
    termios tio{};
    ::tcgetattr(slave_, &tio);
    return ::cfgetospeed(&tio);
}

}  // namespace support
