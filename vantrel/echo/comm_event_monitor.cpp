#include "comm_event_monitor.h"

#include "console_log.h"
#include "fmtx.h"
#include "platform/tick.h"
#include "port/win_port.h"
#include "port/win_port_errors.h"

namespace vantrel::echo {

using namespace win;

namespace {

constexpr int32_t kMonitorStack = 256 * 1024;
constexpr DWORD kWakeRetryMs = 500;

}  // namespace

std::string EventMaskText(DWORD mask) {
    static const struct {
        DWORD bit;
        const char* name;
    } kNames[] = {{EV_RXCHAR, "EV_RXCHAR|"},
                  {EV_CTS, "EV_CTS|"},
                  {EV_DSR, "EV_DSR|"},
                  {EV_TXEMPTY, "EV_TXEMPTY|"},
                  {EV_RX80FULL, "EV_RX80FULL|"}};
    std::string text;
    for (const auto& entry : kNames)
        if (mask & entry.bit)
            text += entry.name;
    if (!text.empty())
        text.pop_back();
    return text;
}

CommEventMonitor::CommEventMonitor(HANDLE port, const MonitorOptions& options, MonitorHooks hooks)
    : port_(port), options_(options), hooks_(std::move(hooks)) {
    ended_ = CreateEvent(nullptr, TRUE, FALSE, nullptr);
}

CommEventMonitor::~CommEventMonitor() {
    if (thread_)
        log::JoinThread(*thread_);
    CloseHandle(ended_);
}

std::unique_ptr<CommEventMonitor> CommEventMonitor::Start(HANDLE port,
                                                          const MonitorOptions& options,
                                                          MonitorHooks hooks) {
    std::unique_ptr<CommEventMonitor> monitor(
        new CommEventMonitor(port, options, std::move(hooks)));
    monitor->thread_ = log::StartThread(ThreadMain, monitor.get(), kMonitorStack);
    if (!monitor->thread_)
        return nullptr;
    return monitor;
}

uint32_t CommEventMonitor::ThreadMain(void* self) {
    auto* monitor = static_cast<CommEventMonitor*>(self);
    log::ClaimThreadRole(log::ThreadRole::kEventMonitor);
    log::PrintTickLine("WaitCommEvent thread starting.");
    monitor->Loop();
    log::PrintTickLine("WaitCommEvent thread quitting.");
    log::ReleaseThreadRole(log::ThreadRole::kEventMonitor);
    SetEvent(monitor->ended_);
    return 0;
}

void CommEventMonitor::Loop() {
    if (options_.firstDelayMs > 0) {
        log::PrintTickLine("====Delaying %dms before first WaitCommEvent.", options_.firstDelayMs);
        platform::SleepMs(static_cast<uint32_t>(options_.firstDelayMs));
    }
    HANDLE event = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    DWORD lastMask = 0;
    while (!quit_) {
        const DWORD mask = EV_RXCHAR | (options_.watchCtsDsr ? EV_CTS | EV_DSR : 0) | EV_TXEMPTY;
        if (mask != lastMask) {
            if (!SetCommMask(port_, mask)) {
                log::PrintTickLineWinErr(0, "====SetCommMask() fail.");
                CloseHandle(event);
                return;
            }
            log::PrintTickLine("====SetCommMask(h, %s) Success.", EventMaskText(mask).c_str());
            lastMask = mask;
        }
        log::PrintTickLine("====Starting WaitCommEvent(mask=0x%02X)...", mask);
        OVERLAPPED overlapped{};
        overlapped.hEvent = event;
        DWORD events = 0;
        DWORD done = 0;
        BOOL ok = WaitCommEvent(port_, &events, &overlapped);
        if (!ok && GetLastError() == ERROR_IO_PENDING)
            ok = GetOverlappedResult(port_, &overlapped, &done, TRUE);
        if (!ok) {
            log::PrintTickLineWinErr(0, "====WaitCommEvent() fail!");
            CloseHandle(event);
            return;
        }
        if (events == 0) {
            log::PrintTickLine("====WaitCommEvent() completes, 0 event reported.");
            lastMask = 0;  // whoever cleared the mask: set it again
            continue;
        }
        ReportEvents(events);
    }
    log::PrintTickLine("====WaitCommEvent thread receives quit signal. Now quit this thread.");
    CloseHandle(event);
}

bool CommEventMonitor::ReportEvents(DWORD events) {
    log::PrintTickLine("====New events: %s", EventMaskText(events).c_str());
    if (events & EV_RXCHAR)
        ReportQueues();
    if (events & (EV_CTS | EV_DSR)) {
        DWORD lines = 0;
        if (GetCommModemStatus(port_, &lines))
            log::PrintTickLine("    Modem lines: %s",
                               hooks_.modemLinesText ? hooks_.modemLinesText(lines).c_str() : "");
        else
            log::PrintTickLineWinErr(0, "GetCommModemStatus() fail.");
        if (options_.printDeviceStateOnDsr && (events & EV_DSR) && hooks_.printDeviceState)
            hooks_.printDeviceState(port_);
    }
    if (options_.eventDelayMs > 0) {
        log::PrintTickLine("Will resume WaitCommMask in %dms", options_.eventDelayMs);
        platform::SleepMs(static_cast<uint32_t>(options_.eventDelayMs));
    }
    return true;
}

void CommEventMonitor::ReportQueues() {
    DWORD errors = 0;
    COMSTAT stat{};
    if (!ClearCommError(port_, &errors, &stat))
        log::PrintTickLineWinErr(0, "ClearCommError fail.");
    if (options_.discardOnRxChar) {
        if (!PurgeComm(port_, PURGE_RXCLEAR))
            log::PrintTickLineWinErr(0, "PurgeComm fail.");
    } else {
        platform::SleepMs(10);
    }
    log::PrintTickLine("    cbInQue=%d(%s) , cbOutQue=%d", static_cast<int>(stat.cbInQue),
                       options_.discardOnRxChar ? "cleared now" : "not cleared",
                       static_cast<int>(stat.cbOutQue));
}

void CommEventMonitor::Stop() {
    quit_ = true;
    log::PrintTickLineAligned(
        "Main thread calls SetCommMask(h,0); to tell quit WaitCommEvent thread.");
    // The thread may set its mask again between its quit test and its next
    // wait; clearing the mask once more then ends that wait too.
    do {
        SetCommMask(port_, 0);
    } while (WaitForSingleObject(ended_, kWakeRetryMs) != WAIT_OBJECT_0);
    log::JoinThread(*thread_);
    thread_.reset();
    log::PrintTickLine("WaitCommEvent thread quitting confirmed.");
}

bool EventMonitorKeys::StartKey(HANDLE port, bool verbose, MonitorOptions options,
                                const std::function<int()>& readKey, MonitorHooks hooks) {
    if (monitor_) {
        fmtx_printf("Already monitoring CommEvents.\n");
        return false;
    }
    options.watchCtsDsr = true;
    options.discardOnRxChar = false;
    if (verbose) {
        fmtx_printf("Monitor CTS and DSR? (Y/n)");
        const int watch = readKey();
        options.watchCtsDsr = !(watch == 'n' || watch == 'N');
        fmtx_printf("\nMonitor CTS and DSR: %s\n", options.watchCtsDsr ? "yes" : "no");
        fmtx_printf("Read and discard all chars on EV_RXCHAR? (y/N)");
        const int discard = readKey();
        options.discardOnRxChar = discard == 'y' || discard == 'Y';
        fmtx_printf("\nRead and discard all chars on EV_RXCHAR: %s\n",
                    options.discardOnRxChar ? "yes" : "no");
    }
    monitor_ = CommEventMonitor::Start(port, options, std::move(hooks));
    return true;
}

void EventMonitorKeys::StopKey() {
    if (!monitor_)
        return;
    monitor_->Stop();
    monitor_.reset();
}

}  // namespace vantrel::echo
