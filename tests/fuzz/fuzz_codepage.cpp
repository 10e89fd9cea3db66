// Both directions of the code-page conversion for every code page the
// programs offer, plus one they do not: lengths stay within what the code
// page allows, and decoded text survives being encoded and decoded again.
//
// Input: one byte picks the code page, one byte the direction, the rest is
// the text (bytes of the code page, or UTF-16LE units).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "platform/codepage.h"

namespace {

constexpr unsigned kCodePages[] = {
    0, 65001, 932, 936, 949, 950, 20127, 437, 737, 775, 850, 852, 855, 857, 860, 861, 862, 863, 864,
    865, 866, 869, 874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258, 28591, 28592, 28593,
    28594, 28595, 28596, 28597, 28598, 28599, 28601, 28603, 28604, 28605, 28606, 20866, 21866,
    // Not offered: no charset and no conversion.
    28600, 1200, 12345};

constexpr unsigned kMultiByte[] = {932, 936, 949, 950};

bool IsMultiByte(unsigned codePage) {
    for (unsigned page : kMultiByte)
        if (page == codePage)
            return true;
    return false;
}

bool IsHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

size_t CodePoints(std::u16string_view text) {
    size_t count = 0;
    for (size_t i = 0; i < text.size(); ++i, ++count)
        if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1]))
            ++i;
    return count;
}

// Every surrogate paired, as UTF-8 can carry it.
bool WellFormed(std::u16string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1]))
            ++i;
        else if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i]))
            return false;
    }
    return true;
}

void CheckBytes(unsigned codePage, std::string_view bytes) {
    const std::optional<std::u16string> wide = platform::MultiByteToWide(codePage, bytes);
    FUZZ_CHECK(wide.has_value() == !platform::CodePageCharset(codePage).empty());
    if (!wide)
        return;
    if (codePage == platform::kUtf8CodePage || IsMultiByte(codePage)) {
        FUZZ_CHECK(wide->size() <= bytes.size());
    } else {
        FUZZ_CHECK(wide->size() == bytes.size());
    }
    if (codePage == platform::kUtf8CodePage)
        FUZZ_CHECK(WellFormed(*wide));

    const std::optional<std::string> again = platform::WideToMultiByte(codePage, *wide);
    FUZZ_CHECK(again.has_value());
    if (!IsMultiByte(codePage)) {
        // One byte per unit, and every unit a byte decodes to encodes back
        // to a byte with the same meaning.
        if (codePage != platform::kUtf8CodePage)
            FUZZ_CHECK(again->size() == bytes.size());
        // Bytes that decode without a replacement are the text itself.
        if (codePage == platform::kUtf8CodePage && wide->find(u'\xFFFD') == std::u16string::npos)
            FUZZ_CHECK(*again == bytes);
    }
    const std::optional<std::u16string> back = platform::MultiByteToWide(codePage, *again);
    FUZZ_CHECK(back.has_value() && *back == *wide);
}

void CheckWide(unsigned codePage, std::u16string_view text) {
    const std::optional<std::string> bytes = platform::WideToMultiByte(codePage, text);
    FUZZ_CHECK(bytes.has_value() == !platform::CodePageCharset(codePage).empty());
    if (!bytes)
        return;
    const size_t points = CodePoints(text);
    if (codePage == platform::kUtf8CodePage) {
        FUZZ_CHECK(bytes->size() <= 3 * text.size());
        // Lone surrogates become U+FFFD; everything else comes back as it was.
        std::u16string expected(text);
        for (size_t i = 0; i < expected.size(); ++i) {
            if (IsHighSurrogate(expected[i]) && i + 1 < expected.size() &&
                IsLowSurrogate(expected[i + 1]))
                ++i;
            else if (IsHighSurrogate(expected[i]) || IsLowSurrogate(expected[i]))
                expected[i] = u'\xFFFD';
        }
        const std::optional<std::u16string> back = platform::MultiByteToWide(codePage, *bytes);
        FUZZ_CHECK(back.has_value() && *back == expected);
        return;
    }
    if (IsMultiByte(codePage)) {
        FUZZ_CHECK(bytes->size() >= points && bytes->size() <= 2 * points);
        return;
    }
    // Single-byte: one byte per character, and a character either comes back
    // as itself or was replaced by '?'.
    FUZZ_CHECK(bytes->size() == points);
    const std::optional<std::u16string> back = platform::MultiByteToWide(codePage, *bytes);
    FUZZ_CHECK(back.has_value() && back->size() == points);
    size_t at = 0;
    for (size_t i = 0; i < text.size(); ++i, ++at) {
        const bool pair =
            IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1]);
        FUZZ_CHECK((*back)[at] == u'?' || (!pair && (*back)[at] == text[i]));
        if (pair)
            ++i;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const unsigned codePage = kCodePages[data[0] % (sizeof kCodePages / sizeof kCodePages[0])];
    const bool fromWide = (data[1] & 1) != 0;
    const std::string_view rest(reinterpret_cast<const char*>(data + 2), size - 2);
    if (fromWide) {
        std::u16string text;
        for (size_t i = 0; i + 1 < rest.size(); i += 2)
            text.push_back(static_cast<char16_t>(static_cast<uint8_t>(rest[i]) |
                                                 (static_cast<uint8_t>(rest[i + 1]) << 8)));
        CheckWide(codePage, text);
    } else {
        CheckBytes(codePage, rest);
    }
    return 0;
}
