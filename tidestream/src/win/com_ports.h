// The serial ports Windows knows: the values of HARDWARE\DEVICEMAP\SERIALCOMM,
// which every serial driver fills with its ports' COM names (Wine's mountmgr
// does so for the ports of HKLM\Software\Wine\Ports).
#pragma once

#include <vector>

namespace tidestream {

// COM numbers listed there, ascending, each once; values that are no COM
// name are left out. Empty when the key is missing (no serial port).
std::vector<unsigned> ListSerialCommPorts();

}  // namespace tidestream
