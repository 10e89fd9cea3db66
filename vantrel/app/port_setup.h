// Port preparation at start: time-outs and baud rate.
#pragma once

#include "port/win_types.h"

namespace vantrel::app {

void ApplyCommTimeouts(win::HANDLE port);
void MySetBaudrate(win::HANDLE port, int baudrate);

}  // namespace vantrel::app
