#include "delivery/paste_keys.h"

#include <cstdlib>

namespace quillon {

PasteResult SendPasteKeys(bool withReturn) {
    const char* display = std::getenv("DISPLAY");
    std::string x11Reason = "no X display ($DISPLAY is not set)";
    if (display != nullptr && *display != '\0') {
        PasteResult x11 = SendPasteKeysX11(display, withReturn);
        if (x11) {
            return x11;
        }
        x11Reason = std::move(x11.reason);
    }
    PasteResult uinput = SendPasteKeysUinput(kUinputDevicePath, withReturn);
    if (uinput) {
        return uinput;
    }
    return PasteResult::Failed(x11Reason + "; " + uinput.reason);
}

}  // namespace quillon
