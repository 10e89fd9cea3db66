// The echo server: echoes every chunk back byte for byte, with overlapped
// requests whose completion routines run in the main thread's alertable
// sleep.
#pragma once

#include <cstdint>
#include <vector>

#include "echo_config.h"
#include "echo_logs.h"
#include "port/win_types.h"

namespace vantrel::echo {

struct EchoServerState;

// Tells the completion routine which request of which server ended; its
// address travels in the OVERLAPPED record's event field.
struct CompletionRecord {
    int kind;  // 1 read, 0 write
    EchoServerState* server;
};

struct EchoServerState {
    bool quit = false;
    win::HANDLE port = nullptr;
    uint32_t chunkMax = 0;
    std::vector<uint8_t> in;
    std::vector<uint8_t> out;
    uint32_t bytesOfCurrentChunk = 0;
    bool readingBody = false;
    bool chunkReady = false;
    bool writeInProgress = false;
    // Set by a data error: nothing more is read, the pending write may end.
    bool readingStopped = false;
    uint32_t pendingReadLength = 0;
    uint32_t pendingWriteLength = 0;
    win::OVERLAPPED readOverlapped{};
    win::OVERLAPPED writeOverlapped{};
    CompletionRecord readRecord{1, this};
    CompletionRecord writeRecord{0, this};
    uint64_t chunksReceived = 0;
    uint64_t bytesReceived = 0;
    uint64_t chunksEchoed = 0;
    uint64_t bytesEchoed = 0;
    uint64_t baselineBytes = 0;
    uint32_t baselineTick = 0;
    const EchoConfig* config = nullptr;
    EchoLogs* logs = nullptr;

    EchoServerState() = default;
    EchoServerState(const EchoServerState&) = delete;
    EchoServerState& operator=(const EchoServerState&) = delete;
};

// Serves until key '0' or until an error leaves nothing posted; false only
// when it cannot start.
bool Do_Echo_srv(win::HANDLE port, const EchoConfig& config, const ConsoleHooks& hooks,
                 EchoLogs* logs);

}  // namespace vantrel::echo
