// The keys that start work beside or instead of the key loop: the echo test
// (C, c, S), the event monitor (E, $, e) and the ReadCom thread (#).
#pragma once

#include "port/win_types.h"

namespace vantrel::app {

// Each answers false when the key loop skips its prompt.
bool EchoClientKey(win::HANDLE port, bool mild);
bool EchoServerKey(win::HANDLE port);
bool EventMonitorKey(win::HANDLE port, bool verbose);
void StopEventMonitorKey();
void ReadComKey(win::HANDLE port);

}  // namespace vantrel::app
