// The runtime namespace: one directory that holds the device names which
// Windows keeps in its object namespace and registry (USB scanner endpoints,
// COM port links, the virtual bus). Every program reads it through here.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/private_folder.h"
#include "platform/result.h"

namespace platform {

// Folders of the namespace.
inline constexpr std::string_view kUsbFolder = "usb";
inline constexpr std::string_view kComFolder = "dosdevices";
inline constexpr std::string_view kVbusFolder = "vbus";

// Class suffix of USB device interface paths.
inline constexpr std::string_view kUsbInterfaceClass = "{a5dcbf10-6530-11d2-901f-00c04fb951ed}";

// $KTR_RUNTIME_DIR, else $XDG_RUNTIME_DIR/ktr, else /tmp/ktr-<uid>. Not created.
std::filesystem::path RuntimeDir();

// The namespace folder itself (folder "") or a folder in it ("usb",
// "vbus/Ktr_vcom/0001"), every level opened as a private folder; with `create`
// missing levels are made 0700. See PrivateFolder::Open for the refusals.
Result<PrivateFolder> OpenRuntimeFolder(std::string_view folder, bool create);
// Makes the namespace folder when it is missing and checks it: the refusal
// line when it cannot be used, empty when it can. A program prints the line
// and ends with a nonzero status. Folders in it are checked when they are
// used; a refused one fails that call (errno ELOOP, ENOTDIR or EACCES).
std::string RuntimeDirRefusal();

// "usb#vid_1eab&pid_0d10#sim0001" -> u"\\?\usb#vid_1eab&pid_0d10#sim0001#{a5dcbf10-...}"
std::u16string UsbDevicePathFromName(std::string_view name);
// The reverse, case-insensitive on the prefix and the class suffix; the name is
// lower-cased. Empty when the text is not such a path.
std::string UsbNameFromDevicePath(std::u16string_view devicePath);

// tty node behind a USB device path or a COM number; nullopt when the entry
// is missing, its target is gone, or the target is not a terminal (a
// character device of the tty class or a pseudo-terminal).
std::optional<std::filesystem::path> ResolveUsbDevicePath(std::u16string_view devicePath);
std::optional<std::filesystem::path> ResolveComPort(unsigned portNumber);

// Live entries of a folder ("usb", "dosdevices"), sorted by name; links whose
// target is gone are left out. A folder nobody made yet has none; a refused
// folder is the error.
Result<std::vector<std::string>> ListEntries(std::string_view folder);
// COM numbers present in dosdevices/, ascending.
std::vector<unsigned> ListComPorts();

// Adds (replacing any old one) or removes a link folder/name -> target.
// Creates the folders it needs. The error names the failing step: EINVAL for
// a name that would leave its folder, ENOENT for a missing entry, ELOOP,
// ENOTDIR or EACCES when a folder of the namespace is refused.
Result<void> AddEntry(std::string_view folder, std::string_view name,
                      const std::filesystem::path& target);
Result<void> RemoveEntry(std::string_view folder, std::string_view name);

// Arrivals and removals of entries in the watched folders, reported on the
// watch's own thread until it is stopped or destroyed.
struct NamespaceEvent {
    std::string folder;  // "usb" or "dosdevices" (or another watched folder)
    std::string name;    // entry name
    bool arrived;        // true: created, false: removed
};

class NamespaceWatch {
  public:
    using Handler = std::function<void(const NamespaceEvent&)>;
    // Watches the given folders (created if missing). Throws nothing;
    // IsRunning() tells whether the watch started: not when a folder is
    // refused.
    NamespaceWatch(std::vector<std::string> folders, Handler handler);
    ~NamespaceWatch();
    NamespaceWatch(const NamespaceWatch&) = delete;
    NamespaceWatch& operator=(const NamespaceWatch&) = delete;
    bool IsRunning() const;
    // Why the watch did not start (code 0 when it did): the errno of the
    // failing call, or the refusal of a folder.
    const Error& StartError() const;
    // Stops and joins the thread; no handler call runs after it returns.
    void Stop();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
