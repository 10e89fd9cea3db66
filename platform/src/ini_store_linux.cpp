// Where the ini module's files are written on Linux: a temporary file beside
// the target, renamed over it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "ini_store.h"
#include "platform/unique_fd.h"

namespace platform {
namespace {

// Syncs the directory entry of a renamed file. Some file systems refuse
// fsync on a directory; the data itself is on disk by then.
void SyncDirectory(const std::filesystem::path& directory) {
    const UniqueFd fd(
        open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd) {
        fsync(fd.Get());
    }
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = write(fd, text.data() + done, text.size() - done);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(written);
    }
    return true;
}

}  // namespace

// The new content goes to a temporary file beside the target, which takes
// the target's permission bits (0600 for a new file: ktr.ini may hold a url
// with a token), is synced, and is renamed over the target.
bool IniStoreText(const std::filesystem::path& target, const std::string& text) {
    mode_t mode = S_IRUSR | S_IWUSR;
    struct stat old {};
    if (stat(target.c_str(), &old) == 0)
        mode = old.st_mode & 07777;
    std::string pattern = target.string() + ".XXXXXX";
    UniqueFd fd(mkostemp(pattern.data(), O_CLOEXEC));
    if (!fd)
        return false;
    const bool written =
        fchmod(fd.Get(), mode) == 0 && WriteAll(fd.Get(), text) && fsync(fd.Get()) == 0;
    const int savedErrno = errno;
    // Closed by hand: a write error may only show here.
    if (close(fd.Release()) != 0 || !written || std::rename(pattern.c_str(), target.c_str()) != 0) {
        const int failure = written ? errno : savedErrno;
        unlink(pattern.c_str());
        errno = failure;
        return false;
    }
    SyncDirectory(target.parent_path());
    return true;
}

}  // namespace platform
