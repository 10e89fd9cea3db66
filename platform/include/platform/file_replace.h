// Files written whole: a temporary file beside the target, synced, then
// renamed over it, so a reader sees the old file or the new one and never a
// part; a link at the target's name is replaced, never written through.
#pragma once

#include <filesystem>
#include <string_view>

#include "platform/result.h"

namespace platform {

// Writes `bytes` as the file `path`. The temporary file is made exclusively
// (a name already taken, a link included, is never opened) in the target's
// folder, so the rename stays on one file system. A plain file replaced keeps
// its permission bits; a new file gets 0666 less the umask. On failure the
// target is left as it was and no temporary file remains; the error line
// names the file and the reason.
Result<void> ReplaceFile(const std::filesystem::path& path, std::string_view bytes);

// A new folder "<prefix>-XXXXXX" (0700) in $TMPDIR, else /tmp.
Result<std::filesystem::path> MakeTempFolder(std::string_view prefix);

}  // namespace platform
