// Temporary folders for tests: private (0700, the user's own, as the runtime
// namespace demands), removed with everything in them when the object goes.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace support {

class TempDir {
  public:
    // A fresh folder "<prefix>-XXXXXX" in the system's temporary folder; a
    // test failure when it cannot be made.
    explicit TempDir(std::string_view prefix = "suite-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::string String() const { return path_.string(); }

  private:
    std::filesystem::path path_;
};

// A TempDir that is the runtime namespace (KTR_RUNTIME_DIR) while it lives;
// the variable's earlier value comes back at the end.
class RuntimeDir {
  public:
    explicit RuntimeDir(std::string_view prefix = "ktr-test");
    ~RuntimeDir();
    RuntimeDir(const RuntimeDir&) = delete;
    RuntimeDir& operator=(const RuntimeDir&) = delete;

    const std::filesystem::path& Path() const { return dir_.Path(); }
    std::string String() const { return dir_.String(); }

  private:
    TempDir dir_;
    std::optional<std::string> previous_;
};

}  // namespace support
