// The OS side of the simulator: a pty pair whose slave end plays the
// scanner's tty node, and a wake-up handle for the service thread.
#pragma once

#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace scansim {

class PtyPort {
  public:
    PtyPort() = default;
    ~PtyPort() { Close(); }
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;

    // New pty pair; the slave is put into raw mode at 115200 and kept open so
    // that the master sees no hang-up while no host has the node open.
    bool Open(std::string& error);
    // Closing the master hangs up every host that has the slave open.
    void Close();
    bool IsOpen() const { return static_cast<bool>(master_); }
    const std::string& SlavePath() const { return slavePath_; }

    // Input speed the host last set on the tty, in bits per second (0 if unknown).
    unsigned SlaveBaud() const;

    enum class WaitResult { kReadable, kWoken, kTimeout, kHangup };
    // Waits for host bytes or a wake-up.
    WaitResult Wait(int wakeFd, int timeoutMs) const;
    // Reads what is there; -1 on error, 0 when nothing.
    long Read(char* buffer, size_t size) const;
    // Writes all bytes, waiting while the host is slow; false on error or
    // when `giveUpMs` pass without progress.
    bool WriteAll(std::string_view bytes, int giveUpMs = 10000) const;

    // Waits until the host has read everything written so far, at most `limitMs`.
    // A hang-up discards unread bytes, and a device that drops mid-reply still
    // got its first half onto the wire.
    void WaitDrained(int limitMs) const;

  private:
    platform::UniqueFd master_;
    platform::UniqueFd slave_;
    std::string slavePath_;
};

// A counter handle the service thread polls beside the pty.
class WakeHandle {
  public:
    WakeHandle();
    WakeHandle(const WakeHandle&) = delete;
    WakeHandle& operator=(const WakeHandle&) = delete;
    int Fd() const { return fd_.Get(); }
    void Signal() const;
    void Drain() const;

  private:
    platform::UniqueFd fd_;
};

void SleepMs(int ms);

}  // namespace scansim
