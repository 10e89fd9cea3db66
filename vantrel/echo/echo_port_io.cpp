#include "echo_port_io.h"

#include <algorithm>

#include "console_log.h"
#include "port/win_port.h"
#include "port/win_port_errors.h"

namespace vantrel::echo {

using namespace win;

bool ApplyEchoTimeouts(HANDLE port, const EchoConfig& config) {
    const RunTimeouts& t = config.timeouts;
    COMMTIMEOUTS timeouts{static_cast<DWORD>(t.rtoInterval), static_cast<DWORD>(t.rtoMultiplier),
                          static_cast<DWORD>(t.rtoConstant), static_cast<DWORD>(t.wtoMultiplier),
                          t.wtocGiven ? static_cast<DWORD>(t.wtoConstant) : MAXDWORD - 1};
    return SetCommTimeouts(port, &timeouts) != FALSE;
}

DWORD EchoQueueBytes(const EchoConfig& config) {
    const uint64_t factor = static_cast<uint64_t>(std::max(config.rwBufX, 1));
    return static_cast<DWORD>(std::min<uint64_t>(config.chunkMax * factor, MAXDWORD));
}

int ReadFile_Sync_timeout(HANDLE port, void* buffer, uint32_t count, uint32_t milliseconds) {
    HANDLE event = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    DWORD done = 0;
    int result = -1;
    if (ReadFile(port, buffer, count, &done, &overlapped)) {
        result = static_cast<int>(done);
    } else if (GetLastError() == ERROR_IO_PENDING) {
        const DWORD woke = WaitForSingleObject(event, milliseconds);
        if (woke == WAIT_TIMEOUT)
            CancelIo(port);
        if ((woke == WAIT_OBJECT_0 || woke == WAIT_TIMEOUT) &&
            GetOverlappedResult(port, &overlapped, &done, TRUE))
            result = static_cast<int>(done);
        else if (woke == WAIT_TIMEOUT && GetLastError() == ERROR_OPERATION_ABORTED)
            result = static_cast<int>(done);  // cancelled: what arrived so far
    } else {
        log::PrintClockLineWinErr(0, "In ReadFile_Sync_timeout(), ReadFile error.");
    }
    CloseHandle(event);
    return result;
}

void ClearDatapipe(HANDLE port, uint32_t milliseconds) {
    uint8_t chunk[1000];
    int sum = 0;
    for (int got; (got = ReadFile_Sync_timeout(port, chunk, sizeof chunk, milliseconds)) > 0;)
        sum += got;
    if (sum > 0)
        log::PrintClockLine("Datapipe read-buffer bytes cleared: %d", sum);
}

}  // namespace vantrel::echo
