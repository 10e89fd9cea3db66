// COM-port interfaces of the system as the port listing sees them, and the
// target a DOS name points to. Implemented by the port layer
// (com_interfaces.cpp), the only place the console makes OS calls.
#pragma once

#include <string>
#include <vector>

namespace win {

struct ComInterface {
    std::string instanceId;     // e.g. KTR_VBUS\Ktr_vcom\0001
    std::string portName;       // PortName value; empty when missing
    std::string service;        // service name; empty when unknown
    std::string devicePath;     // the interface's open path
    std::string hwDevinstpath;  // device behind a virtual port; empty when none
};

std::vector<ComInterface> ListComInterfaces();
// Target of the DOS name (`COM7`), empty when the name is not there.
std::string QueryDosDeviceTarget(const std::string& name);

}  // namespace win
