// Private folders: every level is opened relative to the descriptor of the
// one above it, without following a link, and checked with fstat on the
// descriptor that is then used, so what was checked is what gets written.
#include "platform/private_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace platform {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::string ModeText(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

bool SetError(Error* error, int code, std::string message) {
    if (error != nullptr) {
        error->code = code;
        error->message = std::move(message);
    }
    errno = code;
    return false;
}

std::string Refusal(const std::filesystem::path& path, std::string_view what, const struct stat& st,
                    std::string_view advice) {
    return "refusing " + path.string() + ": " + std::string(what) + " (owner uid " +
           std::to_string(st.st_uid) + ", mode " + ModeText(st.st_mode) + "); remove it, or " +
           std::string(advice);
}

// Opens `name` below `parentFd` as a private folder, making it first when
// asked. The descriptor is returned only once fstat shows it is ours.
UniqueFd OpenChecked(int parentFd, const std::string& name, const std::filesystem::path& shown,
                     bool create, std::string_view advice, Error* error) {
    if (create && ::mkdirat(parentFd, name.c_str(), 0700) != 0 && errno != EEXIST) {
        SetError(error, errno,
                 "cannot make " + shown.string() + ": " + std::string(std::strerror(errno)));
        return {};
    }
    UniqueFd fd(::openat(parentFd, name.c_str(), kFolderFlags));
    if (!fd) {
        const int code = errno;
        struct stat st {};
        if (code == ENOENT) {
            SetError(error, ENOENT, {});
        } else if (::fstatat(parentFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                   S_ISLNK(st.st_mode)) {
            SetError(error, ELOOP, Refusal(shown, "it is a symbolic link", st, advice));
        } else if (code == ENOTDIR) {
            ::fstatat(parentFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW);
            SetError(error, ENOTDIR, Refusal(shown, "it is not a folder", st, advice));
        } else {
            SetError(error, code,
                     "cannot open " + shown.string() + ": " + std::string(std::strerror(code)));
        }
        return {};
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) {
        SetError(error, errno,
                 "cannot open " + shown.string() + ": " + std::string(std::strerror(errno)));
        return {};
    }
    if (st.st_uid != ::geteuid()) {
        SetError(error, EACCES, Refusal(shown, "it belongs to another user", st, advice));
        return {};
    }
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        SetError(error, EACCES, Refusal(shown, "others can write it", st, advice));
        return {};
    }
    return fd;
}

// One level name: no separators, no dot names.
bool IsPlainName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

// Opens (and with `create` makes, 0700) the folders above a private folder.
// They are the user's choice and are followed as named.
UniqueFd OpenParent(const std::filesystem::path& parent, bool create, Error* error) {
    UniqueFd fd(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd || errno != ENOENT || !create || parent == parent.root_path() || parent.empty()) {
        if (!fd) {
            const int code = errno;
            SetError(error, code,
                     code == ENOENT ? std::string()
                                    : "cannot open " + parent.string() + ": " +
                                          std::string(std::strerror(code)));
        }
        return fd;
    }
    const std::filesystem::path up = parent.parent_path();
    UniqueFd above = OpenParent(up.empty() ? std::filesystem::path(".") : up, create, error);
    if (!above) {
        return {};
    }
    const std::string name = parent.filename().string();
    if (::mkdirat(above.Get(), name.c_str(), 0700) != 0 && errno != EEXIST) {
        SetError(error, errno,
                 "cannot make " + parent.string() + ": " + std::string(std::strerror(errno)));
        return {};
    }
    fd.Reset(::openat(above.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd) {
        SetError(error, errno,
                 "cannot open " + parent.string() + ": " + std::string(std::strerror(errno)));
    }
    return fd;
}

std::atomic<unsigned> g_temporaryCounter{0};

}  // namespace

Result<PrivateFolder> PrivateFolder::Open(const std::filesystem::path& path, bool create,
                                          std::string_view advice) {
    Error failure;
    Error* error = &failure;
    std::filesystem::path full = path.lexically_normal();
    if (!full.has_filename()) {
        full = full.parent_path();  // a trailing separator
    }
    const std::string name = full.filename().string();
    if (!IsPlainName(name)) {
        SetError(error, EINVAL, "cannot use " + path.string() + " as a private folder");
        return failure;
    }
    std::filesystem::path parent = full.parent_path();
    if (parent.empty()) {
        parent = ".";
    }
    UniqueFd parentFd = OpenParent(parent, create, error);
    if (!parentFd) {
        return failure;
    }
    UniqueFd fd = OpenChecked(parentFd.Get(), name, full, create, advice, error);
    if (!fd) {
        return failure;
    }
    return PrivateFolder(std::move(fd), std::move(full), std::string(advice));
}

Result<PrivateFolder> PrivateFolder::Sub(std::string_view name, bool create) const {
    Error failure;
    Error* error = &failure;
    if (!IsPlainName(name)) {
        SetError(error, EINVAL, "cannot use " + (path_ / name).string() + " as a private folder");
        return failure;
    }
    const std::filesystem::path shown = path_ / name;
    UniqueFd fd = OpenChecked(fd_.Get(), std::string(name), shown, create, advice_, error);
    if (!fd) {
        return failure;
    }
    return PrivateFolder(std::move(fd), shown, advice_);
}

Result<void> PrivateFolder::WriteValue(std::string_view name, std::string_view text) const {
    Error failure;
    Error* error = &failure;
    if (!IsPlainName(name) || name[0] == '.') {
        SetError(error, EINVAL, "cannot write a value named " + std::string(name));
        return failure;
    }
    const std::string file(name);
    const std::filesystem::path shown = path_ / file;
    struct stat st {};
    if (::fstatat(fd_.Get(), file.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode)) {
        if (S_ISLNK(st.st_mode)) {
            char target[4096];
            const ssize_t length = ::readlinkat(fd_.Get(), file.c_str(), target, sizeof target - 1);
            const std::string to = length > 0 ? std::string(target, length) : std::string("?");
            SetError(error, ELOOP,
                     "refusing " + shown.string() + ": it is a symbolic link to " + to +
                         ", not written through; remove it");
            return failure;
        }
        SetError(error, EEXIST,
                 "refusing " + shown.string() + ": it is not a plain file; remove it");
        return failure;
    }
    const std::string temporary = "." + file + ".new" + std::to_string(::getpid()) + "." +
                                  std::to_string(g_temporaryCounter.fetch_add(1));
    UniqueFd out(::openat(fd_.Get(), temporary.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!out) {
        SetError(error, errno,
                 "cannot write " + shown.string() + ": " + std::string(std::strerror(errno)));
        return failure;
    }
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(out.Get(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const int code = n < 0 ? errno : EIO;
            ::unlinkat(fd_.Get(), temporary.c_str(), 0);
            SetError(error, code,
                     "cannot write " + shown.string() + ": " + std::string(std::strerror(code)));
            return failure;
        }
        done += static_cast<size_t>(n);
    }
    out.Reset();
    if (::renameat(fd_.Get(), temporary.c_str(), fd_.Get(), file.c_str()) != 0) {
        const int code = errno;
        ::unlinkat(fd_.Get(), temporary.c_str(), 0);
        SetError(error, code,
                 "cannot write " + shown.string() + ": " + std::string(std::strerror(code)));
        return failure;
    }
    return {};
}

}  // namespace platform
