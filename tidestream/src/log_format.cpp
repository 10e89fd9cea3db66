#include "log_format.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include "utf16.h"

namespace tidestream {
namespace {

struct Conversion {
    std::string flags;
    int width = -1;      // -1: none
    int precision = -1;  // -1: none
    std::string length;  // "", "h", "hh", "l", "ll", "L", "z", "j", "t", "q", "I64"
    char type = 0;
};

// snprintf of one conversion with its own argument.
template <typename T>
void AppendPrintf(std::string& out, const Conversion& c, T value) {
    std::string pattern = "%" + c.flags;
    if (c.width >= 0) {
        pattern += std::to_string(c.width);
    }
    if (c.precision >= 0) {
        pattern += "." + std::to_string(c.precision);
    }
    if constexpr (std::is_same_v<T, long double>) {
        pattern += 'L';
    } else if constexpr (std::is_same_v<T, long> || std::is_same_v<T, unsigned long>) {
        pattern += 'l';
    } else if constexpr (std::is_same_v<T, long long> || std::is_same_v<T, unsigned long long>) {
        pattern += "ll";
    }
    pattern += c.type;
    char small[128];
    const int needed = std::snprintf(small, sizeof small, pattern.c_str(), value);
    if (needed < 0) {
        return;
    }
    if (static_cast<size_t>(needed) < sizeof small) {
        out.append(small, static_cast<size_t>(needed));
        return;
    }
    std::string big(static_cast<size_t>(needed) + 1, '\0');
    std::snprintf(big.data(), big.size(), pattern.c_str(), value);
    out.append(big.data(), static_cast<size_t>(needed));
}

// Width and precision count characters, as printf counts bytes of 8-bit text.
void AppendText(std::string& out, const Conversion& c, std::string text) {
    if (c.precision >= 0 && text.size() > static_cast<size_t>(c.precision)) {
        size_t cut = static_cast<size_t>(c.precision);
        // Never split a UTF-8 sequence.
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        text.resize(cut);
    }
    const size_t width = c.width > 0 ? static_cast<size_t>(c.width) : 0;
    if (text.size() >= width) {
        out += text;
    } else if (c.flags.find('-') != std::string::npos) {
        out += text;
        out.append(width - text.size(), ' ');
    } else {
        out.append(width - text.size(), ' ');
        out += text;
    }
}

std::string Utf16Argument(const char16_t* text, int precision) {
    if (text == nullptr) {
        return "(null)";
    }
    // A precision bounds the units read, so the text need not be terminated.
    const size_t limit = precision >= 0 ? static_cast<size_t>(precision) : SIZE_MAX;
    return Utf8FromUtf16(std::u16string_view(text, Utf16Length(text, limit)));
}

std::string NarrowArgument(const char* text, int precision) {
    if (text == nullptr) {
        return "(null)";
    }
    const size_t limit = precision >= 0 ? static_cast<size_t>(precision) : SIZE_MAX;
    return std::string(text, strnlen(text, limit));
}

// Reads flags, width, precision and length at format[i]; i ends on the type.
Conversion ParseConversion(std::string_view format, size_t& i, va_list& args) {
    Conversion c;
    while (i < format.size() && std::strchr("-+ #0'", format[i]) != nullptr) {
        c.flags += format[i++];
    }
    if (i < format.size() && format[i] == '*') {
        c.width = va_arg(args, int);
        if (c.width < 0) {
            c.flags += '-';
            c.width = -c.width;
        }
        ++i;
    } else {
        while (i < format.size() && format[i] >= '0' && format[i] <= '9') {
            c.width = (c.width < 0 ? 0 : c.width * 10) + (format[i++] - '0');
            if (c.width > 100000) {
                c.width = 100000;  // bounds the padding a format can ask for
            }
        }
    }
    if (i < format.size() && format[i] == '.') {
        ++i;
        c.precision = 0;
        if (i < format.size() && format[i] == '*') {
            c.precision = va_arg(args, int);
            ++i;
        } else {
            while (i < format.size() && format[i] >= '0' && format[i] <= '9') {
                c.precision = std::min(c.precision * 10 + (format[i++] - '0'), 100000);
            }
        }
    }
    static constexpr std::string_view kLengths[] = {"I64", "hh", "ll", "h", "l", "L",
                                                    "z",   "j",  "t",  "q", "w"};
    for (auto length : kLengths) {
        if (format.substr(i, length.size()) == length) {
            c.length = length;
            i += length.size();
            break;
        }
    }
    if (i < format.size()) {
        c.type = format[i];
    }
    return c;
}

void AppendInteger(std::string& out, const Conversion& c, va_list& args) {
    const bool isSigned = c.type == 'd' || c.type == 'i';
    const std::string& l = c.length;
    const bool wide64 = l == "ll" || l == "q" || l == "I64" || l == "j";
    const bool wideLong = l == "l" || l == "z" || l == "t";
    if (isSigned) {
        long long value = wide64     ? va_arg(args, long long)
                          : wideLong ? va_arg(args, long)
                                     : va_arg(args, int);
        if (l == "h") {
            value = static_cast<short>(value);
        } else if (l == "hh") {
            value = static_cast<signed char>(value);
        }
        AppendPrintf(out, c, value);
    } else {
        unsigned long long value = wide64     ? va_arg(args, unsigned long long)
                                   : wideLong ? va_arg(args, unsigned long)
                                              : va_arg(args, unsigned int);
        if (l == "h") {
            value = static_cast<unsigned short>(value);
        } else if (l == "hh") {
            value = static_cast<unsigned char>(value);
        }
        AppendPrintf(out, c, value);
    }
}

void AppendConversion(std::string& out, const Conversion& c, TextArgs textArgs, va_list& args) {
    switch (c.type) {
        case 'd':
        case 'i':
        case 'u':
        case 'o':
        case 'x':
        case 'X':
            AppendInteger(out, c, args);
            return;
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            if (c.length == "L") {
                AppendPrintf(out, c, va_arg(args, long double));
            } else {
                AppendPrintf(out, c, va_arg(args, double));
            }
            return;
        case 'p':
            AppendPrintf(out, c, va_arg(args, void*));
            return;
        case 'c':
        case 'C': {
            const int value = va_arg(args, int);
            const bool wide = c.type == 'C' || c.length == "l" || c.length == "w" ||
                              (textArgs == TextArgs::kWide && c.length != "h");
            const char16_t unit = static_cast<char16_t>(value);
            AppendText(out, Conversion{c.flags, c.width, -1, "", 's'},
                       wide ? Utf8FromUtf16(std::u16string_view(&unit, 1))
                            : std::string(1, static_cast<char>(value)));
            return;
        }
        case 's':
        case 'S': {
            const bool wide = c.type == 'S' || c.length == "l" || c.length == "w" ||
                              (textArgs == TextArgs::kWide && c.length != "h");
            AppendText(out, c,
                       wide ? Utf16Argument(va_arg(args, const char16_t*), c.precision)
                            : NarrowArgument(va_arg(args, const char*), c.precision));
            return;
        }
        case 'n':
            // Writing through a log argument is never wanted; it is consumed.
            (void)va_arg(args, void*);
            return;
        default:
            // Unknown conversion: shown as written, no argument consumed.
            out += '%';
            out += c.flags;
            out += c.type;
            return;
    }
}

}  // namespace

std::string FormatLine(std::string_view format, TextArgs textArgs, va_list args) {
    std::string out;
    va_list ap;
    va_copy(ap, args);
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') {
            out += format[i];
            continue;
        }
        ++i;
        if (i >= format.size()) {
            out += '%';
            break;
        }
        if (format[i] == '%') {
            out += '%';
            continue;
        }
        const Conversion c = ParseConversion(format, i, ap);
        if (c.type == 0) {
            break;
        }
        AppendConversion(out, c, textArgs, ap);
    }
    va_end(ap);
    return out;
}

}  // namespace tidestream
