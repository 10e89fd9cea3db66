// Starts a joinable thread with a chosen stack size.
#pragma once

#include <pthread.h>
#include <cstdint>
#include <optional>

namespace vantrel::log {

using ThreadFunction = uint32_t (*)(void* argument);
using ThreadHandle = pthread_t;

// A stack size of 0 or less means 64000 bytes. None when the thread cannot
// be made.
std::optional<ThreadHandle> StartThread(ThreadFunction function, void* argument, int32_t stackSize);
// Waits for the thread and answers the function's result.
uint32_t JoinThread(ThreadHandle thread);

}  // namespace vantrel::log
