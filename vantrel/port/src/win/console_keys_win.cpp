// Console keys on Windows: a console is read key by key without line input
// or echo; a pipe or file is read byte by byte as it comes.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstddef>

#include "console_line.h"
#include "port/console_keys.h"

namespace win {
namespace {

HANDLE Input() {
    return GetStdHandle(STD_INPUT_HANDLE);
}

bool IsConsole(HANDLE input, DWORD* mode) {
    return GetConsoleMode(input, mode) != 0;
}

// The console without line input and echo while a key is read.
class RawModeScope {
  public:
    explicit RawModeScope(HANDLE input) : input_(input), active_(IsConsole(input, &saved_)) {
        if (active_)
            SetConsoleMode(input_,
                           saved_ & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT));
    }
    ~RawModeScope() {
        if (active_)
            SetConsoleMode(input_, saved_);
    }
    RawModeScope(const RawModeScope&) = delete;
    RawModeScope& operator=(const RawModeScope&) = delete;
    bool Active() const { return active_; }

  private:
    HANDLE input_;
    DWORD saved_ = 0;
    bool active_;
};

int ReadByte(HANDLE input, bool console) {
    unsigned char byte = 0;
    DWORD got = 0;
    for (;;) {
        const BOOL ok = console ? ReadConsoleA(input, &byte, 1, &got, nullptr)
                                : ReadFile(input, &byte, 1, &got, nullptr);
        if (!ok)
            return -1;
        if (got == 1)
            return byte;
        if (!console)
            return -1;  // end of the pipe or file
    }
}

// Drops console events other than a key going down with a character.
bool ConsoleKeyQueued(HANDLE input) {
    for (;;) {
        INPUT_RECORD record{};
        DWORD count = 0;
        if (!PeekConsoleInputA(input, &record, 1, &count) || count == 0)
            return false;
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
            record.Event.KeyEvent.uChar.AsciiChar != 0)
            return true;
        ReadConsoleInputA(input, &record, 1, &count);
    }
}

}  // namespace

int ConsoleReadKey() {
    const HANDLE input = Input();
    const RawModeScope raw(input);
    return ReadByte(input, raw.Active());
}

bool ConsoleKeyWaiting() {
    const HANDLE input = Input();
    DWORD mode = 0;
    if (IsConsole(input, &mode))
        return ConsoleKeyQueued(input);
    if (GetFileType(input) == FILE_TYPE_PIPE) {
        DWORD available = 0;
        return PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr) && available > 0;
    }
    // A file: the next read answers at once, with a byte or the end.
    return true;
}

size_t ConsoleReadLine(char* buffer, size_t capacity) {
    const HANDLE input = Input();
    DWORD mode = 0;
    const bool console = IsConsole(input, &mode);
    return detail::ReadConsoleLineWith([&] { return ReadByte(input, console); }, buffer, capacity);
}

}  // namespace win
