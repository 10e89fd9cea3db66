// The port listing's view of the system: the virtual bus publishes each port
// as vbus/Ktr_vcom/<instance>/ with its PortName, and DOS names are the links
// in dosdevices/ of the runtime namespace.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "platform/runtime_namespace.h"
#include "port/com_interfaces.h"
#include "text_helpers.h"

namespace win {
namespace {

namespace fs = std::filesystem;

constexpr char kComPortClass[] = "{86e0d1e0-8089-11d0-9ce4-08003e301f73}";

}  // namespace

std::vector<ComInterface> ListComInterfaces() {
    std::vector<ComInterface> found;
    const fs::path bus = platform::RuntimeDir() / "vbus" / "Ktr_vcom";
    std::error_code error;
    std::vector<fs::path> instances;
    for (const auto& entry : fs::directory_iterator(bus, error))
        if (entry.is_directory(error))
            instances.push_back(entry.path());
    std::sort(instances.begin(), instances.end());
    for (const fs::path& instance : instances) {
        const std::string name = instance.filename().string();
        ComInterface port;
        port.instanceId = "KTR_VBUS\\Ktr_vcom\\" + name;
        port.portName = detail::FirstLineOf(instance / "PortName");
        port.service = "Ktr_ovrix";
        port.devicePath = "\\\\?\\ktr_vbus#ktr_vcom#" + name + "#" + kComPortClass;
        port.hwDevinstpath = detail::FirstLineOf(instance / "HardwareDevinstpath");
        found.push_back(port);
    }
    return found;
}

std::string QueryDosDeviceTarget(const std::string& name) {
    std::error_code error;
    const fs::path target = fs::read_symlink(platform::RuntimeDir() / "dosdevices" / name, error);
    return error ? std::string() : target.string();
}

}  // namespace win
