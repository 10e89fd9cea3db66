#include "scanner_presence.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <system_error>

#include "platform/runtime_namespace.h"
#include "platform/unique_fd.h"
#include "text_helpers.h"

namespace win::detail {

namespace fs = std::filesystem;

namespace {

constexpr char kValueName[] = "UsbdOnline";

// The instance folder of the bus whose PortName is `comName`, empty if none.
fs::path InstanceFolderOf(const std::string& comName) {
    fs::path ports = platform::RuntimeDir() / std::string(platform::kVbusFolder) / "Ktr_vcom";
    std::error_code error;
    for (fs::directory_iterator it(ports, error), end; !error && it != end; it.increment(error)) {
        if (EqualNoCase(FirstLineOf(it->path() / "PortName"), comName))
            return it->path();
    }
    return {};
}

}  // namespace

std::unique_ptr<ScannerPresence> ScannerPresence::Watch(const std::string& comName) {
    if (comName.empty())
        return nullptr;
    fs::path folder = InstanceFolderOf(comName);
    std::error_code error;
    if (folder.empty() || !fs::exists(folder / kValueName, error))
        return nullptr;
    platform::UniqueFd fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!fd)
        return nullptr;
    // The daemon replaces the value by rename.
    if (::inotify_add_watch(fd.Get(), folder.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE) < 0)
        return nullptr;
    return std::unique_ptr<ScannerPresence>(
        new ScannerPresence(std::move(fd), folder / kValueName));
}

bool ScannerPresence::Refresh() {
    alignas(inotify_event) char drain[4096];
    while (::read(notifyFd_.Get(), drain, sizeof drain) > 0) {
    }
    return FirstLineOf(valueFile_) != "0";
}

}  // namespace win::detail
