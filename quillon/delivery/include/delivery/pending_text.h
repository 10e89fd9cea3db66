// Text received from the scanner and not yet pasted. The data-stream library's
// thread appends, the window thread takes; every operation holds one lock.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

namespace quillon {

class PendingText {
  public:
    // Appends the units. Returns true when the text was empty before, or
    // held back after a failed paste (see Hold), which is the caller's cue to
    // arm the collect timer. A caller that checks
    // Empty() before converting should still arm on this result: the window
    // thread may have taken the text in between, and units appended to an
    // empty text without an armed timer would wait for the next scan.
    bool Append(std::u16string_view units);

    // Reads and empties in one step.
    std::u16string TakeAll();

    // Puts text whose delivery failed back in front of anything appended
    // since it was taken, so the next attempt pastes everything in order.
    void Restore(std::u16string_view text);

    // Restore for a paste that cannot be made now: the text waits, without a
    // timer running for it, until the next block arrives (whose Append then
    // asks for the timer) or the caller tries again by itself.
    void Hold(std::u16string_view text);
    // Text is held back by Hold and nothing took it since.
    bool Held() const;

    bool Empty() const;
    size_t Size() const;

  private:
    mutable std::mutex mutex_;
    std::u16string text_;
    bool held_ = false;
};

}  // namespace quillon
