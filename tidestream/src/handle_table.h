// Maps the 32-bit handles of the interface to stream objects. Thread-safe;
// a handle value is never 0 and is not reused while it is in the table.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace tidestream {

class TtyStream;

class HandleTable {
  public:
    static HandleTable& Instance();
    // 0 when the table is full.
    uint32_t Add(std::shared_ptr<TtyStream> stream);
    // The stream stays alive for the caller even if another thread removes it.
    std::shared_ptr<TtyStream> Find(uint32_t handle);
    // Null for an unknown handle.
    std::shared_ptr<TtyStream> Remove(uint32_t handle);

  private:
    std::mutex mutex_;
    std::unordered_map<uint32_t, std::shared_ptr<TtyStream>> streams_;
    uint32_t next_ = 1;
};

}  // namespace tidestream
