#include "host_port.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>

namespace scansim_test {
namespace {

using Clock = std::chrono::steady_clock;

speed_t SpeedOf(unsigned baud) {
    switch (baud) {
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        default:
            return B115200;
    }
}

int RemainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

std::string CommandFrame(std::string_view command) {
    std::string frame(
        "\x7E\x01"
        "0000");
    if (command.find('@') == std::string_view::npos) {
        frame += '@';
    }
    frame += command;
    frame += ";\x03";
    return frame;
}

std::string ReplyFrame(std::string_view payload, char status) {
    std::string reply(
        "\x02\x01"
        "0000"
        "0");
    reply += payload;
    reply += status;
    reply += ";\x03";
    return reply;
}

HostPort::HostPort(const std::filesystem::path& link, unsigned baud) {
    fd_ = ::open(link.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ >= 0 && !SetBaud(baud)) {
        ::close(fd_);
        fd_ = -1;
    }
}

HostPort::~HostPort() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool HostPort::SetBaud(unsigned baud) {
    termios tio{};
    if (tcgetattr(fd_, &tio) != 0) {
        return false;
    }
    cfmakeraw(&tio);
    cfsetispeed(&tio, SpeedOf(baud));
    cfsetospeed(&tio, SpeedOf(baud));
    return tcsetattr(fd_, TCSANOW, &tio) == 0;
}

bool HostPort::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        if (n > 0) {
            bytes.remove_prefix(static_cast<size_t>(n));
        } else {
            pollfd p{fd_, POLLOUT, 0};
            ::poll(&p, 1, 50);
        }
    }
    return true;
}

std::string HostPort::ReadFor(int ms) {
    return ReadUntilEnd(std::string_view("\xFF\xFE\xFD\xFC never", 10), ms);
}

std::string HostPort::ReadUntilEnd(std::string_view end, int limitMs) {
    std::string bytes;
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    while (!(bytes.size() >= end.size() &&
             bytes.compare(bytes.size() - end.size(), end.size(), end) == 0)) {
        const int left = RemainingMs(deadline);
        if (left == 0) {
            break;
        }
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, left) <= 0) {
            continue;
        }
        char buffer[65536];
        ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n > 0) {
            bytes.append(buffer, static_cast<size_t>(n));
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            break;  // hung up
        }
    }
    return bytes;
}

std::string HostPort::ReadCount(size_t count, int limitMs) {
    std::string bytes;
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    while (bytes.size() < count && RemainingMs(deadline) > 0) {
        std::string more = ReadUntilEnd(std::string_view("\xFF\xFE\xFD never", 9),
                                        std::min(RemainingMs(deadline), 50));
        bytes += more;
    }
    return bytes;
}

std::string HostPort::Ask(std::string_view command, int limitMs) {
    if (!Write(CommandFrame(command))) {
        return {};
    }
    return ReadUntilEnd(";\x03", limitMs);
}

bool HostPort::SeesHangup(int limitMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    while (RemainingMs(deadline) > 0) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, RemainingMs(deadline)) <= 0) {
            continue;
        }
        char buffer[4096];
        ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n == 0 || (n < 0 && errno == EIO)) {
            return true;
        }
    }
    return false;
}

}  // namespace scansim_test
