// The tty side of ovrixd: ptys for virtual ports and the USB endpoint's node.
#pragma once

#include <string>

namespace ovrix::detail {

// A pty whose slave side the daemon keeps open itself, so the master never
// sees a hang-up while no program has the port open.
struct Pty {
    int master = -1;
    int slave = -1;
    std::string slavePath;
};

// Opens a raw pty (no echo, no line discipline). false on failure.
bool OpenPty(Pty* pty);
void ClosePty(Pty* pty);

// Opens a USB endpoint's tty node raw and non-blocking; -1 on failure.
int OpenEndpoint(const std::string& path);

void CloseFd(int* fd);

}  // namespace ovrix::detail
