// A pseudo-terminal pair: the code under test opens the slave's node
// (/dev/pts/N), the test plays the device on the master. The master runs raw,
// so bytes pass both ways unchanged.
#pragma once

#include <termios.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace support {

class PtyPair {
  public:
    // A test failure when no pty can be had.
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::filesystem::path& node() const { return node_; }
    int master() const { return master_; }
    // The test's own descriptor of the slave: it keeps the node alive and
    // lets the test read the line settings the code under test gave it.
    int slave() const { return slave_; }

    // Closing the master hangs up the slave: the device has gone.
    void Unplug();
    void CloseSlave();
    void Close();

    // Writes all of `bytes` to the master (a test failure when it cannot).
    void Send(std::string_view bytes) const;
    // What arrives at the master within `timeoutMs` of quiet, stopping as
    // soon as `want` bytes have come.
    std::string Receive(size_t want, int timeoutMs = 5000) const;
    // The output speed set on the slave.
    speed_t SlaveSpeed() const;

  private:
    int master_ = -1;
    int slave_ = -1;
    std::filesystem::path node_;
};

}  // namespace support
