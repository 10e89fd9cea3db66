#include "platform/file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/unique_fd.h"

namespace platform {

Result<void> ReplaceFile(const std::filesystem::path& path, std::string_view bytes) {
    const std::filesystem::path folder =
        path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    std::string pattern = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
    // mkstemp opens with O_CREAT|O_EXCL: never through a planted link.
    UniqueFd fd(::mkstemp(pattern.data()));
    if (!fd)
        return Error::FromErrno("cannot write " + path.string());
    auto fail = [&](int code) {
        ::unlink(pattern.c_str());
        return Error::FromCode(code, "cannot write " + path.string());
    };
    struct stat old {};
    mode_t mode = 0;
    if (::lstat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (::fchmod(fd.Get(), mode) != 0)
        return fail(errno);
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd.Get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail(errno);
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd.Get()) != 0)
        return fail(errno);
    fd.Reset();
    if (::rename(pattern.c_str(), path.c_str()) != 0)
        return fail(errno);
    return {};
}

Result<std::filesystem::path> MakeTempFolder(std::string_view prefix) {
    const char* tmp = std::getenv("TMPDIR");
    const std::filesystem::path base = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    std::string pattern = (base / (std::string(prefix) + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr)
        return Error::FromErrno("cannot make a folder in " + base.string());
    return std::filesystem::path(pattern);
}

}  // namespace platform
