// The runtime namespace: device names kept as symbolic links in one folder
// tree, so every program finds USB endpoints and COM ports the same way.
#include "platform/runtime_namespace.h"

#include "platform/utf16.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace platform {
namespace {

constexpr std::u16string_view kDevicePathPrefix = u"\\\\?\\";

char ToLowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}
char16_t ToLowerAscii16(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
}

bool EqualsIgnoreCase(std::u16string_view text, std::string_view ascii) {
    if (text.size() != ascii.size()) {
        return false;
    }
    for (size_t i = 0; i < text.size(); ++i) {
        if (ToLowerAscii16(text[i]) != static_cast<char16_t>(ToLowerAscii(ascii[i]))) {
            return false;
        }
    }
    return true;
}

// A name must stay inside its folder: no separators, no dot names.
bool IsSafeEntryName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

std::filesystem::path EntryPath(std::string_view folder, std::string_view name) {
    return RuntimeDir() / std::string(folder) / std::string(name);
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

// "COM12" (any case) -> 12; nullopt for anything else.
std::optional<unsigned> ComNumberFromName(std::string_view name) {
    if (name.size() < 4 || ToLowerAscii(name[0]) != 'c' || ToLowerAscii(name[1]) != 'o' ||
        ToLowerAscii(name[2]) != 'm' || name.size() > 8) {
        return std::nullopt;
    }
    unsigned number = 0;
    for (char c : name.substr(3)) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        number = number * 10 + static_cast<unsigned>(c - '0');
    }
    if (number == 0) {
        return std::nullopt;
    }
    return number;
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

std::u16string UsbDevicePathFromName(std::string_view name) {
    std::u16string path(kDevicePathPrefix);
    // Interface names are ASCII; any other byte is carried over as its code unit.
    for (char c : name) {
        path += static_cast<char16_t>(static_cast<unsigned char>(c));
    }
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
        !EqualsIgnoreCase(rest.substr(rest.size() - kUsbInterfaceClass.size()),
                          kUsbInterfaceClass)) {
        return {};
    }
    std::string name = Utf8FromUtf16(rest.substr(0, rest.size() - suffixLength));
    std::transform(name.begin(), name.end(), name.begin(), ToLowerAscii);
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
    return ResolveLink(EntryPath(kUsbFolder, name));
}

std::optional<std::filesystem::path> ResolveComPort(unsigned portNumber) {
    if (portNumber == 0) {
        return std::nullopt;
    }
    const std::string number = std::to_string(portNumber);
    if (auto target = ResolveLink(EntryPath(kComFolder, "COM" + number))) {
        return target;
    }
    // Wine writes its links in lower case; accept those as well.
    return ResolveLink(EntryPath(kComFolder, "com" + number));
}

std::vector<std::string> ListEntries(std::string_view folder) {
    std::vector<std::string> names;
    std::error_code error;
    std::filesystem::directory_iterator it(RuntimeDir() / std::string(folder), error);
    if (error) {
        return names;
    }
    for (const auto& entry : it) {
        std::string name = entry.path().filename().string();
        // Dot names are the temporary links of an entry being replaced.
        if (name.empty() || name[0] == '.') {
            continue;
        }
        if (ResolveLink(entry.path())) {
            names.push_back(std::move(name));
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<unsigned> ListComPorts() {
    std::vector<unsigned> ports;
    for (const auto& name : ListEntries(kComFolder)) {
        if (auto number = ComNumberFromName(name)) {
            ports.push_back(*number);
        }
    }
    std::sort(ports.begin(), ports.end());
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
    return ports;
}

bool AddEntry(std::string_view folder, std::string_view name, const std::filesystem::path& target) {
    if (!IsSafeEntryName(name) || name[0] == '.') {
        errno = EINVAL;
        return false;
    }
    const auto dir = RuntimeDir() / std::string(folder);
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error) {
        errno = error.value();
        return false;
    }
    // A temporary link renamed over the old one replaces it in one step, so a
    // reader never sees the name missing in between.
    const auto temporary = dir / ("." + std::string(name) + ".new" + std::to_string(getpid()));
    ::unlink(temporary.c_str());
    if (::symlink(target.c_str(), temporary.c_str()) != 0) {
        return false;
    }
    const auto final_path = dir / std::string(name);
    if (::rename(temporary.c_str(), final_path.c_str()) != 0) {
        const int saved = errno;
        ::unlink(temporary.c_str());
        errno = saved;
        return false;
    }
    return true;
}

bool RemoveEntry(std::string_view folder, std::string_view name) {
    if (!IsSafeEntryName(name)) {
        errno = EINVAL;
        return false;
    }
    return ::unlink(EntryPath(folder, name).c_str()) == 0;
}

}  // namespace platform
