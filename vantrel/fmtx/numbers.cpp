// Integers through the digit generator, floating values through the C
// library, and the prefix / leading zero / width rules they share.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engine.h"

namespace fmtx {

int GenerateDigits(uint64_t value, int radix, bool upper, int minDigits, const char* separator,
                   int group, char* out, int outSize) {
    const char* letters = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    int separatorLength = (separator && group > 0) ? static_cast<int>(std::strlen(separator)) : 0;
    char reversed[kDigitStringSize];
    int length = 0;
    int digits = 0;
    int sinceSeparator = 0;
    do {
        if (separatorLength > 0 && digits > 0 && sinceSeparator == group) {
            // The separator is stored reversed, as the digits are.
            for (int i = separatorLength - 1; i >= 0 && length < kDigitStringSize; --i)
                reversed[length++] = separator[i];
            sinceSeparator = 0;
        }
        if (length >= kDigitStringSize)
            break;
        reversed[length++] = letters[value % static_cast<unsigned>(radix)];
        value /= static_cast<unsigned>(radix);
        ++digits;
        ++sinceSeparator;
    } while (value != 0 || digits < minDigits);
    int copied = std::min(length, outSize);
    for (int i = 0; i < copied; ++i)
        out[i] = reversed[length - 1 - i];
    return copied;
}

namespace {

int RadixOf(char conversion) {
    switch (conversion) {
        case 'o':
            return 8;
        case 'x':
        case 'X':
        case 'p':
        case 'P':
            return 16;
        default:
            return 10;
    }
}

// Spaces, then prefix/zeros/digits, then spaces.
void Assemble(Output& out, const Fields& fields, const char* prefix, int prefixLength, int zeros,
              const char* digits, int digitLength) {
    int64_t length = int64_t{prefixLength} + zeros + digitLength;
    if (!fields.minus && fields.precision < 0 && fields.zero) {
        zeros += static_cast<int>(std::max<int64_t>(0, fields.width - length));
        length = int64_t{prefixLength} + zeros + digitLength;
    }
    int64_t pad = std::max<int64_t>(0, fields.width - length);
    if (!fields.minus)
        out.Run(' ', pad);
    if (zeros > 0) {
        out.Piece(prefix, prefixLength);
        out.Run('0', zeros);
        out.Piece(digits, digitLength);
    } else if (prefix + prefixLength == digits) {
        out.Piece(prefix, prefixLength + digitLength);
    } else {
        out.Piece(prefix, prefixLength);
        out.Piece(digits, digitLength);
    }
    if (fields.minus)
        out.Run(' ', pad);
}

}  // namespace

void PutInteger(Output& out, const Fields& fields, const Settings& settings, uint64_t magnitude,
                bool negative) {
    char c = fields.conversion;
    bool pointer = c == 'p' || c == 'P';
    bool isSigned = c == 'd' || c == 'D';
    bool upper = c == 'X' || c == 'P';
    // Prefix and digits share one array so they can go out as one piece.
    char text[2 + kDigitStringSize];
    int prefixLength = 0;
    if (isSigned) {
        if (negative)
            text[prefixLength++] = '-';
        else if (fields.plus)
            text[prefixLength++] = '+';
        else if (fields.space)
            text[prefixLength++] = ' ';
    } else if (fields.alt && magnitude != 0 && (c == 'x' || c == 'X' || pointer)) {
        text[prefixLength++] = '0';
        text[prefixLength++] = upper ? 'X' : 'x';
    }
    int precision = fields.precision < 0 ? 1 : fields.precision;
    bool big = c == 'D' || c == 'U';
    const char* separator = big ? settings.bigGroupSeparator : settings.groupSeparator;
    int group = big ? 3 : settings.groupSize;
    char* digits = text + prefixLength;
    int digitLength = 0;
    if (!(fields.precision == 0 && magnitude == 0)) {
        int minDigits = pointer ? 16 : (fields.zero && precision != 0 ? precision : 0);
        digitLength = GenerateDigits(magnitude, RadixOf(c), upper, minDigits, separator, group,
                                     digits, kDigitStringSize);
    }
    // The alternate octal form shows a leading 0; a larger precision already does.
    if (c == 'o' && fields.alt && (digitLength == 0 || digits[0] != '0'))
        precision = std::max(precision, digitLength + 1);
    int zeros = std::max(0, precision - digitLength);
    Assemble(out, fields, text, prefixLength, zeros, digits, digitLength);
}

void PutFloating(Output& out, const Fields& fields, double value) {
    char format[24];
    int precision = fields.precision < 0 ? 6 : fields.precision;
    std::snprintf(format, sizeof format, "%%.%d%c", precision, fields.conversion);
    // The whole number text, sign included, stays within the 128-character
    // number buffer; a '+' or ' ' sign takes the slot in front of the text.
    char text[kNumberBufferSize];
    bool signSlot = fields.plus || fields.space;
    char* body = signSlot ? text + 1 : text;
    int room = signSlot ? kNumberBufferSize - 1 : kNumberBufferSize;
    int length =
        std::clamp(std::snprintf(body, static_cast<size_t>(room), format, value), 0, room - 1);
    if (length > 0 && body[0] == '-') {
        Assemble(out, fields, body, 1, 0, body + 1, length - 1);
    } else if (signSlot) {
        text[0] = fields.plus ? '+' : ' ';
        Assemble(out, fields, text, 1, 0, body, length);
    } else {
        Assemble(out, fields, body, 0, 0, body, length);
    }
}

}  // namespace fmtx
