// The hardware behind a COM port, in the form device events name it
// ("usb#vid_1eab&pid_0d10#sim0001"), found among the COM ports of the runtime
// namespace and the virtual COM bus's port values (vbus/Ktr_vcom/<instance>/).
#pragma once

#include <QString>
#include <string>

namespace quillon {

// The port number of vbus/Ktr_vcom/<name> ("COM7" gives 7), -1 when the
// instance or its PortName is missing or not of that form. `hardwarePath`,
// when given, receives HardwareDevinstpath if the instance has one.
int ReadVirtualPortEntry(const std::string& name, std::string* hardwarePath);

// The port number a friendly name such as "Virtual Port (COM12)" gives: the
// number after "(COM"; 0 when a ")" stands before it; -1 when "(COM" or ")"
// is missing.
int PortFromFriendlyName(const std::string& friendlyName);

// Searches the ports for `port`; on a match `out` receives the hardware path
// lower-cased with every "\" replaced by "#", and the result is true.
// Otherwise `out` is left alone.
bool FindPortDevicePath(int port, QString& out);

// The COM port the virtual COM bus made for a USB device ("\\?\usb#...#{class}"
// or "usb#vid_..&pid_..#serial", any case): the bus then holds the device's
// endpoint. -1 when no port of the bus is bound to it.
int VirtualPortOfUsbDevice(const QString& devicePath);

}  // namespace quillon
