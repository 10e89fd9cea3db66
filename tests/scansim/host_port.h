// The host side of a simulated scanner in tests: the scanner's tty opened
// through its namespace link, and the frames written out independently.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace scansim_test {

inline constexpr char kAck = 0x06;
inline constexpr char kNak = 0x15;

// "\x7E\x01" "0000" ['@'] command ";" ETX, written out here independently of the simulator.
std::string CommandFrame(std::string_view command);
// The reply a scanner should send for `payload` with `status`.
std::string ReplyFrame(std::string_view payload, char status);

class HostPort {
  public:
    // Opens the tty behind `link` in raw mode at `baud`; IsOpen() tells.
    explicit HostPort(const std::filesystem::path& link, unsigned baud = 115200);
    ~HostPort();
    HostPort(const HostPort&) = delete;
    HostPort& operator=(const HostPort&) = delete;
    bool IsOpen() const { return fd_ >= 0; }
    bool SetBaud(unsigned baud);
    bool Write(std::string_view bytes);
    // Bytes that arrive within `ms` (reads until that much time has passed).
    std::string ReadFor(int ms);
    // Reads until `bytes` ends with `end` or `limitMs` pass.
    std::string ReadUntilEnd(std::string_view end, int limitMs = 5000);
    // Reads until at least `count` bytes came or `limitMs` pass.
    std::string ReadCount(size_t count, int limitMs = 5000);
    // Sends a command frame and reads the reply up to ';' ETX.
    std::string Ask(std::string_view command, int limitMs = 5000);
    // true when the other side hung up (read gives EOF or EIO) within `limitMs`.
    bool SeesHangup(int limitMs = 5000);

  private:
    int fd_ = -1;
};

}  // namespace scansim_test
