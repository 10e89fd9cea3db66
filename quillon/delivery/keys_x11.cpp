// Paste key strokes through the XTest extension.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <memory>
#include <string>

#include "delivery/paste_keys.h"

namespace quillon {
namespace {

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};

bool FakeKey(Display* display, KeyCode code, bool down) {
    return XTestFakeKeyEvent(display, code, down ? True : False, CurrentTime) != 0;
}

}  // namespace

PasteResult SendPasteKeysX11(const char* displayName, bool withReturn) {
    // The name as Xlib takes it: the given one, else $DISPLAY.
    const char* shownName = XDisplayName(displayName);
    const std::string name = shownName != nullptr ? shownName : "";
    std::unique_ptr<Display, DisplayCloser> display(XOpenDisplay(displayName));
    if (!display) {
        return PasteResult::Failed("cannot open the X display \"" + name + "\"");
    }
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display.get(), &eventBase, &errorBase, &major, &minor)) {
        return PasteResult::Failed("the X display \"" + name + "\" has no XTest extension");
    }
    KeyCode control = XKeysymToKeycode(display.get(), XK_Control_L);
    KeyCode v = XKeysymToKeycode(display.get(), XK_v);
    KeyCode enter = XKeysymToKeycode(display.get(), XK_Return);
    if (control == 0 || v == 0 || (withReturn && enter == 0)) {
        return PasteResult::Failed("the X display \"" + name +
                                   "\" has no key for Control, V or Return");
    }
    bool sent = FakeKey(display.get(), control, true) && FakeKey(display.get(), v, true) &&
                FakeKey(display.get(), v, false) && FakeKey(display.get(), control, false);
    if (sent && withReturn) {
        sent = FakeKey(display.get(), enter, true) && FakeKey(display.get(), enter, false);
    }
    // Make sure the server has the strokes before the connection goes.
    XFlush(display.get());
    XSync(display.get(), False);
    if (!sent) {
        return PasteResult::Failed("the X display \"" + name + "\" refused the key strokes");
    }
    return PasteResult::Sent();
}

}  // namespace quillon
