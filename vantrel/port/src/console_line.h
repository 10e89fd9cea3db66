// One line of console input, the same on both systems once each has its own
// way of reading a byte.
#pragma once

#include <cstddef>

namespace win::detail {

// Reads with `readByte` (a byte, or below 0 at the end) up to and including
// a line end, into `buffer` NUL-terminated within `capacity`; returns the
// number of bytes read.
template <typename ReadByte>
size_t ReadConsoleLineWith(ReadByte readByte, char* buffer, size_t capacity) {
    size_t used = 0;
    while (used + 1 < capacity) {
        const int byte = readByte();
        if (byte < 0)
            break;
        buffer[used++] = static_cast<char>(byte);
        if (byte == '\n' || byte == '\r')
            break;
    }
    if (capacity > 0)
        buffer[used] = '\0';
    return used;
}

}  // namespace win::detail
