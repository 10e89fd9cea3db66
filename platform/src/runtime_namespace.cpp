// The runtime namespace: device names kept as symbolic links in one folder
// tree, so every program finds USB endpoints and COM ports the same way.
#include "platform/runtime_namespace.h"

#include "platform/ascii_case.h"
#include "platform/codepage.h"
#include "platform/com_name.h"
#include "platform/utf16.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace platform {
namespace {

constexpr std::u16string_view kDevicePathPrefix = u"\\\\?\\";

// A name must stay inside its folder: no separators, no dot names.
bool IsSafeEntryName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

// Unix98 pseudo-terminal slaves (/dev/pts/N); they have no sysfs entry.
constexpr unsigned kPtySlaveMajorFirst = 136;
constexpr unsigned kPtySlaveMajorLast = 143;
// /dev/tty, /dev/console and /dev/ptmx: terminals, but never a device port.
constexpr unsigned kTtyAuxMajor = 5;

// A character device that is a terminal: a pseudo-terminal slave or a device
// of the tty class (ttyS, ttyUSB, ttyACM, ...).
bool IsTerminalNode(const std::filesystem::path& node) {
    struct stat st {};
    if (::stat(node.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
        return false;
    }
    const unsigned major = ::major(st.st_rdev);
    if (major >= kPtySlaveMajorFirst && major <= kPtySlaveMajorLast) {
        return true;
    }
    if (major == kTtyAuxMajor) {
        return false;
    }
    const std::string subsystem = "/sys/dev/char/" + std::to_string(major) + ":" +
                                  std::to_string(::minor(st.st_rdev)) + "/subsystem";
    std::error_code error;
    const auto owner = std::filesystem::canonical(subsystem, error);
    return !error && owner.filename() == "tty";
}

// The link's final target when it exists; a dangling link counts as absent.
std::optional<std::filesystem::path> ResolveLink(const std::filesystem::path& link) {
    std::error_code error;
    auto target = std::filesystem::canonical(link, error);
    if (error) {
        return std::nullopt;
    }
    return target;
}

// The terminal behind folder/name, nullopt when the folder is refused, the
// entry is missing or dangling, or its target is no terminal.
std::optional<std::filesystem::path> ResolveDevice(std::string_view folder, std::string_view name) {
    const auto dir = OpenRuntimeFolder(folder, false);
    if (!dir) {
        return std::nullopt;
    }
    auto target = ResolveLink(dir->Path() / std::string(name));
    if (!target || !IsTerminalNode(*target)) {
        return std::nullopt;
    }
    return target;
}

}  // namespace

std::filesystem::path RuntimeDir() {
    if (const char* dir = std::getenv("KTR_RUNTIME_DIR"); dir != nullptr && *dir != '\0') {
        return dir;
    }
    if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg != nullptr && *xdg != '\0') {
        return std::filesystem::path(xdg) / "ktr";
    }
    return std::filesystem::path("/tmp") / ("ktr-" + std::to_string(getuid()));
}

Result<PrivateFolder> OpenRuntimeFolder(std::string_view folder, bool create) {
    Result<PrivateFolder> dir = PrivateFolder::Open(RuntimeDir(), create);
    while (dir && !folder.empty()) {
        const size_t slash = folder.find('/');
        const std::string_view level = folder.substr(0, slash);
        folder = slash == std::string_view::npos ? std::string_view() : folder.substr(slash + 1);
        if (!level.empty()) {
            dir = dir->Sub(level, create);
        }
    }
    return dir;
}

std::string RuntimeDirRefusal() {
    const auto dir = OpenRuntimeFolder({}, true);
    if (!dir) {
        const Error error = dir.GetError();
        return error.message.empty()
                   ? "cannot open " + RuntimeDir().string() + ": " + std::strerror(error.code)
                   : error.message;
    }
    return {};
}

std::u16string UsbDevicePathFromName(std::string_view name) {
    std::u16string path(kDevicePathPrefix);
    // Entry names are UTF-8 (a serial number may carry other letters), and
    // the way back reads the path as UTF-16: decode, so both ways agree.
    path += MultiByteToWide(kUtf8CodePage, name).value_or(std::u16string());
    path += u'#';
    for (char c : kUsbInterfaceClass) {
        path += static_cast<char16_t>(c);
    }
    return path;
}

std::string UsbNameFromDevicePath(std::u16string_view devicePath) {
    if (devicePath.size() < kDevicePathPrefix.size() ||
        devicePath.substr(0, kDevicePathPrefix.size()) != kDevicePathPrefix) {
        return {};
    }
    auto rest = devicePath.substr(kDevicePathPrefix.size());
    const size_t suffixLength = kUsbInterfaceClass.size() + 1;  // '#' + class
    if (rest.size() <= suffixLength || rest[rest.size() - suffixLength] != u'#' ||
        !EqualNoCase(rest.substr(rest.size() - kUsbInterfaceClass.size()), kUsbInterfaceClass)) {
        return {};
    }
    std::string name = Utf8FromUtf16(rest.substr(0, rest.size() - suffixLength));
    std::transform(name.begin(), name.end(), name.begin(), [](char c) { return ToLowerAscii(c); });
    if (!IsSafeEntryName(name)) {
        return {};
    }
    return name;
}

std::optional<std::filesystem::path> ResolveUsbDevicePath(std::u16string_view devicePath) {
    const std::string name = UsbNameFromDevicePath(devicePath);
    if (name.empty()) {
        return std::nullopt;
    }
    return ResolveDevice(kUsbFolder, name);
}

std::optional<std::filesystem::path> ResolveComPort(unsigned portNumber) {
    if (portNumber == 0) {
        return std::nullopt;
    }
    const std::string name = FormatComName(portNumber);
    if (auto target = ResolveDevice(kComFolder, name)) {
        return target;
    }
    // Wine writes its links in lower case; accept those as well.
    return ResolveDevice(kComFolder, "com" + name.substr(3));
}

Result<std::vector<std::string>> ListEntries(std::string_view folder) {
    std::vector<std::string> names;
    const auto dir = OpenRuntimeFolder(folder, false);
    if (!dir) {
        if (dir.GetError().code == ENOENT) {
            return names;  // a folder nobody made yet simply has no entries
        }
        return dir.GetError();
    }
    UniqueFd listed(::dup(dir->Fd()));
    DIR* stream = listed ? ::fdopendir(listed.Get()) : nullptr;
    if (stream == nullptr) {
        return Error::FromErrno("list " + dir->Path().string());
    }
    listed.Release();  // closedir closes it
    while (const dirent* entry = ::readdir(stream)) {
        const std::string_view name = entry->d_name;
        // Dot names are the temporary links of an entry being replaced.
        if (name.empty() || name[0] == '.') {
            continue;
        }
        struct stat st {};
        if (::fstatat(dir->Fd(), entry->d_name, &st, 0) == 0) {
            names.emplace_back(name);
        }
    }
    ::closedir(stream);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<unsigned> ListComPorts() {
    std::vector<unsigned> ports;
    const auto names = ListEntries(kComFolder);
    if (!names) {
        return ports;
    }
    for (const auto& name : *names) {
        if (auto number = ParseComName(name)) {
            ports.push_back(*number);
        }
    }
    std::sort(ports.begin(), ports.end());
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
    return ports;
}

Result<void> AddEntry(std::string_view folder, std::string_view name,
                      const std::filesystem::path& target) {
    if (!IsSafeEntryName(name) || name[0] == '.') {
        return Error::FromCode(EINVAL, "entry name '" + std::string(name) + "'");
    }
    const auto dir = OpenRuntimeFolder(folder, true);
    if (!dir) {
        const Error error = dir.GetError();
        return error.message.empty() ? Error::FromCode(error.code, std::string(folder)) : error;
    }
    // A temporary link renamed over the old one replaces it in one step, so a
    // reader never sees the name missing in between.
    const std::string temporary = "." + std::string(name) + ".new" + std::to_string(getpid());
    const std::string final_name(name);
    ::unlinkat(dir->Fd(), temporary.c_str(), 0);
    if (::symlinkat(target.c_str(), dir->Fd(), temporary.c_str()) != 0) {
        return Error::FromErrno("link " + (dir->Path() / temporary).string());
    }
    if (::renameat(dir->Fd(), temporary.c_str(), dir->Fd(), final_name.c_str()) != 0) {
        Error failed = Error::FromErrno("rename to " + (dir->Path() / final_name).string());
        ::unlinkat(dir->Fd(), temporary.c_str(), 0);
        return failed;
    }
    return {};
}

Result<void> RemoveEntry(std::string_view folder, std::string_view name) {
    if (!IsSafeEntryName(name)) {
        return Error::FromCode(EINVAL, "entry name '" + std::string(name) + "'");
    }
    const auto dir = OpenRuntimeFolder(folder, false);
    if (!dir) {
        const Error error = dir.GetError();
        return error.message.empty() ? Error::FromCode(error.code, std::string(folder)) : error;
    }
    if (::unlinkat(dir->Fd(), std::string(name).c_str(), 0) != 0) {
        return Error::FromErrno("remove " + (dir->Path() / std::string(name)).string());
    }
    return {};
}

}  // namespace platform
