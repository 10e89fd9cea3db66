// One stream on a Windows serial port (\\.\COMn, or a USB device path):
// overlapped reads and writes with COMMTIMEOUTS, a waiting read woken by
// Cancel, and a device that has gone told apart from a read that only timed
// out. Nothing here waits on comm events (WaitCommEvent), which Wine cannot
// give on a pseudo-terminal.
#pragma once

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tidestream {

// How a read ended.
enum class ReadEnd {
    kComplete,   // the terminator arrived
    kFull,       // the buffer is full
    kTimeout,    // the time ran out first
    kCancelled,  // Cancel woke it
    kGone,       // the device has gone (unplugged, hung up)
    kFailed,     // any other error
};

// Whether a Win32 error of a read or write on a serial port means that the
// device has gone. The errors a removed USB serial device gives on Windows,
// and the ones Wine gives when a pseudo-terminal hangs up (ERROR_BROKEN_PIPE
// on reads, ERROR_NOT_READY on writes). ERROR_OPERATION_ABORTED counts unless
// `cancelledByUs`: a removed device aborts pending requests too.
bool IsDeviceGoneError(DWORD error, bool cancelledByUs = false);

// Whether an overlapped read that ended with `error` has only timed out:
// Windows ends it with success and no byte, Wine with ERROR_TIMEOUT.
bool IsReadTimeoutError(DWORD error);

// "COM5" -> "\\.\COM5"; a path that starts with "\\" stays as it is.
std::wstring ComDevicePath(std::wstring_view name);

class ComStream {
  public:
    ComStream();
    ~ComStream();
    ComStream(const ComStream&) = delete;
    ComStream& operator=(const ComStream&) = delete;

    // Opens `path` exclusively at `baudRate` with `dataBits` per character
    // (0 = 8), no parity, one stop bit, no flow control. ERROR_SUCCESS or the
    // Win32 error that stopped it. An open stream is closed first.
    DWORD Open(const std::wstring& path, uint32_t baudRate, uint8_t dataBits);
    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
    // Drops input received and not yet read.
    bool Clean();
    // Writes all of `data`; false with the Win32 error in *error.
    bool Write(const void* data, uint32_t length, DWORD* error);
    // Reads into buffer until `terminator` has arrived, `size` bytes are
    // placed or `timeoutMs` has passed; bytes after the terminator stay for
    // the next read. Returns the bytes placed, and how the read ended.
    uint32_t ReadUntil(uint8_t* buffer, uint32_t size, uint32_t timeoutMs,
                       std::string_view terminator, ReadEnd* end, DWORD* error = nullptr);
    // Wakes a read that waits, now or later, until the next Open.
    void Cancel();
    void Close();

  private:
    // One overlapped read of what arrives within `timeoutMs`.
    ReadEnd ReadSome(uint8_t* buffer, uint32_t size, uint32_t timeoutMs, uint32_t* got,
                     DWORD* error);
    bool TakePending(uint8_t* buffer, uint32_t size, uint32_t& placed, std::string_view terminator);
    bool CutAtTerminator(uint8_t* buffer, uint32_t& placed, uint32_t searchFrom,
                         std::string_view terminator);

    std::mutex ioMutex_;  // one read, write or clean at a time
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    HANDLE readEvent_ = nullptr;
    HANDLE writeEvent_ = nullptr;
    HANDLE cancelEvent_ = nullptr;  // manual reset: set by Cancel
    std::vector<uint8_t> pending_;
};

}  // namespace tidestream
