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

#include "codepage_table.h"
#include "codepage_utf8.h"
#include "platform/codepage.h"

namespace platform {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 units are wchar_t on Windows");

// The code page a conversion uses; 0 when it is not offered or the system
// lacks it.
unsigned Resolve(unsigned codePage) {
    if (codePage == kAnsiCodePage)
        codePage = GetACP();
    const bool offered = codepage_table::LookUp(codePage).kind != codepage_table::Kind::kUnknown;
    return offered && IsValidCodePage(codePage) ? codePage : 0;
}

}  // namespace

std::string CodePageCharset(unsigned codePage) {
    const unsigned resolved = Resolve(codePage);
    return resolved == 0 ? std::string() : codepage_table::LookUp(resolved).charset;
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
