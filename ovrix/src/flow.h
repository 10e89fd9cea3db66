// One direction of a bridge inside the bus: bytes read from a source fd are
// written to a destination fd. While the destination has no room the bytes
// already read wait here and the source is not read again, so a slow reader
// slows the writer down instead of losing bytes.
#pragma once

#include <cstddef>
#include <vector>

namespace ovrix::detail {

class Flow {
  public:
    enum class Result {
        Moved,              // bytes went on (some may still wait)
        Idle,               // nothing to read or no room yet
        SourceEnded,        // the source hung up or failed
        DestinationFailed,  // the destination refused for good
    };

    // True while read bytes wait for room at the destination; the source
    // must not be polled for input meanwhile.
    bool Waiting() const { return begin_ < end_; }

    // Reads one chunk from `from` and writes as much as fits to `to`.
    Result Pump(int from, int to);
    // Writes waiting bytes to `to` as far as it takes them.
    Result Flush(int to);
    // Reads one chunk from `from` and forgets it (nobody to take it).
    static Result Discard(int from);
    // Forgets waiting bytes: their destination went away.
    void Clear();

  private:
    std::vector<char> buffer_;  // one chunk, allocated on first use
    size_t begin_ = 0;          // waiting bytes are [begin_, end_)
    size_t end_ = 0;
};

}  // namespace ovrix::detail
