#include "echo_client.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "chunk_check.h"
#include "console_log.h"
#include "crc32.h"
#include "echo_manual.h"
#include "echo_port_io.h"
#include "fmtx.h"
#include "platform/tick.h"
#include "port/win_port.h"
#include "port/win_port_errors.h"
#include "start_thread.h"
#include "texts.h"

namespace vantrel::echo {

using namespace win;

namespace {

constexpr int32_t kClientThreadStack = 256 * 1024;
constexpr DWORD kCancelWaitFloorMs = 2000;
constexpr uint32_t kMaxDumpOnConsole = 256;
constexpr uint32_t kStatsIntervalMs = 1000;

DWORD TimeLimit(const EchoConfig& config) {
    return config.timeoutLimit > 0 ? static_cast<DWORD>(config.timeoutLimit) : INFINITE;
}

// How long a request that is being abandoned may still take to end.
DWORD CancelWait(DWORD limit) {
    return limit == INFINITE ? kCancelWaitFloorMs : std::max(limit, kCancelWaitFloorMs);
}

std::string FormatMessage(const char* format, va_list args) {
    char text[512];
    fmtx_vsnprintf(text, sizeof text, format, args);
    return text;
}

struct PushContext {
    EchoClientState* state;
    HANDLE ownEvent;
    DWORD timeLimit;
};

void ReportPushError(const PushContext& context, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string message = FormatMessage(format, args);
    va_end(args);
    log::PrintClockLine("%s", message.c_str());
    EchoClientState& s = *context.state;
    if (!s.config->manualIntervene)
        return;
    fmtx_printf("\n%s\n", kInterventionRow);
    log::PrintClockLine(
        "Pushing error occurred. Waiting for manual intervention. ('0' to continue)");
    fmtx_printf("%s\n\n", kInterventionRow);
    if (s.logs)
        s.logs->FlushBoth();
    WaitForZeroKey(*s.hooks);
}

void ReportPullError(const ChunkReader& reader, const PullContext& context, const char* format,
                     ...) {
    va_list args;
    va_start(args, format);
    const std::string message = FormatMessage(format, args);
    va_end(args);
    log::PrintClockLineMs("@Chunk %u: %s", reader.expectedId, message.c_str());
    EchoClientState& s = *context.state;
    if (!s.config->manualIntervene)
        return;
    fmtx_printf("\n%s>>>>\n", kInterventionRow);
    log::PrintClockLine("Pulling error occurred. Waiting for manual intervention.");
    if (reader.received > 0) {
        const uint32_t shown = std::min(reader.received, kMaxDumpOnConsole);
        fmtx_printf("Chunk %u requesting %d bytes, received %d bytes.\n", reader.expectedId,
                    static_cast<int>(reader.requested), static_cast<int>(reader.received));
        fmtx_printf("Dumping %d already received bytes:\n", static_cast<int>(shown));
        PrintDump(reader.streamOffset, s.config->logRowWidth, shown, reader.buffer);
        WritePartialDump(reader.expectedId, reader.requested, reader.received, reader.streamOffset,
                         s.config->logRowWidth, reader.buffer);
        fmtx_printf("See full byte-dump in file: %s\n", kPartialLogName);
    } else {
        fmtx_printf("Requesting %d bytes for this chunk, received none.\n",
                    static_cast<int>(reader.requested));
    }
    fmtx_printf("(Press '0' to continue)\n");
    fmtx_printf("%s<<<<\n\n", kInterventionRow);
    if (s.logs)
        s.logs->FlushBoth();
    WaitForZeroKey(*s.hooks);
}

// Ends an abandoned write: gives it time to finish, else cancels it.
bool FinishPushByCancel(const PushContext& context, OVERLAPPED& overlapped, bool acceptAbort) {
    HANDLE port = context.state->port;
    const DWORD wait = CancelWait(context.timeLimit);
    if (WaitForSingleObject(context.ownEvent, wait) != WAIT_OBJECT_0) {
        log::PrintClockLine("Pushing op does not complete for more than %dms, CancelIo() it...",
                            static_cast<int>(wait));
        const BOOL cancelled = CancelIo(port);
        log::PrintClockLine("Pushing op CancelIo() done. (Cancel result: %s)",
                            cancelled ? "success" : "fail");
    }
    DWORD done = 0;
    if (GetOverlappedResult(port, &overlapped, &done, TRUE))
        return true;
    return acceptAbort && GetLastError() == ERROR_OPERATION_ABORTED;
}

bool PushChunk(const PushContext& context, EchoChunkMaker& maker, uint32_t size, uint32_t chunkId) {
    EchoClientState& s = *context.state;
    maker.BuildChunk(chunkId, size, s.out.data());
    OVERLAPPED overlapped{};
    overlapped.hEvent = context.ownEvent;
    DWORD done = 0;
    if (WriteFile(s.port, s.out.data(), size, &done, &overlapped))
        return true;
    DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) {
        ReportPushError(context, "@Chunk %u: Error WriteFile(). WinErr=%d(%s)", chunkId,
                        static_cast<int>(error), log::WinErrName(error));
        return false;
    }
    const HANDLE waits[2] = {context.ownEvent, s.pushForce};
    const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, context.timeLimit);
    if (woke == WAIT_OBJECT_0) {
        if (GetOverlappedResult(s.port, &overlapped, &done, TRUE))
            return true;
        error = GetLastError();
        ReportPushError(context, "@Chunk %u: Error async WriteFile(). WinErr=%d(%s)", chunkId,
                        static_cast<int>(error), log::WinErrName(error));
        return false;
    }
    if (woke == WAIT_OBJECT_0 + 1)
        return FinishPushByCancel(context, overlapped, true);
    ReportPushError(context, "@Chunk %u: Pushing thread timeout(%d millisec)! ", chunkId,
                    static_cast<int>(context.timeLimit));
    FinishPushByCancel(context, overlapped, false);
    return false;
}

struct ReadOutcome {
    DWORD code = 0;
    DWORD bytes = 0;
};

// Ends an abandoned read: gives it time to finish, else cancels it. Bytes it
// moved before ending count either way.
ReadOutcome FinishPullByCancel(const PullContext& context, OVERLAPPED& overlapped,
                               bool acceptAbort) {
    HANDLE port = context.state->port;
    const DWORD wait = CancelWait(context.timeLimit);
    if (WaitForSingleObject(context.ownEvent, wait) != WAIT_OBJECT_0) {
        log::PrintClockLine(
            "Pulling op waited for %dms but cannot receive full echoed data. CancelIo() it...",
            static_cast<int>(wait));
        const BOOL cancelled = CancelIo(port);
        log::PrintClockLine("Pulling op CancelIo() done. (Cancel result: %s)",
                            cancelled ? "success" : "fail");
    }
    ReadOutcome outcome;
    if (GetOverlappedResult(port, &overlapped, &outcome.bytes, TRUE))
        return outcome;
    const DWORD error = GetLastError();
    if (!(acceptAbort && error == ERROR_OPERATION_ABORTED))
        outcome.code = error;
    return outcome;
}

ReadOutcome ReadOnce(ChunkReader& reader, DWORD request, const PullContext& context) {
    EchoClientState& s = *context.state;
    OVERLAPPED overlapped{};
    overlapped.hEvent = context.ownEvent;
    ReadOutcome outcome;
    if (ReadFile(s.port, reader.buffer + reader.received, request, &outcome.bytes, &overlapped))
        return outcome;
    DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) {
        ReportPullError(reader, context, "Error ReadFile(). WinErr=%d(%s)", static_cast<int>(error),
                        log::WinErrName(error));
        return {error, 0};
    }
    const HANDLE waits[2] = {context.ownEvent, s.pullForce};
    const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, context.timeLimit);
    if (woke == WAIT_OBJECT_0) {
        if (GetOverlappedResult(s.port, &overlapped, &outcome.bytes, TRUE))
            return outcome;
        error = GetLastError();
        ReportPullError(reader, context, "Error async ReadFile(). WinErr=%d(%s)",
                        static_cast<int>(error), log::WinErrName(error));
        return {error, 0};
    }
    if (woke == WAIT_OBJECT_0 + 1) {
        outcome = FinishPullByCancel(context, overlapped, true);
        if (outcome.code == 0 && outcome.bytes < request)
            outcome.code = kErrorTimeout;
        return outcome;
    }
    ReportPullError(reader, context, "Pulling thread timeout(%d millisec)!",
                    static_cast<int>(context.timeLimit));
    outcome = FinishPullByCancel(context, overlapped, false);
    outcome.code = kErrorTimeout;
    return outcome;
}

uint32_t PushingThread(void* argument) {
    EchoClientState& s = *static_cast<EchoClientState*>(argument);
    const EchoConfig& config = *s.config;
    log::ClaimThreadRole(log::ThreadRole::kPushing);
    EchoChunkMaker maker(s.chunkMin, s.chunkMax, config.srand, config.startSeq);
    PushContext context{&s, CreateEvent(nullptr, FALSE, FALSE, nullptr), TimeLimit(config)};
    const uint32_t delay = static_cast<uint32_t>(std::max(config.writeDelayMsec, 0));
    uint32_t deadline = platform::TickCountMs();
    bool quitting = false;
    auto noteQuit = [&](const char* line) {
        log::PrintClockLine("%s", line);
        s.byteTarget = s.bytesSent.load();
        quitting = true;
    };
    for (uint32_t chunkId = 0;; ++chunkId) {
        if (s.quit && !quitting)
            noteQuit("Pushing thread gets quitting request from user.");
        const uint32_t size = maker.NextChunkSize();
        if (!quitting) {
            const uint32_t now = platform::TickCountMs();
            if (static_cast<int32_t>(deadline - now) <= 0) {
                deadline = now + delay;
            } else {
                if (SleepUnlessQuit(deadline - now, s.quit))
                    noteQuit("Pushing thread sees quitting request from user.");
                deadline += delay;
            }
        }
        const uint64_t sentBefore = s.bytesSent;
        const bool pushed = PushChunk(context, maker, size, chunkId);
        if (s.logs && s.logs->out.IsOpen() && size > 0)
            LogChunkEntry(s.logs->out, s.chunksSent, size, pushed ? "" : "(FAIL!)", sentBefore,
                          config.logRowWidth, s.out.data());
        if (!pushed) {
            s.pushResult = kEndedByError;
            break;
        }
        s.chunksSent += 1;
        s.bytesSent += size;
        const uint64_t target = s.byteTarget;
        if (target != 0 && s.bytesSent >= target) {
            log::PrintClockLine("All echo bytes sent. Total sent: chunks: %llu, bytes: %llu",
                                static_cast<unsigned long long>(s.chunksSent.load()),
                                static_cast<unsigned long long>(s.bytesSent.load()));
            s.pushResult = kEndedNormally;
            break;
        }
        if (quitting) {
            s.pushResult = kEndedNormally;
            if (s.logs && s.logs->out.IsOpen())
                s.logs->out.Flush();
            break;
        }
        if (s.mildEvent) {
            const HANDLE waits[2] = {s.mildEvent, s.pushForce};
            WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        }
    }
    log::PrintClockLine("Pushing thread has quitted.");
    log::ReleaseThreadRole(log::ThreadRole::kPushing);
    CloseHandle(context.ownEvent);
    s.ends.OneEnded();
    return 0;
}

void LogPulledChunk(EchoClientState& s, uint32_t received, uint64_t offset) {
    char note[48] = "";
    const uint32_t echolen = ReadChunkHeader(s.in.data()).echolen;
    if (received > 11 && received != echolen + kEchoHeadSize)
        std::snprintf(note, sizeof note, "(echo mismatch, dump total %d)",
                      static_cast<int>(received));
    LogChunkEntry(s.logs->in, s.chunksReceived, received, note, offset, s.config->logRowWidth,
                  s.in.data());
}

uint32_t PullDelay(const EchoConfig& config, EchoRand& rand) {
    const uint32_t value = static_cast<uint32_t>(config.readDelayMsec);
    return config.readDelayRandom ? rand.Next() % value + 1 : value;
}

uint32_t PullingThread(void* argument) {
    EchoClientState& s = *static_cast<EchoClientState*>(argument);
    const EchoConfig& config = *s.config;
    log::ClaimThreadRole(log::ThreadRole::kPulling);
    PullContext context{&s, CreateEvent(nullptr, FALSE, FALSE, nullptr), TimeLimit(config)};
    EchoRand rand;  // never seeded: the pulling thread's generator starts at 1
    for (uint32_t expectedId = 0;; ++expectedId) {
        const uint64_t offset = s.bytesReceived;
        uint32_t received = 0;
        const bool pulled = PullChunk(expectedId, offset, received, context);
        if (s.logs && s.logs->in.IsOpen() && received > 0)
            LogPulledChunk(s, received, offset);
        if (!pulled) {
            s.pullResult = kEndedByError;
            break;
        }
        s.chunksReceived += 1;
        s.bytesReceived += received;
        const uint64_t target = s.byteTarget;
        if (target != 0 && s.bytesReceived >= target) {
            log::PrintClockLine("All echo bytes received. Total chunks: %llu, recv: %llu",
                                static_cast<unsigned long long>(s.chunksReceived.load()),
                                static_cast<unsigned long long>(s.bytesReceived.load()));
            s.pullResult = kEndedNormally;
            break;
        }
        if (s.mildEvent)
            SetEvent(s.mildEvent);
        if (config.readDelayMsec > 0 && SleepUnlessQuit(PullDelay(config, rand), s.quit)) {
            log::PrintClockLine("Pulling thread sees quitting request from user.");
            s.pullResult = kEndedNormally;
            break;
        }
    }
    // The pushing thread must not outlive its partner.
    s.quit = true;
    SetEvent(s.pushForce);
    log::PrintClockLine("Pulling thread has quitted.");
    log::ReleaseThreadRole(log::ThreadRole::kPulling);
    CloseHandle(context.ownEvent);
    s.ends.OneEnded();
    return 0;
}

bool PreparePort(HANDLE port, const EchoConfig& config, const ConsoleHooks& hooks) {
    if (config.datapipe) {
        ClearDatapipe(port, 500);
        return true;
    }
    if (!ApplyEchoTimeouts(port, config)) {
        log::PrintTickLineWinErr(0, "In Do_Echo_cli(), SetCommTimeouts() fail.");
        return false;
    }
    const DWORD queue = EchoQueueBytes(config);
    if (!SetupComm(port, queue, queue)) {
        log::PrintTickLineWinErr(0, "In Do_Echo_cli(), SetupComm(hcom, %d, %d) fail.",
                                 static_cast<int>(queue), static_cast<int>(queue));
        return false;
    }
    if (config.needHwFlow)
        hooks.setCtsFlow(port, true);
    hooks.clearCommData(port, 500);
    return true;
}

// Progress lines of the main thread while the client threads run.
class ClientStatistics {
  public:
    explicit ClientStatistics(const EchoClientState& state)
        : state_(state), runStart_(platform::TickCountMs()) {}

    void Pass() {
        const uint32_t now = platform::TickCountMs();
        const uint64_t chunks = state_.chunksReceived;
        const uint64_t bytes = state_.bytesReceived;
        if (baseChunks_ == 0) {
            baseChunks_ = chunks;
            baseBytes_ = bytes;
            baseTick_ = now;
        }
        const uint32_t sinceBase = platform::TicksSince(baseTick_, now);
        if (sinceBase < kStatsIntervalMs || chunks == baseChunks_)
            return;
        const uint32_t sinceStart = platform::TicksSince(runStart_, now);
        log::PrintClockLine(
            "%d hours %d secs, chunks: %llu, %s, %s", static_cast<int>(sinceStart / 3600000u),
            static_cast<int>(sinceStart / 1000u % 3600u), static_cast<unsigned long long>(chunks),
            log::SizeText(bytes, "B").c_str(),
            log::RateText(bytes - baseBytes_, sinceBase).c_str());
        baseChunks_ = chunks;
        baseBytes_ = bytes;
        baseTick_ = now;
    }

  private:
    const EchoClientState& state_;
    uint32_t runStart_;
    uint64_t baseChunks_ = 0;
    uint64_t baseBytes_ = 0;
    uint32_t baseTick_ = 0;
};

void WatchClientThreads(EchoClientState& s, const ConsoleHooks& hooks) {
    ClientStatistics statistics(s);
    bool quitAsked = false;
    bool inputEnded = false;
    for (;;) {
        if (!inputEnded && hooks.keyWaiting()) {
            const int key = hooks.readKey();
            inputEnded = key < 0;
            if (key == '0' && !quitAsked) {
                log::PrintClockLine(
                    "Stopping echo flow... (In case no effect, press 0 again to force.)");
                s.quit = true;
                quitAsked = true;
            } else if (key == '0') {
                log::PrintClockLine(
                    "You pressed 0 again. Now force pushing/pulling thread to quit.");
                SetEvent(s.pushForce);
                SetEvent(s.pullForce);
            }
        }
        if (s.ends.WaitFor(2, std::chrono::milliseconds(500)))
            break;
        statistics.Pass();
    }
}

struct ClientEvents {
    EchoClientState& s;
    explicit ClientEvents(EchoClientState& state, bool mild) : s(state) {
        s.pushForce = CreateEvent(nullptr, TRUE, FALSE, nullptr);
        s.pullForce = CreateEvent(nullptr, TRUE, FALSE, nullptr);
        s.mildEvent = mild ? CreateEvent(nullptr, FALSE, FALSE, nullptr) : nullptr;
    }
    ~ClientEvents() {
        for (HANDLE h : {s.pushForce, s.pullForce, s.mildEvent})
            if (h)
                CloseHandle(h);
    }
    ClientEvents(const ClientEvents&) = delete;
    ClientEvents& operator=(const ClientEvents&) = delete;
};

}  // namespace

bool SleepUnlessQuit(uint32_t milliseconds, const std::atomic<bool>& quit) {
    while (milliseconds > 0) {
        const uint32_t slice = std::min<uint32_t>(milliseconds, 100);
        platform::SleepMs(slice);
        milliseconds -= slice;
        if (quit)
            return true;
    }
    return false;
}

DWORD ReadFile_wqe_partial(ChunkReader& reader, uint32_t count, const PullContext& context) {
    const uint32_t nibble = static_cast<uint32_t>(std::max(context.state->config->readNibble, 1));
    const uint32_t goal = reader.received + count;
    while (reader.received < goal) {
        const DWORD request = std::min(nibble, goal - reader.received);
        ReadOutcome outcome = ReadOnce(reader, request, context);
        if (outcome.bytes == 0) {
            // A read that ends without bytes and without an error has not
            // delivered the count either.
            if (outcome.code == 0)
                outcome.code = kErrorTimeout;
            log::PrintClockLine("Error: ReadFile_wqe_partial() reports nRed=0. WinErr=%d(%s)",
                                static_cast<int>(outcome.code), log::WinErrName(outcome.code));
            return outcome.code;
        }
        reader.received += outcome.bytes;
        if (reader.received >= goal)
            return 0;
        if (outcome.code != 0)
            return outcome.code;
    }
    return 0;
}

bool PullChunk(uint32_t expectedId, uint64_t streamOffset, uint32_t& receivedBytes,
               const PullContext& context) {
    EchoClientState& s = *context.state;
    ChunkReader reader{expectedId, streamOffset, s.in.data(), s.chunkMax, kEchoHeadSize, 0};
    if (ReadFile_wqe_partial(reader, kEchoHeadSize, context) != 0) {
        log::PrintClockLine("@Chunk %u: DataError: Received less bytes(%d) than Echo headsize(%d).",
                            expectedId, static_cast<int>(reader.received),
                            static_cast<int>(kEchoHeadSize));
        receivedBytes = reader.received;
        return false;
    }
    const EchoChunkHeader header = ReadChunkHeader(reader.buffer);
    const HeaderCheck check = CheckChunkHeader(header, expectedId, s.chunkMax);
    if (!check.idMatches)
        ReportPullError(reader, context, "DataError: Received wrong chunk-id. Recv:%u, Expect:%u",
                        header.chunkid, expectedId);
    if (!check.lengthFits)
        ReportPullError(reader, context, "DataError: Received chunk length(%d) exceeds max(%d).",
                        static_cast<int>(header.echolen),
                        static_cast<int>(s.chunkMax - kEchoHeadSize));
    const bool good = check.Good();
    const uint32_t bodyCount = good ? header.echolen : reader.capacity - kEchoHeadSize;
    reader.requested += bodyCount;
    if (bodyCount == 0) {
        receivedBytes = kEchoHeadSize;
        return good;
    }
    const DWORD error = ReadFile_wqe_partial(reader, bodyCount, context);
    const uint32_t bodyReceived = reader.received - kEchoHeadSize;
    receivedBytes = reader.received;
    if (error != 0 && good)
        log::PrintClockLine("@Chunk %u: DataError: Received less chunk body(%d) than expected(%d).",
                            expectedId, static_cast<int>(bodyReceived),
                            static_cast<int>(bodyCount));
    if (error != 0 || !good)
        return false;
    const uint32_t crc = Crc32(reader.buffer + kEchoHeadSize, header.echolen);
    if (crc != header.crc32) {
        ReportPullError(reader, context, "Error: Received wrong CRC. Recv:0x%08X, Expect:0x%08X",
                        header.crc32, crc);
        return false;
    }
    return true;
}

bool Do_Echo_cli(HANDLE port, const EchoConfig& config, bool mild, const ConsoleHooks& given,
                 EchoLogs* logs) {
    const ConsoleHooks hooks = CompleteHooks(given);
    // Sizes outside these bounds would build chunks past the buffers' end.
    if (config.chunkMin < kEchoHeadSize || config.chunkMin > config.chunkMax) {
        log::PrintClockLine("Bad echo chunk sizes (min:%u , max:%u).", config.chunkMin,
                            config.chunkMax);
        return false;
    }
    if (!PreparePort(port, config, hooks))
        return false;
    EchoClientState s;
    s.port = port;
    s.config = &config;
    s.hooks = &hooks;
    s.logs = logs;
    s.chunkMax = config.chunkMax;
    s.chunkMin = config.chunkMin;
    s.byteTarget = config.maxBytes > 0 ? static_cast<uint64_t>(config.maxBytes) : 0;
    const size_t bufferBytes = (static_cast<size_t>(config.chunkMax) + 3) / 4 * 4;
    s.out.assign(bufferBytes, 0);
    s.in.assign(bufferBytes, 0);
    ClientEvents events(s, mild);

    auto pusher = hooks.startThread(PushingThread, &s, kClientThreadStack);
    if (!pusher) {
        log::PrintClockLine("Cannot start the pushing thread.");
        return false;
    }
    auto puller = hooks.startThread(PullingThread, &s, kClientThreadStack);
    if (!puller) {
        log::PrintClockLine("Cannot start the pulling thread.");
        // The pushing thread still uses the state and buffers: stop it first.
        s.quit = true;
        SetEvent(s.pushForce);
        log::JoinThread(*pusher);
        return false;
    }
    WatchClientThreads(s, hooks);
    log::JoinThread(*pusher);
    log::JoinThread(*puller);
    return s.pushResult == kEndedNormally && s.pullResult == kEndedNormally;
}

}  // namespace vantrel::echo
