// Command-line options: the scan, the validation lines and the usage text.
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "option_scanner.h"
#include "settings.h"

namespace vantrel::app {
namespace {

constexpr char kShortOptions[] = "b:c:B:m:k:K:Q:l";

enum LongCode : int {
    kReadonly = 256,
    kRtoi,
    kRtom,
    kRtoc,
    kWtom,
    kWtoc,
    kInQueue,
    kOutQueue,
    kReadLog,
    kReadLogAppend,
    kSilentRead,
    kEchoNeedLog,
    kEchoAppendLog,
    kEchoLogRowWidth,
    kEchoRwBufX,
    kEchoNeedHwFlow,
    kEchoStartSeq,
    kEchoSrand,
    kEchoTimeoutLimit,
    kEchoCliReadNibble,
    kEchoCliWriteDelay,
    kEchoCliReadDelay,
    kManualIntervene,
    kFirstKey,
    kRepeatFinalKey,
    kWaitDelay0,
    kWaitDelay,
    kDatapipe,
    kClearComportMsec,
    kPauseBeforeQuit,
    kOmitCancelIo,
    kOmitGetOverlapped,
    kPauseBeforeCancelIo,
    kListVcoms,
    kUnplugVcoms,
    kVbusReinstall,
    kPrintDevstateOnDsr,
    kHex,
    kHelp,
    kVersion
};

const option kLongOptions[] = {
    {"readonly", no_argument, nullptr, kReadonly},
    {"bytesrw", required_argument, nullptr, 'b'},
    {"msec-cancel", required_argument, nullptr, 'c'},
    {"rtoi", required_argument, nullptr, kRtoi},
    {"rtom", required_argument, nullptr, kRtom},
    {"rtoc", required_argument, nullptr, kRtoc},
    {"wtom", required_argument, nullptr, kWtom},
    {"wtoc", required_argument, nullptr, kWtoc},
    {"in-queue", required_argument, nullptr, kInQueue},
    {"out-queue", required_argument, nullptr, kOutQueue},
    {"read-log", required_argument, nullptr, kReadLog},
    {"read-log-append", no_argument, nullptr, kReadLogAppend},
    {"silent-read", no_argument, nullptr, kSilentRead},
    {"echo-need-log", no_argument, nullptr, kEchoNeedLog},
    {"echo-append-log", no_argument, nullptr, kEchoAppendLog},
    {"echolog-row-width", required_argument, nullptr, kEchoLogRowWidth},
    {"echo-rwbufx", required_argument, nullptr, kEchoRwBufX},
    {"echo-need-hwflow", no_argument, nullptr, kEchoNeedHwFlow},
    {"echo-start-seq", required_argument, nullptr, kEchoStartSeq},
    {"echo-srand", required_argument, nullptr, kEchoSrand},
    {"echo-timeout-limit", required_argument, nullptr, kEchoTimeoutLimit},
    {"echocli-read-nibble", required_argument, nullptr, kEchoCliReadNibble},
    {"echocli-write-delaymsec", required_argument, nullptr, kEchoCliWriteDelay},
    {"echocli-read-delaymsec", required_argument, nullptr, kEchoCliReadDelay},
    {"manual-intervene-errcli", no_argument, nullptr, kManualIntervene},
    {"first-key", required_argument, nullptr, kFirstKey},
    {"repeat-final-key", no_argument, nullptr, kRepeatFinalKey},
    {"baudrate", required_argument, nullptr, 'B'},
    {"waitcommevent-delay0", required_argument, nullptr, kWaitDelay0},
    {"waitcommevent-delay", required_argument, nullptr, kWaitDelay},
    {"echo-maxbytes", required_argument, nullptr, 'm'},
    {"echo-chunk-maxbytes", required_argument, nullptr, 'K'},
    {"echo-chunk-minbytes", required_argument, nullptr, 'k'},
    {"datapipe", no_argument, nullptr, kDatapipe},
    {"clear-comport-msec", required_argument, nullptr, kClearComportMsec},
    {"pause-before-quit", no_argument, nullptr, kPauseBeforeQuit},
    {"omit-cancelio", no_argument, nullptr, kOmitCancelIo},
    {"omit-getoverlappedresult", no_argument, nullptr, kOmitGetOverlapped},
    {"pause-msec-bfr-cancelio", required_argument, nullptr, kPauseBeforeCancelIo},
    {"list-vcoms", no_argument, nullptr, kListVcoms},
    {"unplug-vcoms", no_argument, nullptr, kUnplugVcoms},
    {"vbus-reinstall", no_argument, nullptr, kVbusReinstall},
    {"print-devstate-on-dsr", no_argument, nullptr, kPrintDevstateOnDsr},
    {"hex", no_argument, nullptr, kHex},
    {"help", no_argument, nullptr, kHelp},
    {"version", no_argument, nullptr, kVersion},
    {nullptr, 0, nullptr, 0},
};

// Decimal that stops at the first non-digit; no digits give 0. A number
// beyond the 32-bit range saturates at its end, as a 32-bit strtol does: cut
// to its low 32 bits, 4294967308 would pass the range checks as 12.
int32_t Dec(const char* text) {
    const long value = std::strtol(text, nullptr, 10);
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}
// Also 0x for hexadecimal and a leading 0 for octal. Like a 32-bit strtoul:
// a minus sign negates modulo 2^32, and a magnitude beyond 32 bits gives
// 0xFFFFFFFF (so -b 4294967296 is refused, not taken as 0).
uint32_t AutoUnsigned(const char* text) {
    while (std::isspace(static_cast<unsigned char>(*text)))
        ++text;
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+')
        ++text;
    if (std::isspace(static_cast<unsigned char>(*text)) || *text == '-' || *text == '+')
        return 0;
    errno = 0;
    const unsigned long long magnitude = std::strtoull(text, nullptr, 0);
    if (errno == ERANGE || magnitude > UINT32_MAX)
        return UINT32_MAX;
    const uint32_t value = static_cast<uint32_t>(magnitude);
    return negative ? 0u - value : value;
}
// The 64-bit count of -m: decimal, 0x hexadecimal or 0 octal, with a sign.
// A number beyond 32 bits is refused like the other counts: it becomes -1,
// which the range check reports, instead of being taken as given.
int64_t Count64(const char* text) {
    errno = 0;
    const long long value = std::strtoll(text, nullptr, 0);
    if (errno == ERANGE || value > static_cast<long long>(UINT32_MAX) ||
        value < -static_cast<long long>(UINT32_MAX))
        return -1;
    return value;
}
int32_t NotBelow(int32_t value, int32_t floor) {
    return value < floor ? floor : value;
}

void CopyBounded(char* target, size_t capacity, const char* text) {
    std::snprintf(target, capacity, "%s", text);
}

bool IsLongName(const char* name) {
    for (const option* entry = kLongOptions; entry->name; ++entry)
        if (std::strcmp(entry->name, name) == 0)
            return true;
    return false;
}

void ApplyOption(RunSettings& s, int code, const char* arg) {
    switch (code) {
        case kReadonly:
            s.readOnly = true;
            break;
        case 'b':
            s.bytesRw = static_cast<int32_t>(AutoUnsigned(arg));
            break;
        case 'c':
            s.msecCancel = Dec(arg);
            break;
        case kRtoi:
            s.timeouts.rtoInterval = Dec(arg);
            break;
        case kRtom:
            s.timeouts.rtoMultiplier = Dec(arg);
            break;
        case kRtoc:
            s.timeouts.rtoConstant = Dec(arg);
            break;
        case kWtom:
            s.timeouts.wtoMultiplier = Dec(arg);
            break;
        case kWtoc:
            s.timeouts.wtoConstant = Dec(arg);
            s.timeouts.wtocGiven = true;
            break;
        case kInQueue:
            s.inQueue = Dec(arg);
            break;
        case kOutQueue:
            s.outQueue = Dec(arg);
            break;
        case kReadLog:
            CopyBounded(s.readLog, sizeof s.readLog, arg);
            break;
        case kReadLogAppend:
            s.readLogAppend = true;
            break;
        case kSilentRead:
            s.silentRead = true;
            break;
        case kEchoNeedLog:
            s.echoNeedLog = true;
            break;
        case kEchoAppendLog:
            s.echoAppendLog = true;
            break;
        case kEchoLogRowWidth:
            s.echoLogRowWidth = NotBelow(Dec(arg), 8);
            break;
        case kEchoRwBufX:
            s.echoRwBufX = NotBelow(Dec(arg), 1);
            break;
        case kEchoNeedHwFlow:
            s.echoNeedHwFlow = true;
            break;
        case kEchoStartSeq:
            s.echoStartSeq = AutoUnsigned(arg);
            s.echoStartSeqGiven = true;
            break;
        case kEchoSrand:
            s.echoSrand = std::strcmp(arg, "time") == 0 ? static_cast<uint32_t>(std::time(nullptr))
                                                        : static_cast<uint32_t>(Dec(arg));
            break;
        case kEchoTimeoutLimit:
            s.echoTimeoutLimit = NotBelow(Dec(arg), 0);
            break;
        case kEchoCliReadNibble:
            s.echoCliReadNibble = NotBelow(Dec(arg), 1);
            break;
        case kEchoCliWriteDelay:
            s.echoCliWriteDelayMsec = NotBelow(Dec(arg), 0);
            break;
        case kEchoCliReadDelay:
            s.echoCliReadDelayRandom = arg[0] == 'r';
            s.echoCliReadDelayMsec = NotBelow(Dec(arg + (arg[0] == 'r' ? 1 : 0)), 0);
            break;
        case kManualIntervene:
            s.manualInterveneErrCli = true;
            break;
        case kFirstKey:
            CopyBounded(s.firstKeys, kFirstKeyBytes - 1, arg);
            break;
        case kRepeatFinalKey:
            s.repeatFinalKey = true;
            break;
        case 'B':
            s.baudrate = Dec(arg);
            break;
        case kWaitDelay0:
            s.waitCommEventDelay0 = Dec(arg);
            break;
        case kWaitDelay:
            s.waitCommEventDelay = Dec(arg);
            break;
        case 'm':
            s.echoMaxBytes = Count64(arg);
            break;
        case 'K':
            s.echoChunkMaxBytes = Dec(arg);
            break;
        case 'k':
            s.echoChunkMinBytes = Dec(arg);
            break;
        case kDatapipe:
            s.datapipe = true;
            break;
        case kClearComportMsec:
            s.clearComportMsec = NotBelow(Dec(arg), 0);
            break;
        case kPauseBeforeQuit:
            s.pauseBeforeQuit = true;
            break;
        case kOmitCancelIo:
            s.omitCancelIo = true;
            break;
        case kOmitGetOverlapped:
            s.omitGetOverlappedResult = true;
            break;
        case kPauseBeforeCancelIo:
            s.pauseMsecBeforeCancelIo = NotBelow(Dec(arg), 0);
            break;
        case kListVcoms:
            s.listPrint = s.listPrompt = s.stop = true;
            break;
        case kUnplugVcoms:
            s.unplugVcoms = s.stop = true;
            break;
        case kVbusReinstall:
            s.vbusReinstall = s.stop = true;
            break;
        case kPrintDevstateOnDsr:
            s.printDevStateOnDsr = true;
            break;
        case 'Q':
            s.quickReadConstant = Dec(arg);
            break;
        case 'l':
            s.listPrint = s.stop = true;
            break;
        case kHex:
            s.hexRead = true;
            break;
        default:
            break;
    }
}

void PrintScanError(const ScanEvent& event) {
    if (event.kind == ScanEvent::Kind::kShortError) {
        const bool known = event.code != '-' && event.code != 0 &&
                           std::strchr(kShortOptions, event.code) != nullptr;
        ErrorLine(known ? "Short option '-%c' missing an argument.\n" : "Bad short option '-%c'.\n",
                  event.code);
        return;
    }
    const std::string& text = event.failedText;
    const bool exact = text.size() > 2 && IsLongName(text.c_str() + 2);
    ErrorLine(exact ? "Long option '%s' missing an argument\n" : "Bad long option '%s'\n",
              text.c_str());
}

bool CheckTimeout(int32_t value, const char* line) {
    if (value >= -1)
        return true;
    ErrorLine("%s", line);
    return false;
}

bool InChunkRange(int32_t value) {
    return value == 0 || (value >= kEchoChunkMin && value <= kEchoChunkMax);
}

bool Validate(RunSettings& s) {
    bool ok = true;
    auto fail = [&ok](const char* line) {
        ErrorLine("%s", line);
        ok = false;
    };
    if (s.bytesRw < 0 || s.bytesRw > kMaxBytesRw)
        fail("--bytesrw or -b has bad argument(should>=0)\n");
    if (s.msecCancel <= 0)
        fail("--msec-cancel or -c has bad argument(should>0)\n");
    ok &= CheckTimeout(s.timeouts.rtoInterval, "--rtoi has bad argument(should>=0 or -1)\n");
    ok &= CheckTimeout(s.timeouts.rtoMultiplier, "--rtom has bad argument(should>=0 or -1)\n");
    ok &= CheckTimeout(s.timeouts.rtoConstant, "--rtoc has bad argument(should>=0 or -1)\n");
    ok &= CheckTimeout(s.timeouts.wtoMultiplier, "--wtom has bad argument(should>=0 or -1)\n");
    ok &= CheckTimeout(s.timeouts.wtoConstant, "--wtoc has bad argument(should>=0 or -1)\n");
    if (s.baudrate < 0)
        fail("--baudrate or -B has bad argument(should>0)\n");
    if (s.echoMaxBytes < 0)
        fail("-m or --echo-maxbytes has bad argument(should>0)\n");
    if (!InChunkRange(s.echoChunkMaxBytes)) {
        ErrorLine("-K or --echo-chunk-maxbytes has bad argument(should between %d and %d)\n",
                  kEchoChunkMin, kEchoChunkMax);
        ok = false;
    }
    if (!InChunkRange(s.echoChunkMinBytes)) {
        ErrorLine("-k or --echo-chunk-minbytes has bad argument(should between %d and %d)\n",
                  kEchoChunkMin, kEchoChunkMax);
        ok = false;
    }
    if (s.echoChunkMaxBytes == 0)
        s.echoChunkMaxBytes = kDefaultChunkMax;
    if (s.echoChunkMinBytes == 0)
        s.echoChunkMinBytes = kEchoChunkMin;
    if (ok && s.echoChunkMaxBytes < s.echoChunkMinBytes)
        fail("-k value must not be larger than -K value.\n");
    return ok;
}

// The port name operand; a path that does not fit the path buffer is refused
// rather than cut, so the console never opens a different port than named.
bool TakePortName(RunSettings& s, const std::vector<const char*>& operands) {
    if (operands.size() > 1) {
        ErrorLine("You pass in more than one argument as COM port device name.\n");
        return false;
    }
    if (operands.empty()) {
        if (s.datapipe)
            return true;
        ErrorLine("You do not pass in an argument as COM port device name.\n");
        return false;
    }
    if (std::strlen(operands[0]) >= static_cast<size_t>(kPathChars)) {
        ErrorLine("COM port device name is too long (at most %d characters).\n", kPathChars - 1);
        return false;
    }
    CopyBounded(s.portPath, sizeof s.portPath, operands[0]);
    return true;
}

}  // namespace

void ErrorLine(const char* format, ...) {
    std::fflush(stdout);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

RunSettings& Settings() {
    static RunSettings settings;
    return settings;
}

bool ParseOptions(int argc, char** argv) {
    RunSettings& s = Settings();
    OptionScanner scanner(argc, argv, kShortOptions, kLongOptions);
    for (ScanEvent event = scanner.Next(); event.kind != ScanEvent::Kind::kEnd;
         event = scanner.Next()) {
        if (event.kind != ScanEvent::Kind::kOption) {
            PrintScanError(event);
            return false;
        }
        ApplyOption(s, event.code, event.argument);
    }
    if (s.stop)
        return true;
    if (s.quickReadConstant >= 0) {
        s.timeouts.rtoInterval = -1;
        s.timeouts.rtoMultiplier = -1;
        s.timeouts.rtoConstant = s.quickReadConstant;
    }
    if (!TakePortName(s, scanner.Operands()))
        return false;
    if (s.datapipe) {
        const size_t used = std::strlen(s.portPath);
        if (used + std::strlen(kDatapipePath) >= sizeof s.portPath) {
            ErrorLine("COM port device name is too long (at most %d characters).\n",
                      kPathChars - 1);
            return false;
        }
        std::strcat(s.portPath, kDatapipePath);
    }
    const size_t keys = std::strlen(s.firstKeys);
    if (s.repeatFinalKey && keys > 0)
        s.firstKeys[keys] = static_cast<char>(kRepeatMarker);
    return Validate(s);
}

void PrintUsage(std::FILE* stream) {
    std::fputs("\nNeed at least one argument as COM port DevOpenPath.\n", stream);
    PrintOptionsText(stream);
}

void PrintOptionsText(std::FILE* stream) {
    static const char* const kLines[] = {
        "\n",
        "Examples:\n",
        "    vantrel \\\\.\\COM9\n",
        "    vantrel COM3\n",
        "    vantrel COM3 -b 20 -c 4000 --rtoi=-1 --rtom=-1 --rtoc=3000\n",
        "\n",
        "Options:\n",
        "  -b <n> or --bytesrw=<n>\n",
        "     Each ReadFile/WriteFile request is <n> bytes.\n",
        "     \n",
        "  -c <mbc> or --msec-cancel=<mbc>\n",
        "     Will call CancelIo() when <mbc> millisec have elapsed.\n",
        "     \n",
        "  --rtoi=<ms> --rtom=<ms> --rtoc=<ms> \n",
        "     Set read-timeout interval,multiplier,constant respectively, in millisecond.\n",
        "     Use -1 for MAXDWORD.\n",
        "     \n",
        "  --wtom=<ms> --wtoc=<ms> \n",
        "     Set write-timeout multiplier,constant respectively.\n",
        "     Use -1 for MAXDWORD.\n",
        "     \n",
        "  --in-queue=<bytes> --out-queue=<bytes>\n",
        "     Call SetupComm() to set VCOM input-queue size and output-queue size.\n",
        "     \n",
        "  -B 115200 or --baudrate=115200\n",
        "     Using baudrate 115200.\n",
        "     \n",
        "  --datapipe\n",
    };
    for (const char* line : kLines)
        std::fputs(line, stream);
    std::fprintf(stream, "     Operate in Datapipe mode. CreateFile('%s').\n", kDatapipePath);
    static const char* const kMore[] = {
        "More:\n",
        "  --first-key=<keychars>  --repeat-final-key (until Enter pressed)\n",
        "  --read-log=<file>  --silent-read(i.e. no print)  --read-log-append\n",
        "  --waitcommevent-delay0=<ms>  --waitcommevent-delay=<ms>\n",
        "  --clear-comport-msec=<ms>\n",
        "  --pause-before-quit --omit-cancelio --omit-getoverlappedresult\n",
        "  --pause-msec-bfr-cancelio <msec>\n",
        "  -m <emb> or --echo-maxbytes=<emb> (only for client)\n",
    };
    for (const char* line : kMore)
        std::fputs(line, stream);
    std::fprintf(stream, "  -K %d or --echo-chunk-maxbytes=%d (server & client)\n",
                 kDefaultChunkMax, kDefaultChunkMax);
    std::fprintf(stream, "  -k %d or --echo-chunk-minbytes=%d (server & client)\n", kEchoChunkMin,
                 kEchoChunkMin);
    static const char* const kTail[] = {
        "  --echo-need-log --echo-append-log --echolog-row-width=32 --echo-rwbufx=2\n",
        "  --echo-need-hwflow --echo-start-seq=0x11233344\n",
        "  --echo-srand=5566 or --echo-srand=time --echocli-read-nibble=512\n",
        "  --echocli-write-delaymsec=1000 --echocli-read-delaymsec=1000 (or =r1000)\n",
        "  --echo-timeout-limit=2000  --manual-intervene-errcli (echo client)\n",
        "  -l or --list-vcoms\n",
        "  --readonly (open VCOM read-only)\n",
        "  -Q <rtoc> \n",
    };
    for (const char* line : kTail)
        std::fputs(line, stream);
}

void PrintHelp() {
    std::fputs(
        "Usage: vantrel [options] <DevOpenPath>\n"
        "Tests one serial port: DevOpenPath is COM3, \\\\.\\COM12, a tty path such as\n"
        "/dev/ttyUSB0, or with --datapipe the data pipe of the virtual bus.\n",
        stdout);
    PrintOptionsText(stdout);
    static const char* const kLines[] = {
        "  --hex  (show each read as a hex dump; without it a read is shown as text in which\n",
        "          control and non-ASCII bytes are escaped as \\xHH, \\r, \\n, \\t, \\\\)\n",
        "  -h  (the usage text alone)  --help  --version\n",
        "\n",
        "Press '?' in the key loop for the keys.\n",
        "\n",
        "Exit status:\n",
        "  0  everything asked was done (the key loop ended with ESC, X or T, a listing was\n",
        "     printed)\n",
        "  1  the port, the virtual bus, the runtime folder or the --read-log file refused\n",
        "     (the line on standard error names it and the reason)\n",
        "  2  the command line is wrong (the line on standard error names the option)\n",
    };
    for (const char* line : kLines)
        std::fputs(line, stdout);
}

void PrintVersion() {
    std::printf("vantrel %d.%d.%d\n", kVersionMajor, kVersionMinor, kVersionPatch);
}

InfoRequest FindInfoRequest(int argc, char** argv) {
    OptionScanner scanner(argc, argv, kShortOptions, kLongOptions);
    for (ScanEvent event = scanner.Next(); event.kind == ScanEvent::Kind::kOption;
         event = scanner.Next()) {
        if (event.code == kHelp)
            return InfoRequest::kHelp;
        if (event.code == kVersion)
            return InfoRequest::kVersion;
    }
    return InfoRequest::kNone;
}

void PrintKeyHelp() {
    static const char* const kLines[] = {
        "Single-char op help:\n",
        " 0 : Clear VCOM input buffer with actual VCOM read.\n",
        " q : Check VCOM input/output buffer bytes with ClearCommError().\n",
        " r : Do a ReadFile() with preset bytes(-b xxx).\n",
        " w : Do a WriteFile() with preset bytes(-b xxx).\n",
        " W : Do a WriteFile() with custom bytes.\n",
        " P : PurgeComm() with PURGE_RXCLEAR|PURGE_TXCLEAR|PURGE_TXABORT|PURGE_RXABORT\n",
        " p : PurgeComm() with PURGE_RXCLEAR|PURGE_TXCLEAR\n",
        " F : Enable CTS output-flow control.\n",
        " f : Disable CTS output-flow control.\n",
        " i : Print GetCommState() and GetCommModemStatus() information.\n",
        " E : Start background WaitCommEvent() thread. ($ do verbose)\n",
        " e : Stop background WaitCommEvent() thread.\n",
        " C : Start echo client(Urge mode).\n",
        " c : Start echo client(Mild mode).\n",
        " S : Start echo server.\n",
        " @ : Vbus write test. Expect to fail with non-Administrator. (! for read test)\n",
        " # : Start/Stop background read-COM thread, so you can do R/W simultaneously.\n",
        " < > | : Enable/Disable/Query VCOM one-time temporal lifemode.\n",
        " T : Repeatedly open/close VCOM and time it.\n",
        " X : Quit vantrel and do a deliberate CreateFile().\n",
    };
    for (const char* line : kLines)
        std::printf("%s", line);
}

}  // namespace vantrel::app
