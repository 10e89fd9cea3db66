// Folders that belong to the user who runs the program (the runtime
// namespace, its subfolders, Quillon's lock folder): made 0700, opened without
// following a link, and refused unless they are real folders owned by this
// user that nobody else can write. Value files in them are written as a
// temporary file renamed over the name, so a link planted under a value's name
// is never written through.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/error.h"
#include "platform/result.h"
#include "platform/unique_fd.h"

namespace platform {

// What a refusal line advises besides removing the folder.
inline constexpr std::string_view kRuntimeDirAdvice =
    "set XDG_RUNTIME_DIR or KTR_RUNTIME_DIR to a folder of your own";

class PrivateFolder {
  public:
    // Opens the folder at `path`; with `create` a missing one is made 0700
    // (missing parents too). The error when it is missing (ENOENT, no
    // message) or refused: a link (ELOOP), not a folder (ENOTDIR), another
    // owner or writable by group or others (EACCES). The refusal line names
    // the folder, its owner and mode, and says to remove it or to follow
    // `advice`.
    static Result<PrivateFolder> Open(const std::filesystem::path& path, bool create,
                                      std::string_view advice = kRuntimeDirAdvice);

    // The same for `name`, one folder level below this one.
    Result<PrivateFolder> Sub(std::string_view name, bool create) const;

    // Writes `text` as the file `name`: a temporary file in this folder
    // renamed over it. A link or anything else but a plain file under that
    // name is refused (ELOOP or EEXIST, with its line) and left as it is.
    Result<void> WriteValue(std::string_view name, std::string_view text) const;

    int Fd() const { return fd_.Get(); }
    const std::filesystem::path& Path() const { return path_; }

  private:
    PrivateFolder(UniqueFd fd, std::filesystem::path path, std::string advice)
        : fd_(std::move(fd)), path_(std::move(path)), advice_(std::move(advice)) {}

    UniqueFd fd_;
    std::filesystem::path path_;
    std::string advice_;
};

}  // namespace platform
