// Identification replies split into records, and the completeness check the
// sender applies to what it has collected so far.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "cmd_send.h"
#include "fuzz_check.h"

namespace {

bool IsTerminated(const char* field, size_t capacity) {
    return strnlen(field, capacity) < capacity;
}

void CheckParse(const uint8_t* data, size_t size) {
    // The text at the very end of its buffer: nothing behind it may be read,
    // not even its first byte when the size is 0.
    std::unique_ptr<char[]> buffer(new char[size + 1]);
    char* text = buffer.get() + 1;
    if (size > 0)
        std::memcpy(text, data, size);
    // Exactly the records a parse may fill: one more written is caught.
    std::vector<ReplyRecord> records(CCmdSend::kParsedRecords);
    int count = CCmdSend::kRecordCount;
    const bool parsed = ParseReply(text, static_cast<uint32_t>(size), records.data(), &count);
    const bool empty = size == 0 || data[0] == '\0';
    FUZZ_CHECK(parsed == !empty);
    FUZZ_CHECK(count == CCmdSend::kRecordCount || count == 1 || count == 3);
    for (int i = 0; i < CCmdSend::kParsedRecords; ++i) {
        FUZZ_CHECK(IsTerminated(records[i].szName, sizeof records[i].szName));
        FUZZ_CHECK(IsTerminated(records[i].szValue, sizeof records[i].szValue));
    }
    if (count == 3) {
        FUZZ_CHECK(std::strcmp(records[0].szName, "QRYSYS") == 0);
        FUZZ_CHECK(std::strcmp(records[1].szName, "QRYPDN") == 0);
        FUZZ_CHECK(std::strcmp(records[2].szName, "QRYPSN") == 0);
    }
    if (count == 1)
        FUZZ_CHECK(std::strcmp(records[0].szName, "BASQSY") == 0 && records[0].szValue[0] == 0);
}

// The collected bytes in a buffer of exactly their size (the fuzzer's own).
void CheckCompleteness(const uint8_t* data, size_t size) {
    const bool complete = ReplyComplete(data, static_cast<uint32_t>(size));
    const bool framed =
        size >= sizeof REPLY_HEADER && std::memcmp(data, REPLY_HEADER, sizeof REPLY_HEADER) == 0;
    if (size == 0)
        FUZZ_CHECK(!complete);
    else if (!framed && size >= sizeof REPLY_HEADER)
        FUZZ_CHECK(complete);  // unframed data never waits for more
    if (framed && size >= 8 && data[size - 2] == ';' && data[size - 1] == 0x03)
        FUZZ_CHECK(complete);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckParse(data, size);
    CheckCompleteness(data, size);
    return 0;
}
