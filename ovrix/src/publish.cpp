#include "publish.h"

#include <fstream>
#include <system_error>

#include "platform/runtime_namespace.h"

namespace ovrix::detail {

namespace fs = std::filesystem;

namespace {

std::string ComName(unsigned comNumber) {
    return "COM" + std::to_string(comNumber);
}

fs::path ComLinkPath(unsigned comNumber) {
    return platform::RuntimeDir() / std::string(platform::kComFolder) / ComName(comNumber);
}

bool WriteValue(const fs::path& file, const std::string& text) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

}  // namespace

fs::path VbusDir() {
    return platform::RuntimeDir() / std::string(platform::kVbusFolder);
}

fs::path InstanceDir(const std::string& instance) {
    return VbusDir() / "Ktr_vcom" / instance;
}

bool PublishPort(const std::string& instance, unsigned comNumber, const std::string& ttyPath,
                 const std::string& hardwarePath) {
    std::error_code ec;
    fs::create_directories(InstanceDir(instance), ec);
    WriteValue(InstanceDir(instance) / "PortName", ComName(comNumber));
    if (!hardwarePath.empty())
        WriteValue(InstanceDir(instance) / "HardwareDevinstpath", hardwarePath);
    return platform::AddEntry(platform::kComFolder, ComName(comNumber), ttyPath);
}

void PublishUsbOnline(const std::string& instance, bool online) {
    fs::path file = InstanceDir(instance) / "UsbdOnline";
    fs::path temporary = InstanceDir(instance) / ".UsbdOnline.new";
    std::error_code ec;
    if (WriteValue(temporary, online ? "1" : "0"))
        fs::rename(temporary, file, ec);
    else
        fs::remove(temporary, ec);
}

void UnpublishPort(const std::string& instance, unsigned comNumber, const std::string& ttyPath) {
    std::error_code ec;
    fs::remove_all(InstanceDir(instance), ec);
    if (ComLinkTarget(comNumber) == ttyPath)
        platform::RemoveEntry(platform::kComFolder, ComName(comNumber));
}

std::string ComLinkTarget(unsigned comNumber) {
    std::error_code ec;
    fs::path target = fs::read_symlink(ComLinkPath(comNumber), ec);
    return ec ? std::string() : target.string();
}

bool ComLinkExists(unsigned comNumber) {
    std::error_code ec;
    return fs::is_symlink(fs::symlink_status(ComLinkPath(comNumber), ec));
}

}  // namespace ovrix::detail
