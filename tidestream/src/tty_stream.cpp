#include "tty_stream.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "platform/baud_rates.h"
#include "platform/deadline.h"
#include "platform/raw_tty.h"
#include "platform/unique_fd.h"

#include "ferrolink/tidestream/tidestream.h"
#include "platform/tick.h"

namespace tidestream {
namespace {

// Longest wait for a write to drain into a device that does not read.
constexpr uint32_t kWriteTimeoutMs = 5000;

int ErrorFromErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENXIO:
        case ENODEV:
        case ENOTDIR:
        case ENOTTY:
            return QVDS_ERR_NO_DEVICE;
        case EBUSY:
        case EWOULDBLOCK:
            return QVDS_ERR_BUSY;
        case EACCES:
        case EPERM:
        case EROFS:
            return QVDS_ERR_ACCESS;
        default:
            return QVDS_ERR_IO;
    }
}

// Raw 8-bit (or fewer) characters, no parity, one stop bit, no flow control.
int ApplyLineSettings(int fd, uint32_t baudRate, uint8_t dataBits) {
    const std::optional<speed_t> speed = platform::SpeedFromBaud(baudRate);
    if (!speed) {
        return QVDS_ERR_SETTINGS;
    }
    tcflag_t size;
    switch (dataBits == 0 ? 8 : dataBits) {
        case 5:
            size = CS5;
            break;
        case 6:
            size = CS6;
            break;
        case 7:
            size = CS7;
            break;
        case 8:
            size = CS8;
            break;
        default:
            return QVDS_ERR_SETTINGS;
    }
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        return ErrorFromErrno(errno);
    }
    // VMIN 1 with O_NONBLOCK: an empty read says EAGAIN, so 0 only means hang-up.
    platform::MakeRawTermios(tio, size);
    if (!platform::SetTermiosSpeed(tio, *speed) || ::tcsetattr(fd, TCSANOW, &tio) != 0) {
        return QVDS_ERR_SETTINGS;
    }
    return QVDS_OK;
}

// Keeps other programs off the node: TIOCEXCL refuses further opens (except
// root's), and the advisory lock refuses every cooperating opener.
int TakeExclusive(int fd) {
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return errno == EWOULDBLOCK ? QVDS_ERR_BUSY : ErrorFromErrno(errno);
    }
    if (::ioctl(fd, TIOCEXCL) != 0) {
        return ErrorFromErrno(errno);
    }
    return QVDS_OK;
}

}  // namespace

TtyStream::TtyStream()
    : wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      gone_(std::make_shared<std::atomic<bool>>(false)),
      notifier_(gone_) {}

TtyStream::~TtyStream() {
    Close();
}

int TtyStream::Open(const std::filesystem::path& node, uint32_t baudRate, uint8_t dataBits) {
    Close();
    platform::UniqueFd opened(::open(node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!opened) {
        return ErrorFromErrno(errno);
    }
    const int fd = opened.Get();
    int error = ::isatty(fd) ? TakeExclusive(fd) : QVDS_ERR_NO_DEVICE;
    if (error == QVDS_OK) {
        error = ApplyLineSettings(fd, baudRate, dataBits);
    }
    if (error == QVDS_OK) {
        ::tcflush(fd, TCIOFLUSH);
    }
    if (error != QVDS_OK) {
        ::ioctl(fd, TIOCNXCL);
        return error;
    }
    std::lock_guard lock(ioMutex_);
    pending_.clear();
    gone_->store(false);
    uint64_t drained;
    [[maybe_unused]] auto n = ::read(wakeFd_.Get(), &drained, sizeof drained);
    fd_ = opened.Release();
    return QVDS_OK;
}

bool TtyStream::IsOpen() {
    const int fd = fd_.load();
    if (fd < 0 || gone_->load()) {
        return false;
    }
    pollfd pfd{fd, POLLIN, 0};
    if (::poll(&pfd, 1, 0) < 0) {
        return errno == EINTR;
    }
    if ((pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        gone_->store(true);
        return false;
    }
    return true;
}

bool TtyStream::Clean() {
    std::lock_guard lock(ioMutex_);
    const int fd = fd_.load();
    if (fd < 0) {
        return false;
    }
    pending_.clear();
    return ::tcflush(fd, TCIFLUSH) == 0;
}

bool TtyStream::Write(const void* data, uint32_t length) {
    std::lock_guard lock(ioMutex_);
    const int fd = fd_.load();
    if (fd < 0 || (data == nullptr && length != 0)) {
        return false;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    const platform::Deadline deadline(kWriteTimeoutMs);
    uint32_t written = 0;
    while (written < length) {
        const ssize_t n = ::write(fd, bytes + written, length - written);
        if (n > 0) {
            written += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            if (errno == EIO) {
                gone_->store(true);
            }
            return false;
        }
        if (deadline.Expired()) {
            return false;
        }
        pollfd fds[2] = {{fd, POLLOUT, 0}, {wakeFd_.Get(), POLLIN, 0}};
        if (::poll(fds, 2, deadline.RemainingPollMs()) < 0 && errno != EINTR) {
            return false;
        }
        if ((fds[1].revents & POLLIN) != 0 || (fds[0].revents & (POLLHUP | POLLERR)) != 0) {
            return false;
        }
    }
    return true;
}

void TtyStream::Close() {
    // The reader thread must be gone before its fd is closed.
    notifier_.Stop();
    const uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(wakeFd_.Get(), &one, sizeof one);
    std::lock_guard lock(ioMutex_);
    platform::UniqueFd closing(fd_.exchange(-1));
    if (closing) {
        ::ioctl(closing.Get(), TIOCNXCL);
        closing.Reset();  // also drops the advisory lock
    }
    pending_.clear();
}

}  // namespace tidestream
