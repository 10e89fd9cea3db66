// A configuration set file as the download reads it, and the frames the
// download makes of its elements.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config_download.h"
#include "config_xml.h"
#include "fuzz_check.h"
#include "op_record.h"

namespace {

const std::string kFrameStart(
    "\x7E\x01"
    "0000@",
    7);

// One file per process, rewritten for every input.
char g_setFile[] = "/tmp/fuzz_config_set_XXXXXX";

void RemoveSetFile() {
    std::remove(g_setFile);
}

const char* SetFile() {
    static const bool made = [] {
        const int fd = mkstemp(g_setFile);
        if (fd < 0)
            std::abort();
        close(fd);
        std::atexit(RemoveSetFile);
        return true;
    }();
    (void)made;
    return g_setFile;
}

bool WriteSetFile(const std::string& content) {
    FILE* file = std::fopen(SetFile(), "wb");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
    return std::fclose(file) == 0 && written;
}

void CheckFrame(const std::string& frame) {
    FUZZ_CHECK(frame.size() >= kFrameStart.size() + 2);
    FUZZ_CHECK(frame.compare(0, kFrameStart.size(), kFrameStart) == 0);
    FUZZ_CHECK(frame.compare(frame.size() - 2, 2, ";\x03") == 0);
}

bool IsOrdinary(const std::string& name, const std::string& value,
                ferrolink_config::DownloadForm form) {
    static const char* const kSkippedWhenEmpty[] = {"ALLENA", "ALL1DC", "ALL2DC", "ALLPST",
                                                    "APSENA"};
    static const char* const kHeldBack[] = {"DFMSIN", "INTERF", "232BAD", "232PAR",
                                            "232STP", "232DAT", "KBWPOR", "232AFL",
                                            "IMGROI", "DFMADD", "DFMSET"};
    if (value.empty())
        for (const char* skipped : kSkippedWhenEmpty)
            if (name == skipped)
                return false;
    for (const char* held : kHeldBack)
        if (name == held)
            return false;
    return name != "AUTOUR" || form == ferrolink_config::DownloadForm::kUnified;
}

// Every ordinary setting goes out in some frame: whole, or after a ',' without
// the 3 characters of its group when it follows another setting of the group.
void CheckNothingLost(const ferrolink_config::ConfigSetElements& elements,
                      ferrolink_config::DownloadForm form, const std::vector<std::string>& frames) {
    std::string all;
    for (const std::string& frame : frames)
        all += frame;
    for (const auto& [name, value] : elements) {
        if (!IsOrdinary(name, value, form))
            continue;
        const std::string item = name + value;
        FUZZ_CHECK(all.find(item) != std::string::npos ||
                   (item.size() >= 3 && all.find("," + item.substr(3)) != std::string::npos));
    }
}

void CheckDownload(const ferrolink_config::ConfigSetElements& elements,
                   ferrolink_config::DownloadForm form, size_t failingFrame) {
    std::vector<std::string> frames;
    const bool ok =
        ferrolink_config::DownloadConfigSet(elements, form, [&](const std::string& frame) {
            frames.push_back(frame);
            return frames.size() != failingFrame;
        });
    FUZZ_CHECK(!frames.empty());
    for (const std::string& frame : frames)
        CheckFrame(frame);
    FUZZ_CHECK(strnlen(g_szLastConfigError, sizeof g_szLastConfigError) <
               sizeof g_szLastConfigError);
    if (ok) {
        FUZZ_CHECK(frames.size() != failingFrame);
        CheckNothingLost(elements, form, frames);
        const std::string& last = frames.back();
        if (form == ferrolink_config::DownloadForm::kRecord)
            FUZZ_CHECK(last.find("BASSFY;SAVEFY;BASRES;\x03") != std::string::npos);
        return;
    }
    FUZZ_CHECK(frames.size() == failingFrame);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const int32_t bufferSize = input.ConsumeIntegralInRange<int32_t>(-16, 4096);
    const size_t failingFrame = input.ConsumeIntegralInRange<size_t>(0, 8);
    const bool unified = input.ConsumeBool();
    const bool saveType = input.ConsumeBool();
    if (!WriteSetFile(input.ConsumeRemainingBytesAsString()))
        return 0;
    ferrolink_config::ConfigSetElements elements;
    if (!ferrolink_config::LoadConfigSet(SetFile(), &elements))
        return 0;
    int32_t savedBufferSize = g_nDeviceBufSize;
    void* savedSaveType = g_pSaveType;
    static int someSaveType = 1;
    g_nDeviceBufSize = bufferSize;
    g_pSaveType = saveType ? &someSaveType : nullptr;
    CheckDownload(elements,
                  unified ? ferrolink_config::DownloadForm::kUnified
                          : ferrolink_config::DownloadForm::kRecord,
                  failingFrame);
    g_nDeviceBufSize = savedBufferSize;
    g_pSaveType = savedSaveType;
    return 0;
}
