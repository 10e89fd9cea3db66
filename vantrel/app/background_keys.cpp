#include "background_keys.h"

#include "comm_event_monitor.h"
#include "driver_keys.h"
#include "echo_config.h"
#include "echo_keys.h"
#include "port_ops.h"
#include "port_setup.h"
#include "read_com_thread.h"
#include "settings.h"

namespace vantrel::app {

namespace {

echo::EchoConfig EchoConfigFromSettings() {
    const RunSettings& s = Settings();
    echo::EchoConfig c;
    c.maxBytes = s.echoMaxBytes;
    c.chunkMin = static_cast<uint32_t>(s.echoChunkMinBytes);
    c.chunkMax = static_cast<uint32_t>(s.echoChunkMaxBytes);
    c.timeouts = s.timeouts;
    c.rwBufX = s.echoRwBufX;
    c.needHwFlow = s.echoNeedHwFlow;
    if (s.echoStartSeqGiven)
        c.startSeq = s.echoStartSeq;
    c.srand = s.echoSrand;
    c.timeoutLimit = s.echoTimeoutLimit;
    c.readNibble = s.echoCliReadNibble;
    c.writeDelayMsec = s.echoCliWriteDelayMsec;
    c.readDelayMsec = s.echoCliReadDelayMsec;
    c.readDelayRandom = s.echoCliReadDelayRandom;
    c.manualIntervene = s.manualInterveneErrCli;
    c.logRowWidth = s.echoLogRowWidth;
    c.needLog = s.echoNeedLog;
    c.appendLog = s.echoAppendLog;
    c.datapipe = s.datapipe;
    return c;
}

echo::ConsoleHooks EchoHooks() {
    echo::ConsoleHooks hooks;
    hooks.clearCommData = [](win::HANDLE port, uint32_t ms) { MyClearCommData(port, ms, false); };
    hooks.setCtsFlow = SetCtsFlow;
    hooks.applyCommTimeouts = ApplyCommTimeouts;
    return echo::CompleteHooks(hooks);
}

// Held until the process ends: the exit path leaves both threads running.
echo::EventMonitorKeys& MonitorKeys() {
    static auto* keys = new echo::EventMonitorKeys;
    return *keys;
}

echo::ReadComKeys& ReaderKeys() {
    static auto* keys = new echo::ReadComKeys;
    return *keys;
}

}  // namespace

bool EchoClientKey(win::HANDLE port, bool mild) {
    return echo::RunEchoClient(port, EchoConfigFromSettings(), mild, EchoHooks());
}

bool EchoServerKey(win::HANDLE port) {
    return echo::RunEchoServer(port, EchoConfigFromSettings(), EchoHooks());
}

bool EventMonitorKey(win::HANDLE port, bool verbose) {
    const RunSettings& s = Settings();
    echo::MonitorOptions options;
    options.firstDelayMs = s.waitCommEventDelay0;
    options.eventDelayMs = s.waitCommEventDelay;
    options.printDeviceStateOnDsr = s.printDevStateOnDsr;
    echo::MonitorHooks hooks;
    hooks.modemLinesText = [](uint32_t lines) { return ModemLinesText(lines, false); };
    hooks.printDeviceState = PrintDeviceState;
    return MonitorKeys().StartKey(port, verbose, options, EchoHooks().readKey, hooks);
}

void StopEventMonitorKey() {
    MonitorKeys().StopKey();
}

void ReadComKey(win::HANDLE port) {
    ReaderKeys().Key(port, static_cast<uint32_t>(Settings().bytesRw), EchoHooks().readKey);
}

}  // namespace vantrel::app
