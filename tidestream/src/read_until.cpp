// Reading a reply: up to a terminator, a size or a time limit, whichever
// comes first, waiting in poll rather than spinning.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/deadline.h"

#include "ferrolink/tidestream/tidestream.h"
#include "platform/tick.h"
#include "tty_stream.h"

namespace tidestream {

bool TtyStream::CutAtTerminator(uint8_t* buffer, uint32_t& placed, uint32_t searchFrom,
                                std::string_view terminator) {
    if (terminator.empty()) {
        return false;
    }
    // A terminator may straddle the previous chunk and this one.
    const uint32_t overlap = static_cast<uint32_t>(terminator.size()) - 1;
    const uint32_t from = searchFrom > overlap ? searchFrom - overlap : 0;
    uint8_t* end = buffer + placed;
    const auto* term = reinterpret_cast<const uint8_t*>(terminator.data());
    uint8_t* found = std::search(buffer + from, end, term, term + terminator.size());
    if (found == end) {
        return false;
    }
    const uint32_t cut = static_cast<uint32_t>(found - buffer) + overlap + 1;
    // Bytes after the terminator belong to the next read.
    pending_.insert(pending_.begin(), buffer + cut, buffer + placed);
    placed = cut;
    return true;
}

bool TtyStream::TakePending(uint8_t* buffer, uint32_t size, uint32_t& placed,
                            std::string_view terminator, bool& complete) {
    if (pending_.empty()) {
        return false;
    }
    const uint32_t take = std::min<uint32_t>(size, static_cast<uint32_t>(pending_.size()));
    std::memcpy(buffer, pending_.data(), take);
    pending_.erase(pending_.begin(), pending_.begin() + take);
    placed = take;
    complete = CutAtTerminator(buffer, placed, 0, terminator) || placed == size;
    return true;
}

uint32_t TtyStream::ReadUntil(uint8_t* buffer, uint32_t size, uint32_t timeoutMs,
                              std::string_view terminator, int* error) {
    auto result = [&](uint32_t placed, int code) {
        if (error != nullptr) {
            *error = code;
        }
        return placed;
    };
    if (buffer == nullptr || size == 0) {
        return result(0, QVDS_ERR_INVALID);
    }
    std::lock_guard lock(ioMutex_);
    const int fd = fd_.load();
    if (fd < 0) {
        return result(0, QVDS_ERR_BAD_HANDLE);
    }
    uint32_t placed = 0;
    bool complete = false;
    if (TakePending(buffer, size, placed, terminator, complete) && complete) {
        return result(placed, QVDS_OK);
    }
    const platform::Deadline deadline(timeoutMs);
    for (;;) {
        const ssize_t n = ::read(fd, buffer + placed, size - placed);
        if (n > 0) {
            const uint32_t before = placed;
            placed += static_cast<uint32_t>(n);
            if (CutAtTerminator(buffer, placed, before, terminator) || placed == size) {
                return result(placed, QVDS_OK);
            }
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            // End of file or EIO: the device has hung up.
            gone_->store(true);
            return result(placed, QVDS_ERR_IO);
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (deadline.Expired()) {
            return result(placed, QVDS_ERR_TIMEOUT);
        }
        pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd_.Get(), POLLIN, 0}};
        const int ready = ::poll(fds, 2, deadline.RemainingPollMs());
        if (ready < 0 && errno != EINTR) {
            return result(placed, QVDS_ERR_IO);
        }
        if ((fds[1].revents & POLLIN) != 0) {
            return result(placed, QVDS_ERR_IO);  // the stream is being closed
        }
        if ((fds[0].revents & (POLLERR | POLLNVAL)) != 0) {
            gone_->store(true);
            return result(placed, QVDS_ERR_IO);
        }
    }
}

}  // namespace tidestream
