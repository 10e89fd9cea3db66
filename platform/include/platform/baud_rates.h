// Baud rates in bits per second against the termios speed codes, one table
// for every program that opens a tty.
#pragma once

#include <termios.h>

#include <cstdint>
#include <optional>

namespace platform {

// The speed code of `baud`; nullopt for 0 and for rates termios has no code for.
std::optional<speed_t> SpeedFromBaud(uint32_t baud);
// The rate of a speed code; 0 for B0 and for codes not in the table.
uint32_t BaudFromSpeed(speed_t speed);

}  // namespace platform
