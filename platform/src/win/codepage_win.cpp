// Code-page conversion on Windows: MultiByteToWideChar and
// WideCharToMultiByte without flags. Code page 0 is CP_ACP, the system's ANSI
// code page.
//
// UTF-8 goes through the decoder shared with Linux, which gives Windows'
// results for malformed input (one U+FFFD per maximal ill-formed subpart);
// Wine's decoder gives fewer for surrogates and sequences above U+10FFFF.
// A character beyond the BMP becomes one default character, as on Windows,
// where Wine writes one for each of its two units.
#include <windows.h>

#include <climits>
#include <string>

#include "../codepage_utf8.h"
#include "platform/codepage.h"

namespace platform {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 units are wchar_t on Windows");

// The code pages the programs offer; others are refused as on Linux, so a
// text names the same code pages on both systems.
bool Offered(unsigned codePage) {
    switch (codePage) {
        case kUtf8CodePage:
        case 932:
        case 936:
        case 949:
        case 950:
        case 20127:
        case 20866:
        case 21866:
        case 437:
        case 737:
        case 775:
        case 850:
        case 852:
        case 855:
        case 857:
        case 860:
        case 861:
        case 862:
        case 863:
        case 864:
        case 865:
        case 866:
        case 869:
        case 874:
            return true;
        default:
            break;
    }
    if (codePage >= 1250 && codePage <= 1258)
        return true;
    return codePage >= 28591 && codePage <= 28606 && codePage != 28600 && codePage != 28602;
}

// The code page a conversion uses; 0 when it is not offered or the system
// lacks it.
unsigned Resolve(unsigned codePage) {
    if (codePage == kAnsiCodePage)
        codePage = GetACP();
    return Offered(codePage) && IsValidCodePage(codePage) ? codePage : 0;
}

}  // namespace

std::string CodePageCharset(unsigned codePage) {
    const unsigned resolved = Resolve(codePage);
    switch (resolved) {
        case 0:
            return {};
        case kUtf8CodePage:
            return "UTF-8";
        case 20127:
            return "ASCII";
        case 20866:
            return "KOI8-R";
        case 21866:
            return "KOI8-U";
        default:
            break;
    }
    if (resolved >= 28591)
        return "ISO-8859-" + std::to_string(resolved - 28590);
    return "CP" + std::to_string(resolved);
}

std::optional<std::u16string> MultiByteToWide(unsigned codePage, std::string_view bytes) {
    const unsigned resolved = Resolve(codePage);
    if (resolved == 0 || bytes.size() > INT_MAX)
        return std::nullopt;
    if (resolved == kUtf8CodePage)
        return codepage_utf8::DecodeUtf8(bytes);
    if (bytes.empty())
        return std::u16string();
    const int size = static_cast<int>(bytes.size());
    const int units = MultiByteToWideChar(resolved, 0, bytes.data(), size, nullptr, 0);
    if (units <= 0)
        return std::nullopt;
    std::u16string out(static_cast<size_t>(units), u'\0');
    if (MultiByteToWideChar(resolved, 0, bytes.data(), size, reinterpret_cast<wchar_t*>(out.data()),
                            units) != units)
        return std::nullopt;
    return out;
}

std::optional<std::string> WideToMultiByte(unsigned codePage, std::u16string_view text) {
    const unsigned resolved = Resolve(codePage);
    if (resolved == 0 || text.size() > INT_MAX)
        return std::nullopt;
    if (resolved == kUtf8CodePage)
        return codepage_utf8::EncodeUtf8(text);
    if (text.empty())
        return std::string();
    // A pair becomes one unit that no offered code page has.
    std::wstring wide;
    wide.reserve(text.size());
    codepage_utf8::ForEachCodePoint(text, [&](char32_t cp, std::u16string_view units) {
        if (cp >= 0x10000)
            wide.push_back(L'\xFFFF');
        else
            wide.push_back(static_cast<wchar_t>(units[0]));
    });
    const wchar_t* units = wide.data();
    const int size = static_cast<int>(wide.size());
    const int length = WideCharToMultiByte(resolved, 0, units, size, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return std::nullopt;
    std::string out(static_cast<size_t>(length), '\0');
    if (WideCharToMultiByte(resolved, 0, units, size, out.data(), length, nullptr, nullptr) !=
        length)
        return std::nullopt;
    return out;
}

}  // namespace platform
