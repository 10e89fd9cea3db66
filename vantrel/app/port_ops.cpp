#include "port_ops.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "console_log.h"
#include "fmtx.h"
#include "port/console_keys.h"
#include "port/win_port.h"
#include "port/win_port_errors.h"
#include "read_display.h"
#include "settings.h"
#include "texts.h"

namespace vantrel::app {

using namespace win;

namespace {

uint8_t* RwBuffer() {
    static std::vector<uint8_t> buffer(kRwBufferBytes);
    return buffer.data();
}

uint64_t g_readCount = 0;
uint64_t g_readTotal = 0;
uint16_t g_writeCounter = 0;
uint32_t g_rememberedCounts[2] = {0, 0};

// A read request and its event that may outlive DoReadFile: the port layer
// still owns the OVERLAPPED record until the request ends.
struct PendingRead {
    OVERLAPPED overlapped{};
    HANDLE event = nullptr;
};
std::vector<std::unique_ptr<PendingRead>>& PendingReads() {
    static std::vector<std::unique_ptr<PendingRead>> reads;
    return reads;
}

HANDLE NewEvent() {
    return CreateEvent(nullptr, TRUE, FALSE, nullptr);
}

std::string ErrorsText(DWORD errors) {
    if (errors == 0)
        return "";
    char text[40];
    std::snprintf(text, sizeof text, "Errors-cleared: 0x%04X", static_cast<unsigned>(errors));
    return text;
}

void PrintWaitResult(DWORD wait, const char* timeoutText) {
    if (wait == WAIT_OBJECT_0)
        log::PrintTickLine("Wait success.");
    else if (wait == WAIT_TIMEOUT)
        log::PrintTickLine("%s", timeoutText);
    else
        log::PrintTickLine("Abnormal WaitForSingleObject() retval=%d", static_cast<int>(wait));
}

void CancelAfterFailedWait(HANDLE port) {
    const int pause = Settings().pauseMsecBeforeCancelIo;
    if (pause > 0) {
        log::PrintTickLine("Pause %d msec before CancelIo()...", pause);
        Sleep(static_cast<DWORD>(pause));
    }
    log::PrintTickLine("Calling CancelIo().");
    const BOOL cancelled = CancelIo(port);
    log::PrintTickLine(cancelled ? "CancelIo() returns TRUE." : "CancelIo() returns FALSE.");
}

int FileOutput(void* user, const char* text, int32_t length) {
    if (length > 0)
        static_cast<log::LogFile*>(user)->Write(text, static_cast<size_t>(length));
    return 0;
}

void LogRead(const uint8_t* bytes, int count) {
    const RunSettings& s = Settings();
    FmtxFnRec stamp;
    fmtx_fn_rec_init(&stamp, log::LogStampText, 0);
    const int columns = s.echoLogRowWidth;
    fmtx_cb_printf(FileOutput, &ReadLog(), "[%F] #%llu: %d bytes.\r\n%k%0.*R%t%4.0v%*m.\r\n\r\n",
                   &stamp, static_cast<unsigned long long>(g_readCount), count, " ",
                   static_cast<int>(g_readTotal % static_cast<uint64_t>(columns)), columns, ".",
                   g_readTotal, count, bytes);
    ReadLog().Flush();
}

}  // namespace

log::LogFile& ReadLog() {
    static log::LogFile file;
    return file;
}

int ReadFile_Sync(HANDLE port, void* buffer, uint32_t count) {
    HANDLE event = NewEvent();
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    DWORD done = 0;
    int result = -1;
    if (ReadFile(port, buffer, count, &done, &overlapped)) {
        result = static_cast<int>(done);
    } else if (GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0 &&
            GetOverlappedResult(port, &overlapped, &done, TRUE))
            result = static_cast<int>(done);
    } else {
        log::PrintClockLineWinErr(0, "In ReadFile_Sync(), ReadFile error.");
    }
    CloseHandle(event);
    return result;
}

void MyClearCommData(HANDLE port, uint32_t milliseconds, bool verbose) {
    auto report = verbose ? log::PrintClockLineMs : log::PrintClockLine;
    DWORD errors = 0;
    COMSTAT stat{};
    if (ClearCommError(port, &errors, &stat))
        report("ClearCommError() reports: cbInQue=%d, cbOutQue=%d. %s", stat.cbInQue, stat.cbOutQue,
               ErrorsText(errors).c_str());
    else
        log::PrintClockLineMsWinErr(0, "ClearCommError() fail.");
    COMMTIMEOUTS saved{};
    if (!GetCommTimeouts(port, &saved)) {
        log::PrintClockLineMsWinErr(0, "GetCommTimeouts() fail.");
        return;
    }
    COMMTIMEOUTS dry{MAXDWORD, MAXDWORD, milliseconds, 0, 0};
    if (!SetCommTimeouts(port, &dry)) {
        log::PrintClockLineMsWinErr(0, "SetCommTimeouts() fail.");
        return;
    }
    uint8_t chunk[1000];
    int sum = 0;
    for (int got; (got = ReadFile_Sync(port, chunk, sizeof chunk)) > 0;)
        sum += got;
    if (sum > 0)
        report("COM port read-buffer bytes cleared: %d", sum);
    if (!SetCommTimeouts(port, &saved)) {
        const DWORD error = GetLastError();
        report("In MyClearCommData(), SetCommTimeouts() fail. WinErr=%d(%s)", error,
               log::WinErrName(error));
    }
}

void ReportCommError(HANDLE port) {
    DWORD errors = 0;
    COMSTAT stat{};
    if (!ClearCommError(port, &errors, &stat)) {
        log::PrintClockLineWinErr(0, "ClearCommError() fail.");
        return;
    }
    log::PrintClockLine("ClearCommError() reports: cbInQue=%d, cbOutQue=%d. %s", stat.cbInQue,
                        stat.cbOutQue, ErrorsText(errors).c_str());
}

void SetCtsFlow(HANDLE port, bool on) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) {
        log::PrintTickLineWinErr(0, "GetCommState() fails.");
        return;
    }
    dcb.fOutxCtsFlow = on ? 1 : 0;
    if (SetCommState(port, &dcb))
        log::PrintLine("SetCommState() .fOutxCtsFlow=%d Success.", on ? 1 : 0);
    else
        log::PrintTickLineWinErr(0, "SetCommState() .fOutxCtsFlow=%d fails.", on ? 1 : 0);
}

void DoPurge(HANDLE port, bool abort) {
    log::PrintClockLineMs("PurgeComm()... %s", abort ? "+Cancel VCOM IRP" : "");
    const DWORD flags = abort ? (PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)
                              : (PURGE_TXCLEAR | PURGE_RXCLEAR);
    if (PurgeComm(port, flags))
        log::PrintClockLineMs("PurgeComm() ok.");
    else
        log::PrintClockLineMsWinErr(0, "PurgeComm() error.");
}

uint32_t AskByteCount(CountKind kind) {
    uint32_t& remembered = g_rememberedCounts[kind == CountKind::kRead ? 0 : 1];
    std::printf("Bytes to %s(%d): ", kind == CountKind::kRead ? "read" : "write",
                static_cast<int>(remembered));
    std::fflush(stdout);
    char line[100] = {};
    ConsoleReadLine(line, sizeof line);
    if (line[0] == '\r' || line[0] == '\n' || line[0] == '\0')
        return remembered;
    const unsigned long long value = std::strtoull(line, nullptr, 0);
    // The shared buffer holds the data and a terminating zero: larger counts
    // are refused and the remembered count stays.
    if (value >= kRwBufferBytes) {
        std::printf("Byte count %llu refused: it must be below %u.\n", value, kRwBufferBytes);
        return remembered;
    }
    remembered = static_cast<uint32_t>(value);
    return remembered;
}

void DoReadFile(HANDLE port, uint32_t count) {
    const RunSettings& s = Settings();
    if (count >= kRwBufferBytes) {
        std::printf("Byte count %u refused: it must be below %u.\n", count, kRwBufferBytes);
        return;
    }
    auto request = std::make_unique<PendingRead>();
    request->event = NewEvent();
    request->overlapped.hEvent = request->event;
    uint8_t* buffer = RwBuffer();
    log::PrintTickLineAligned("Calling ReadFile() request %d bytes...", static_cast<int>(count));
    DWORD done = 0;
    bool stillPending = false;
    if (ReadFile(port, buffer, count, &done, &request->overlapped)) {
        log::PrintTickLine("ReadFile sync success. nDone=%d\n", static_cast<int>(done));
    } else if (GetLastError() == ERROR_IO_PENDING) {
        log::PrintTickLine("ReadFile pending, wait %d millisec...", s.msecCancel);
        const DWORD wait = WaitForSingleObject(request->event, static_cast<DWORD>(s.msecCancel));
        PrintWaitResult(wait, "WAIT_TIMEOUT");
        if (wait != WAIT_OBJECT_0) {
            if (s.omitCancelIo)
                log::PrintTickLine("**NOT** calling CancelIo().");
            else
                CancelAfterFailedWait(port);
        }
        if (s.omitGetOverlappedResult) {
            log::PrintTickLine("**NOT** calling GetOverlappedResult().");
            stillPending = wait != WAIT_OBJECT_0;
        } else if (GetOverlappedResult(port, &request->overlapped, &done, TRUE)) {
            log::PrintTickLine("Result: ReadFile async SUCCESS. nDone=%d.", static_cast<int>(done));
        } else {
            log::PrintTickLineWinErr(0, "Result: ReadFile async fail.");
            if (done > 0)
                log::PrintTickLine("  -- Even if cancelled, nDone is %d bytes.",
                                   static_cast<int>(done));
        }
    } else {
        log::PrintTickLineWinErr(0, "Unexpected ReadFile error.");
    }
    if (done > 0) {
        if (s.readLog[0] && ReadLog().IsOpen())
            LogRead(buffer, static_cast<int>(done));
        if (s.silentRead) {
            std::printf("(silent read, no print)\n");
        } else if (s.hexRead) {
            std::fputs(HexDump(buffer, done).c_str(), stdout);
        } else {
            // Every byte is shown, a zero byte too, and none reaches the
            // terminal as a control character.
            std::printf("%s\n", EscapedText(buffer, done).c_str());
        }
        g_readTotal += done;
        ++g_readCount;
    }
    if (stillPending) {
        // The port still owns the record and will signal the event.
        PendingReads().push_back(std::move(request));
        return;
    }
    CloseHandle(request->event);
}

void ReleasePendingReads() {
    for (auto& request : PendingReads())
        CloseHandle(request->event);
    PendingReads().clear();
}

void DoWriteFile(HANDLE port, uint32_t count) {
    const RunSettings& s = Settings();
    if (count >= kRwBufferBytes) {
        std::printf("Byte count %u refused: it must be below %u.\n", count, kRwBufferBytes);
        return;
    }
    uint8_t* buffer = RwBuffer();
    buffer[count] = 0;
    for (uint32_t word = 0; word < count / 2; ++word) {
        buffer[2 * word] = static_cast<uint8_t>(g_writeCounter & 0xFF);
        buffer[2 * word + 1] = static_cast<uint8_t>(g_writeCounter >> 8);
        ++g_writeCounter;
    }
    log::PrintTickLineAligned("Calling WriteFile(), request %d bytes...", static_cast<int>(count));
    HANDLE event = NewEvent();
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    DWORD done = 0;
    if (WriteFile(port, buffer, count, &done, &overlapped)) {
        std::printf("WriteFile sync success. nDone=%d\n", static_cast<int>(done));
    } else if (GetLastError() == ERROR_IO_PENDING) {
        log::PrintTickLine("WriteFile pending, wait %d millisec...", s.msecCancel);
        const DWORD wait = WaitForSingleObject(event, static_cast<DWORD>(s.msecCancel));
        PrintWaitResult(wait, "WAIT_TIMEOUT.");
        if (wait != WAIT_OBJECT_0)
            CancelAfterFailedWait(port);
        if (GetOverlappedResult(port, &overlapped, &done, TRUE)) {
            log::PrintTickLine("Result: WriteFile async SUCCESS. nDone=%d", static_cast<int>(done));
        } else {
            log::PrintTickLineWinErr(0, "Result: WriteFile async fail.");
            if (done > 0) {
                buffer[done] = 0;
                log::PrintTickLine("  -- Even if cancelled, nDone is %d bytes.",
                                   static_cast<int>(done));
            }
        }
    } else {
        log::PrintTickLineWinErr(0, "Unexpected WriteFile error.");
    }
    CloseHandle(event);
}

namespace {

const char* YesNo(unsigned bit) {
    return bit ? "yes" : "no";
}

const char* DtrText(unsigned value) {
    static const char* const kNames[] = {"DTR_CONTROL_DISABLE", "DTR_CONTROL_ENABLE",
                                         "DTR_CONTROL_HANDSHAKE"};
    return value < 3 ? kNames[value] : "WrongValue";
}

const char* RtsText(unsigned value) {
    static const char* const kNames[] = {"RTS_CONTROL_DISABLE", "RTS_CONTROL_ENABLE",
                                         "RTS_CONTROL_HANDSHAKE", "RTS_CONTROL_TOGGLE"};
    return value < 4 ? kNames[value] : "WrongValue";
}

const char* ParityText(unsigned value) {
    switch (value) {
        case 0:
            return "NO_PARITY";
        case 1:
            return "ODD_PARITY";
        case 3:
            return "MARK_PARITY";
        case 4:
            return "SPACE_PARITY";
        default:
            return "WrongValue";
    }
}

const char* StopBitsText(unsigned value) {
    static const char* const kNames[] = {"one", "1.5", "two"};
    return value < 3 ? kNames[value] : "WrongValue";
}

void PrintDcb(const DCB& d) {
    log::PrintLine("GetCommState() returns DCB info:");
    log::PrintLine("  .Baudrate=%d", static_cast<int>(d.BaudRate));
    log::PrintLine("  .fBinary=%s", YesNo(d.fBinary));
    log::PrintLine("  .fParity=%s", YesNo(d.fParity));
    log::PrintLine("  .fOutxCtsFlow=%s", YesNo(d.fOutxCtsFlow));
    log::PrintLine("  .fOutxDsrFlow=%s", YesNo(d.fOutxDsrFlow));
    log::PrintLine("  .fDtrControl=%d (%s)", static_cast<int>(d.fDtrControl),
                   DtrText(d.fDtrControl));
    log::PrintLine("  .fDsrSensitivity=%s", YesNo(d.fDsrSensitivity));
    log::PrintLine("  .fTXContinueOnXoff=%s", YesNo(d.fTXContinueOnXoff));
    log::PrintLine("  .fOutX=%s", YesNo(d.fOutX));
    log::PrintLine("  .fInX=%s", YesNo(d.fInX));
    log::PrintLine("  .fErrorChar=%s", YesNo(d.fErrorChar));
    log::PrintLine("  .fNull=%s", YesNo(d.fNull));
    log::PrintLine("  .fRtsControl=%d (%s)", static_cast<int>(d.fRtsControl),
                   RtsText(d.fRtsControl));
    log::PrintLine("  .fAbortOnError=%s", YesNo(d.fAbortOnError));
    log::PrintLine("  .XonLim=%d", static_cast<int>(d.XonLim));
    log::PrintLine("  .XoffLim=%d", static_cast<int>(d.XoffLim));
    log::PrintLine("  .ByteSize=%d", static_cast<int>(d.ByteSize));
    log::PrintLine("  .Parity=%s", ParityText(d.Parity));
    log::PrintLine("  .StopBits=%s", StopBitsText(d.StopBits));
    log::PrintLine("  .XonChar=0x%02X", static_cast<unsigned char>(d.XonChar));
    log::PrintLine("  .XoffChar=0x%02X", static_cast<unsigned char>(d.XoffChar));
    log::PrintLine("  .ErrorChar=0x%02X", static_cast<unsigned char>(d.ErrorChar));
    log::PrintLine("  .EofChar=0x%02X", static_cast<unsigned char>(d.EofChar));
    log::PrintLine("  .EvtChar=0x%02X", static_cast<unsigned char>(d.EvtChar));
    log::PrintLine("");
}

}  // namespace

std::string ModemLinesText(uint32_t status, bool withDcdAndRing) {
    std::string text;
    text += (status & MS_CTS_ON) ? "CTS on," : "CTS off,";
    text += (status & MS_DSR_ON) ? "DSR on," : "DSR off,";
    if (withDcdAndRing) {
        text += " ";
        text += (status & MS_RLSD_ON) ? "DCD on," : "DCD off,";
        text += (status & MS_RING_ON) ? "RING on," : "RING off,";
    }
    text.pop_back();
    return text;
}

void PrintCommInfo(HANDLE port) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (GetCommState(port, &dcb))
        PrintDcb(dcb);
    else
        log::PrintTickLineWinErr(0, "GetCommState() fails.");
    DWORD status = 0;
    if (GetCommModemStatus(port, &status)) {
        log::PrintLine("Modem lines: %s", ModemLinesText(status, true).c_str());
        log::PrintLine("");
    } else {
        log::PrintTickLineWinErr(0, "GetCommModemStatus() fails.");
    }
}

}  // namespace vantrel::app
