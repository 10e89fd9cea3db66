// Where every piece of text goes: the callback, then the buffer up to its
// capacity. The position always advances by the full length.
#include <algorithm>
#include <cstring>

#include "engine.h"

namespace fmtx {

void Output::Piece(const char* text, int64_t length) {
    if (callback)
        callback(user, text, static_cast<int32_t>(length));
    if (buffer && position < capacity) {
        int64_t stored = std::min(length, capacity - position);
        // memmove: fmtx_strcat copies the buffer's own text onto itself.
        std::memmove(buffer + position, text, static_cast<size_t>(stored));
    }
    position += length;
}

void Output::Run(char c, int64_t count) {
    if (count <= 0)
        return;
    if (callback) {
        char piece[kRunPieceSize];
        std::memset(piece, c, sizeof piece);
        for (int64_t left = count; left > 0; left -= kRunPieceSize)
            callback(user, piece, static_cast<int32_t>(std::min<int64_t>(left, kRunPieceSize)));
    }
    if (buffer && position < capacity)
        std::memset(buffer + position, c,
                    static_cast<size_t>(std::min(count, capacity - position)));
    position += count;
}

FmtxSink Output::SubSink() const {
    FmtxSink sub{callback, user, nullptr, 0};
    if (buffer && position < capacity) {
        sub.buffer = buffer + position;
        sub.capacity = static_cast<int32_t>(capacity - position);
    }
    return sub;
}

void Output::Terminate() {
    if (buffer && capacity > 0)
        buffer[std::min(position, capacity - 1)] = '\0';
}

}  // namespace fmtx
