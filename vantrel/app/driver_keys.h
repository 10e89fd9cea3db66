// Requests to the virtual COM bus and to the open virtual port: bus tests,
// the one-time temporal lifemode, the device state and the unplug/reinstall
// actions.
#pragma once

#include <cstdint>

#include "port/win_types.h"

namespace vantrel::app {

// Opens the bus device and sends `code` without buffers; 0 or the error.
uint32_t VbusIoctl(uint32_t code, bool readOnly);
void VbusTest(bool write);
void LifemodeKey(win::HANDLE port, int key);
void PrintDeviceState(win::HANDLE port);

}  // namespace vantrel::app
