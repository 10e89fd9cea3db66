// Clean-up of the identity texts a scanner reports.
#include "identity_text.h"

namespace ferrolink {

std::string CleanIdentityValue(std::string_view value) {
    const size_t colon = value.find(':');
    if (colon != std::string_view::npos)
        value.remove_prefix(colon + 1);
    if (!value.empty() && value.front() == ' ')
        value.remove_prefix(1);
    std::string cleaned;
    cleaned.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n')
            continue;
        cleaned.push_back(value[i]);
    }
    return cleaned;
}

std::string TrimLineEnds(std::string_view text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n'))
        text.remove_suffix(1);
    return std::string(text);
}

std::string FirmwareVersionOf(std::string_view firmwareInfo) {
    const size_t decoder = firmwareInfo.find("Decoder");
    if (decoder == std::string_view::npos)
        return std::string(firmwareInfo);
    const std::string_view before = firmwareInfo.substr(0, decoder);
    const size_t colon = before.find(':');
    if (colon == std::string_view::npos)
        return {};
    // The ':' and the blank behind it are skipped; a part that ends right
    // there gives an empty version.
    const size_t start = colon + 2;
    if (start >= before.size())
        return {};
    return TrimLineEnds(before.substr(start));
}

}  // namespace ferrolink
