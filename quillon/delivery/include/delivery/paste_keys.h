// The key strokes of a paste into the focused application: Ctrl down, V down,
// V up, Ctrl up, then Return down and up when asked, with no delays.
//
// Two ways to type them:
// - X11: the XTest extension (libXtst) on the display named by $DISPLAY. The
//   strokes reach the window that has the keyboard focus on that display.
// - uinput: a virtual keyboard on /dev/uinput, for sessions without an X
//   server (Wayland compositors, the console). Needs write access to
//   /dev/uinput (root, or a udev rule giving the user's group access) and the
//   uinput kernel module.
#pragma once

#include <string>

namespace quillon {

// The outcome of one paste: sent, or why not, in the words of the layer that
// failed ("cannot open the X display :4", "/dev/uinput: Permission denied").
struct PasteResult {
    bool sent = false;
    std::string reason;

    explicit operator bool() const { return sent; }
    static PasteResult Sent() { return {true, {}}; }
    static PasteResult Failed(std::string why) { return {false, std::move(why)}; }
};

// Types the paste through XTest when $DISPLAY names a reachable X server,
// otherwise through /dev/uinput. When neither works the reason names both.
PasteResult SendPasteKeys(bool withReturn);

// The two ways on their own. `displayName` null means $DISPLAY.
PasteResult SendPasteKeysX11(const char* displayName, bool withReturn);
PasteResult SendPasteKeysUinput(const char* devicePath, bool withReturn);

inline constexpr const char* kUinputDevicePath = "/dev/uinput";

}  // namespace quillon
