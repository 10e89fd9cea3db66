// The main loop: literal runs, directive parsing, and the conversions that
// print strings, repeat text, nest formats, call out and change settings.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "engine.h"

namespace fmtx {

namespace {

// Settings-only directives and the string/character conversions.
class Engine {
  public:
    Engine(Output& out, va_list& args) : out_(out), args_(args) {}

    void Run(const char* format) {
        const char* p = format;
        while (*p) {
            // '%' (0x25) is never the trail byte of a double-byte character in
            // the code pages in use, so a plain byte search is enough.
            const char* percent = std::strchr(p, '%');
            if (percent != p) {
                size_t length = percent ? static_cast<size_t>(percent - p) : std::strlen(p);
                out_.Piece(p, static_cast<int64_t>(length));
                p += length;
                continue;
            }
            p = Directive(p);
        }
    }

  private:
    const char* Directive(const char* start) {
        const char* p = start + 1;
        Fields fields;
        ParseFlags(p, fields);
        ParseWidth(p, fields);
        ParsePrecision(p, fields);
        ParseLength(p, fields);
        if (*p == '\0') {
            Unknown(start, p);
            return p;
        }
        fields.conversion = *p++;
        if (!Convert(fields))
            Unknown(start, p);
        return p;
    }

    static void ParseFlags(const char*& p, Fields& fields) {
        for (;; ++p) {
            switch (*p) {
                case '0':
                    fields.zero = true;
                    continue;
                case '-':
                    fields.minus = true;
                    continue;
                case '+':
                    fields.plus = true;
                    continue;
                case ' ':
                    fields.space = true;
                    continue;
                case '#':
                    fields.alt = true;
                    continue;
                case '\'':
                    continue;
                default:
                    return;
            }
        }
    }

    static int Digits(const char*& p) {
        int64_t value = 0;
        while (*p >= '0' && *p <= '9') {
            value = std::min<int64_t>(value * 10 + (*p - '0'), INT_MAX);
            ++p;
        }
        return static_cast<int>(value);
    }

    void ParseWidth(const char*& p, Fields& fields) {
        if (*p == '*') {
            ++p;
            int width = va_arg(args_, int);
            fields.widthGiven = true;
            if (width < 0) {
                fields.minus = true;
                width = width == INT_MIN ? INT_MAX : -width;
            }
            fields.width = width;
        } else if (*p >= '0' && *p <= '9') {
            fields.widthGiven = true;
            fields.width = Digits(p);
        }
    }

    void ParsePrecision(const char*& p, Fields& fields) {
        if (*p != '.')
            return;
        ++p;
        if (*p == '*') {
            ++p;
            int precision = va_arg(args_, int);
            fields.precision = precision < 0 ? -1 : precision;
        } else {
            fields.precision = Digits(p);
        }
    }

    static void ParseLength(const char*& p, Fields& fields) {
        if (*p == 'h') {
            ++p;
        } else if (*p == 'l') {
            ++p;
            if (*p == 'l') {
                ++p;
                fields.longLong = true;
            }
        }
    }

    void Unknown(const char* start, const char* end) { out_.Piece(start, end - start); }

    bool Convert(Fields& fields) {
        switch (fields.conversion) {
            case '%': {
                static const char kPercent = '%';
                PadText(fields, &kPercent, 1);
                return true;
            }
            case 'c': {
                char c = static_cast<char>(va_arg(args_, int));
                PadText(fields, &c, 1);
                return true;
            }
            case 's':
                String(fields);
                return true;
            case 'D':
            case 'U':
                if (!settings_.bigGroupSeparator)
                    settings_.bigGroupSeparator = " ";
                Integer(fields);
                return true;
            case 'd':
            case 'u':
            case 'o':
            case 'x':
            case 'X':
                Integer(fields);
                return true;
            case 'p':
            case 'P':
                PutInteger(out_, fields, settings_,
                           reinterpret_cast<uintptr_t>(va_arg(args_, void*)), false);
                return true;
            case 'e':
            case 'E':
            case 'f':
            case 'g':
            case 'G':
                PutFloating(out_, fields, va_arg(args_, double));
                return true;
            case 'n':
                Repeat(fields);
                return true;
            case 'w':
                Nested();
                return true;
            case 'F':
                CallOut();
                return true;
            case 'm':
            case 'M':
                PutDump(out_, fields, settings_, va_arg(args_, const unsigned char*));
                return true;
            default:
                return Setting(fields);
        }
    }

    bool Setting(const Fields& fields) {
        switch (fields.conversion) {
            case 't':
                settings_.groupSeparator = va_arg(args_, const char*);
                break;
            case '_':
                settings_.groupSize = va_arg(args_, int);
                break;
            case 'T':
                settings_.bigGroupSeparator = va_arg(args_, const char*);
                break;
            case 'k':
                CopyCut(settings_.cellSeparator, va_arg(args_, const char*), kCellSeparatorMax);
                break;
            case 'K':
                Decorations(va_arg(args_, const char*));
                break;
            case 'R':
            case 'r':
                Rows(fields, va_arg(args_, int));
                break;
            case 'v':
                settings_.dumpStart = va_arg(args_, uint64_t);
                settings_.addressGroup = fields.width;
                settings_.addressPrecision =
                    fields.precision == 0 ? -1 : std::max(fields.precision, 0);
                break;
            default:
                return false;
        }
        out_.Nothing();
        return true;
    }

    static void CopyCut(char* to, const char* from, size_t max) {
        size_t length = from ? strnlen(from, max) : 0;
        std::memcpy(to, from ? from : "", length);
        to[length] = '\0';
    }

    void Decorations(const char* text) {
        size_t length = text ? std::strlen(text) : 0;
        size_t half = length / 2;
        CopyCut(settings_.cellPrefix, text, std::min<size_t>(half, kCellDecorationMax));
        CopyCut(settings_.cellSuffix, text ? text + half : nullptr, kCellDecorationMax);
    }

    void Rows(const Fields& fields, int columns) {
        settings_.columns = columns;
        if (fields.width > 0)
            settings_.indent = std::min(fields.width, kIndentMax);
        settings_.firstRowOffset = std::max(fields.precision, 0);
        if (fields.conversion == 'R')
            settings_.header = true;
    }

    void Integer(const Fields& fields) {
        bool isSigned = fields.conversion == 'd' || fields.conversion == 'D';
        if (fields.longLong) {
            if (isSigned) {
                long long v = va_arg(args_, long long);
                uint64_t magnitude =
                    v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
                PutInteger(out_, fields, settings_, magnitude, v < 0);
            } else {
                PutInteger(out_, fields, settings_, va_arg(args_, unsigned long long), false);
            }
        } else if (isSigned) {
            int v = va_arg(args_, int);
            uint64_t magnitude = v < 0 ? 0 - static_cast<uint64_t>(static_cast<int64_t>(v))
                                       : static_cast<uint64_t>(v);
            PutInteger(out_, fields, settings_, magnitude, v < 0);
        } else {
            PutInteger(out_, fields, settings_, va_arg(args_, unsigned), false);
        }
    }

    void PadText(const Fields& fields, const char* text, int64_t length) {
        int64_t pad = std::max<int64_t>(0, fields.width - length);
        if (!fields.minus)
            out_.Run(fields.zero ? '0' : ' ', pad);
        out_.Piece(text, length);
        if (fields.minus)
            out_.Run(' ', pad);
    }

    void String(const Fields& fields) {
        const char* text = va_arg(args_, const char*);
        if (!text)
            return;
        size_t length = fields.precision >= 0 ? strnlen(text, static_cast<size_t>(fields.precision))
                                              : std::strlen(text);
        PadText(fields, text, static_cast<int64_t>(length));
    }

    void Repeat(const Fields& fields) {
        const char* text = va_arg(args_, const char*);
        size_t length = text ? std::strlen(text) : 0;
        if (length == 0 || fields.width == 0) {
            out_.Nothing();
        } else if (length == 1) {
            out_.Run(text[0], fields.width);
        } else {
            for (int i = 0; i < fields.width; ++i)
                out_.Piece(text, static_cast<int64_t>(length));
        }
    }

    // The record's magic is compared byte by byte so that a short format
    // string passed in its place is never read past its end.
    static bool IsVaRecord(const void* pointer) {
        uint32_t magic = FMTX_VA_REC_MAGIC;
        unsigned char expected[4];
        std::memcpy(expected, &magic, 4);
        const unsigned char* bytes = static_cast<const unsigned char*>(pointer);
        for (int i = 0; i < 4; ++i)
            if (bytes[i] != expected[i])
                return false;
        return true;
    }

    void Nested() {
        const void* pointer = va_arg(args_, const void*);
        const char* format = nullptr;
        va_list* list = nullptr;
        if (pointer && IsVaRecord(pointer)) {
            const FmtxVaRec* rec = static_cast<const FmtxVaRec*>(pointer);
            format = rec->format;
            list = rec->args;
        } else {
            format = static_cast<const char*>(pointer);
            list = va_arg(args_, va_list*);
        }
        out_.Nothing();
        if (!list)
            return;  // a caller's fault; nothing to read the arguments from
        FmtxSink sub = out_.SubSink();
        out_.position += fmtx_vformat(&sub, format, *list);
    }

    void CallOut() {
        const FmtxFnRec* rec = va_arg(args_, const FmtxFnRec*);
        if (!rec || rec->magic != FMTX_FN_REC_MAGIC || !rec->fn)
            return;
        out_.Terminate();
        FmtxSink sub = out_.SubSink();
        int32_t produced = rec->fn(rec->user, &sub);
        out_.position += std::max(produced, 0);
    }

    Output& out_;
    va_list& args_;
    Settings settings_;
};

const char* g_lineEnd = "\n";

}  // namespace

const char* LineEnd() {
    return g_lineEnd;
}

}  // namespace fmtx

extern "C" {

void fmtx_set_line_end(int style) {
    fmtx::g_lineEnd = style == 1 ? "\r\n" : style == 2 ? "\r" : "\n";
}

int32_t fmtx_vformat(FmtxSink* sink, const char* format, va_list args) {
    fmtx::Output out{sink->output, sink->user, sink->buffer, sink->capacity};
    va_list copy;
    va_copy(copy, args);
    fmtx::Engine engine(out, copy);
    engine.Run(format ? format : "");
    va_end(copy);
    out.Terminate();
    int32_t produced = static_cast<int32_t>(std::min<int64_t>(out.position, INT32_MAX));
    if (sink->buffer)
        sink->buffer += produced;
    sink->capacity =
        static_cast<int32_t>(std::max<int64_t>(int64_t{sink->capacity} - produced, INT32_MIN));
    return produced;
}

}  // extern "C"
