#include "echo_server.h"

#include <cstdio>
#include <cstring>

#include "chunk.h"
#include "console_log.h"
#include "crc32.h"
#include "echo_port_io.h"
#include "fmtx.h"
#include "platform/tick.h"
#include "port/win_port.h"
#include "texts.h"

namespace vantrel::echo {

using namespace win;

namespace {

constexpr DWORD kServerSleepMs = 500;
constexpr uint32_t kServerStatsIntervalMs = 1999;
// The sleep returns after every batch of completion routines, several times
// per chunk under load; looking for a key each time would switch a terminal
// to raw mode and back for every chunk. A key still shows within this.
constexpr uint32_t kKeyCheckIntervalMs = 20;

void CompletionRoutine(DWORD error, DWORD bytes, OVERLAPPED* overlapped);

bool PostHeaderRead(EchoServerState& s) {
    s.bytesOfCurrentChunk = 0;
    s.readingBody = false;
    s.readOverlapped = OVERLAPPED{};
    s.readOverlapped.hEvent = &s.readRecord;
    if (!ReadFileEx(s.port, s.in.data(), kEchoHeadSize, &s.readOverlapped, CompletionRoutine))
        return false;
    s.pendingReadLength = kEchoHeadSize;
    return true;
}

bool PostBodyRead(EchoServerState& s, uint32_t length) {
    s.readingBody = true;
    s.readOverlapped = OVERLAPPED{};
    s.readOverlapped.hEvent = &s.readRecord;
    s.pendingReadLength = length;
    if (ReadFileEx(s.port, s.in.data() + kEchoHeadSize, length, &s.readOverlapped,
                   CompletionRoutine))
        return true;
    s.pendingReadLength = 0;
    return false;
}

bool PostWrite(EchoServerState& s, uint32_t length) {
    s.writeOverlapped = OVERLAPPED{};
    s.writeOverlapped.hEvent = &s.writeRecord;
    if (!WriteFileEx(s.port, s.out.data(), length, &s.writeOverlapped, CompletionRoutine))
        return false;
    s.pendingWriteLength = length;
    return true;
}

void LogInChunk(EchoServerState& s) {
    if (!s.logs || !s.logs->in.IsOpen())
        return;
    const uint32_t received = s.bytesOfCurrentChunk;
    char note[48] = "";
    const uint32_t echolen = ReadChunkHeader(s.in.data()).echolen;
    if (received > 11 && received != echolen + kEchoHeadSize)
        std::snprintf(note, sizeof note, "(echo mismatch, dump total %d)",
                      static_cast<int>(received));
    LogChunkEntry(s.logs->in, s.chunksReceived, received, note, s.bytesReceived - received,
                  s.config->logRowWidth, s.in.data());
}

// Stops reading after bad data; whatever is being echoed may still finish.
void StopReading(EchoServerState& s) {
    LogInChunk(s);
    s.pendingReadLength = 0;
    s.readingStopped = true;
}

// A read ended; true when the server goes on with its next steps.
bool ReadCompleted(EchoServerState& s, DWORD error, DWORD bytes) {
    if (error != 0) {
        SetLastError(error);
        log::PrintClockLineWinErr(0, "Unexpect: Vcom read got error.");
        s.pendingReadLength = 0;
        return false;
    }
    s.bytesOfCurrentChunk += bytes;
    s.bytesReceived += bytes;
    if (bytes != s.pendingReadLength) {
        log::PrintClockLine(
            "Error: Vcom read complete with unexpected bytes count. Got:%d , Expect=%d",
            static_cast<int>(bytes), static_cast<int>(s.pendingReadLength));
        StopReading(s);
        return false;
    }
    const EchoChunkHeader header = ReadChunkHeader(s.in.data());
    if (s.readingBody) {
        if (header.echolen != s.pendingReadLength) {
            log::PrintClockLine("Unexpect: Received chunk.echolen is wrong. Recv:%d , Expect: %d",
                                static_cast<int>(header.echolen),
                                static_cast<int>(s.pendingReadLength));
            StopReading(s);
            return false;
        }
        if (Crc32(s.in.data() + kEchoHeadSize, header.echolen) != header.crc32)
            log::PrintClockLine("!!! Wrong crc32 detected on chunk-id %d. ",
                                static_cast<int>(header.chunkid));
    } else if (header.echolen != 0) {
        if (header.echolen > s.chunkMax - kEchoHeadSize) {
            log::PrintClockLine(
                "Received wrong data. Echo body length(%d) exceeds max expected(%d).",
                static_cast<int>(header.echolen), static_cast<int>(s.chunkMax - kEchoHeadSize));
            StopReading(s);
            return false;
        }
        if (!PostBodyRead(s, header.echolen))
            log::PrintClockLineWinErr(0, "ReadFileEx launch error.");
        return false;
    }
    s.chunkReady = true;
    s.pendingReadLength = 0;
    LogInChunk(s);
    s.chunksReceived += 1;
    return true;
}

bool WriteCompleted(EchoServerState& s, DWORD error, DWORD bytes) {
    if (error != 0) {
        SetLastError(error);
        log::PrintClockLineWinErr(0, "Unexpect: Vcom write got error.");
        s.pendingWriteLength = 0;
        return false;
    }
    if (s.logs && s.logs->out.IsOpen())
        LogChunkEntry(s.logs->out, s.chunksEchoed, bytes, "", s.bytesEchoed, s.config->logRowWidth,
                      s.out.data());
    if (bytes != s.pendingWriteLength) {
        log::PrintClockLine(
            "Error: Vcom write complete with unexpected bytes count. Got:%d , Expect=%d",
            static_cast<int>(bytes), static_cast<int>(s.pendingWriteLength));
        s.pendingWriteLength = 0;  // write in progress stays set: nothing more is echoed
        return false;
    }
    s.bytesEchoed += bytes;
    s.chunksEchoed += 1;
    s.pendingWriteLength = 0;
    s.writeInProgress = false;
    return true;
}

// After a good completion: echo a ready chunk when the writer is free, and
// keep a header read posted unless a chunk waits for the writer.
void PostNext(EchoServerState& s) {
    bool wantRead = false;
    bool wantWrite = false;
    uint32_t writeLength = 0;
    if (s.chunkReady && !s.writeInProgress) {
        writeLength = ReadChunkHeader(s.in.data()).echolen + kEchoHeadSize;
        std::memcpy(s.out.data(), s.in.data(), writeLength);
        s.chunkReady = false;
        s.writeInProgress = true;
        wantRead = wantWrite = true;
    } else if (!s.chunkReady) {
        wantRead = true;
    }
    if (wantRead && s.pendingReadLength == 0 && !s.readingStopped)
        PostHeaderRead(s);
    if (wantWrite && s.pendingWriteLength == 0)
        PostWrite(s, writeLength);
}

void CompletionRoutine(DWORD error, DWORD bytes, OVERLAPPED* overlapped) {
    const CompletionRecord& record = *static_cast<CompletionRecord*>(overlapped->hEvent);
    EchoServerState& s = *record.server;
    const bool isRead = record.kind == 1;
    if (s.quit) {
        (isRead ? s.pendingReadLength : s.pendingWriteLength) = 0;
        return;
    }
    const bool goOn = isRead ? ReadCompleted(s, error, bytes) : WriteCompleted(s, error, bytes);
    if (goOn)
        PostNext(s);
}

void ServerStatistics(EchoServerState& s) {
    const uint32_t now = platform::TickCountMs();
    if (s.baselineBytes == 0 && s.bytesEchoed != 0) {
        log::PrintClockLine("First client connected. Start timing.");
        s.baselineBytes = s.bytesEchoed;
        s.baselineTick = now;
        return;
    }
    const uint32_t elapsed = platform::TicksSince(s.baselineTick, now);
    if (s.baselineBytes == 0 || elapsed <= kServerStatsIntervalMs ||
        s.bytesEchoed == s.baselineBytes)
        return;
    log::PrintClockLine("Echoed %llu chunks, %s", static_cast<unsigned long long>(s.chunksEchoed),
                        log::RateText(s.bytesEchoed - s.baselineBytes, elapsed).c_str());
    s.baselineBytes = s.bytesEchoed;
    s.baselineTick = now;
}

}  // namespace

bool Do_Echo_srv(HANDLE port, const EchoConfig& config, const ConsoleHooks& given, EchoLogs* logs) {
    const ConsoleHooks hooks = CompleteHooks(given);
    if (config.chunkMax < kEchoHeadSize) {  // no room for a header in the buffers
        log::PrintClockLine("Bad echo chunk maximum (%u).", config.chunkMax);
        return false;
    }
    if (!ApplyEchoTimeouts(port, config)) {
        const DWORD error = GetLastError();
        fmtx_printf("In Do_Echo_srv(), SetCommTimeouts() fail. WinErr=%d(%s)",
                    static_cast<int>(error), log::WinErrName(error));
        return false;
    }
    const DWORD queue = EchoQueueBytes(config);
    if (!SetupComm(port, queue, queue)) {
        log::PrintTickLineWinErr(0, "In Do_Echo_srv(), SetupComm(hcom, %d, %d) fail.",
                                 static_cast<int>(queue), static_cast<int>(queue));
        return false;
    }
    EchoServerState s;
    s.port = port;
    s.chunkMax = config.chunkMax;
    s.in.assign(config.chunkMax, 0);
    s.out.assign(config.chunkMax, 0);
    s.config = &config;
    s.logs = logs;
    if (!PostHeaderRead(s)) {
        log::PrintClockLineWinErr(0, "Bad! Initial ReadFileEx() fail!");
        return false;
    }
    bool inputEnded = false;
    uint32_t lastKeyCheck = platform::TickCountMs();
    for (;;) {
        const bool sleptFull = SleepEx(kServerSleepMs, TRUE) == 0;
        const uint32_t now = platform::TickCountMs();
        const bool keyCheckDue =
            sleptFull || platform::TicksSince(lastKeyCheck, now) >= kKeyCheckIntervalMs;
        if (keyCheckDue)
            lastKeyCheck = now;
        if (!inputEnded && keyCheckDue && hooks.keyWaiting()) {
            const int key = hooks.readKey();
            inputEnded = key < 0;
            if (key == '0') {
                log::PrintClockLine("Now quitting echo server...");
                s.quit = true;
                CancelIo(port);
            }
        }
        if (s.pendingReadLength == 0 && s.pendingWriteLength == 0)
            break;
        if (logs)
            logs->FlushBoth();
        ServerStatistics(s);
    }
    return true;
}

}  // namespace vantrel::echo
