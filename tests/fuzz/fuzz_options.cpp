// The console's command line: an argument vector cut from the input at NUL
// bytes, scanned and validated as the program does at start.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "settings.h"

using vantrel::app::RunSettings;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The option errors are printed on stdout; the fuzzer's report is on stderr.
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
        dup2(null, STDOUT_FILENO);
        close(null);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> arguments{"vantrel"};
    std::string current;
    for (size_t i = 0; i < size && arguments.size() < 64; ++i) {
        if (data[i] == '\0') {
            arguments.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    if (!current.empty() && arguments.size() < 64)
        arguments.push_back(current);
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    RunSettings& s = vantrel::app::Settings();
    s = RunSettings{};
    const bool ok = vantrel::app::ParseOptions(static_cast<int>(argv.size() - 1), argv.data());
    FUZZ_CHECK(strnlen(s.portPath, sizeof s.portPath) < sizeof s.portPath);
    FUZZ_CHECK(strnlen(s.readLog, sizeof s.readLog) < sizeof s.readLog);
    FUZZ_CHECK(strnlen(s.firstKeys, sizeof s.firstKeys) < sizeof s.firstKeys);
    if (!ok || s.stop)
        return 0;
    FUZZ_CHECK(s.bytesRw >= 0 && s.bytesRw <= vantrel::app::kMaxBytesRw);
    FUZZ_CHECK(s.msecCancel > 0);
    FUZZ_CHECK(s.echoChunkMinBytes >= vantrel::app::kEchoChunkMin);
    FUZZ_CHECK(s.echoChunkMaxBytes <= vantrel::app::kEchoChunkMax);
    FUZZ_CHECK(s.echoChunkMinBytes <= s.echoChunkMaxBytes);
    if (s.datapipe)
        FUZZ_CHECK(std::strstr(s.portPath, vantrel::app::kDatapipePath) != nullptr);
    return 0;
}
