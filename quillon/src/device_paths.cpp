#include "device_paths.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/ascii_case.h"
#include "platform/runtime_namespace.h"
#include "trace.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

// The bus's port values are small files; longer ones are cut like the
// 260-byte registry reads they stand for.
constexpr size_t kValueBytes = 259;

fs::path VirtualPortsDir() {
    return platform::RuntimeDir() / std::string(platform::kVbusFolder) / "Ktr_vcom";
}

bool ReadValue(const fs::path& file, std::string& value) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return false;
    }
    value.assign(kValueBytes, '\0');
    in.read(value.data(), static_cast<std::streamsize>(kValueBytes));
    value.resize(static_cast<size_t>(in.gcount()));
    value.erase(std::find(value.begin(), value.end(), '\0'), value.end());
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) {
        value.pop_back();
    }
    return true;
}

std::string Lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return platform::ToLowerAscii(c); });
    return text;
}

// A ports-class device of this system: its instance identifier and the
// friendly name the port list would show.
struct PortDevice {
    std::string instanceId;
    std::string friendlyName;
};

// The virtual COM bus's ports, one device each ("KTR_VBUS\Ktr_vcom\<instance>").
std::vector<PortDevice> ListPortDevices() {
    std::vector<PortDevice> devices;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(VirtualPortsDir(), error)) {
        const std::string instance = entry.path().filename().string();
        std::string portName;
        if (!ReadValue(entry.path() / "PortName", portName)) {
            continue;
        }
        devices.push_back(
            {"KTR_VBUS\\Ktr_vcom\\" + instance, "KTR Virtual Serial Port (" + portName + ")"});
    }
    std::sort(devices.begin(), devices.end(),
              [](const PortDevice& a, const PortDevice& b) { return a.instanceId < b.instanceId; });
    return devices;
}

}  // namespace

int ReadVirtualPortEntry(const std::string& name, std::string* hardwarePath) {
    const fs::path instance = VirtualPortsDir() / name;
    std::string portName;
    if (name.empty() || name.find('/') != std::string::npos ||
        !ReadValue(instance / "PortName", portName)) {
        return -1;
    }
    int port = -1;
    if (portName.rfind("COM", 0) == 0 && portName.size() > 3 &&
        std::isdigit(static_cast<unsigned char>(portName[3]))) {
        port = std::atoi(portName.c_str() + 3);
    }
    std::string hardware;
    if (hardwarePath != nullptr && ReadValue(instance / "HardwareDevinstpath", hardware)) {
        *hardwarePath = hardware;
    }
    return port;
}

int VirtualPortOfUsbDevice(const QString& devicePath) {
    // The name as events give it: lower case, without "\\?\" and the class.
    QString name = devicePath.toLower();
    if (name.startsWith(QStringLiteral("\\\\?\\"))) {
        name = name.mid(4);
    }
    if (const qsizetype classStart = name.indexOf(QStringLiteral("#{")); classStart >= 0) {
        name.truncate(classStart);
    }
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(VirtualPortsDir(), error)) {
        std::string hardware;
        const int port = ReadVirtualPortEntry(entry.path().filename().string(), &hardware);
        std::replace(hardware.begin(), hardware.end(), '\\', '#');
        if (port > 0 && !hardware.empty() && QString::fromStdString(Lowered(hardware)) == name) {
            return port;
        }
    }
    return -1;
}

int PortFromFriendlyName(const std::string& friendlyName) {
    const size_t open = friendlyName.find("(COM");
    const size_t close = friendlyName.find(')');
    if (open == std::string::npos || close == std::string::npos) {
        return -1;
    }
    if (close < open) {
        return 0;
    }
    return std::atoi(friendlyName.c_str() + open + 4);
}

bool FindPortDevicePath(int port, QString& out) {
    std::string result;
    bool found = false;
    int index = 0;
    for (const PortDevice& device : ListPortDevices()) {
        QUILLON_TRACE("i=%i szDis=%s", index, device.instanceId.c_str());
        QUILLON_TRACE("i=%i szFN=%s", index, device.friendlyName.c_str());
        ++index;
        if (PortFromFriendlyName(device.friendlyName) != port) {
            continue;
        }
        const std::string identifier = Lowered(device.instanceId);
        if (identifier.rfind("usb\\", 0) == 0) {
            result = identifier;
        } else {
            const std::string component =
                device.instanceId.substr(device.instanceId.rfind('\\') + 1);
            std::string hardware;
            result = ReadVirtualPortEntry(component, &hardware) == port && !hardware.empty()
                         ? hardware
                         : identifier;
        }
        found = true;
        break;
    }
    if (!found) {
        return false;
    }
    result = Lowered(result);
    std::replace(result.begin(), result.end(), '\\', '#');
    out = QString::fromStdString(result);
    return true;
}

}  // namespace quillon
