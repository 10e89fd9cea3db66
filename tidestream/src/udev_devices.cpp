#include "udev_devices.h"

#include <libudev.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace tidestream {
namespace {

constexpr uint32_t kAny = 0xFFFFFFFF;
// The scanner maker's vendor id: every product of it is listed.
constexpr UsbId kBuiltInIds[] = {{0x1eab, kAny}};

bool ParseHex16(std::string_view text, uint32_t& value) {
    if (text.empty() || text.size() > 4) {
        return false;
    }
    value = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return false;
        }
        value = value * 16 + static_cast<uint32_t>(digit);
    }
    return true;
}

const char* OrEmpty(const char* text) {
    return text ? text : "";
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::filesystem::path UserIdFile() {
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config) {
        return std::filesystem::path(config) / "tidestream" / "usb-ids";
    }
    if (const char* home = std::getenv("HOME"); home && *home) {
        return std::filesystem::path(home) / ".config" / "tidestream" / "usb-ids";
    }
    return {};
}

// Keeps a serial number usable inside a '#'-separated, file-safe name.
std::string NamePart(const char* text) {
    std::string part = text ? text : "";
    for (char& c : part) {
        if (c == '#' || c == '/' || c == '\\' || static_cast<unsigned char>(c) <= ' ') {
            c = '_';
        } else if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c + 32);
        }
    }
    return part;
}

struct FoundTty {
    std::string device;     // usb#vid_xxxx&pid_xxxx
    std::string serial;     // serial number or tty name
    std::string interface;  // interface number, "00", "02", ...
    std::string node;
};

// usb#vid_xxxx&pid_xxxx#<serial>; a device with several ttys (one per
// interface) gets "&mi_<interface>" after the product id, as composite
// devices are named on Windows, so that every tty keeps its own name.
std::vector<UsbSerialTty> NameEntries(std::vector<FoundTty> found) {
    std::vector<UsbSerialTty> ttys;
    for (const auto& tty : found) {
        const bool shared = std::count_if(found.begin(), found.end(), [&](const FoundTty& other) {
                                return other.device == tty.device && other.serial == tty.serial;
                            }) > 1;
        const std::string device =
            shared && !tty.interface.empty() ? tty.device + "&mi_" + tty.interface : tty.device;
        ttys.push_back({device + "#" + tty.serial, tty.node});
    }
    std::sort(ttys.begin(), ttys.end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
    return ttys;
}

}  // namespace

std::vector<UsbId> ParseUsbIds(std::string_view text) {
    std::vector<UsbId> ids;
    std::string line;
    std::istringstream lines{std::string(text)};
    while (std::getline(lines, line)) {
        line = line.substr(0, line.find('#'));
        std::replace(line.begin(), line.end(), ',', ' ');
        std::istringstream words(line);
        std::string word;
        while (words >> word) {
            if (word == "*") {
                ids.push_back({kAny, kAny});
                continue;
            }
            const auto colon = word.find(':');
            UsbId id{0, kAny};
            if (!ParseHex16(std::string_view(word).substr(0, colon), id.vendor)) {
                continue;
            }
            if (colon != std::string::npos &&
                !ParseHex16(std::string_view(word).substr(colon + 1), id.product)) {
                continue;
            }
            ids.push_back(id);
        }
    }
    return ids;
}

std::vector<UsbId> AcceptedUsbIds() {
    std::vector<UsbId> ids(std::begin(kBuiltInIds), std::end(kBuiltInIds));
    auto add = [&ids](std::string_view text) {
        auto more = ParseUsbIds(text);
        ids.insert(ids.end(), more.begin(), more.end());
    };
    if (const char* env = std::getenv("TIDESTREAM_USB_IDS")) {
        add(env);
    }
    add(ReadFile("/etc/tidestream/usb-ids"));
    if (const auto file = UserIdFile(); !file.empty()) {
        add(ReadFile(file));
    }
    return ids;
}

bool UsbIdAccepted(const std::vector<UsbId>& ids, uint32_t vendor, uint32_t product) {
    return std::any_of(ids.begin(), ids.end(), [&](const UsbId& id) {
        return (id.vendor == kAny || id.vendor == vendor) &&
               (id.product == kAny || id.product == product);
    });
}

std::vector<UsbSerialTty> ListUsbSerialTtys() {
    std::vector<FoundTty> ttys;
    udev* context = udev_new();
    if (context == nullptr) {
        return {};
    }
    const auto ids = AcceptedUsbIds();
    udev_enumerate* enumerate = udev_enumerate_new(context);
    udev_enumerate_add_match_subsystem(enumerate, "tty");
    udev_enumerate_scan_devices(enumerate);
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
        udev_device* tty = udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
        if (tty == nullptr) {
            continue;
        }
        // The parent is owned by the child and freed with it.
        udev_device* usb = udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_device");
        const char* node = udev_device_get_devnode(tty);
        uint32_t vendor = 0;
        uint32_t product = 0;
        if (usb != nullptr && node != nullptr &&
            ParseHex16(OrEmpty(udev_device_get_sysattr_value(usb, "idVendor")), vendor) &&
            ParseHex16(OrEmpty(udev_device_get_sysattr_value(usb, "idProduct")), product) &&
            UsbIdAccepted(ids, vendor, product)) {
            const char* serial = udev_device_get_sysattr_value(usb, "serial");
            udev_device* function =
                udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_interface");
            const char* interface =
                function ? udev_device_get_sysattr_value(function, "bInterfaceNumber") : nullptr;
            char prefix[48];
            std::snprintf(prefix, sizeof prefix, "usb#vid_%04x&pid_%04x", vendor, product);
            // Without a serial number the tty's own name keeps entries apart.
            ttys.push_back({prefix, NamePart(serial ? serial : udev_device_get_sysname(tty)),
                            NamePart(interface), node});
        }
        udev_device_unref(tty);
    }
    udev_enumerate_unref(enumerate);
    udev_unref(context);
    return NameEntries(std::move(ttys));
}

}  // namespace tidestream
