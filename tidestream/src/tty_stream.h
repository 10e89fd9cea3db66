// One stream on a tty node: raw mode, exclusive, non-blocking with poll.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "notifier.h"
#include "platform/unique_fd.h"

namespace tidestream {

// Default line settings of a USB endpoint, where the rate does not matter.
inline constexpr uint32_t kUsbBaudRate = 115200;

class TtyStream {
  public:
    TtyStream();
    ~TtyStream();
    TtyStream(const TtyStream&) = delete;
    TtyStream& operator=(const TtyStream&) = delete;

    // Opens node at baudRate with dataBits per character (0 = 8), no parity,
    // one stop bit. Returns a QVDS error code (QVDS_OK on success). An open
    // stream is closed first.
    int Open(const std::filesystem::path& node, uint32_t baudRate, uint8_t dataBits);
    bool IsOpen();
    // Drops input already received and not yet read.
    bool Clean();
    bool Write(const void* data, uint32_t length);
    // Reads into buffer until terminator has arrived, size bytes are placed or
    // timeoutMs has passed. Bytes after the terminator stay for the next read.
    uint32_t ReadUntil(uint8_t* buffer, uint32_t size, uint32_t timeoutMs,
                       std::string_view terminator, int* error);
    void Close();

    Notifier& notifier() { return notifier_; }
    int fd() const { return fd_.load(); }

  private:
    bool TakePending(uint8_t* buffer, uint32_t size, uint32_t& placed, std::string_view terminator,
                     bool& complete);
    // Moves the bytes of buffer after a terminator found at or after
    // searchFrom back to pending; true when a terminator was found.
    bool CutAtTerminator(uint8_t* buffer, uint32_t& placed, uint32_t searchFrom,
                         std::string_view terminator);

    std::mutex ioMutex_;  // one read, write or clean at a time; open/close
    std::atomic<int> fd_{-1};
    platform::UniqueFd wakeFd_;  // close wakes a read that waits for data
    std::shared_ptr<std::atomic<bool>> gone_;
    std::vector<uint8_t> pending_;
    Notifier notifier_;
};

}  // namespace tidestream
