// Real USB-serial ttys found through libudev, limited to the scanners' ids.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tidestream {

struct UsbSerialTty {
    std::string name;  // namespace-style name: usb#vid_xxxx&pid_xxxx#<serial>
    std::string node;  // /dev/ttyACM0, /dev/ttyUSB0, ...
};

// A vendor id with an optional product id; product 0xFFFFFFFF = any,
// vendor 0xFFFFFFFF = any device.
struct UsbId {
    uint32_t vendor;
    uint32_t product;
};

// "1eab", "1eab:0d10", "*", separated by commas, blanks or new lines; '#'
// starts a comment. Words that are none of these are skipped.
std::vector<UsbId> ParseUsbIds(std::string_view text);
// The built-in ids plus $TIDESTREAM_USB_IDS and the id files.
std::vector<UsbId> AcceptedUsbIds();
bool UsbIdAccepted(const std::vector<UsbId>& ids, uint32_t vendor, uint32_t product);

// Sorted by name.
std::vector<UsbSerialTty> ListUsbSerialTtys();

}  // namespace tidestream
