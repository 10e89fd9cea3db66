// The device-interface name Windows gives a USB device, made from what the
// kernel reports of it: "\\?\usb#vid_1eab&pid_0d10#<serial>#{a5dcbf10-...}".
#pragma once

#include <QString>
#include <string_view>

namespace quillon {

// `product` is the kernel's PRODUCT value "<vendor>/<product>/<release>" in
// hexadecimal without leading zeros; `serial` the device's serial number
// (a device without one has an empty text). Empty when `product` is not of
// that form.
QString UsbInterfaceName(std::string_view product, std::string_view serial);

}  // namespace quillon
