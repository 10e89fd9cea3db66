// The tty side of ovrixd: ptys for virtual ports and the USB endpoint's node.
#pragma once

#include <string>

#include "platform/pty_pair.h"
#include "platform/unique_fd.h"

namespace ovrix::detail {

// A pty whose slave side the daemon keeps open itself, so the master never
// sees a hang-up while no program has the port open.
using Pty = platform::PtyPair;

// Opens a raw pty (no echo, no line discipline). false on failure.
bool OpenPty(Pty* pty);
void ClosePty(Pty* pty);

// Opens a USB endpoint's tty node raw and non-blocking; an empty owner on failure.
platform::UniqueFd OpenEndpoint(const std::string& path);

}  // namespace ovrix::detail
