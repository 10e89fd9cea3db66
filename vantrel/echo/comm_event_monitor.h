// The event monitor: a background thread that loops on WaitCommEvent and
// reports every event with the port's queue and modem-line state.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "port/win_types.h"
#include "start_thread.h"

namespace vantrel::echo {

// "EV_RXCHAR|EV_CTS|EV_DSR|EV_TXEMPTY|EV_RX80FULL" for the bits that are set,
// in that order; other bits are not named.
std::string EventMaskText(win::DWORD mask);

struct MonitorOptions {
    bool watchCtsDsr = true;
    bool discardOnRxChar = false;
    int32_t firstDelayMs = 0;
    int32_t eventDelayMs = 0;
    bool printDeviceStateOnDsr = false;
};

struct MonitorHooks {
    // The modem lines as text, without DCD and RING.
    std::function<std::string(uint32_t)> modemLinesText;
    std::function<void(win::HANDLE)> printDeviceState;
};

class CommEventMonitor {
  public:
    // None when the thread cannot be started.
    static std::unique_ptr<CommEventMonitor> Start(win::HANDLE port, const MonitorOptions& options,
                                                   MonitorHooks hooks);
    ~CommEventMonitor();
    CommEventMonitor(const CommEventMonitor&) = delete;
    CommEventMonitor& operator=(const CommEventMonitor&) = delete;

    // Asks the thread to quit, wakes its pending wait by clearing the port's
    // mask, and waits until it has ended.
    void Stop();

  private:
    CommEventMonitor(win::HANDLE port, const MonitorOptions& options, MonitorHooks hooks);
    static uint32_t ThreadMain(void* self);
    void Loop();
    bool ReportEvents(win::DWORD events);
    void ReportQueues();

    win::HANDLE port_;
    MonitorOptions options_;
    MonitorHooks hooks_;
    std::atomic<bool> quit_{false};
    win::HANDLE ended_ = nullptr;  // manual-reset, set as the thread ends
    std::optional<log::ThreadHandle> thread_;
};

// The console's keys 'E', '$' and 'e'; holds the monitor between them.
class EventMonitorKeys {
  public:
    // 'E' (verbose = false) or '$' (asks its two questions through readKey).
    // False when a monitor already runs (no prompt follows).
    bool StartKey(win::HANDLE port, bool verbose, MonitorOptions options,
                  const std::function<int()>& readKey, MonitorHooks hooks);
    void StopKey();
    bool Running() const { return monitor_ != nullptr; }

  private:
    std::unique_ptr<CommEventMonitor> monitor_;
};

}  // namespace vantrel::echo
