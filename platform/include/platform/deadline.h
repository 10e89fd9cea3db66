// A time limit on the tick counter: started once, then asked whether it has
// passed and how long is left, so wait loops do no tick arithmetic of their
// own. Correct across the wrap of the 32-bit counter.
#pragma once

#include <cstdint>

#include "platform/tick.h"

namespace platform {

class Deadline {
  public:
    // Starts now and passes `timeoutMs` from now.
    explicit Deadline(uint32_t timeoutMs) : Deadline(TickCountMs(), timeoutMs) {}
    // Started at the tick `startTick`.
    Deadline(uint32_t startTick, uint32_t timeoutMs) : start_(startTick), timeout_(timeoutMs) {}

    uint32_t StartTick() const { return start_; }
    uint32_t TimeoutMs() const { return timeout_; }

    uint32_t ElapsedMsAt(uint32_t now) const { return TicksSince(start_, now); }
    bool ExpiredAt(uint32_t now) const { return ElapsedMsAt(now) >= timeout_; }
    // Milliseconds left at the tick `now`; 0 once passed.
    uint32_t RemainingMsAt(uint32_t now) const {
        const uint32_t elapsed = ElapsedMsAt(now);
        return elapsed >= timeout_ ? 0 : timeout_ - elapsed;
    }

    uint32_t ElapsedMs() const { return ElapsedMsAt(TickCountMs()); }
    bool Expired() const { return ExpiredAt(TickCountMs()); }
    uint32_t RemainingMs() const { return RemainingMsAt(TickCountMs()); }
    // What is left as a poll() time-out (limited to the int range).
    int RemainingPollMs() const {
        const uint32_t left = RemainingMs();
        return left > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(left);
    }

  private:
    uint32_t start_;
    uint32_t timeout_;
};

}  // namespace platform
