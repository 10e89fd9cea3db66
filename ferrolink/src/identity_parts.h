// The text steps of the identity operations.
#pragma once

#include <string>

// The serial part of an identification text: after "Serial Number:" up to two
// characters before "OEM Serial Number:"; empty when a label is missing or the
// labels leave no room; at most 259 characters.
std::string SerialPartOf(const std::string& identification);
// The new device information from a QRYESN reply and a mode; empty unless the
// reply splits into exactly three pieces at ':'.
std::string DeviceInfoWithMode(const std::string& reply, const std::string& mode);
