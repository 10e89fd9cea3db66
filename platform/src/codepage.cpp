// Code-page conversion over iconv, shaped to give Windows' results.
//
// Single-byte code pages are converted through a 256-entry table built from
// iconv one byte at a time. Converting byte by byte matters: glibc's CP1255
// and CP1258 converters compose a letter and a following combining mark into
// one precomposed character, while Windows keeps the two units.
#include "platform/codepage.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "codepage_table.h"
#include "codepage_utf8.h"

namespace platform {
namespace {

using codepage_utf8::DecodeUtf8;
using codepage_utf8::EncodeUtf8;
using codepage_utf8::ForEachCodePoint;

constexpr char16_t kDefaultChar = u'?';

using codepage_table::Kind;
using CodePageInfo = codepage_table::Offered;

CodePageInfo LocaleCodePage() {
    std::string codeset = nl_langinfo(CODESET);
    if (codeset == "UTF-8" || codeset == "utf8") {
        return {Kind::kUtf8, "UTF-8"};
    }
    return {MB_CUR_MAX == 1 ? Kind::kSingleByte : Kind::kMultiByte, codeset};
}

CodePageInfo LookUp(unsigned codePage) {
    return codePage == kAnsiCodePage ? LocaleCodePage() : codepage_table::LookUp(codePage);
}

class Iconv {
  public:
    Iconv(const std::string& to, const std::string& from)
        : handle_(iconv_open(to.c_str(), from.c_str())) {}
    ~Iconv() {
        if (Valid()) {
            iconv_close(handle_);
        }
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    bool Valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }
    void Reset() { iconv(handle_, nullptr, nullptr, nullptr, nullptr); }

    // Converts the whole input or stops at the first bad sequence; returns
    // the number of input bytes used and appends the output.
    size_t Convert(std::string_view in, std::string& out, int& error) {
        char* inPtr = const_cast<char*>(in.data());
        size_t inLeft = in.size();
        error = 0;
        while (inLeft > 0) {
            char buffer[256];
            char* outPtr = buffer;
            size_t outLeft = sizeof buffer;
            size_t rc = iconv(handle_, &inPtr, &inLeft, &outPtr, &outLeft);
            out.append(buffer, static_cast<size_t>(outPtr - buffer));
            if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
                error = errno;
                break;
            }
        }
        // Flush a pending shift state.
        char buffer[32];
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        iconv(handle_, nullptr, nullptr, &outPtr, &outLeft);
        out.append(buffer, static_cast<size_t>(outPtr - buffer));
        return in.size() - inLeft;
    }

  private:
    iconv_t handle_;
};

std::u16string FromUtf16Le(const std::string& bytes) {
    std::u16string units;
    units.reserve(bytes.size() / 2);
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        units.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                              (static_cast<uint8_t>(bytes[i + 1]) << 8)));
    }
    return units;
}

std::string ToUtf16Le(std::u16string_view units) {
    std::string bytes;
    bytes.reserve(units.size() * 2);
    for (char16_t unit : units) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

// ---- single-byte code pages ------------------------------------------------

struct SingleByteTable {
    char16_t toWide[256];
    std::unordered_map<char16_t, uint8_t> fromWide;
};

std::shared_ptr<const SingleByteTable> BuildTable(const std::string& charset) {
    Iconv decoder("UTF-16LE", charset);
    if (!decoder.Valid()) {
        return nullptr;
    }
    auto table = std::make_shared<SingleByteTable>();
    for (int byte = 0; byte < 256; ++byte) {
        decoder.Reset();
        std::string out;
        int error = 0;
        char in = static_cast<char>(byte);
        decoder.Convert(std::string_view(&in, 1), out, error);
        std::u16string units = FromUtf16Le(out);
        // A byte the code page leaves undefined keeps its own value.
        char16_t unit = (error == 0 && units.size() == 1) ? units[0] : static_cast<char16_t>(byte);
        table->toWide[byte] = unit;
        table->fromWide.emplace(unit, static_cast<uint8_t>(byte));
    }
    return table;
}

std::shared_ptr<const SingleByteTable> TableFor(const std::string& charset) {
    static std::mutex mutex;
    static std::map<std::string, std::shared_ptr<const SingleByteTable>> tables;
    std::lock_guard lock(mutex);
    auto found = tables.find(charset);
    if (found != tables.end()) {
        return found->second;
    }
    auto table = BuildTable(charset);
    if (table) {
        tables.emplace(charset, table);
    }
    return table;
}

// ---- multi-byte code pages ------------------------------------------------

std::optional<std::u16string> DecodeMultiByte(const std::string& charset, std::string_view bytes) {
    Iconv decoder("UTF-16LE", charset);
    if (!decoder.Valid()) {
        return std::nullopt;
    }
    std::string out;
    std::u16string result;
    while (!bytes.empty()) {
        int error = 0;
        size_t used = decoder.Convert(bytes, out, error);
        bytes.remove_prefix(used);
        if (error != 0) {
            // A bad or cut-off sequence: one '?' for its first byte, then
            // carry on after it.
            result += FromUtf16Le(out);
            out.clear();
            result.push_back(kDefaultChar);
            bytes.remove_prefix(bytes.empty() ? 0 : 1);
            decoder.Reset();
        }
    }
    result += FromUtf16Le(out);
    return result;
}

std::optional<std::string> EncodeMultiByte(const std::string& charset, std::u16string_view text) {
    Iconv encoder(charset, "UTF-16LE");
    if (!encoder.Valid()) {
        return std::nullopt;
    }
    std::string out;
    ForEachCodePoint(text, [&](char32_t, std::u16string_view units) {
        std::string bytes;
        int error = 0;
        encoder.Reset();
        encoder.Convert(ToUtf16Le(units), bytes, error);
        if (error != 0 || bytes.empty()) {
            out.push_back(static_cast<char>(kDefaultChar));
        } else {
            out += bytes;
        }
    });
    return out;
}

}  // namespace

std::string CodePageCharset(unsigned codePage) {
    return LookUp(codePage).charset;
}

std::optional<std::u16string> MultiByteToWide(unsigned codePage, std::string_view bytes) {
    CodePageInfo info = LookUp(codePage);
    switch (info.kind) {
        case Kind::kUtf8:
            return DecodeUtf8(bytes);
        case Kind::kSingleByte: {
            auto table = TableFor(info.charset);
            if (!table) {
                return std::nullopt;
            }
            std::u16string out;
            out.reserve(bytes.size());
            for (char byte : bytes) {
                out.push_back(table->toWide[static_cast<uint8_t>(byte)]);
            }
            return out;
        }
        case Kind::kMultiByte:
            return DecodeMultiByte(info.charset, bytes);
        case Kind::kUnknown:
            break;
    }
    return std::nullopt;
}

std::optional<std::string> WideToMultiByte(unsigned codePage, std::u16string_view text) {
    CodePageInfo info = LookUp(codePage);
    switch (info.kind) {
        case Kind::kUtf8:
            return EncodeUtf8(text);
        case Kind::kSingleByte: {
            auto table = TableFor(info.charset);
            if (!table) {
                return std::nullopt;
            }
            std::string out;
            out.reserve(text.size());
            ForEachCodePoint(text, [&](char32_t cp, std::u16string_view) {
                auto found = cp < 0x10000 ? table->fromWide.find(static_cast<char16_t>(cp))
                                          : table->fromWide.end();
                out.push_back(found != table->fromWide.end() ? static_cast<char>(found->second)
                                                             : static_cast<char>(kDefaultChar));
            });
            return out;
        }
        case Kind::kMultiByte:
            return EncodeMultiByte(info.charset, text);
        case Kind::kUnknown:
            break;
    }
    return std::nullopt;
}

}  // namespace platform
