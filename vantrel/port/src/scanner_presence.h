// Whether the scanner behind a kept virtual port is there. ovrixd keeps the
// pty of a Friendly or Persistent port open while its scanner is away, so the
// port itself never hangs up; the daemon says so in the port's UsbdOnline
// value instead, which this watches.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "platform/unique_fd.h"

namespace win::detail {

class ScannerPresence {
  public:
    // For the port named `comName` ("COM7"); null when ovrixd does not serve
    // that port or no scanner stands behind it (a linked pair, the data pipe).
    static std::unique_ptr<ScannerPresence> Watch(const std::string& comName);
    ScannerPresence(const ScannerPresence&) = delete;
    ScannerPresence& operator=(const ScannerPresence&) = delete;

    // Readable when the value may have changed.
    int Fd() const { return notifyFd_.Get(); }
    // Takes the pending notifications and reads the value again; true while
    // the scanner is there (also when the value cannot be read: a port that
    // goes away altogether hangs up instead).
    bool Refresh();

  private:
    ScannerPresence(platform::UniqueFd notifyFd, std::filesystem::path valueFile)
        : notifyFd_(std::move(notifyFd)), valueFile_(std::move(valueFile)) {}
    platform::UniqueFd notifyFd_;
    std::filesystem::path valueFile_;
};

}  // namespace win::detail
