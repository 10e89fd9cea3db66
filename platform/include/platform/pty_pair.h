// A pseudo-terminal pair that plays a device's tty node: the slave end is
// what a host program opens, the master end is the device side.
#pragma once

#include <termios.h>

#include <optional>
#include <string>

#include "platform/result.h"
#include "platform/unique_fd.h"

namespace platform {

struct PtyPair {
    UniqueFd master;  // non-blocking
    UniqueFd slave;   // kept open so the master sees no hang-up while no host has it
    std::string slavePath;
};

// A new pair with the slave in raw mode, at `slaveSpeed` when one is given.
Result<PtyPair> OpenPtyPair(std::optional<speed_t> slaveSpeed = std::nullopt);

}  // namespace platform
