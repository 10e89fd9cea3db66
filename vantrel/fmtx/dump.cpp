// The hex dump of %m / %M: optional header and address column, first-row
// offset, indent, and cells of prefix, two hex digits, suffix and separator.
#include <algorithm>
#include <cstring>

#include "engine.h"

namespace fmtx {

namespace {

int HexDigitCount(uint64_t value) {
    int count = 1;
    while (value >>= 4)
        ++count;
    return count;
}

constexpr int kCellMax = 2 * kCellDecorationMax + 2 + kCellSeparatorMax;

struct AddressShape {
    int digits;
    const char* separator;
    int group;
};

AddressShape ShapeAddresses(const Settings& settings, uint64_t lastAddress) {
    int digits = HexDigitCount(lastAddress);
    int precision = settings.addressPrecision == 0 ? 1 : settings.addressPrecision;
    if (precision < 0 && settings.addressGroup != 0) {
        int group = std::abs(settings.addressGroup);
        digits = (digits + group - 1) / group * group;
    } else {
        digits = std::max(digits, precision);
    }
    const char* separator = settings.groupSeparator ? settings.groupSeparator : "";
    return {digits, separator, settings.addressGroup};
}

int AddressText(const AddressShape& shape, uint64_t address, char* out) {
    return GenerateDigits(address, 16, true, shape.digits, shape.separator, shape.group, out,
                          kAddressTextSize - 1);
}

// Cells collect here and go out as larger pieces.
class RowWriter {
  public:
    explicit RowWriter(Output& out) : out_(out) {}
    ~RowWriter() { Flush(); }
    void Put(const char* text, int length) {
        if (fill_ + length > static_cast<int>(sizeof data_))
            Flush();
        std::memcpy(data_ + fill_, text, static_cast<size_t>(length));
        fill_ += length;
    }
    // Room for `length` characters written in place, then Commit.
    char* Reserve(int length) {
        if (fill_ + length > static_cast<int>(sizeof data_))
            Flush();
        return data_ + fill_;
    }
    void Commit(char* end) { fill_ = static_cast<int>(end - data_); }
    void Spaces(int64_t count) {
        Flush();
        out_.Run(' ', count);
    }
    void Flush() {
        if (fill_ > 0)
            out_.Piece(data_, fill_);
        fill_ = 0;
    }

  private:
    Output& out_;
    char data_[4096];
    int fill_ = 0;
};

void PutHeader(RowWriter& row, const Settings& settings, int columns, int addressWidth) {
    row.Spaces(settings.indent);
    char dashes[kCellSeparatorMax + 2];
    std::memset(dashes, '-', sizeof dashes);
    for (int i = 0; i < addressWidth + 2; ++i)
        row.Put("-", 1);
    int prefixLength = static_cast<int>(std::strlen(settings.cellPrefix));
    int suffixLength = static_cast<int>(std::strlen(settings.cellSuffix));
    int separatorLength = static_cast<int>(std::strlen(settings.cellSeparator));
    static const char kHex[] = "0123456789ABCDEF";
    for (int i = 0; i < columns; ++i) {
        row.Put(dashes, prefixLength);
        char number[2] = {kHex[(i >> 4) & 0xF], kHex[i & 0xF]};
        row.Put(number, 2);
        row.Put(dashes, suffixLength);
        if (i + 1 < columns)
            row.Put(dashes, separatorLength);
    }
    const char* lineEnd = LineEnd();
    row.Put(lineEnd, static_cast<int>(std::strlen(lineEnd)));
}

}  // namespace

void PutDump(Output& out, const Fields& fields, Settings& settings, const unsigned char* bytes) {
    // A null pointer has no bytes to show, whatever count the width asks for.
    int64_t count =
        !bytes ? 0
        : fields.widthGiven
            ? fields.width
            : (fields.zero
                   ? 0
                   : static_cast<int64_t>(std::strlen(reinterpret_cast<const char*>(bytes))));
    uint64_t start = settings.dumpStart;
    // These two hold for one dump only.
    settings.dumpStart = 0;
    int addressPrecision = settings.addressPrecision;
    settings.addressPrecision = 0;
    if (count <= 0)
        return;
    Settings shape = settings;
    shape.addressPrecision = addressPrecision;

    int columns = std::clamp(settings.columns, 0, kColumnsMax);
    bool header = settings.header && columns > 0;
    int offset = columns > 0 ? std::clamp(settings.firstRowOffset, 0, columns - 1) : 0;
    int64_t perRow = columns > 0 ? columns : count;
    int prefixLength = static_cast<int>(std::strlen(settings.cellPrefix));
    int suffixLength = static_cast<int>(std::strlen(settings.cellSuffix));
    int separatorLength = static_cast<int>(std::strlen(settings.cellSeparator));
    int cellWidth = prefixLength + 2 + suffixLength + separatorLength;

    uint64_t last = start + static_cast<uint64_t>(count - 1);
    if (last < start)
        last = ~uint64_t{0};
    AddressShape addresses = ShapeAddresses(shape, last);
    char address[kAddressTextSize];
    int addressWidth = AddressText(addresses, last, address);

    RowWriter row(out);
    if (header)
        PutHeader(row, settings, columns, addressWidth);
    const char* hex = fields.conversion == 'M' ? "0123456789ABCDEF" : "0123456789abcdef";
    const char* lineEnd = LineEnd();
    int lineEndLength = static_cast<int>(std::strlen(lineEnd));
    uint64_t rowAddress = start - static_cast<uint64_t>(offset);
    int64_t done = 0;
    while (true) {
        row.Spaces(settings.indent);
        if (header) {
            row.Put(address, AddressText(addresses, rowAddress, address));
            row.Put(": ", 2);
        }
        row.Spaces(int64_t{offset} * cellWidth);
        int64_t cells = std::min(count - done, perRow - offset);
        const unsigned char* cellBytes = bytes + done;
        for (int64_t i = 0; i < cells; ++i) {
            // Short decorations are copied by hand: a call per cell costs more.
            char* w = row.Reserve(kCellMax);
            for (int k = 0; k < prefixLength; ++k)
                *w++ = settings.cellPrefix[k];
            *w++ = hex[cellBytes[i] >> 4];
            *w++ = hex[cellBytes[i] & 0xF];
            for (int k = 0; k < suffixLength; ++k)
                *w++ = settings.cellSuffix[k];
            if (i + 1 < cells)
                for (int k = 0; k < separatorLength; ++k)
                    *w++ = settings.cellSeparator[k];
            row.Commit(w);
        }
        done += cells;
        if (done >= count)
            break;
        row.Put(lineEnd, lineEndLength);
        offset = 0;
        rowAddress += static_cast<uint64_t>(perRow);
    }
}

}  // namespace fmtx
