// The device's answer to a configuration frame (which parts it refused, kept
// in the last-error text) and the buffer-size answer.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <string>

#include "config_download.h"
#include "fuzz_check.h"
#include "op_record.h"

namespace {

void CheckRefusedParts(FuzzedDataProvider& input) {
    ferrolink_config::ClearConfigError();
    // Several answers in a row fill the error text towards its end.
    while (input.remaining_bytes() > 0) {
        const std::string answer = input.ConsumeRandomLengthString(6000);
        const int32_t before = g_nConfigErrorLen;
        const bool refused = ferrolink_config::RecordRefusedParts(answer);
        FUZZ_CHECK(g_nConfigErrorLen >= before);
        FUZZ_CHECK(g_nConfigErrorLen < static_cast<int32_t>(sizeof g_szLastConfigError));
        FUZZ_CHECK(strnlen(g_szLastConfigError, sizeof g_szLastConfigError) <
                   sizeof g_szLastConfigError);
        if (!refused)
            FUZZ_CHECK(g_nConfigErrorLen == before);
        if (answer.find(';') == std::string::npos)
            FUZZ_CHECK(!refused);  // one piece only: it is the frame's end
    }
}

void CheckBufferSize(const std::string& payload) {
    const int size = ferrolink_config::ParseBufferSize(payload);
    FUZZ_CHECK(size >= -1);
    if (size < 0)
        return;
    // A number was read: it is the text between the name and the 3 closing bytes.
    const std::string number = payload.substr(6, payload.size() - 9);
    FUZZ_CHECK(!number.empty() && number.size() <= 15);
    FUZZ_CHECK(number.find_first_not_of("0123456789") == std::string::npos);
    FUZZ_CHECK(std::stoll(number) == size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckBufferSize(std::string(reinterpret_cast<const char*>(data), size));
    FuzzedDataProvider input(data, size);
    CheckRefusedParts(input);
    return 0;
}
