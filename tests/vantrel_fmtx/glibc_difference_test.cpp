// The engine against the C library over a grid of standard conversions. The
// two agree everywhere except where the console's engine chose otherwise:
//  - '0' with %s or %c fills with zeros (C leaves it undefined or uses spaces);
//  - an explicit precision cancels '0' for floating values too (C zero-fills);
//  - '#' has no effect on floating values (C keeps the point, trailing zeros);
//  - '0' pads infinities and NaN with zeros (C uses spaces);
//  - floating text is cut at 127 characters;
//  - 'l' means 32 bits (the C library's long has 64 here), so it is left out;
//  - 'h' reads a full int (so "%hd" of 70000 is "70000") and %i is not a
//    conversion; those two are checked with the other examples, not here.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "fmtx.h"

namespace {

const char* const kFlagSets[] = {"",   "-",  "+",  " ",  "#",  "0",   "-0",  "+0",
                                 " 0", "#0", "-+", "+ ", "-#", "+#0", "- 0", "#-+ 0"};
const char* const kWidths[] = {"", "1", "8", "25"};
const char* const kPrecisions[] = {"", ".", ".0", ".1", ".5", ".12"};

struct Mismatch {
    std::string format;
    std::string ours;
    std::string theirs;
};

template <typename T>
void Compare(const std::string& format, T value, std::vector<Mismatch>& mismatches) {
    char ours[512];
    char theirs[512];
    int32_t ourLength = fmtx_snprintf(ours, sizeof ours, format.c_str(), value);
    int theirLength = std::snprintf(theirs, sizeof theirs, format.c_str(), value);
    if (ourLength != theirLength || std::string(ours) != std::string(theirs))
        mismatches.push_back({format, ours, theirs});
}

bool HasFlag(const char* flags, char flag) {
    return std::string(flags).find(flag) != std::string::npos;
}

// Walks every flag set, width and precision for one conversion.
template <typename T, typename Skip>
std::vector<Mismatch> Grid(const std::string& length, char conversion, const std::vector<T>& values,
                           Skip skip) {
    std::vector<Mismatch> mismatches;
    for (const char* flags : kFlagSets)
        for (const char* width : kWidths)
            for (const char* precision : kPrecisions)
                for (const T& value : values) {
                    if (skip(flags, precision, value))
                        continue;
                    std::string format =
                        std::string("[%") + flags + width + precision + length + conversion + "]";
                    Compare(format, value, mismatches);
                }
    return mismatches;
}

void ExpectNone(const std::vector<Mismatch>& mismatches) {
    EXPECT_TRUE(mismatches.empty())
        << mismatches.size() << " mismatches, first: " << mismatches.front().format << " ours \""
        << mismatches.front().ours << "\" C \"" << mismatches.front().theirs << "\"";
}

auto NoSkip = [](const char*, const char*, auto) { return false; };

TEST(FmtxAgainstGlibc, IntegerConversions) {
    std::vector<int> ints = {0, 1, -1, 7, -42, 255, 1234567, INT_MAX, INT_MIN};
    std::vector<unsigned> unsigneds = {0u, 1u, 8u, 255u, 0xBEEFu, 1234567u, UINT_MAX};
    std::vector<long long> longs = {0, -1, 1LL << 40, LLONG_MAX, LLONG_MIN};
    std::vector<unsigned long long> ulongs = {0, 8, 1ULL << 40, ULLONG_MAX};
    ExpectNone(Grid("", 'd', ints, NoSkip));
    ExpectNone(Grid("ll", 'd', longs, NoSkip));
    for (char conversion : {'u', 'x', 'X', 'o'}) {
        ExpectNone(Grid("", conversion, unsigneds, NoSkip));
        ExpectNone(Grid("ll", conversion, ulongs, NoSkip));
    }
}

TEST(FmtxAgainstGlibc, CharactersAndStrings) {
    auto zeroFill = [](const char* flags, const char*, auto) { return HasFlag(flags, '0'); };
    ExpectNone(Grid("", 'c', std::vector<int>{'A', '%', ' ', 0xE9}, zeroFill));
    ExpectNone(Grid("", 's', std::vector<const char*>{"", "a", "hello world", "%d"}, zeroFill));
}

TEST(FmtxAgainstGlibc, FloatingConversions) {
    std::vector<double> values = {0.0,    -0.0,     1.5,       -2.25,       1e-7,    123456.789,
                                  0.5,    2.5,      9.9999,    -1e21,       DBL_MIN, DBL_MAX,
                                  -1e300, HUGE_VAL, -HUGE_VAL, std::nan("")};
    auto deliberate = [](const char* flags, const char* precision, double value) {
        bool zero = HasFlag(flags, '0') && !HasFlag(flags, '-');
        return HasFlag(flags, '#') || (zero && precision[0] != '\0') ||
               (zero && !std::isfinite(value));
    };
    for (char conversion : {'e', 'E', 'f', 'g', 'G'}) {
        std::vector<Mismatch> mismatches = Grid("", conversion, values, deliberate);
        // Text beyond the number buffer is cut on purpose.
        std::erase_if(mismatches, [](const Mismatch& m) { return m.theirs.size() > 127; });
        ExpectNone(mismatches);
    }
}

}  // namespace
