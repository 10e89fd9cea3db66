// The formatting engine on arbitrary format strings. The engine takes its
// arguments from a va_list only, so the target reads each format the way the
// engine does and hands it a va_list whose slots hold, directive by directive,
// a value of the type that directive takes: an int, a 64-bit number, a double,
// a string, dump bytes of the length asked for, a nested format record or a
// call-out record. Nothing the engine may read is left out or invalid.
//
// Every call prints to a callback and to a bounded buffer at once; the count
// returned, the callback's text and the buffer must agree.
#include <fuzzer/FuzzedDataProvider.h>

#include <climits>
#include <cstdarg>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "fmtx.h"
#include "fuzz_check.h"

#if !defined(__x86_64__)
#error "the argument supply builds x86-64 System V va_lists"
#endif

namespace {

// Widths and precisions above this make a directive too slow for fuzzing (or,
// for dumps, ask for more bytes than any caller hands over).
constexpr int kMaxCount = 1 << 16;
constexpr int kMaxDepth = 3;
constexpr size_t kKeptText = 1 << 20;

// The x86-64 System V va_list: with both register areas used up, every
// argument comes from the overflow area, one 8-byte slot each.
struct VaListTag {
    unsigned gpOffset;
    unsigned fpOffset;
    void* overflowArea;
    void* registerArea;
};
static_assert(sizeof(va_list) == sizeof(VaListTag));

struct ArgumentList {
    std::vector<uint64_t> slots;
    va_list list;

    void Seal() {
        // Spare zero slots: a directive the reading missed finds a null
        // pointer or a zero rather than memory outside the list.
        slots.resize(slots.size() + 16, 0);
        VaListTag tag{48, 304, slots.data(), nullptr};
        std::memcpy(list, &tag, sizeof tag);
    }
};

int32_t CallOut(uint64_t user, FmtxSink* sink) {
    return fmtx_sink_printf(sink, "<%d:%s>", static_cast<int>(user & 0xFF), "call-out");
}

class ArgumentSupply {
  public:
    explicit ArgumentSupply(FuzzedDataProvider& input) : input_(input) {}

    // False when the format asks for more than a caller could safely supply.
    bool Plan(const char* format, ArgumentList& args, int depth) {
        const char* p = format;
        while (*p) {
            if (*p != '%') {
                ++p;
                continue;
            }
            if (!Directive(p, args, depth))
                return false;
        }
        return true;
    }

  private:
    struct Directive_ {
        bool zero = false;
        bool starWidth = false;
        bool widthGiven = false;
        int64_t width = 0;
        bool starPrecision = false;
        int64_t precision = -1;
        bool longLong = false;
        char conversion = 0;
    };

    static int64_t Digits(const char*& p) {
        int64_t value = 0;
        while (*p >= '0' && *p <= '9') {
            value = std::min<int64_t>(value * 10 + (*p - '0'), INT_MAX);
            ++p;
        }
        return value;
    }

    // Reads one directive as the engine does: flags, width, precision,
    // length, conversion.
    static Directive_ Read(const char*& p) {
        Directive_ d;
        ++p;
        for (;; ++p) {
            if (*p == '0')
                d.zero = true;
            else if (*p != '-' && *p != '+' && *p != ' ' && *p != '#' && *p != '\'')
                break;
        }
        if (*p == '*') {
            ++p;
            d.starWidth = d.widthGiven = true;
        } else if (*p >= '0' && *p <= '9') {
            d.widthGiven = true;
            d.width = Digits(p);
        }
        if (*p == '.') {
            ++p;
            if (*p == '*') {
                ++p;
                d.starPrecision = true;
            } else {
                d.precision = Digits(p);
            }
        }
        if (*p == 'h') {
            ++p;
        } else if (*p == 'l') {
            ++p;
            if (*p == 'l') {
                ++p;
                d.longLong = true;
            }
        }
        if (*p != '\0')
            d.conversion = *p++;
        return d;
    }

    bool Directive(const char*& p, ArgumentList& args, int depth) {
        Directive_ d = Read(p);
        if (d.starWidth) {
            const int width = input_.ConsumeIntegralInRange<int>(-kMaxCount, kMaxCount);
            args.slots.push_back(static_cast<uint32_t>(width));
            d.width = width < 0 ? -int64_t{width} : width;
        }
        if (d.starPrecision) {
            const int precision = input_.ConsumeIntegralInRange<int>(-kMaxCount, kMaxCount);
            args.slots.push_back(static_cast<uint32_t>(precision));
            d.precision = precision;
        }
        if (d.width > kMaxCount || d.precision > kMaxCount)
            return false;
        switch (d.conversion) {
            case 'c':
            case '_':
            case 'R':
            case 'r':
                args.slots.push_back(static_cast<uint32_t>(input_.ConsumeIntegral<int>()));
                return true;
            case 'd':
            case 'u':
            case 'o':
            case 'x':
            case 'X':
            case 'D':
            case 'U':
                args.slots.push_back(d.longLong
                                         ? input_.ConsumeIntegral<uint64_t>()
                                         : static_cast<uint32_t>(input_.ConsumeIntegral<int>()));
                return true;
            case 'p':
            case 'P':
            case 'v':
                args.slots.push_back(input_.ConsumeIntegral<uint64_t>());
                return true;
            case 'e':
            case 'E':
            case 'f':
            case 'g':
            case 'G':
                // Any 64 bits: infinities, NaNs and subnormals included.
                args.slots.push_back(input_.ConsumeIntegral<uint64_t>());
                return true;
            case 's':
            case 'n':
            case 't':
            case 'T':
            case 'k':
            case 'K':
                args.slots.push_back(Address(Text()));
                return true;
            case 'm':
            case 'M':
                args.slots.push_back(Address(DumpBytes(d)));
                return true;
            case 'w':
                return Nested(args, depth);
            case 'F':
                args.slots.push_back(Address(CallOutRecord()));
                return true;
            default:
                return true;  // '%', unknown conversions and a cut-off directive take nothing
        }
    }

    template <typename T>
    static uint64_t Address(const T* pointer) {
        return reinterpret_cast<uintptr_t>(pointer);
    }

    const char* Text() {
        if (input_.ConsumeIntegralInRange<int>(0, 7) == 0)
            return nullptr;
        texts_.push_back(input_.ConsumeRandomLengthString(64));
        return texts_.back().c_str();
    }

    // As many bytes as the dump reads: the width when one is given, else up
    // to the first zero byte.
    const unsigned char* DumpBytes(const Directive_& d) {
        if (input_.ConsumeIntegralInRange<int>(0, 7) == 0)
            return nullptr;
        std::string pattern = input_.ConsumeRandomLengthString(32);
        std::vector<unsigned char>& bytes = dumps_.emplace_back();
        if (d.widthGiven) {
            bytes.resize(static_cast<size_t>(d.width) + 1, 0xA5);
            for (size_t i = 0; !pattern.empty() && i < bytes.size(); ++i)
                bytes[i] = static_cast<unsigned char>(pattern[i % pattern.size()]);
        } else {
            bytes.assign(pattern.begin(), pattern.end());
            bytes.push_back(0);
        }
        return bytes.data();
    }

    const FmtxFnRec* CallOutRecord() {
        switch (input_.ConsumeIntegralInRange<int>(0, 3)) {
            case 0:
                return nullptr;
            case 1: {
                FmtxFnRec& record = callOuts_.emplace_back();
                fmtx_fn_rec_init(&record, CallOut, input_.ConsumeIntegral<uint64_t>());
                record.magic ^= 1;  // not a record: printed as nothing
                return &record;
            }
            default: {
                FmtxFnRec& record = callOuts_.emplace_back();
                fmtx_fn_rec_init(&record, CallOut, input_.ConsumeIntegral<uint64_t>());
                return &record;
            }
        }
    }

    // %w takes a record, or a format and a va_list pointer.
    bool Nested(ArgumentList& args, int depth) {
        const int form = depth >= kMaxDepth ? 0 : input_.ConsumeIntegralInRange<int>(0, 3);
        if (form == 0) {  // a null format with a null list prints nothing
            args.slots.push_back(0);
            args.slots.push_back(0);
            return true;
        }
        std::string& format = texts_.emplace_back(input_.ConsumeRandomLengthString(64));
        static const unsigned char kMagic[4] = {0x13, 0x09, 0x16, 0xEF};
        if (format.size() >= 4 && std::memcmp(format.data(), kMagic, 4) == 0)
            return false;  // such a text is a record as far as anyone can tell
        ArgumentList& list = lists_.emplace_back();
        if (!Plan(format.c_str(), list, depth + 1))
            return false;
        list.Seal();
        if (form == 1) {
            args.slots.push_back(Address(format.c_str()));
            args.slots.push_back(Address(&list.list));
            return true;
        }
        FmtxVaRec& record = records_.emplace_back();
        fmtx_va_rec_init(&record, format.c_str(), form == 2 ? &list.list : nullptr);
        args.slots.push_back(Address(&record));
        return true;
    }

    FuzzedDataProvider& input_;
    std::deque<std::string> texts_;
    std::deque<std::vector<unsigned char>> dumps_;
    std::deque<ArgumentList> lists_;
    std::deque<FmtxVaRec> records_;
    std::deque<FmtxFnRec> callOuts_;
};

struct Collected {
    std::string text;  // the first kKeptText characters
    int64_t length = 0;
};

int Collect(void* user, const char* text, int32_t length) {
    auto* collected = static_cast<Collected*>(user);
    FUZZ_CHECK(length >= 0);
    const size_t keep =
        std::min<size_t>(static_cast<size_t>(length), kKeptText - collected->text.size());
    collected->text.append(text, keep);
    collected->length += length;
    return length;
}

// Appending the same output behind text already in the buffer: the old text
// stays, the new one follows it, both cut to the capacity.
void CheckAppend(char* buffer, int32_t capacity, const std::string& format, ArgumentList& args,
                 const Collected& collected) {
    if (buffer == nullptr)
        return;
    static const char kOld[] = "old text|";
    const size_t old = std::min<size_t>(sizeof kOld - 1, static_cast<size_t>(capacity) - 1);
    std::memcpy(buffer, kOld, old);
    buffer[old] = '\0';
    FmtxVaRec record;
    fmtx_va_rec_init(&record, format.c_str(), &args.list);
    const int32_t total = fmtx_strcat(buffer, capacity, "%w", &record);
    FUZZ_CHECK(collected.length > INT32_MAX - 16 ||
               total == static_cast<int32_t>(old + static_cast<size_t>(collected.length)));
    const std::string expected =
        (std::string(kOld, old) + collected.text).substr(0, static_cast<size_t>(capacity) - 1);
    FUZZ_CHECK(std::memcmp(buffer, expected.data(), expected.size()) == 0);
    FUZZ_CHECK(buffer[expected.size()] == '\0');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    static const int32_t kCapacities[] = {0, 1, 2, 7, 16, 100, 4096};
    const int32_t capacity = input.PickValueInArray(kCapacities);
    fmtx_set_line_end(input.ConsumeIntegralInRange<int>(0, 2));
    const std::string format = input.ConsumeRandomLengthString(1024);
    ArgumentSupply supply(input);
    auto args = std::make_unique<ArgumentList>();
    if (!supply.Plan(format.c_str(), *args, 0))
        return 0;
    args->Seal();

    // The buffer has exactly its capacity: a write past it is caught.
    std::unique_ptr<char[]> buffer(capacity > 0 ? new char[static_cast<size_t>(capacity)]
                                                : nullptr);
    if (buffer)
        std::memset(buffer.get(), 0x5A, static_cast<size_t>(capacity));
    Collected collected;
    FmtxSink sink{Collect, &collected, buffer.get(), capacity};
    const int32_t produced = fmtx_vformat(&sink, format.c_str(), args->list);

    FUZZ_CHECK(produced >= 0);
    if (collected.length <= INT32_MAX)
        FUZZ_CHECK(produced == collected.length);
    if (buffer) {
        const size_t stored =
            std::min<size_t>(static_cast<size_t>(produced), static_cast<size_t>(capacity) - 1);
        FUZZ_CHECK(std::memcmp(buffer.get(), collected.text.data(),
                               std::min(stored, collected.text.size())) == 0);
        FUZZ_CHECK(buffer[stored] == '\0');
    }

    // Counting alone gives the same length.
    const int32_t counted = fmtx_vsnprintf(nullptr, 0, format.c_str(), args->list);
    FUZZ_CHECK(counted == produced);

    CheckAppend(buffer.get(), capacity, format, *args, collected);
    return 0;
}
