#include "delivery/text_conversion.h"

#include <cstdint>

#include "platform/codepage.h"

namespace quillon {
namespace {

// Continuation bytes a lead byte announces; -1 for a stray continuation byte.
int ContinuationsAfter(uint8_t byte) {
    if (byte < 0x80)
        return 0;
    if (byte >= 0xFC && byte <= 0xFD)
        return 5;
    if (byte >= 0xF8)
        return 4;
    if (byte >= 0xF0)
        return 3;
    if (byte >= 0xE0)
        return 2;
    if (byte >= 0xC0)
        return 1;
    return -1;
}

bool IsContinuation(uint8_t byte) {
    return byte >= 0x80 && byte <= 0xBF;
}

// Lead bytes of the double-byte code pages; false for every other code page.
bool IsDoubleByteLead(unsigned codePage, uint8_t byte) {
    switch (codePage) {
        case 932:
            return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
        case 936:
        case 949:
        case 950:
            return byte >= 0x81 && byte <= 0xFE;
        default:
            return false;
    }
}

// The start of a UTF-8 sequence at the end that lacks continuation bytes, or
// npos.
size_t IncompleteUtf8Start(std::string_view bytes) {
    size_t start = bytes.size();
    // A sequence is at most six bytes: its lead and five continuations.
    while (start > 0 && bytes.size() - start < 6 &&
           IsContinuation(static_cast<uint8_t>(bytes[start - 1]))) {
        --start;
    }
    if (start == 0) {
        return std::string_view::npos;
    }
    const size_t lead = start - 1;
    const int needed = ContinuationsAfter(static_cast<uint8_t>(bytes[lead]));
    if (needed <= 0 || bytes.size() - start >= static_cast<size_t>(needed)) {
        return std::string_view::npos;
    }
    return lead;
}

bool IsAscii(std::string_view bytes) {
    for (char c : bytes) {
        if (static_cast<uint8_t>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool IsUtf8Text(std::string_view bytes) {
    if (bytes.empty()) {
        return false;
    }
    int expected = 0;
    bool allAscii = true;
    for (char c : bytes) {
        uint8_t byte = static_cast<uint8_t>(c);
        if (byte >= 0x80) {
            allAscii = false;
        }
        if (expected == 0) {
            expected = ContinuationsAfter(byte);
            if (expected < 0) {
                return false;
            }
        } else {
            if (byte < 0x80 || byte > 0xBF) {
                return false;
            }
            --expected;
        }
    }
    return expected == 0 && !allAscii;
}

std::optional<std::u16string> ConvertToWide(std::string_view bytes, size_t capacity,
                                            unsigned codePage) {
    unsigned used = IsUtf8Text(bytes) ? platform::kUtf8CodePage : codePage;
    auto wide = platform::MultiByteToWide(used, bytes);
    if (!wide || wide->size() > capacity) {
        return std::nullopt;
    }
    return wide;
}

size_t IncompleteTail(std::string_view bytes, unsigned codePage) {
    const size_t utf8Start = IncompleteUtf8Start(bytes);
    if (utf8Start != std::string_view::npos) {
        const std::string_view before = bytes.substr(0, utf8Start);
        if (IsAscii(before) || IsUtf8Text(before)) {
            return bytes.size() - utf8Start;
        }
    }
    if (IsUtf8Text(bytes)) {
        return 0;
    }
    // Pairs are counted from the start: only a lead byte that is not itself
    // a trail byte waits.
    size_t at = 0;
    while (at < bytes.size()) {
        if (IsDoubleByteLead(codePage, static_cast<uint8_t>(bytes[at]))) {
            if (at + 1 == bytes.size()) {
                return 1;
            }
            at += 2;
        } else {
            ++at;
        }
    }
    return 0;
}

std::optional<std::u16string> ScanDecoder::Feed(std::string_view block, unsigned codePage) {
    m_held.append(block);
    const size_t tail = IncompleteTail(m_held, codePage);
    const std::string ready = m_held.substr(0, m_held.size() - tail);
    m_held.erase(0, ready.size());
    if (ready.empty()) {
        return std::u16string();
    }
    return ConvertToWide(ready, ready.size(), codePage);
}

std::optional<std::u16string> ScanDecoder::Flush(unsigned codePage) {
    if (m_held.empty()) {
        return std::u16string();
    }
    std::string held;
    held.swap(m_held);
    return ConvertToWide(held, held.size(), codePage);
}

}  // namespace quillon
