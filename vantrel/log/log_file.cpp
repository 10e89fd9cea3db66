// LogFile: writes gather in the buffer; a chunk that would not fit goes
// straight to the file after what is buffered.
#include "log_file.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "port/win_port.h"
#include "port/win_port_errors.h"

namespace vantrel::log {

namespace {

uint32_t WinErrorOf(int error) {
    switch (error) {
        case ENOENT:
            return win::ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
            return win::ERROR_ACCESS_DENIED;
        case ENOSPC:
            return win::ERROR_DISK_FULL;
        case EBADF:
            return win::ERROR_INVALID_HANDLE;
        case ENAMETOOLONG:
            return win::ERROR_INVALID_NAME;
        case ENOMEM:
            return win::ERROR_NOT_ENOUGH_MEMORY;
        default:
            return win::ERROR_GEN_FAILURE;
    }
}

}  // namespace

LogFile::~LogFile() {
    Close();
}

bool LogFile::Open(const char* fileName, bool append, int32_t bufferSize) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (bufferSize <= 0 || file_ || !fileName) {
        win::SetLastError(win::ERROR_INVALID_PARAMETER);
        return false;
    }
    fill_ = 0;
    stickyError_ = 0;
    buffer_.reset(new (std::nothrow) char[static_cast<size_t>(bufferSize)]);
    if (!buffer_) {
        win::SetLastError(win::ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    file_ = std::fopen(fileName, append ? "ab" : "wb");
    if (!file_) {
        win::SetLastError(WinErrorOf(errno));
        buffer_.reset();
        return false;
    }
    // Our own buffer decides when the file is written.
    std::setvbuf(file_, nullptr, _IONBF, 0);
    capacity_ = static_cast<size_t>(bufferSize);
    return true;
}

bool LogFile::IsOpen() const {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    return file_ != nullptr;
}

uint32_t LogFile::StickyError() const {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    return stickyError_;
}

size_t LogFile::Fill() const {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    return fill_;
}

bool LogFile::WriteFile(const void* bytes, size_t count) {
    if (count == 0 || std::fwrite(bytes, 1, count, file_) == count)
        return true;
    stickyError_ = WinErrorOf(errno);
    win::SetLastError(stickyError_);
    return false;
}

bool LogFile::Write(const void* bytes, size_t count) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (!file_ || stickyError_ != 0)
        return false;
    const char* data = static_cast<const char*>(bytes);
    size_t total = fill_ + count;
    if (total < capacity_) {
        std::memcpy(buffer_.get() + fill_, data, count);
        fill_ = total;
        return true;
    }
    if (fill_ > 0 && total < 2 * capacity_) {
        size_t topUp = capacity_ - fill_;
        std::memcpy(buffer_.get() + fill_, data, topUp);
        fill_ = capacity_;
        if (!FlushLocked())
            return false;
        std::memcpy(buffer_.get(), data + topUp, count - topUp);
        fill_ = count - topUp;
        return true;
    }
    if (fill_ > 0 && !FlushLocked())
        return false;
    return WriteFile(data, count);
}

bool LogFile::FlushLocked() {
    if (!file_ || stickyError_ != 0)
        return false;
    if (fill_ == 0)
        return true;
    if (!WriteFile(buffer_.get(), fill_))
        return false;
    fill_ = 0;
    return true;
}

bool LogFile::Flush() {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    return FlushLocked();
}

bool LogFile::Close() {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (!file_)
        return false;
    bool flushed = FlushLocked();
    buffer_.reset();
    bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    fill_ = 0;
    capacity_ = 0;
    return flushed && closed;
}

int LogFile::WritePiece(void* logFile, const char* text, int32_t length) {
    if (length <= 0)
        return 1;
    return static_cast<LogFile*>(logFile)->Write(text, static_cast<size_t>(length)) ? 1 : 0;
}

}  // namespace vantrel::log
