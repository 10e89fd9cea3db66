// The run settings: filled once from the command line, read by every
// operation of the console.
#pragma once

#include <cstdint>
#include <cstdio>

#include "run_timeouts.h"

namespace vantrel::app {

inline constexpr int kPathChars = 260;     // at most 259 characters of path
inline constexpr int kFirstKeyBytes = 34;  // at most 33 keys and the repeat marker
inline constexpr unsigned char kRepeatMarker = 0xFF;
inline constexpr int kMaxBytesRw = 8123999;
inline constexpr int kEchoChunkMin = 12;
inline constexpr int kEchoChunkMax = 8024012;
inline constexpr int kDefaultChunkMax = 16000;
inline constexpr char kDatapipePath[] = "\\\\.\\KTR_Datapipe";

inline constexpr int kVersionMajor = 1;
inline constexpr int kVersionMinor = 7;
inline constexpr int kVersionPatch = 12;

// Exit statuses, shared by every program of the suite: everything asked was
// done; the port, bus or folder refused; the command line is wrong.
inline constexpr int kExitDone = 0;
inline constexpr int kExitRefused = 1;
inline constexpr int kExitUsage = 2;

struct RunSettings {
    int32_t bytesRw = 100;
    int32_t msecCancel = 5000;
    echo::RunTimeouts timeouts;
    int32_t inQueue = 0;
    int32_t outQueue = 0;
    char readLog[kPathChars] = {};
    bool readLogAppend = false;
    bool silentRead = false;
    bool hexRead = false;  // --hex: reads shown as a hex dump instead of escaped text
    bool echoNeedLog = false;
    bool echoAppendLog = false;
    int32_t echoLogRowWidth = 16;
    int32_t echoRwBufX = 2;
    bool echoNeedHwFlow = false;
    bool echoStartSeqGiven = false;
    uint32_t echoStartSeq = 0;
    uint32_t echoSrand = 0;
    int32_t echoTimeoutLimit = 0;
    int32_t echoCliReadNibble = 4000;
    int32_t echoCliWriteDelayMsec = 0;
    int32_t echoCliReadDelayMsec = 0;
    bool echoCliReadDelayRandom = false;
    bool manualInterveneErrCli = false;
    char firstKeys[kFirstKeyBytes] = {};
    bool repeatFinalKey = false;
    int32_t baudrate = 0;
    int32_t waitCommEventDelay0 = 0;
    int32_t waitCommEventDelay = 0;
    int64_t echoMaxBytes = 0;
    int32_t echoChunkMaxBytes = kDefaultChunkMax;
    int32_t echoChunkMinBytes = kEchoChunkMin;
    bool datapipe = false;
    int32_t clearComportMsec = 50;
    bool pauseBeforeQuit = false;
    bool omitCancelIo = false;
    bool omitGetOverlappedResult = false;
    int32_t pauseMsecBeforeCancelIo = 0;
    bool listPrint = false;
    bool listPrompt = false;
    bool stop = false;
    bool unplugVcoms = false;
    bool vbusReinstall = false;
    bool printDevStateOnDsr = false;
    bool readOnly = false;
    int32_t quickReadConstant = -1;  // -Q; below 0 means not given
    char portPath[kPathChars] = {};
};

// The process-wide record.
RunSettings& Settings();

// Fills Settings() from the command line; prints its own error lines. True
// when the run may go on.
bool ParseOptions(int argc, char** argv);
// The usage text (`vantrel`, `vantrel -h`).
void PrintUsage(std::FILE* stream);
// The usage text without its first line: examples and options.
void PrintOptionsText(std::FILE* stream);
// The usage text followed by the options it leaves out and the exit statuses.
void PrintHelp();
void PrintVersion();
void PrintKeyHelp();

enum class InfoRequest { kNone, kHelp, kVersion };
// --help or --version among the options before any error in the command line.
InfoRequest FindInfoRequest(int argc, char** argv);

// An error line on standard error; what standard output holds so far goes out
// first, so both keep their order where they meet.
[[gnu::format(printf, 1, 2)]] void ErrorLine(const char* format, ...);

}  // namespace vantrel::app
