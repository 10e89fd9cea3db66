// Millisecond tick counter and plain sleeps, as the Windows code expects them.
#pragma once

#include <cstdint>

namespace platform {

// Milliseconds of a steady clock, wrapping at 2^32 like GetTickCount.
uint32_t TickCountMs();
// Difference of two tick values, correct across a wrap.
inline uint32_t TicksSince(uint32_t start, uint32_t now) { return now - start; }
void SleepMs(uint32_t milliseconds);

}  // namespace platform
