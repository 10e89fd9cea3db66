// The scanner USB ids and interface names read from outside text: the id list
// ($TIDESTREAM_USB_IDS and the id files), device interface paths, and the
// interface name Quillon makes of the kernel's PRODUCT value and a serial.
//
// The whole input is the id list text and, as Latin-1 units, a device path;
// up to its first new line it is also the PRODUCT value, the rest the serial.
#include <QString>
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "platform/runtime_namespace.h"
#include "udev_devices.h"
#include "usb_interface_name.h"

namespace {

constexpr uint32_t kAny = 0xFFFFFFFF;

bool SameIds(const std::vector<tidestream::UsbId>& a, const std::vector<tidestream::UsbId>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const tidestream::UsbId& x, const tidestream::UsbId& y) {
                          return x.vendor == y.vendor && x.product == y.product;
                      });
}

// The ids written back in the list's own form.
std::string Written(const std::vector<tidestream::UsbId>& ids) {
    std::string text;
    for (const tidestream::UsbId& id : ids) {
        char word[32];
        if (id.vendor == kAny)
            std::snprintf(word, sizeof word, "*");
        else if (id.product == kAny)
            std::snprintf(word, sizeof word, "%X", id.vendor);
        else
            std::snprintf(word, sizeof word, "%04x:%X", id.vendor, id.product);
        text += word;
        text += text.size() % 3 == 0 ? ",\n" : " ";
    }
    return text;
}

void CheckIdList(std::string_view text) {
    const std::vector<tidestream::UsbId> ids = tidestream::ParseUsbIds(text);
    FUZZ_CHECK(ids.size() <= text.size());
    for (const tidestream::UsbId& id : ids) {
        FUZZ_CHECK(id.vendor <= 0xFFFF || id.vendor == kAny);
        FUZZ_CHECK(id.product <= 0xFFFF || id.product == kAny);
        FUZZ_CHECK(id.vendor != kAny || id.product == kAny);
        const uint32_t vendor = id.vendor == kAny ? 0x1234 : id.vendor;
        const uint32_t product = id.product == kAny ? 0xBEEF : id.product;
        FUZZ_CHECK(tidestream::UsbIdAccepted(ids, vendor, product));
        FUZZ_CHECK(tidestream::UsbIdAccepted({id}, vendor, product));
    }
    FUZZ_CHECK(SameIds(tidestream::ParseUsbIds(Written(ids)), ids));

    // Lines are read one by one: a list split at a new line is the two lists.
    const size_t newline = text.find('\n');
    if (newline != std::string_view::npos) {
        std::vector<tidestream::UsbId> joined = tidestream::ParseUsbIds(text.substr(0, newline));
        const std::vector<tidestream::UsbId> rest =
            tidestream::ParseUsbIds(text.substr(newline + 1));
        joined.insert(joined.end(), rest.begin(), rest.end());
        FUZZ_CHECK(SameIds(joined, ids));
    }
    FUZZ_CHECK(!tidestream::UsbIdAccepted({}, 0x1eab, 0x0d10));
}

bool Ascii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string LowerAscii(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool UsableEntryName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == name.npos &&
           name.find('\0') == name.npos;
}

void CheckDevicePath(std::string_view text) {
    std::u16string path;
    for (char c : text)
        path.push_back(static_cast<unsigned char>(c));
    const std::string name = platform::UsbNameFromDevicePath(path);
    if (!name.empty()) {
        FUZZ_CHECK(UsableEntryName(name));
        FUZZ_CHECK(name.size() < path.size() * 3);
        if (Ascii(name)) {
            FUZZ_CHECK(LowerAscii(name) == name);
            FUZZ_CHECK(platform::UsbNameFromDevicePath(platform::UsbDevicePathFromName(name)) ==
                       name);
        }
    }
    // Any plain name makes a path that gives the name back, lower-cased.
    if (Ascii(text) && UsableEntryName(LowerAscii(std::string(text))))
        FUZZ_CHECK(platform::UsbNameFromDevicePath(platform::UsbDevicePathFromName(text)) ==
                   LowerAscii(std::string(text)));
}

// A hexadecimal field of PRODUCT: digits only, value at most 0xFFFF.
bool HexField(std::string_view field, unsigned& value) {
    if (field.empty())
        return false;
    value = 0;
    for (char c : field) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        const unsigned digit =
            std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::tolower(c) - 'a' + 10);
        value = value * 16 + digit;
        if (value > 0xFFFF)
            return false;
    }
    return true;
}

void CheckInterfaceName(std::string_view text) {
    const size_t newline = text.find('\n');
    const std::string_view product = text.substr(0, newline);
    const std::string_view serial =
        newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
    const QString made = quillon::UsbInterfaceName(product, serial);

    const size_t firstSlash = product.find('/');
    const std::string_view vendorField = product.substr(0, firstSlash);
    const std::string_view afterVendor =
        firstSlash == std::string_view::npos ? std::string_view() : product.substr(firstSlash + 1);
    const std::string_view productField = afterVendor.substr(0, afterVendor.find('/'));
    unsigned vendor = 0;
    unsigned productId = 0;
    const bool wellFormed = firstSlash != std::string_view::npos && HexField(vendorField, vendor) &&
                            HexField(productField, productId);
    FUZZ_CHECK(made.isEmpty() == !wellFormed);
    if (!wellFormed || !Ascii(serial) || serial.find('/') != serial.npos ||
        serial.find('\0') != serial.npos)
        return;
    char prefix[40];
    std::snprintf(prefix, sizeof prefix, "usb#vid_%04x&pid_%04x#", vendor, productId);
    FUZZ_CHECK(platform::UsbNameFromDevicePath(made.toStdU16String()) ==
               prefix + LowerAscii(std::string(serial)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckIdList(text);
    CheckDevicePath(text);
    CheckInterfaceName(text);
    return 0;
}
