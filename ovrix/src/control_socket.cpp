#include "control_socket.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "driver/ovrix_wire.h"

namespace ovrix::detail {

namespace {

bool MakeAddress(const std::filesystem::path& path, sockaddr_un* addr) {
    *addr = sockaddr_un{};
    addr->sun_family = AF_UNIX;
    if (path.native().size() >= sizeof addr->sun_path)
        return false;
    std::memcpy(addr->sun_path, path.c_str(), path.native().size());
    return true;
}

bool SomebodyListens(const sockaddr_un& addr) {
    platform::UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    return fd && ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
}

}  // namespace

platform::UniqueFd ListenControl(const std::filesystem::path& path, std::string* error) {
    sockaddr_un addr;
    if (!MakeAddress(path, &addr)) {
        *error = "control socket path too long: " + path.string();
        return {};
    }
    if (SomebodyListens(addr)) {
        *error = "another ovrixd already serves " + path.string();
        return {};
    }
    ::unlink(path.c_str());
    platform::UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd || ::bind(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd.Get(), 16) != 0) {
        *error = "cannot listen on " + path.string() + ": " + std::strerror(errno);
        return {};
    }
    return fd;
}

AcceptResult AcceptClient(int listenFd) {
    AcceptResult result;
    do {
        result.fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    } while (result.fd < 0 && errno == EINTR);
    if (result.fd < 0) {
        // Nothing waiting, or a client that gave up before it was taken:
        // nothing to wait out. Anything else (no descriptors, no memory)
        // stays until something changes.
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != ECONNABORTED)
            result.error = errno;
        return result;
    }
    ucred cred{};
    socklen_t length = sizeof cred;
    // A client whose user cannot be told is treated as nobody in particular.
    result.uid = ::getsockopt(result.fd, SOL_SOCKET, SO_PEERCRED, &cred, &length) == 0
                     ? cred.uid
                     : static_cast<uid_t>(-1);
    return result;
}

ControlClient::Receive ControlClient::ReceiveMessage(std::vector<uint8_t>* message) {
    // One byte more than the largest request, so an oversized one shows as
    // truncated instead of passing as a shorter valid one.
    message->resize(sizeof(ovrix::RequestHeader) + ovrix::kMaxPayload + 1);
    ssize_t n;
    do {
        n = ::recv(fd_.Get(), message->data(), message->size(), MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        message->clear();  // woken without a message: nothing to answer yet
        return Receive::Nothing;
    }
    if (n <= 0)
        return Receive::Gone;
    message->resize(static_cast<size_t>(n));
    return Receive::Message;
}

ControlClient::Send ControlClient::SendMessage(std::vector<uint8_t> message) {
    if (queue_.size() >= kMaxQueuedAnswers)
        return Send::QueueFull;
    queue_.push_back(std::move(message));
    if (!Flush())
        return Send::Gone;
    return queue_.empty() ? Send::Done : Send::Queued;
}

bool ControlClient::Flush() {
    while (!queue_.empty()) {
        const std::vector<uint8_t>& next = queue_.front();
        ssize_t n;
        do {
            n = ::send(fd_.Get(), next.data(), next.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        } while (n < 0 && errno == EINTR);
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK;
        queue_.pop_front();
    }
    return true;
}

}  // namespace ovrix::detail
