// One raw mode, so the data stream, the simulator and the bus daemon see a
// tty the same way.
#include "platform/raw_tty.h"

#include <cerrno>

namespace platform {

void MakeRawTermios(termios& tio, tcflag_t charSize) {
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= (charSize & CSIZE) | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
}

bool SetTermiosSpeed(termios& tio, speed_t speed) {
    return ::cfsetispeed(&tio, speed) == 0 && ::cfsetospeed(&tio, speed) == 0;
}

Error MakeRaw(int fd, std::optional<speed_t> speed) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        return Error::FromErrno("tcgetattr");
    }
    MakeRawTermios(tio);
    if (speed && !SetTermiosSpeed(tio, *speed)) {
        return Error::FromCode(EINVAL, "cfsetspeed");
    }
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        return Error::FromErrno("tcsetattr");
    }
    return {};
}

}  // namespace platform
