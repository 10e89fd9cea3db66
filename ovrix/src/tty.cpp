#include "tty.h"

#include <fcntl.h>

#include <utility>

#include "platform/raw_tty.h"

namespace ovrix::detail {

bool OpenPty(Pty* pty) {
    auto pair = platform::OpenPtyPair();
    if (!pair)
        return false;
    *pty = std::move(*pair);
    return true;
}

void ClosePty(Pty* pty) {
    pty->master.Reset();
    pty->slave.Reset();
}

platform::UniqueFd OpenEndpoint(const std::string& path) {
    platform::UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd)
        platform::MakeRaw(fd.Get());
    return fd;
}

}  // namespace ovrix::detail
