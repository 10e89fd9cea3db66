#include "publish.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/com_name.h"
#include "platform/private_folder.h"
#include "platform/runtime_namespace.h"

namespace ovrix::detail {

namespace fs = std::filesystem;

namespace {

// Beside PortName: the tty the COM link was made for, so a bus started after
// this one died knows which links are its leftovers.
constexpr char kComLinkTargetValue[] = "ComLinkTarget";
constexpr size_t kMaxValueBytes = 4096;

std::string ComName(unsigned comNumber) {
    return platform::FormatComName(comNumber);
}

std::string InstanceFolder(const std::string& instance) {
    return std::string(platform::kVbusFolder) + "/Ktr_vcom/" + instance;
}

void Report(const platform::Error& error) {
    if (!error.message.empty())
        std::fprintf(stderr, "ovrixd: %s\n", error.message.c_str());
}

// A value of a private folder, read without following a link; empty when
// it is missing.
std::string ReadValue(const platform::PrivateFolder& folder, const char* name) {
    platform::UniqueFd fd(::openat(folder.Fd(), name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd)
        return {};
    char buffer[kMaxValueBytes];
    ssize_t length = ::read(fd.Get(), buffer, sizeof buffer);
    return length > 0 ? std::string(buffer, static_cast<size_t>(length)) : std::string();
}

std::vector<std::string> FolderNames(const platform::PrivateFolder& folder) {
    std::vector<std::string> names;
    platform::UniqueFd listed(::dup(folder.Fd()));
    DIR* stream = listed ? ::fdopendir(listed.Get()) : nullptr;
    if (stream == nullptr)
        return names;
    listed.Release();  // closedir closes it
    while (const dirent* entry = ::readdir(stream)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(std::move(name));
    }
    ::closedir(stream);
    return names;
}

}  // namespace

fs::path VbusDir() {
    return platform::RuntimeDir() / std::string(platform::kVbusFolder);
}

fs::path InstanceDir(const std::string& instance) {
    return VbusDir() / "Ktr_vcom" / instance;
}

bool PrepareNamespace(std::string* error) {
    if (std::string refusal = platform::RuntimeDirRefusal(); !refusal.empty()) {
        *error = refusal;
        return false;
    }
    // The bus watches usb/, links in dosdevices/ and serves from vbus/.
    for (std::string_view folder :
         {platform::kUsbFolder, platform::kComFolder, platform::kVbusFolder}) {
        const auto opened = platform::OpenRuntimeFolder(folder, true);
        if (!opened) {
            *error = opened.GetError().message;
            return false;
        }
    }
    return true;
}

void RemoveStaleEntries() {
    if (auto bus = platform::OpenRuntimeFolder("vbus/Ktr_vcom", false)) {
        for (const std::string& instance : FolderNames(*bus)) {
            auto values = bus->Sub(instance, false);
            if (!values)
                continue;
            const std::string portName = ReadValue(*values, "PortName");
            const std::string target = ReadValue(*values, kComLinkTargetValue);
            std::error_code ec;
            if (!portName.empty() && !target.empty() &&
                fs::read_symlink(
                    platform::RuntimeDir() / std::string(platform::kComFolder) / portName, ec) ==
                    target)
                platform::RemoveEntry(platform::kComFolder, portName);
        }
        // The folder was checked as the user's own: nothing in it leads out.
        std::error_code ec;
        fs::remove_all(bus->Path(), ec);
    }
    if (auto vbus = platform::OpenRuntimeFolder(platform::kVbusFolder, false)) {
        struct stat st {};
        if (::fstatat(vbus->Fd(), "datapipe", &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
            ::unlinkat(vbus->Fd(), "datapipe", 0);
    }
}

bool PublishPort(const std::string& instance, unsigned comNumber, const std::string& ttyPath,
                 const std::string& hardwarePath) {
    auto values = platform::OpenRuntimeFolder(InstanceFolder(instance), true);
    platform::Result<void> written = values ? values->WriteValue("PortName", ComName(comNumber))
                                            : platform::Result<void>(values.GetError());
    if (written)
        written = values->WriteValue(kComLinkTargetValue, ttyPath);
    if (written && !hardwarePath.empty())
        written = values->WriteValue("HardwareDevinstpath", hardwarePath);
    if (!written) {
        Report(written.GetError());
        return false;
    }
    return platform::AddEntry(platform::kComFolder, ComName(comNumber), ttyPath).Ok();
}

void PublishUsbOnline(const std::string& instance, bool online) {
    auto values = platform::OpenRuntimeFolder(InstanceFolder(instance), false);
    if (!values) {
        Report(values.GetError());
        return;
    }
    if (const auto written = values->WriteValue("UsbdOnline", online ? "1" : "0"); !written)
        Report(written.GetError());
}

void UnpublishPort(const std::string& instance, unsigned comNumber, const std::string& ttyPath) {
    if (auto values = platform::OpenRuntimeFolder(InstanceFolder(instance), false)) {
        std::error_code ec;
        fs::remove_all(values->Path(), ec);
    }
    if (ComLinkTarget(comNumber) == ttyPath)
        platform::RemoveEntry(platform::kComFolder, ComName(comNumber));
}

std::string ComLinkTarget(unsigned comNumber) {
    auto links = platform::OpenRuntimeFolder(platform::kComFolder, false);
    if (!links)
        return {};
    char target[kMaxValueBytes];
    ssize_t length =
        ::readlinkat(links->Fd(), ComName(comNumber).c_str(), target, sizeof target - 1);
    return length > 0 ? std::string(target, static_cast<size_t>(length)) : std::string();
}

bool ComLinkExists(unsigned comNumber) {
    auto links = platform::OpenRuntimeFolder(platform::kComFolder, false);
    struct stat st {};
    return links &&
           ::fstatat(links->Fd(), ComName(comNumber).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISLNK(st.st_mode);
}

bool ComLinkLive(unsigned comNumber) {
    auto links = platform::OpenRuntimeFolder(platform::kComFolder, false);
    struct stat st {};
    return links && ComLinkExists(comNumber) &&
           ::fstatat(links->Fd(), ComName(comNumber).c_str(), &st, 0) == 0;
}

}  // namespace ovrix::detail
