// Raw mode for ttys and pseudo-terminals: bytes pass unchanged, no echo, no
// line editing, no signals, no flow control, the modem lines ignored, and a
// read returns as soon as one byte is there.
#pragma once

#include <termios.h>

#include <optional>

#include "platform/error.h"

namespace platform {

// Turns `tio` into raw mode with the character size `charSize` (CS5 to CS8),
// no parity, one stop bit and the receiver on; the speed is left as it is.
void MakeRawTermios(termios& tio, tcflag_t charSize = CS8);
// Sets the input and output speed of `tio`; false when termios refuses it.
bool SetTermiosSpeed(termios& tio, speed_t speed);

// Puts the tty `fd` into raw mode (8 bits), at `speed` when one is given.
Error MakeRaw(int fd, std::optional<speed_t> speed = std::nullopt);

}  // namespace platform
