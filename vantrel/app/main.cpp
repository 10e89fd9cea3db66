// The serial-port test console: start-up, the key loop and the exit path.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "background_keys.h"
#include "console_log.h"
#include "crc32.h"
#include "driver/ovrix_ioctl.h"
#include "driver_keys.h"
#include "fmtx.h"
#include "list_vcoms.h"
#include "log_file.h"
#include "platform/runtime_namespace.h"
#include "port/console_keys.h"
#include "port/win_port.h"
#include "port_open.h"
#include "port_ops.h"
#include "port_setup.h"
#include "settings.h"
#include "texts.h"
#include "time_open_close.h"

namespace vantrel::app {
namespace {

using namespace win;

constexpr int kEsc = 27;
constexpr int kExtendedKey = 224;
constexpr int kReadLogBufferBytes = 8192;

bool g_readLogRefused = false;

void PrintKernelVersion() {
    HANDLE bus = CreateFile(VbusInterfacePath(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
    ovrix::VersionInfo version{};
    DWORD returned = 0;
    const bool ok = bus != INVALID_HANDLE_VALUE &&
                    DeviceIoControl(bus, ovrix::IOCTL_OVRIX_GetVersion, nullptr, 0, &version,
                                    sizeof version, &returned, nullptr);
    const DWORD error = GetLastError();
    if (bus != INVALID_HANDLE_VALUE)
        CloseHandle(bus);
    if (ok)
        std::printf("OVRIX kernel version: %u.%u.%u\n", version.major, version.minor,
                    version.patch);
    else
        std::printf("Cannot get OVRIX kernel version. WinErr=%u(%s)\n",
                    static_cast<unsigned>(error), log::WinErrName(error));
}

bool PrintLessWanted() {
    char value[40] = {};
    const char* env = std::getenv("VANTREL_PRINT_LESS");
    if (env)
        std::snprintf(value, sizeof value, "%s", env);
    return value[0] != '\0';
}

void PrintStartupReport(HANDLE port) {
    RunSettings& s = Settings();
    if (!PrintLessWanted()) {
        std::printf("DevOpenPath: %s\n", s.portPath);
        std::printf("g_bytes_to_rw = %d\n", s.bytesRw);
        std::printf("g_wait_msec_before_cancel = %d\n", s.msecCancel);
        if (!s.datapipe) {
            auto text = [](int32_t value) {
                return log::TimeoutText(static_cast<uint32_t>(value));
            };
            std::printf("g_rto_interval   = %s\n", text(s.timeouts.rtoInterval).c_str());
            std::printf("g_rto_multiplier = %s\n", text(s.timeouts.rtoMultiplier).c_str());
            std::printf("g_rto_constant   = %s\n", text(s.timeouts.rtoConstant).c_str());
            std::printf("g_wto_multiplier = %s\n", text(s.timeouts.wtoMultiplier).c_str());
            std::printf("g_wto_constant   = %s\n", text(s.timeouts.wtoConstant).c_str());
            if (s.inQueue > 0)
                std::printf("g_in_queue_bytes = %d\n", s.inQueue);
            if (s.outQueue > 0)
                std::printf("g_out_queue_bytes= %d\n", s.outQueue);
        }
    }
    if (s.readLog[0]) {
        std::printf("Read logging to file(%s): %s\n", s.readLogAppend ? "append" : "clean",
                    s.readLog);
        if (!ReadLog().Open(s.readLog, s.readLogAppend, kReadLogBufferBytes)) {
            const int reason = errno;
            ErrorLine("!!! Error: %s open/create fail! (%s)\n", s.readLog, std::strerror(reason));
            // The session runs on without its log, but not everything asked is done.
            g_readLogRefused = true;
        }
    }
    if (s.waitCommEventDelay0)
        std::printf("g_waitcommevent_delay0 = %u\n", s.waitCommEventDelay0);
    if (s.waitCommEventDelay)
        std::printf("g_waitcommevent_delay = %u\n", s.waitCommEventDelay);
    if (s.echoMaxBytes > 0)
        std::printf("g_echo_maxbytes64 = %lld\n", static_cast<long long>(s.echoMaxBytes));
    log::PrintTickLine("CreateFile('%s') success. Handle=0x%p %s", s.portPath, port,
                       s.readOnly ? "(read-only!)" : "");
    if (!s.datapipe) {
        ApplyCommTimeouts(port);
        if (s.baudrate == 0)
            s.baudrate = 115200;
        MySetBaudrate(port, s.baudrate);
    }
    if (s.inQueue > 0 || s.outQueue > 0)
        log::PrintClockLineWinErr(
            SetupComm(port, static_cast<DWORD>(s.inQueue), static_cast<DWORD>(s.outQueue)),
            "SetupComm fail!");
}

int ReadKey() {
    std::fflush(stdout);
    return ConsoleReadKey();
}

// The next key of the loop, or 0 for a pass that executes nothing. -1 when
// the console input has ended.
struct KeySource {
    size_t index = 0;
    int autoCounter = 0;
    int lastKey = 0;

    int Next() {
        const unsigned char* keys = reinterpret_cast<const unsigned char*>(Settings().firstKeys);
        const unsigned char preset = keys[index];
        if (preset == 0)
            return Typed();
        if (preset == kRepeatMarker)
            return Repeat();
        std::printf("First-key auto input(#%d): '%c'\n", autoCounter++, preset);
        ++index;
        return preset;
    }

    int Typed() {
        int key = ReadKey();
        if (key < 0)
            return -1;
        if (key == kExtendedKey) {
            if (ConsoleKeyWaiting())
                ReadKey();
            return 0;
        }
        if (key != '\r')
            std::printf("Got '%c'.\n", key);
        return key;
    }

    int Repeat() {
        if (ConsoleKeyWaiting()) {
            const int key = ReadKey();
            if (key == '\r' || key == '\n' || key == kEsc || key < 0) {
                ++index;
                std::printf("(Repeat-key stops.)\n");
            }
            return 0;
        }
        std::printf("Repeat-key auto input(#%d): '%c'\n", autoCounter++, lastKey);
        return lastKey;
    }
};

// Executes one key; false for the keys that skip the prompt.
bool Dispatch(HANDLE port, int key) {
    const RunSettings& s = Settings();
    const uint32_t presetBytes = static_cast<uint32_t>(s.bytesRw);
    switch (key) {
        case 'i':
            PrintCommInfo(port);
            PrintDeviceState(port);
            break;
        case 'r':
            DoReadFile(port, presetBytes);
            break;
        case 'R':
            DoReadFile(port, AskByteCount(CountKind::kRead));
            break;
        case 'w':
            DoWriteFile(port, presetBytes);
            break;
        case 'W':
            DoWriteFile(port, AskByteCount(CountKind::kWrite));
            break;
        case 'P':
            DoPurge(port, true);
            break;
        case 'p':
            DoPurge(port, false);
            break;
        case 'F':
            SetCtsFlow(port, true);
            break;
        case 'f':
            SetCtsFlow(port, false);
            break;
        case '0':
            log::PrintClockLineMs("Clearing COM port(dry read timeout %dms)...",
                                  s.clearComportMsec);
            MyClearCommData(port, static_cast<uint32_t>(s.clearComportMsec), true);
            log::PrintClockLineMs("COM port cleared.");
            break;
        case 'q':
            ReportCommError(port);
            break;
        case '<':
        case '>':
        case '|':
            LifemodeKey(port, key);
            break;
        case '@':
            VbusTest(true);
            break;
        case '!':
            VbusTest(false);
            break;
        case '?':
            PrintKeyHelp();
            break;
        case 'E':
            return EventMonitorKey(port, false);
        case '$':
            return EventMonitorKey(port, true);
        case 'e':
            StopEventMonitorKey();
            break;
        case 'C':
            return EchoClientKey(port, false);
        case 'c':
            return EchoClientKey(port, true);
        case 'S':
            return EchoServerKey(port);
        case '#':
            ReadComKey(port);
            break;
        default:
            break;
    }
    return true;
}

void ReopenDeliberately() {
    HANDLE again = CreateFile(Settings().portPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (again == INVALID_HANDLE_VALUE) {
        log::PrintTickLineWinErr(0, "CreateFile() again in vain.");
        return;
    }
    log::PrintTickLine("CreateFile() again success. Handle=0x%p", again);
    CloseHandle(again);
}

int RunKeyLoop(HANDLE port) {
    std::printf("Choose action: 'R/r' read, 'W/w' write, '?' help. <ESC> quit.\n");
    KeySource source;
    int promptCounter = 0;
    int key = 0;
    for (;;) {
        key = source.Next();
        if (key < 0)
            break;  // console input ended: leave as with ESC
        if (key == 0)
            continue;
        source.lastKey = key;
        if (key == kEsc || key == 'X' || key == 'T')
            break;
        if (!Dispatch(port, key))
            continue;
        std::printf("\n{%d}Again? 'R/r' read, 'W/w' write. More: 0,X,i,P,p,F,f,E,e,C,c,S,#,?\n",
                    ++promptCounter);
    }
    log::PrintTickLine("Calling CloseHandle(0x%p)...", port);
    CloseHandle(port);
    ReleasePendingReads();
    log::PrintTickLine("Done    CloseHandle(0x%p).", port);
    if (key == 'X')
        ReopenDeliberately();
    if (key == 'T')
        TimeOpenClose(Settings().portPath, AskRepeatCount(10));
    return key;
}

}  // namespace

int Run(int argc, char** argv) {
    switch (FindInfoRequest(argc, argv)) {
        case InfoRequest::kHelp:
            PrintHelp();
            return kExitDone;
        case InfoRequest::kVersion:
            PrintVersion();
            return kExitDone;
        case InfoRequest::kNone:
            break;
    }
    std::printf("Vantrel version %d.%d.%d, compiled on %s %s\n", kVersionMajor, kVersionMinor,
                kVersionPatch, __DATE__, __TIME__);
    PrintKernelVersion();
    fmtx_set_line_end(1);
    BuildCrc32Table();
    log::ClaimThreadRole(log::ThreadRole::kMain);
    if (argc == 2 && std::strcmp(argv[1], "-h") == 0) {
        PrintUsage(stdout);
        return kExitDone;
    }
    if (argc < 2) {
        std::fflush(stdout);
        PrintUsage(stderr);
        return kExitUsage;
    }
    if (!ParseOptions(argc, argv)) {
        ErrorLine("\nUse option -h to display parameter help.\n");
        return kExitUsage;
    }
#ifndef _WIN32
    // Windows keeps its device names itself; elsewhere they live in the
    // runtime namespace, which must be usable.
    if (const std::string refusal = platform::RuntimeDirRefusal(); !refusal.empty()) {
        ErrorLine("%s\n", refusal.c_str());
        return kExitRefused;
    }
#endif
    RunSettings& s = Settings();
    ListVcoms(s.listPrint, s.listPrompt);
    bool busDone = true;
    if (s.unplugVcoms) {
        const uint32_t result = VbusIoctl(ovrix::IOCTL_OVRIX_UnplugAllVcoms, false);
        SetLastError(result);
        if (result == 0)
            log::PrintClockLine("Unplug all VCOMs success.");
        else
            log::PrintClockLineWinErr(0, "Unplug all VCOMs fail.");
        busDone &= result == 0;
    }
    if (s.vbusReinstall) {
        const uint32_t result = VbusIoctl(ovrix::IOCTL_OVRIX_ReinstallVbus, false);
        SetLastError(result);
        log::PrintClockLineWinErr(result == 0, "Reinstall VBUS fail.");
        busDone &= result == 0;
    }
    if (s.stop)
        return busDone ? kExitDone : kExitRefused;
    HANDLE port = OpenPort();
    if (port == INVALID_HANDLE_VALUE)
        return kExitRefused;
    PrintStartupReport(port);
    RunKeyLoop(port);
    if (s.pauseBeforeQuit) {
        std::printf("\n====== PROGRAM DONE. PRESS A KEY TO QUIT ======\n");
        ReadKey();
    }
    std::fflush(stdout);
    return g_readLogRefused ? kExitRefused : kExitDone;
}

}  // namespace vantrel::app

int main(int argc, char** argv) {
    return vantrel::app::Run(argc, argv);
}
