#include "time_open_close.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "console_log.h"
#include "port/console_keys.h"
#include "port/win_port.h"
#include "port/win_port_errors.h"

namespace vantrel::app {

using namespace win;

namespace {

int64_t TickCount() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// One open, a 1-byte read left pending, and the close. False when a step
// failed (already reported).
bool OnePass(const char* path, int pass) {
    const int64_t t0 = TickCount();
    HANDLE port = CreateFile(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        log::PrintTickLineWinErr(0, "VCOM CreateFile() fail.");
        return false;
    }
    const int64_t t1 = TickCount();
    HANDLE event = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    uint8_t byte = 0;
    DWORD done = 0;
    if (!ReadFile(port, &byte, 1, &done, &overlapped) && GetLastError() != ERROR_IO_PENDING) {
        log::PrintTickLineWinErr(0, "VCOM ReadFile() fail.");
        CloseHandle(port);
        CloseHandle(event);
        return false;
    }
    const BOOL closed = CloseHandle(port);
    // The close ends the pending read; its record, event and byte stay valid
    // until it has.
    WaitForSingleObject(event, INFINITE);
    CloseHandle(event);
    if (!closed) {
        log::PrintTickLineWinErr(0, "VCOM CloseHandle() fail.");
        return false;
    }
    const int64_t t2 = TickCount();
    std::printf("[%d] open %d ms, close %d ms\n", pass, static_cast<int>(t1 - t0),
                static_cast<int>(t2 - t1));
    return true;
}

}  // namespace

int AskRepeatCount(int count) {
    std::printf("%s(%d): ", "Repeat VCOM open/close how many times", count);
    std::fflush(stdout);
    char line[20] = {};
    ConsoleReadLine(line, sizeof line);
    if (line[0] == '\r' || line[0] == '\n' || line[0] == '\0')
        return count;
    return static_cast<int>(std::strtol(line, nullptr, 0));
}

void TimeOpenClose(const char* path, int count) {
    const int64_t start = TickCount();
    for (int pass = 0; pass < count; ++pass)
        if (!OnePass(path, pass))
            break;
    std::printf("Total time: %d millisec.\n", static_cast<int>(TickCount() - start));
}

}  // namespace vantrel::app
