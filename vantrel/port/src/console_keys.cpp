// Console keys for the test console. A terminal is switched to raw mode
// without echo only while a key is being read, so that the program's own
// output keeps its normal line handling in between.
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstddef>

#include "console_line.h"
#include "port/console_keys.h"

namespace win {
namespace {

class RawModeScope {
  public:
    RawModeScope() : active_(isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved_) == 0) {
        if (!active_)
            return;
        termios raw = saved_;
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        raw.c_iflag &= ~static_cast<tcflag_t>(ICRNL);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    }
    ~RawModeScope() {
        if (active_)
            tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
    }
    RawModeScope(const RawModeScope&) = delete;
    RawModeScope& operator=(const RawModeScope&) = delete;

  private:
    termios saved_{};
    bool active_;
};

int ReadByte() {
    unsigned char byte = 0;
    for (;;) {
        const ssize_t got = read(STDIN_FILENO, &byte, 1);
        if (got == 1)
            return byte;
        if (got == 0)
            return -1;
    }
}

}  // namespace

int ConsoleReadKey() {
    RawModeScope raw;
    return ReadByte();
}

bool ConsoleKeyWaiting() {
    RawModeScope raw;
    pollfd entry{STDIN_FILENO, POLLIN, 0};
    return poll(&entry, 1, 0) > 0 && (entry.revents & POLLIN) != 0;
}

size_t ConsoleReadLine(char* buffer, size_t capacity) {
    return detail::ReadConsoleLineWith([] { return ReadByte(); }, buffer, capacity);
}

}  // namespace win
