// The port's input queue: bytes appended at the back and taken from the
// front in blocks, each a memcpy (a deque of bytes moves them one by one).
#pragma once

#include <cstddef>
#include <cstring>
#include <vector>

#include "port/win_types.h"

namespace win::detail {

class ByteQueue {
  public:
    size_t size() const { return bytes_.size() - head_; }
    bool empty() const { return size() == 0; }
    void clear() {
        bytes_.clear();
        head_ = 0;
    }
    void Append(const BYTE* from, size_t count) { bytes_.insert(bytes_.end(), from, from + count); }
    // Moves the first `count` bytes (at most size()) to `to`.
    void TakeFront(BYTE* to, size_t count) {
        std::memcpy(to, bytes_.data() + head_, count);
        head_ += count;
        // Taken bytes are dropped once they outweigh the rest, so appending
        // never grows the storage past twice what waits.
        if (head_ == bytes_.size())
            clear();
        else if (head_ > bytes_.size() / 2)
            Compact();
    }

  private:
    void Compact() {
        bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(head_));
        head_ = 0;
    }

    std::vector<BYTE> bytes_;
    size_t head_ = 0;
};

}  // namespace win::detail
