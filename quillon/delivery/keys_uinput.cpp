// Paste key strokes through a virtual keyboard on /dev/uinput.
//
// The device is created once and kept: a new input device takes a moment to
// be picked up by the compositor or console, and strokes sent before that are
// lost, so the first paste waits for it and later ones do not.
#include <fcntl.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "delivery/paste_keys.h"
#include "platform/result.h"
#include "platform/unique_fd.h"

namespace quillon {
namespace {

constexpr auto kDeviceSettleTime = std::chrono::milliseconds(300);

bool Emit(int fd, unsigned short type, unsigned short code, int value) {
    input_event event{};
    event.type = type;
    event.code = code;
    event.value = value;
    return write(fd, &event, sizeof event) == static_cast<ssize_t>(sizeof event);
}

bool Key(int fd, unsigned short code, bool down) {
    return Emit(fd, EV_KEY, code, down ? 1 : 0) && Emit(fd, EV_SYN, SYN_REPORT, 0);
}

// A new virtual keyboard, or the reason there is none.
platform::Result<platform::UniqueFd> CreateKeyboard(const char* devicePath) {
    platform::UniqueFd fd(open(devicePath, O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        return platform::Error::FromErrno(devicePath);
    }
    uinput_setup setup{};
    setup.id.bustype = BUS_VIRTUAL;
    std::strncpy(setup.name, "quillon paste keys", UINPUT_MAX_NAME_SIZE - 1);
    const int k = fd.Get();
    bool created = ioctl(k, UI_SET_EVBIT, EV_KEY) == 0 &&
                   ioctl(k, UI_SET_KEYBIT, KEY_LEFTCTRL) == 0 &&
                   ioctl(k, UI_SET_KEYBIT, KEY_V) == 0 && ioctl(k, UI_SET_KEYBIT, KEY_ENTER) == 0 &&
                   ioctl(k, UI_DEV_SETUP, &setup) == 0 && ioctl(k, UI_DEV_CREATE) == 0;
    if (!created) {
        return platform::Error::FromErrno(std::string(devicePath) +
                                          " does not make a virtual keyboard");
    }
    std::this_thread::sleep_for(kDeviceSettleTime);
    return fd;
}

// One virtual keyboard per process, for the device path it was made on.
struct Keyboard {
    std::mutex mutex;
    std::string path;
    platform::UniqueFd fd;
};

Keyboard& TheKeyboard() {
    static Keyboard keyboard;
    return keyboard;
}

}  // namespace

PasteResult SendPasteKeysUinput(const char* devicePath, bool withReturn) {
    Keyboard& keyboard = TheKeyboard();
    std::lock_guard lock(keyboard.mutex);
    if (!keyboard.fd || keyboard.path != devicePath) {
        if (keyboard.fd) {
            ioctl(keyboard.fd.Get(), UI_DEV_DESTROY);
            keyboard.fd.Reset();
        }
        auto created = CreateKeyboard(devicePath);
        keyboard.path = devicePath;
        if (!created) {
            return PasteResult::Failed(created.GetError().message);
        }
        keyboard.fd = std::move(*created);
    }
    const int fd = keyboard.fd.Get();
    bool sent = Key(fd, KEY_LEFTCTRL, true) && Key(fd, KEY_V, true) && Key(fd, KEY_V, false) &&
                Key(fd, KEY_LEFTCTRL, false);
    if (sent && withReturn) {
        sent = Key(fd, KEY_ENTER, true) && Key(fd, KEY_ENTER, false);
    }
    if (!sent) {
        const platform::Error error =
            platform::Error::FromErrno(std::string("writing to ") + devicePath);
        // A device that took no strokes is made anew for the next paste.
        ioctl(fd, UI_DEV_DESTROY);
        keyboard.fd.Reset();
        return PasteResult::Failed(error.message);
    }
    return PasteResult::Sent();
}

}  // namespace quillon
