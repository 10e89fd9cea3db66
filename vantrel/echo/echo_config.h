// What one echo run needs from the console: its settings, taken from the run
// settings by the key loop, and the console services it calls back into.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "port/win_types.h"
#include "run_timeouts.h"
#include "start_thread.h"

namespace vantrel::echo {

struct EchoConfig {
    int64_t maxBytes = 0;  // 0 or less: unlimited
    uint32_t chunkMin = 12;
    uint32_t chunkMax = 16000;
    RunTimeouts timeouts;  // the port's time-outs during the run
    int32_t rwBufX = 2;
    bool needHwFlow = false;
    std::optional<uint32_t> startSeq;
    uint32_t srand = 0;
    int32_t timeoutLimit = 0;  // ms; 0 = none
    int32_t readNibble = 4000;
    int32_t writeDelayMsec = 0;
    int32_t readDelayMsec = 0;
    bool readDelayRandom = false;
    bool manualIntervene = false;
    int32_t logRowWidth = 16;
    bool needLog = false;
    bool appendLog = false;
    bool datapipe = false;
};

// Console services an echo run calls back into. Unset members fall back to
// the console's own keys and do nothing for the port helpers.
struct ConsoleHooks {
    std::function<bool()> keyWaiting;
    std::function<int()> readKey;  // -1 once the input has ended
    // Drops what waits in the port's input (dry-read time-out in ms, quiet).
    std::function<void(win::HANDLE, uint32_t)> clearCommData;
    std::function<void(win::HANDLE, bool)> setCtsFlow;
    // Puts back the console's own port time-outs after a run.
    std::function<void(win::HANDLE)> applyCommTimeouts;
    // Starts the client's threads; tests replace it to make a start fail.
    std::function<std::optional<log::ThreadHandle>(log::ThreadFunction, void*, int32_t)>
        startThread;
};

// The hooks with every unset member filled by its default.
ConsoleHooks CompleteHooks(ConsoleHooks hooks);

}  // namespace vantrel::echo
