// Scans whose POST failed, kept in order in a file until the server takes
// them. One line per scan, the scan's bytes as hexadecimal digits. An append
// is synced before it returns, and a scan leaves the file (rewritten and
// synced, then renamed over the old one) only once it was delivered, so a
// crash loses nothing that was reported as kept.
#pragma once

#include <cstddef>
#include <deque>
#include <filesystem>
#include <string>
#include <string_view>

namespace quillon {

class Outbox {
  public:
    // Reads the scans the file holds (none when it is missing). A last line
    // cut short by a crash is dropped; it was never reported as kept.
    explicit Outbox(std::filesystem::path file);

    size_t Count() const { return m_scans.size(); }
    bool Empty() const { return m_scans.empty(); }
    // Only when not Empty.
    const std::string& Oldest() const { return m_scans.front(); }

    // Appends the scan to the file and syncs it. False when the file could
    // not be written; the scan is then not kept.
    bool Append(std::string_view scan);
    // Drops the oldest scan and rewrites the file. False when the file could
    // not be rewritten (the scan stays, in memory and in the file).
    bool RemoveOldest();

    const std::filesystem::path& File() const { return m_file; }

  private:
    std::filesystem::path m_file;
    std::deque<std::string> m_scans;
};

}  // namespace quillon
