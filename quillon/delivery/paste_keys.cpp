#include <cstdlib>

#include "delivery/paste_keys.h"

namespace quillon {

bool SendPasteKeys(bool withReturn) {
    const char* display = std::getenv("DISPLAY");
    if (display != nullptr && *display != '\0' && SendPasteKeysX11(display, withReturn)) {
        return true;
    }
    return SendPasteKeysUinput(kUinputDevicePath, withReturn);
}

}  // namespace quillon
