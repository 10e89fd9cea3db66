// Device lists: USB scanners (namespace entries, then real USB-serial ttys)
// and COM ports (the namespace's dosdevices links).
#include <cstring>

#include "ferrolink/tidestream/tidestream.h"
#include "platform/runtime_namespace.h"
#include "udev_devices.h"

namespace {

// Writes one NUL-terminated device path into its 512-byte slot; a path that
// would not fit with its NUL is left out rather than cut.
bool PutUsbEntry(void* buffer, int index, const std::u16string& path) {
    if (path.size() >= QVDS_USB_PATH_UNITS) {
        return false;
    }
    auto* slot = static_cast<unsigned char*>(buffer) + QVDS_USB_ENTRY_BYTES * index;
    std::memset(slot, 0, QVDS_USB_ENTRY_BYTES);
    std::memcpy(slot, path.data(), path.size() * sizeof(char16_t));
    return true;
}

}  // namespace

extern "C" {

int qvds_enum_usb_device(void* pBuffer, int nMaxCount) {
    if (pBuffer == nullptr || nMaxCount <= 0) {
        return 0;
    }
    int count = 0;
    try {
        std::vector<std::string> names = platform::ListEntries(platform::kUsbFolder).ValueOr({});
        for (auto& tty : tidestream::ListUsbSerialTtys()) {
            names.push_back(std::move(tty.name));
        }
        for (const auto& name : names) {
            if (count == nMaxCount) {
                break;
            }
            if (PutUsbEntry(pBuffer, count, platform::UsbDevicePathFromName(name))) {
                ++count;
            }
        }
    } catch (...) {
        // An allocation failure ends the list where it is.
    }
    return count;
}

int qvds_enum_serial_ports(ComPortSettings* pPorts, int nMaxCount) {
    if (pPorts == nullptr || nMaxCount <= 0) {
        return 0;
    }
    int count = 0;
    try {
        for (unsigned port : platform::ListComPorts()) {
            if (count == nMaxCount) {
                break;
            }
            if (port > 0xFFFF) {
                continue;  // does not fit the 16-bit port number
            }
            pPorts[count] = ComPortSettings{};
            pPorts[count].wPort = static_cast<uint16_t>(port);
            ++count;
        }
    } catch (...) {
    }
    return count;
}

}  // extern "C"
