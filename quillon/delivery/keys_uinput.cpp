// Paste key strokes through a virtual keyboard on /dev/uinput.
//
// The device is created once and kept: a new input device takes a moment to
// be picked up by the compositor or console, and strokes sent before that are
// lost, so the first paste waits for it and later ones do not.
#include <fcntl.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "delivery/paste_keys.h"

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

std::string ErrnoText(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

// The descriptor of a new virtual keyboard, or -1 with the reason.
int CreateKeyboard(const char* devicePath, std::string& reason) {
    int fd = open(devicePath, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        reason = ErrnoText(devicePath, errno);
        return -1;
    }
    uinput_setup setup{};
    setup.id.bustype = BUS_VIRTUAL;
    std::strncpy(setup.name, "quillon paste keys", UINPUT_MAX_NAME_SIZE - 1);
    bool created =
        ioctl(fd, UI_SET_EVBIT, EV_KEY) == 0 && ioctl(fd, UI_SET_KEYBIT, KEY_LEFTCTRL) == 0 &&
        ioctl(fd, UI_SET_KEYBIT, KEY_V) == 0 && ioctl(fd, UI_SET_KEYBIT, KEY_ENTER) == 0 &&
        ioctl(fd, UI_DEV_SETUP, &setup) == 0 && ioctl(fd, UI_DEV_CREATE) == 0;
    if (!created) {
        reason = ErrnoText(std::string(devicePath) + " does not make a virtual keyboard", errno);
        close(fd);
        return -1;
    }
    std::this_thread::sleep_for(kDeviceSettleTime);
    return fd;
}

// One virtual keyboard per process, for the device path it was made on.
struct Keyboard {
    std::mutex mutex;
    std::string path;
    int fd = -1;
};

Keyboard& TheKeyboard() {
    static Keyboard keyboard;
    return keyboard;
}

}  // namespace

PasteResult SendPasteKeysUinput(const char* devicePath, bool withReturn) {
    Keyboard& keyboard = TheKeyboard();
    std::lock_guard lock(keyboard.mutex);
    if (keyboard.fd < 0 || keyboard.path != devicePath) {
        if (keyboard.fd >= 0) {
            ioctl(keyboard.fd, UI_DEV_DESTROY);
            close(keyboard.fd);
        }
        std::string reason;
        keyboard.fd = CreateKeyboard(devicePath, reason);
        keyboard.path = devicePath;
        if (keyboard.fd < 0) {
            return PasteResult::Failed(reason);
        }
    }
    int fd = keyboard.fd;
    bool sent = Key(fd, KEY_LEFTCTRL, true) && Key(fd, KEY_V, true) && Key(fd, KEY_V, false) &&
                Key(fd, KEY_LEFTCTRL, false);
    if (sent && withReturn) {
        sent = Key(fd, KEY_ENTER, true) && Key(fd, KEY_ENTER, false);
    }
    if (!sent) {
        const int error = errno;
        // A device that took no strokes is made anew for the next paste.
        ioctl(fd, UI_DEV_DESTROY);
        close(fd);
        keyboard.fd = -1;
        return PasteResult::Failed(ErrnoText(std::string("writing to ") + devicePath, error));
    }
    return PasteResult::Sent();
}

}  // namespace quillon
