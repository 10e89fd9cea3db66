// The group-query replies read into Office.xml entries and configuration set
// entries, and the range bounds taken from a range text.
#include <fuzzer/FuzzedDataProvider.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config_items.h"
#include "config_xml.h"
#include "fuzz_check.h"

namespace {

template <size_t N>
bool IsTerminated(const char (&field)[N]) {
    return strnlen(field, N) < N;
}

void CheckOfficeReaders(const std::string& defaults, const std::string& ranges) {
    std::vector<OfficeEntry> entries;
    ReadDefaultsReply(defaults.c_str(), entries);
    const size_t gathered = entries.size();
    ReadRangesReply(ranges.c_str(), entries);
    // Ranges only fill entries that the defaults made.
    FUZZ_CHECK(entries.size() == gathered);
    for (const OfficeEntry& entry : entries) {
        FUZZ_CHECK(IsTerminated(entry.szName));
        FUZZ_CHECK(IsTerminated(entry.szDefault));
        FUZZ_CHECK(IsTerminated(entry.szRange));
        FUZZ_CHECK(std::strlen(entry.szName) <= 6);
        int low = 0;
        int high = 0;
        ferrolink_config::RangeBounds(entry.szRange, &low, &high);
        FUZZ_CHECK(low <= high && low >= 0);
    }
    ReadDefaultsReply(nullptr, entries);
    FUZZ_CHECK(entries.size() == gathered);
}

char g_setFile[] = "/tmp/fuzz_config_items_XXXXXX";

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

// The configuration set file written from the entries reads back as them:
// what the device reported is what a later download sends.
void CheckSetFileRoundTrip(const std::vector<ConfigEntry>& entries) {
    FUZZ_CHECK(WriteConfigSetXml(SetFile(), entries, "QS-620"));
    ferrolink_config::ConfigSetElements elements;
    FUZZ_CHECK(ferrolink_config::LoadConfigSet(SetFile(), &elements));
    FUZZ_CHECK(elements.size() == entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        FUZZ_CHECK(elements[i].first == entries[i].szName);
        FUZZ_CHECK(elements[i].second == entries[i].szValue);
    }
}

void CheckConfigEntries(const std::string& reply, const std::string& dataFormat) {
    int asked = 0;
    const std::vector<ConfigEntry> entries = CollectConfigEntries(reply, [&] {
        ++asked;
        return dataFormat;
    });
    for (const ConfigEntry& entry : entries) {
        FUZZ_CHECK(IsTerminated(entry.szName));
        FUZZ_CHECK(IsTerminated(entry.szValue));
        FUZZ_CHECK(std::strlen(entry.szName) <= 6);
        const std::string_view name(entry.szName);
        // Device replies hold no NUL bytes; a value of them reads as empty.
        if (entry.szValue[0] == '\0' && reply.find('\0') == std::string::npos &&
            dataFormat.find('\0') == std::string::npos)
            FUZZ_CHECK(name == "CSUSET" || name == "CPRSET" ||
                       (name == "DFMADD" && dataFormat.empty()) || name.size() < 6);
    }
    // Every item of the reply is one candidate entry at most.
    FUZZ_CHECK(entries.size() <= ferrolink_config::ReplyItems(reply).size());
    FUZZ_CHECK(static_cast<size_t>(asked) <= ferrolink_config::ReplyItems(reply).size());
    CheckSetFileRoundTrip(entries);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string defaults = input.ConsumeRandomLengthString(8192);
    const std::string ranges = input.ConsumeRandomLengthString(8192);
    const std::string dataFormat = input.ConsumeRandomLengthString(2048);
    const std::string rest = input.ConsumeRemainingBytesAsString();
    CheckOfficeReaders(defaults, ranges);
    CheckConfigEntries(defaults, dataFormat);
    CheckConfigEntries(rest, dataFormat);
    int low = 0;
    int high = 0;
    ferrolink_config::RangeBounds(rest, &low, &high);
    FUZZ_CHECK(low <= high && low >= 0);
    return 0;
}
