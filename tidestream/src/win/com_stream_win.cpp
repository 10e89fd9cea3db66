#include "com_stream.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace tidestream {
namespace {

// A pause of the line after bytes that ends a read: a reply comes as one
// burst, and the caller's terminator check runs on what has come.
constexpr DWORD kQuietIntervalMs = 5;

}  // namespace

bool IsDeviceGoneError(DWORD error, bool cancelledByUs) {
    switch (error) {
        case ERROR_ACCESS_DENIED:
        case ERROR_BAD_COMMAND:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_BROKEN_PIPE:
        case ERROR_NOT_READY:
        case ERROR_GEN_FAILURE:
        case ERROR_INVALID_HANDLE:
        case ERROR_FILE_NOT_FOUND:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_DEVICE_REMOVED:
        case ERROR_COUNTER_TIMEOUT:
            return true;
        case ERROR_OPERATION_ABORTED:
            return !cancelledByUs;
        default:
            return false;
    }
}

bool IsReadTimeoutError(DWORD error) {
    return error == ERROR_TIMEOUT || error == ERROR_SEM_TIMEOUT;
}

std::wstring ComDevicePath(std::wstring_view name) {
    if (name.substr(0, 2) == L"\\\\")
        return std::wstring(name);
    return L"\\\\.\\" + std::wstring(name);
}

ComStream::ComStream()
    : readEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      writeEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      cancelEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

ComStream::~ComStream() {
    Close();
    for (HANDLE event : {readEvent_, writeEvent_, cancelEvent_})
        if (event != nullptr)
            CloseHandle(event);
}

DWORD ComStream::Open(const std::wstring& path, uint32_t baudRate, uint8_t dataBits) {
    Close();
    if (readEvent_ == nullptr || writeEvent_ == nullptr || cancelEvent_ == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    std::lock_guard<std::mutex> lock(ioMutex_);
    // Share mode 0: a serial port is opened by one program at a time.
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return GetLastError();
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    bool set = GetCommState(handle, &dcb);
    if (set) {
        dcb.BaudRate = baudRate;
        dcb.ByteSize = dataBits == 0 ? 8 : dataBits;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = TRUE;
        dcb.fParity = FALSE;
        dcb.fOutxCtsFlow = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fDsrSensitivity = FALSE;
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
        dcb.fNull = FALSE;
        dcb.fAbortOnError = FALSE;
        set = SetCommState(handle, &dcb);
    }
    // Input and output queues; the driver may keep its own sizes.
    set = set && (SetupComm(handle, 4096, 4096) || GetLastError() == ERROR_NOT_SUPPORTED) &&
          PurgeComm(handle, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
    if (!set) {
        const DWORD error = GetLastError();
        CloseHandle(handle);
        return error;
    }
    handle_ = handle;
    pending_.clear();
    ResetEvent(cancelEvent_);
    return ERROR_SUCCESS;
}

bool ComStream::Clean() {
    std::lock_guard<std::mutex> lock(ioMutex_);
    pending_.clear();
    return IsOpen() && PurgeComm(handle_, PURGE_RXCLEAR);
}

bool ComStream::Write(const void* data, uint32_t length, DWORD* error) {
    std::lock_guard<std::mutex> lock(ioMutex_);
    *error = ERROR_SUCCESS;
    if (!IsOpen()) {
        *error = ERROR_INVALID_HANDLE;
        return false;
    }
    // Writes end when the bytes are queued; none of them times out.
    COMMTIMEOUTS timeouts{};
    GetCommTimeouts(handle_, &timeouts);
    timeouts.WriteTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    SetCommTimeouts(handle_, &timeouts);
    const auto* bytes = static_cast<const uint8_t*>(data);
    uint32_t done = 0;
    while (done < length) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = writeEvent_;
        ResetEvent(writeEvent_);
        DWORD written = 0;
        if (!WriteFile(handle_, bytes + done, length - done, &written, &overlapped)) {
            if (GetLastError() != ERROR_IO_PENDING ||
                !GetOverlappedResult(handle_, &overlapped, &written, TRUE)) {
                *error = GetLastError();
                return false;
            }
        } else if (!GetOverlappedResult(handle_, &overlapped, &written, TRUE)) {
            *error = GetLastError();
            return false;
        }
        done += written;
    }
    return true;
}

ReadEnd ComStream::ReadSome(uint8_t* buffer, uint32_t size, uint32_t timeoutMs, uint32_t* got,
                            DWORD* error) {
    *got = 0;
    *error = ERROR_SUCCESS;
    // The read ends when bytes have come and the line has been quiet for the
    // interval, or after the total time with or without bytes.
    COMMTIMEOUTS timeouts{};
    GetCommTimeouts(handle_, &timeouts);
    timeouts.ReadIntervalTimeout = kQuietIntervalMs;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = std::max<DWORD>(timeoutMs, 1);
    if (!SetCommTimeouts(handle_, &timeouts)) {
        *error = GetLastError();
        return IsDeviceGoneError(*error) ? ReadEnd::kGone : ReadEnd::kFailed;
    }
    OVERLAPPED overlapped{};
    overlapped.hEvent = readEvent_;
    ResetEvent(readEvent_);
    DWORD count = 0;
    bool cancelled = false;
    if (!ReadFile(handle_, buffer, size, &count, &overlapped)) {
        if (GetLastError() != ERROR_IO_PENDING) {
            *error = GetLastError();
            return IsDeviceGoneError(*error) ? ReadEnd::kGone : ReadEnd::kFailed;
        }
        const HANDLE events[] = {readEvent_, cancelEvent_};
        if (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
            cancelled = true;
            CancelIoEx(handle_, &overlapped);
        }
    }
    const bool ok = GetOverlappedResult(handle_, &overlapped, &count, TRUE);
    *got = count;
    if (ok)
        return count == 0 && cancelled ? ReadEnd::kCancelled : ReadEnd::kComplete;
    *error = GetLastError();
    if (cancelled && *error == ERROR_OPERATION_ABORTED)
        return ReadEnd::kCancelled;
    if (IsReadTimeoutError(*error)) {
        *error = ERROR_SUCCESS;
        return ReadEnd::kComplete;
    }
    return IsDeviceGoneError(*error) ? ReadEnd::kGone : ReadEnd::kFailed;
}

bool ComStream::CutAtTerminator(uint8_t* buffer, uint32_t& placed, uint32_t searchFrom,
                                std::string_view terminator) {
    if (terminator.empty() || placed < terminator.size())
        return false;
    const uint32_t from =
        searchFrom >= terminator.size() - 1 ? searchFrom - (terminator.size() - 1) : 0;
    const uint8_t* start = buffer + from;
    const uint8_t* end = buffer + placed;
    const auto* found = std::search(start, end, terminator.begin(), terminator.end(),
                                    [](uint8_t a, char b) { return a == static_cast<uint8_t>(b); });
    if (found == end)
        return false;
    const uint32_t keep = static_cast<uint32_t>(found - buffer) + terminator.size();
    pending_.insert(pending_.begin(), buffer + keep, buffer + placed);
    placed = keep;
    return true;
}

bool ComStream::TakePending(uint8_t* buffer, uint32_t size, uint32_t& placed,
                            std::string_view terminator) {
    const uint32_t take = std::min<uint32_t>(size, static_cast<uint32_t>(pending_.size()));
    std::memcpy(buffer, pending_.data(), take);
    pending_.erase(pending_.begin(), pending_.begin() + take);
    placed = take;
    return CutAtTerminator(buffer, placed, 0, terminator);
}

uint32_t ComStream::ReadUntil(uint8_t* buffer, uint32_t size, uint32_t timeoutMs,
                              std::string_view terminator, ReadEnd* end, DWORD* error) {
    std::lock_guard<std::mutex> lock(ioMutex_);
    DWORD ignored = ERROR_SUCCESS;
    DWORD& failure = error != nullptr ? *error : ignored;
    failure = ERROR_SUCCESS;
    if (!IsOpen()) {
        failure = ERROR_INVALID_HANDLE;
        *end = ReadEnd::kFailed;
        return 0;
    }
    uint32_t placed = 0;
    if (TakePending(buffer, size, placed, terminator)) {
        *end = ReadEnd::kComplete;
        return placed;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (placed == size) {
            *end = ReadEnd::kFull;
            return placed;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            *end = ReadEnd::kTimeout;
            return placed;
        }
        uint32_t got = 0;
        const ReadEnd some = ReadSome(buffer + placed, size - placed,
                                      static_cast<uint32_t>(left.count()), &got, &failure);
        const uint32_t before = placed;
        placed += got;
        if (some != ReadEnd::kComplete) {
            *end = some;
            return placed;
        }
        if (CutAtTerminator(buffer, placed, before, terminator)) {
            *end = ReadEnd::kComplete;
            return placed;
        }
    }
}

void ComStream::Cancel() {
    if (cancelEvent_ != nullptr)
        SetEvent(cancelEvent_);
}

void ComStream::Close() {
    Cancel();
    std::lock_guard<std::mutex> lock(ioMutex_);
    if (IsOpen()) {
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }
    pending_.clear();
}

}  // namespace tidestream
