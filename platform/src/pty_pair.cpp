// The simulator and the bus daemon both stand in for devices with ptys; they
// open them the same way here.
#include "platform/pty_pair.h"

#include <fcntl.h>
#include <stdlib.h>

#include "platform/raw_tty.h"

namespace platform {

Result<PtyPair> OpenPtyPair(std::optional<speed_t> slaveSpeed) {
    PtyPair pair;
    pair.master.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!pair.master) {
        return Error::FromErrno("posix_openpt");
    }
    if (::grantpt(pair.master.Get()) != 0 || ::unlockpt(pair.master.Get()) != 0) {
        return Error::FromErrno("unlockpt");
    }
    char name[128] = {};
    if (const int error = ::ptsname_r(pair.master.Get(), name, sizeof name); error != 0) {
        return Error::FromCode(error, "ptsname");
    }
    pair.slave.Reset(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!pair.slave) {
        return Error::FromErrno(std::string("open ") + name);
    }
    if (Error error = MakeRaw(pair.slave.Get(), slaveSpeed); error.Failed()) {
        return error;
    }
    const int flags = ::fcntl(pair.master.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(pair.master.Get(), F_SETFL, flags | O_NONBLOCK) != 0) {
        return Error::FromErrno("fcntl O_NONBLOCK");
    }
    pair.slavePath = name;
    return pair;
}

}  // namespace platform
