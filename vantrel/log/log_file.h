// A buffered, lock-protected log file. Chunks larger than the buffer go to
// the file without copying; the first failed write makes every later write
// and flush fail at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>

namespace vantrel::log {

class LogFile {
  public:
    LogFile() = default;
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Creates the file when missing; `append` keeps its content, otherwise
    // it is cut to empty. Fails for a buffer size of 0 or less.
    bool Open(const char* fileName, bool append, int32_t bufferSize);
    bool Write(const void* bytes, size_t count);
    bool Flush();
    bool Close();
    bool IsOpen() const;

    // The first Windows error of a failed write, 0 while none.
    uint32_t StickyError() const;
    size_t Fill() const;

    // An output callback for fmtx_cb_printf with the LogFile as user value.
    static int WritePiece(void* logFile, const char* text, int32_t length);

  private:
    bool FlushLocked();
    bool WriteFile(const void* bytes, size_t count);

    mutable std::recursive_mutex lock_;
    std::FILE* file_ = nullptr;
    std::unique_ptr<char[]> buffer_;
    size_t capacity_ = 0;
    size_t fill_ = 0;
    uint32_t stickyError_ = 0;
};

}  // namespace vantrel::log
