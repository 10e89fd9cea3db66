#include "handle_table.h"

#include "tty_stream.h"

namespace tidestream {

HandleTable& HandleTable::Instance() {
    // Never destroyed: streams may still be closed from other threads while
    // the process exits.
    static auto* table = new HandleTable();
    return *table;
}

uint32_t HandleTable::Add(std::shared_ptr<TtyStream> stream) {
    std::lock_guard lock(mutex_);
    if (streams_.size() >= 0xFFFF0000u) {
        return 0;
    }
    // Skip 0 and values still in use after the counter wraps.
    while (next_ == 0 || streams_.count(next_) != 0) {
        ++next_;
    }
    const uint32_t handle = next_++;
    streams_.emplace(handle, std::move(stream));
    return handle;
}

std::shared_ptr<TtyStream> HandleTable::Find(uint32_t handle) {
    std::lock_guard lock(mutex_);
    auto it = streams_.find(handle);
    return it == streams_.end() ? nullptr : it->second;
}

std::shared_ptr<TtyStream> HandleTable::Remove(uint32_t handle) {
    std::lock_guard lock(mutex_);
    auto it = streams_.find(handle);
    if (it == streams_.end()) {
        return nullptr;
    }
    auto stream = std::move(it->second);
    streams_.erase(it);
    return stream;
}

}  // namespace tidestream
