// Splitting an identification reply into named records.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "cmd_send.h"

namespace {

constexpr size_t kPayloadOffset = 7;

void SetRecord(ReplyRecord& record, const char* name, std::string_view value) {
    std::strncpy(record.szName, name, sizeof record.szName - 1);
    const size_t length = std::min(value.size(), sizeof record.szValue - 1);
    if (length > 0)  // an empty view may carry no pointer at all
        std::memcpy(record.szValue, value.data(), length);
    record.szValue[length] = '\0';
}

// The text between two positions of the piece without its last character;
// empty when the labels stand in the wrong order or too close together.
std::string_view Between(std::string_view piece, size_t from, size_t to) {
    if (from >= to || to > piece.size())
        return {};
    return piece.substr(from, to - from - 1);
}

// The first ';'-separated piece of the text, leading ';' skipped.
std::string_view FirstPiece(std::string_view text) {
    const size_t start = text.find_first_not_of(';');
    if (start == std::string_view::npos)
        return {};
    const size_t end = text.find(';', start);
    return text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

}  // namespace

bool ParseReply(const char* pText, uint32_t nSize, ReplyRecord* pRecords, int* pnCount) {
    if (pText == nullptr || nSize == 0 || pText[0] == '\0')
        return false;
    // The last character (normally the ETX) is dropped.
    const size_t length = std::min<size_t>(nSize, strnlen(pText, nSize)) - 1;
    if (length <= kPayloadOffset || pRecords == nullptr || pnCount == nullptr)
        return true;
    const std::string_view piece =
        FirstPiece(std::string_view(pText + kPayloadOffset, length - kPayloadOffset));
    if (piece.empty())
        return true;
    if (piece.size() == 16) {
        SetRecord(pRecords[0], "BASQSY", {});
        *pnCount = 1;
        return true;
    }
    const size_t firmware = piece.find("Firmware");
    const size_t serial = piece.find("Serial");
    const size_t product = piece.find("Product");
    const size_t oem = piece.find("OEM");
    if (firmware == std::string_view::npos || serial == std::string_view::npos ||
        product == std::string_view::npos || oem == std::string_view::npos)
        return true;
    SetRecord(pRecords[0], "QRYSYS", Between(piece, firmware, serial));
    SetRecord(pRecords[1], "QRYPDN", Between(piece, product + 14, firmware - 1));
    SetRecord(pRecords[2], "QRYPSN", Between(piece, serial + 15, oem));
    *pnCount = 3;
    return true;
}
