// Millisecond tick counter on the steady clock.
#include "platform/tick.h"

#include <chrono>
#include <thread>

namespace platform {

uint32_t TickCountMs() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    // Truncation to 32 bits is the wrap that callers expect of a tick counter.
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

void SleepMs(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace platform
