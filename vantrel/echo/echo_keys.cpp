#include "echo_keys.h"

#include "console_log.h"
#include "echo_client.h"
#include "echo_logs.h"
#include "echo_server.h"
#include "fmtx.h"

namespace vantrel::echo {

namespace {

bool OpenLogs(EchoLogs& logs, const EchoConfig& config, const char* outName, const char* inName) {
    if (!config.needLog)
        return true;
    if (const char* failed = logs.Open(outName, inName, config.appendLog)) {
        fmtx_printf("Error: %s open/create fail!\n", failed);
        return false;
    }
    return true;
}

}  // namespace

bool RunEchoClient(win::HANDLE port, const EchoConfig& config, bool mild,
                   const ConsoleHooks& given) {
    const ConsoleHooks hooks = CompleteHooks(given);
    EchoLogs logs;
    if (!OpenLogs(logs, config, "echo_cli_out.log", "echo_cli_in.log"))
        return false;
    fmtx_printf("Using echo chunk size (min:%d , max:%d).\n", static_cast<int>(config.chunkMin),
                static_cast<int>(config.chunkMax));
    const char* mode = mild ? "Mild" : "Urge";
    if (config.maxBytes < 1)
        log::PrintClockLine("Doing echo unlimited bytes(%s). srand=%u. ('0' to break)", mode,
                            config.srand);
    else
        log::PrintClockLine("Doing echo %llu bytes(%s), srand=%u. ('0' to break)",
                            static_cast<unsigned long long>(config.maxBytes), mode, config.srand);
    if (config.writeDelayMsec > 0)
        log::PrintClockLine("Each chunk is delayed %d millisec.", config.writeDelayMsec);
    if (config.timeoutLimit > 0)
        log::PrintClockLine("Echo timeout limit is %d millisec.", config.timeoutLimit);
    const bool success = Do_Echo_cli(port, config, mild, hooks, config.needLog ? &logs : nullptr);
    log::PrintClockLine(success ? "Echo test success." : "Echo test fail.");
    if (!config.datapipe)
        hooks.applyCommTimeouts(port);
    logs.CloseBoth();
    return true;
}

bool RunEchoServer(win::HANDLE port, const EchoConfig& config, const ConsoleHooks& given) {
    const ConsoleHooks hooks = CompleteHooks(given);
    EchoLogs logs;
    if (!OpenLogs(logs, config, "echo_srv_out.log", "echo_srv_in.log"))
        return false;
    hooks.clearCommData(port, 100);
    log::PrintClockLine("Starting echo server(chunkmax=%d), waiting client... ('0' to break)",
                        static_cast<int>(config.chunkMax));
    Do_Echo_srv(port, config, hooks, config.needLog ? &logs : nullptr);
    log::PrintClockLine("Echo server stopped.");
    hooks.applyCommTimeouts(port);
    logs.CloseBoth();
    return true;
}

}  // namespace vantrel::echo
