// The echo keys of the console: client in Urge ('C') or Mild ('c') mode and
// server ('S'), each with its logs, opening and closing lines.
#pragma once

#include "echo_config.h"
#include "port/win_types.h"

namespace vantrel::echo {

// Each answers false when a log file could not be opened (the key loop then
// skips its prompt).
bool RunEchoClient(win::HANDLE port, const EchoConfig& config, bool mild,
                   const ConsoleHooks& hooks);
bool RunEchoServer(win::HANDLE port, const EchoConfig& config, const ConsoleHooks& hooks);

}  // namespace vantrel::echo
