// The clean-up of the identification texts a scanner reports in discovery.
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "identity_text.h"

namespace {

bool EndsWithLineEnd(const std::string& text) {
    return !text.empty() && (text.back() == '\r' || text.back() == '\n');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const std::string trimmed = ferrolink::TrimLineEnds(text);
    FUZZ_CHECK(!EndsWithLineEnd(trimmed));
    FUZZ_CHECK(text.substr(0, trimmed.size()) == trimmed);
    FUZZ_CHECK(text.find_last_not_of("\r\n") ==
               (trimmed.empty() ? std::string_view::npos : trimmed.size() - 1));

    const std::string cleaned = ferrolink::CleanIdentityValue(text);
    FUZZ_CHECK(cleaned.size() <= text.size());
    FUZZ_CHECK(cleaned.find("\r\n") == std::string::npos || text.find("\r\r\n") != text.npos);

    const std::string version = ferrolink::FirmwareVersionOf(text);
    FUZZ_CHECK(version.size() <= text.size());
    if (text.find("Decoder") == std::string_view::npos)
        FUZZ_CHECK(version == text);
    return 0;
}
