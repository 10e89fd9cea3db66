// Working state of one engine call: output position, directive settings and
// the output primitives that the conversions share. Lives on the stack.
#pragma once

#include <cstdint>

#include "fmtx.h"

namespace fmtx {

inline constexpr int kNumberBufferSize = 128;
inline constexpr int kDigitStringSize = 80;
inline constexpr int kRunPieceSize = 100;
inline constexpr int kCellSeparatorMax = 8;
inline constexpr int kCellDecorationMax = 4;
inline constexpr int kAddressTextSize = 40;
inline constexpr int kIndentMax = 64;
inline constexpr int kColumnsMax = 256;

struct Settings {
    const char* groupSeparator = nullptr;     // %t: d u o x X p P
    int groupSize = 3;                        // %_
    const char* bigGroupSeparator = nullptr;  // %T: D U
    char cellSeparator[kCellSeparatorMax + 1] = {};
    char cellPrefix[kCellDecorationMax + 1] = {};
    char cellSuffix[kCellDecorationMax + 1] = {};
    int columns = 0;
    int firstRowOffset = 0;
    int indent = 0;
    bool header = false;
    uint64_t dumpStart = 0;
    int addressGroup = 0;
    int addressPrecision = 0;  // 0: not given; -1: "%.0v"
};

// One parsed directive.
struct Fields {
    bool zero = false;
    bool minus = false;
    bool plus = false;
    bool space = false;
    bool alt = false;
    bool widthGiven = false;
    int width = 0;
    int precision = -1;  // -1: none
    bool longLong = false;
    char conversion = 0;
};

struct Output {
    FmtxOutputFn callback;
    void* user;
    char* buffer;
    int64_t capacity;
    int64_t position = 0;

    void Piece(const char* text, int64_t length);
    void Run(char c, int64_t count);
    void Nothing() { Piece("", 0); }
    // Where a nested call may write: the rest of the buffer.
    FmtxSink SubSink() const;
    void Terminate();
};

// Digits of `value` most significant first, with a separator inserted every
// `group` digits from the right; returns the length written to `out`.
int GenerateDigits(uint64_t value, int radix, bool upper, int minDigits, const char* separator,
                   int group, char* out, int outSize);

void PutInteger(Output& out, const Fields& fields, const Settings& settings, uint64_t magnitude,
                bool negative);
void PutFloating(Output& out, const Fields& fields, double value);
void PutDump(Output& out, const Fields& fields, Settings& settings, const unsigned char* bytes);

const char* LineEnd();

}  // namespace fmtx
