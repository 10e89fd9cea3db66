// The echo client: a pushing thread sends chunks of random size while a
// pulling thread receives their echoes and checks id, length and CRC.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "chunk.h"
#include "echo_config.h"
#include "echo_logs.h"
#include "port/win_types.h"

namespace vantrel::echo {

enum : uint32_t { kRunning = 0, kEndedNormally = 1, kEndedByError = 2 };

// The client threads report their end here, so the main thread can wait for
// both with a limit. Kept apart from the port layer's objects: their waits
// wake at every request's end, and this one should not.
class ThreadEnds {
  public:
    void OneEnded() {
        std::lock_guard lock(mutex_);
        ++ended_;
        changed_.notify_all();
    }
    // True when `count` threads have ended, waiting at most `limit`.
    bool WaitFor(int count, std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return ended_ >= count; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int ended_ = 0;
};

// Shared by the main thread and the two client threads. Each counter is
// written by one thread only; the others read it for reports and targets.
struct EchoClientState {
    win::HANDLE port = nullptr;
    win::HANDLE pushForce = nullptr;  // manual-reset: aborts the pushing thread's waits
    win::HANDLE pullForce = nullptr;  // manual-reset: aborts the pulling thread's waits
    win::HANDLE mildEvent = nullptr;  // auto-reset, Mild mode only
    ThreadEnds ends;
    std::vector<uint8_t> out;
    std::vector<uint8_t> in;
    uint32_t chunkMax = 0;
    uint32_t chunkMin = 0;
    std::atomic<bool> quit{false};
    std::atomic<uint32_t> pushResult{kRunning};
    std::atomic<uint32_t> pullResult{kRunning};
    std::atomic<uint64_t> byteTarget{0};
    std::atomic<uint64_t> bytesSent{0};
    std::atomic<uint64_t> bytesReceived{0};
    std::atomic<uint64_t> chunksSent{0};
    std::atomic<uint64_t> chunksReceived{0};

    const EchoConfig* config = nullptr;
    const ConsoleHooks* hooks = nullptr;
    EchoLogs* logs = nullptr;  // may be null: no logging
};

// Runs one client test on the open port; true when both threads ended
// normally.
bool Do_Echo_cli(win::HANDLE port, const EchoConfig& config, bool mild, const ConsoleHooks& hooks,
                 EchoLogs* logs);

// A receive in progress: what PullChunk asked for and what has arrived.
struct ChunkReader {
    uint32_t expectedId = 0;
    uint64_t streamOffset = 0;
    uint8_t* buffer = nullptr;
    uint32_t capacity = 0;
    uint32_t requested = 0;
    uint32_t received = 0;
};

// The calling thread's context for the routines below.
struct PullContext {
    EchoClientState* state;
    win::HANDLE ownEvent;
    win::DWORD timeLimit;  // INFINITE = none
};

// Reads `count` more bytes into the reader's buffer at its received position,
// in pieces of at most the read nibble; 0 or a Windows error code. A read
// that ends successfully with nothing transferred answers ERROR_TIMEOUT.
win::DWORD ReadFile_wqe_partial(ChunkReader& reader, uint32_t count, const PullContext& context);

// Receives one chunk; `receivedBytes` tells how many bytes it took.
bool PullChunk(uint32_t expectedId, uint64_t streamOffset, uint32_t& receivedBytes,
               const PullContext& context);

// Sleeps in slices of at most 100 ms; true as soon as the flag is found set.
bool SleepUnlessQuit(uint32_t milliseconds, const std::atomic<bool>& quit);

inline constexpr win::DWORD kErrorTimeout = 1460;

}  // namespace vantrel::echo
