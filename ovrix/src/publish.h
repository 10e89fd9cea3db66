// What ovrixd shows in the runtime namespace: dosdevices/COM<n> links and the
// per-port values under vbus/Ktr_vcom/<instance>/. Every folder is opened as
// a private folder of the user, and values are written by rename, never
// through a link.
#pragma once

#include <filesystem>
#include <string>

namespace ovrix::detail {

std::filesystem::path VbusDir();
std::filesystem::path InstanceDir(const std::string& instance);

// Makes (0700) and checks the namespace and its usb, dosdevices and vbus
// folders; false with the refusal line in `error` when one is not the user's
// own.
bool PrepareNamespace(std::string* error);
// Removes what a bus that died left behind: each port's COM link while it
// still points at the tty that bus gave it, the data pipe link and the port
// values. Called before the new bus makes any link.
void RemoveStaleEntries();

// Links dosdevices/COM<n> to the tty and writes PortName and, when known,
// HardwareDevinstpath. false when the values or the link could not be made;
// a refusal (a link planted under a value's name) is printed as one line.
bool PublishPort(const std::string& instance, unsigned comNumber, const std::string& ttyPath,
                 const std::string& hardwarePath);
// Writes UsbdOnline ("1" or "0"): whether the scanner behind a kept port is
// there. Replaced by rename, so a reader never sees it half-written; programs
// with the port open watch it to end their pending reads when the scanner goes.
void PublishUsbOnline(const std::string& instance, bool online);
// Removes the instance's values, and the COM link while it still points at
// the tty (a link somebody else replaced is theirs).
void UnpublishPort(const std::string& instance, unsigned comNumber, const std::string& ttyPath);

// Target the COM link holds now; empty when there is none.
std::string ComLinkTarget(unsigned comNumber);
// True when dosdevices/COM<n> exists at all (even with a dead target).
bool ComLinkExists(unsigned comNumber);
// True when dosdevices/COM<n> is there and its target too: the number is
// somebody's port, whatever the link names.
bool ComLinkLive(unsigned comNumber);

}  // namespace ovrix::detail
