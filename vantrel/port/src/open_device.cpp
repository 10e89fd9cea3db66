// CreateFile: the Windows device names of the console mapped onto the runtime
// namespace and Linux paths; ports open exclusively, like Windows COM ports.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "control_endpoint.h"
#include "device.h"
#include "platform/ascii_case.h"
#include "platform/com_name.h"
#include "platform/runtime_namespace.h"
#include "platform/unique_fd.h"
#include "text_helpers.h"

namespace win {

using namespace detail;

namespace detail {
void InitPortState(SerialPort& port);
}

namespace {

constexpr std::string_view kDevicePrefix = "\\\\.\\";
constexpr std::string_view kBusName = "KTR_OVRIX_VBUS";
constexpr std::string_view kDatapipeName = "KTR_Datapipe";
constexpr std::string_view kInterfaceClass = "#{20161207-6a0c-11d2-b841-00c04fad5171}";
constexpr char kInterfacePath[] =
    "\\\\?\\ROOT#KTR_VBUS#0000#{20161207-6a0c-11d2-b841-00c04fad5171}";

std::filesystem::path ControlSocketPath() {
    return platform::RuntimeDir() / std::string(platform::kVbusFolder) / "control";
}

// The COM name whose link leads to the same device node, "" when none does.
std::string ComNameOf(const std::filesystem::path& node) {
    std::error_code error;
    auto canonical = std::filesystem::canonical(node, error);
    if (error)
        return {};
    for (unsigned n : platform::ListComPorts()) {
        auto target = platform::ResolveComPort(n);
        if (target && *target == canonical)
            return platform::FormatComName(n);
    }
    return {};
}

DWORD OpenErrorOf(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
        case EBUSY:
        case EWOULDBLOCK:
            return ERROR_ACCESS_DENIED;
        default:
            return ERROR_FILE_NOT_FOUND;
    }
}

int OpenNode(const std::filesystem::path& node, bool read, bool write) {
    struct stat st {};
    if (::stat(node.c_str(), &st) != 0)
        return -1;
    if (S_ISSOCK(st.st_mode)) {
        platform::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (!fd)
            return -1;
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, node.c_str(), sizeof addr.sun_path - 1);
        if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 &&
            errno != EINPROGRESS) {
            const int error = errno;
            fd.Reset();
            errno = error == ECONNREFUSED ? ENOENT : error;
            return -1;
        }
        return fd.Release();
    }
    int mode = write ? (read ? O_RDWR : O_WRONLY) : O_RDONLY;
    return ::open(node.c_str(), mode | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

HANDLE OpenSerial(const std::filesystem::path& node, std::string comName, DWORD access,
                  DWORD flags) {
    bool read = (access & GENERIC_READ) != 0;
    bool write = (access & GENERIC_WRITE) != 0;
    platform::UniqueFd fd(OpenNode(node, read, write));
    if (!fd)
        return Fail(OpenErrorOf(errno), INVALID_HANDLE_VALUE);
    // Exclusive like a Windows COM port, by an advisory lock that the kernel
    // drops when the process ends. TIOCEXCL is not used: its mark outlives a
    // killed holder while the daemon keeps the node open, and would keep every
    // non-root user off the port until the daemon restarts.
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0)
        return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    auto port = std::make_shared<SerialPort>();
    port->fd = std::move(fd);  // the port closes it from here on
    port->isTty = ::isatty(port->fd.Get()) == 1;
    port->canRead = read;
    port->canWrite = write;
    port->overlappedMode = (flags & FILE_FLAG_OVERLAPPED) != 0;
    port->comName = comName.empty() ? ComNameOf(node) : std::move(comName);
    port->presence = ScannerPresence::Watch(port->comName);
    port->scannerAway = port->presence && !port->presence->Refresh();
    InitPortState(*port);
    port->Start();
    return InsertHandle(std::move(port));
}

HANDLE OpenControl(Device::Kind kind, DWORD access) {
    platform::UniqueFd socket(ConnectControlSocket(ControlSocketPath()));
    if (!socket)
        return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    auto device = std::make_shared<ControlEndpoint>();
    device->kind = kind;
    device->socket = std::move(socket);
    device->canRead = (access & GENERIC_READ) != 0;
    device->canWrite = (access & GENERIC_WRITE) != 0;
    return InsertHandle(std::move(device));
}

}  // namespace

const char* VbusInterfacePath() {
    struct stat st {};
    if (::stat(ControlSocketPath().c_str(), &st) != 0 || !S_ISSOCK(st.st_mode))
        return "";
    return kInterfacePath;
}

HANDLE CreateFile(const char* path, DWORD access, DWORD, void*, DWORD, DWORD flags, HANDLE) {
    if (path == nullptr || *path == '\0')
        return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    std::string_view text(path);
    if (platform::EndsWithNoCase(text, kInterfaceClass))
        return OpenControl(Device::Kind::Interface, access);
    bool prefixed = text.substr(0, kDevicePrefix.size()) == kDevicePrefix;
    std::string_view name = prefixed ? text.substr(kDevicePrefix.size()) : text;
    if (auto number = platform::ParseComName(name)) {
        // Without the prefix only COM1..COM9 are known names.
        if (!prefixed && *number > 9)
            return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
        auto node = platform::ResolveComPort(*number);
        if (!node)
            return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
        return OpenSerial(*node, platform::FormatComName(*number), access, flags);
    }
    if (prefixed) {
        if (EqualNoCase(name, kBusName))
            return OpenControl(Device::Kind::Bus, access);
        if (EqualNoCase(name, kDatapipeName)) {
            auto node = platform::RuntimeDir() / std::string(platform::kVbusFolder) / "datapipe";
            return OpenSerial(node, {}, access, flags);
        }
        return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    }
    return OpenSerial(std::filesystem::path(text), {}, access, flags);
}

}  // namespace win
