#include "tty.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace ovrix::detail {

namespace {

void MakeRaw(int fd) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return;
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
}

}  // namespace

bool OpenPty(Pty* pty) {
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0)
        return false;
    char name[128];
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name, sizeof name) != 0) {
        ::close(master);
        return false;
    }
    int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        ::close(master);
        return false;
    }
    MakeRaw(slave);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    pty->master = master;
    pty->slave = slave;
    pty->slavePath = name;
    return true;
}

void ClosePty(Pty* pty) {
    CloseFd(&pty->master);
    CloseFd(&pty->slave);
}

int OpenEndpoint(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0)
        MakeRaw(fd);
    return fd;
}

void CloseFd(int* fd) {
    if (*fd >= 0)
        ::close(*fd);
    *fd = -1;
}

}  // namespace ovrix::detail
