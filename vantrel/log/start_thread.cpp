// Threads of the console: the function and its argument travel in a small
// record that the new thread frees once the function has returned.
#include "start_thread.h"

#include <algorithm>
#include <climits>
#include <new>

namespace vantrel::log {

namespace {

constexpr int32_t kDefaultStack = 64000;

// The smallest stack the thread library takes (glibc asks the system).
size_t StackFloor() {
#ifdef PTHREAD_STACK_MIN
    return static_cast<size_t>(PTHREAD_STACK_MIN);
#else
    // winpthreads names no floor; Windows rounds a stack up to whole pages itself.
    return 16384;
#endif
}

struct StartRecord {
    ThreadFunction function;
    void* argument;
};

void* ThreadEntry(void* pointer) {
    StartRecord* record = static_cast<StartRecord*>(pointer);
    uint32_t result = record->function(record->argument);
    delete record;
    return reinterpret_cast<void*>(static_cast<uintptr_t>(result));
}

}  // namespace

std::optional<ThreadHandle> StartThread(ThreadFunction function, void* argument,
                                        int32_t stackSize) {
    StartRecord* record = new (std::nothrow) StartRecord{function, argument};
    if (!record)
        return std::nullopt;
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    size_t size = static_cast<size_t>(stackSize > 0 ? stackSize : kDefaultStack);
    pthread_attr_setstacksize(&attributes, std::max(size, StackFloor()));
    pthread_t thread;
    int failed = pthread_create(&thread, &attributes, ThreadEntry, record);
    pthread_attr_destroy(&attributes);
    if (failed) {
        delete record;
        return std::nullopt;
    }
    return thread;
}

uint32_t JoinThread(ThreadHandle thread) {
    void* result = nullptr;
    pthread_join(thread, &result);
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(result));
}

}  // namespace vantrel::log
