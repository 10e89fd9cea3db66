// Keys typed at the console: the terminal in raw mode without echo, or
// standard input as it comes when it is not a terminal. Implemented by the
// port layer (console_keys.cpp), the only place the console makes OS calls.
#pragma once

#include <cstddef>

namespace win {
// One key; blocks until it comes. -1 when the input has ended.
int ConsoleReadKey();
// True when a key can be read without waiting.
bool ConsoleKeyWaiting();
// A line of at most `capacity - 1` characters including its end (CR or LF);
// returns the characters stored, 0 at the end of input.
size_t ConsoleReadLine(char* buffer, size_t capacity);
}  // namespace win
