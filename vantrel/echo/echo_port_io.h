// Port preparation and plain reads shared by the echo client and server.
#pragma once

#include <cstdint>

#include "echo_config.h"
#include "port/win_types.h"

namespace vantrel::echo {

// The run's read time-outs; the write constant is the given one, else
// MAXDWORD-1 (a write ends only when all of it went out).
bool ApplyEchoTimeouts(win::HANDLE port, const EchoConfig& config);
// Queue size on both ends: the chunk maximum times the queue factor.
win::DWORD EchoQueueBytes(const EchoConfig& config);
// One read that waits at most `milliseconds`; bytes read (maybe 0), or -1.
int ReadFile_Sync_timeout(win::HANDLE port, void* buffer, uint32_t count, uint32_t milliseconds);
// Drops what waits in the data pipe, reading until a wait brings nothing.
void ClearDatapipe(win::HANDLE port, uint32_t milliseconds);

}  // namespace vantrel::echo
