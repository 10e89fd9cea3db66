#include "flow.h"

#include <unistd.h>

#include <cerrno>

namespace ovrix::detail {

namespace {

// Large enough that a fast link moves whole bursts per wake-up.
constexpr size_t kChunkBytes = 64 * 1024;

// Reads one chunk; the count read, or the result that ended the read.
Flow::Result ReadChunk(int from, char* buffer, size_t* count) {
    ssize_t n;
    do {
        n = ::read(from, buffer, kChunkBytes);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
        *count = static_cast<size_t>(n);
        return Flow::Result::Moved;
    }
    *count = 0;
    if (n < 0 && errno == EAGAIN)
        return Flow::Result::Idle;
    return Flow::Result::SourceEnded;
}

}  // namespace

Flow::Result Flow::Pump(int from, int to) {
    if (Waiting())
        return Flush(to);
    if (buffer_.empty())
        buffer_.resize(kChunkBytes);
    Clear();
    Result read = ReadChunk(from, buffer_.data(), &end_);
    if (read != Result::Moved)
        return read;
    Result written = Flush(to);
    return written == Result::DestinationFailed ? written : Result::Moved;
}

Flow::Result Flow::Flush(int to) {
    bool moved = false;
    while (Waiting()) {
        ssize_t n = ::write(to, buffer_.data() + begin_, end_ - begin_);
        if (n > 0) {
            begin_ += static_cast<size_t>(n);
            moved = true;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return moved ? Result::Moved : Result::Idle;
        return Result::DestinationFailed;
    }
    Clear();
    return moved ? Result::Moved : Result::Idle;
}

Flow::Result Flow::Discard(int from) {
    char ignored[kChunkBytes];
    size_t count = 0;
    return ReadChunk(from, ignored, &count);
}

void Flow::Clear() {
    begin_ = 0;
    end_ = 0;
}

}  // namespace ovrix::detail
