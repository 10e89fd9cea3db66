// Where the ini module's files are written on Windows: a temporary file
// beside the target, flushed, then put in the target's place. ReplaceFile
// keeps the replaced file's security descriptor and attributes, so a file
// that only its owner may read stays so; a new file takes its folder's.
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <random>
#include <string>

#include "ini_store.h"

namespace platform {
namespace {

int ErrnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT:
            return EACCES;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        default:
            return EIO;
    }
}

class Handle {
  public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() { Close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle_; }
    bool Close() {
        const bool closed = !Valid() || CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        return closed;
    }

  private:
    HANDLE handle_;
};

bool WriteAll(HANDLE file, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size() - done, 1u << 20));
        DWORD written = 0;
        if (!WriteFile(file, text.data() + done, chunk, &written, nullptr))
            return false;
        done += written;
    }
    return true;
}

}  // namespace

bool IniStoreText(const std::filesystem::path& target, const std::string& text) {
    std::random_device seed;
    std::mt19937 random(seed() ^ GetCurrentProcessId());
    std::filesystem::path temporary;
    HANDLE opened = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && opened == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = target;
        temporary += L"." + std::to_wstring(random() % 1000000);
        // CREATE_NEW never opens a name that is taken.
        opened = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        if (opened == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
            errno = ErrnoOf(GetLastError());
            return false;
        }
    }
    if (opened == INVALID_HANDLE_VALUE) {
        errno = EEXIST;
        return false;
    }
    Handle file(opened);
    bool done = WriteAll(file.Get(), text) && FlushFileBuffers(file.Get());
    DWORD error = done ? ERROR_SUCCESS : GetLastError();
    // Closed by hand: a write error may only show here.
    if (!file.Close() && done) {
        done = false;
        error = GetLastError();
    }
    if (done) {
        const DWORD attributes = GetFileAttributesW(target.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES)
            done = ReplaceFileW(target.c_str(), temporary.c_str(), nullptr,
                                REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
        else
            done = MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
        if (!done)
            error = GetLastError();
    }
    if (!done) {
        DeleteFileW(temporary.c_str());
        errno = ErrnoOf(error);
    }
    return done;
}

}  // namespace platform
