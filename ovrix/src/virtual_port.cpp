#include "virtual_port.h"

#include <cctype>

namespace ovrix::detail {

std::string VirtualPort::UsbDevinstpath() const {
    std::string path;
    for (char c : usbName)
        path += (c == '#') ? '\\' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return path;
}

}  // namespace ovrix::detail
