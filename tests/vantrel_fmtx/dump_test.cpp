// The hex dump: cells, decorations, rows, header, addresses and line ends.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "format_helpers.h"

namespace {

const char kHeader16[] = "------00-01-02-03-04-05-06-07-08-09-0A-0B-0C-0D-0E-0F";

// The console's echo dump: cell separator, first-row offset, columns,
// address group separator, start address, count and bytes.
std::string EchoDump(const unsigned char* bytes, int count, uint64_t streamOffset) {
    return Format("%k%0.*R%t%4.0v%*m", " ", static_cast<int>(streamOffset % 16), 16, ".",
                  streamOffset, count, bytes);
}

TEST(FmtxDump, CellsAndDecorations) {
    const unsigned char bytes[] = {0x01, 0xAB, 0x00, 0x7F};
    EXPECT_EQ(Format("%*m", 2, bytes), "01ab");
    EXPECT_EQ(Format("%*M", 2, bytes), "01AB");
    EXPECT_EQ(Format("%k%*m", " ", 2, bytes), "01 ab");
    EXPECT_EQ(Format("%*m", 4, bytes), "01ab007f");
    // Without a width the bytes count as a string; '0' without a width is empty.
    EXPECT_EQ(Format("%m|", "AB"), "4142|");
    EXPECT_EQ(Format("%0m|", "AB"), "|");
    EXPECT_EQ(Format("%m|", static_cast<const unsigned char*>(nullptr)), "|");
    EXPECT_EQ(Format("%*m|", 8, static_cast<const unsigned char*>(nullptr)), "|");
    EXPECT_EQ(Format("%R%8M|", 16, static_cast<const unsigned char*>(nullptr)), "|");
    EXPECT_EQ(Format("%K%k%*m", "<>", ",", 2, bytes), "<01>,<ab>");
    // An odd length leaves the extra character to the suffix; both are cut to 4.
    EXPECT_EQ(Format("%K%*m", "[[x]]", 1, bytes), "[[01x]]");
    EXPECT_EQ(Format("%K%*m", "abcdefghij", 1, bytes), "abcd01fghi");
    EXPECT_EQ(Format("%k%*m", "0123456789", 2, bytes), "0101234567ab");
}

TEST(FmtxDump, EchoDumpOfThreeBytesHasHeaderAndOneRow) {
    const unsigned char abc[] = {'A', 'B', 'C'};
    EXPECT_EQ(EchoDump(abc, 3, 0), std::string(kHeader16) + "\n0000: 41 42 43");
}

TEST(FmtxDump, EchoDumpStartingMidRowSpansThreeLines) {
    unsigned char bytes[20];
    for (int i = 0; i < 20; ++i)
        bytes[i] = static_cast<unsigned char>(0x41 + i);
    std::string expected = std::string(kHeader16) + "\n" + "0010:" + std::string(13, ' ') +
                           "41 42 43 44 45 46 47 48 49 4a 4b 4c\n" +
                           "0020: 4d 4e 4f 50 51 52 53 54";
    EXPECT_EQ(EchoDump(bytes, 20, 20), expected);

    fmtx_set_line_end(1);
    std::string crlf = EchoDump(bytes, 20, 20);
    fmtx_set_line_end(0);
    EXPECT_EQ(crlf, std::string(kHeader16) + "\r\n" + "0010:" + std::string(13, ' ') +
                        "41 42 43 44 45 46 47 48 49 4a 4b 4c\r\n" +
                        "0020: 4d 4e 4f 50 51 52 53 54");
    fmtx_set_line_end(2);
    EXPECT_NE(EchoDump(bytes, 20, 20).find("4c\r0020"), std::string::npos);
    fmtx_set_line_end(7);
    EXPECT_NE(EchoDump(bytes, 20, 20).find("4c\n0020"), std::string::npos);
}

TEST(FmtxDump, AddressesGrowToWholeGroups) {
    const unsigned char bytes[] = {0, 1, 2, 3, 4};
    // Last address 0x20002: five digits, raised to eight by the group of four.
    EXPECT_EQ(Format("%0.*R%t%4.0v%*m", 0, 4, ".", uint64_t{0x1FFFE}, 5, bytes),
              "-----------00010203\n0001.FFFE: 00010203\n0002.0002: 04");
    // An explicit precision is a minimum digit count.
    EXPECT_EQ(Format("%R%.6v%*m", 1, uint64_t{0xAB}, 1, bytes), "--------00\n0000AB: 00");
    // A start address near the top wraps: the address width is all F digits.
    EXPECT_EQ(Format("%R%v%*m", 2, ~uint64_t{0}, 2, bytes),
              "------------------0001\nFFFFFFFFFFFFFFFF: 0001");
}

TEST(FmtxDump, StartAddressAndPrecisionHoldForOneDumpOnly) {
    const unsigned char bytes[] = {0x41, 0x42};
    EXPECT_EQ(Format("%R%.4v%*m|%*m", 2, uint64_t{0x10}, 1, bytes, 1, bytes + 1),
              "------0001\n0010: 41|---0001\n0: 42");
}

TEST(FmtxDump, RowsIndentOffsetAndColumnLimits) {
    const unsigned char abc[] = {'A', 'B', 'C'};
    // %r leaves the header off; the width indents every row.
    EXPECT_EQ(Format("%3r%*m", 2, 3, abc), "   4142\n   43");
    EXPECT_EQ(Format("%3.1r%*m", 2, 3, abc), "     41\n   4243");
    // The offset is clamped below the column count.
    EXPECT_EQ(Format("%.9r%*m", 2, 3, abc), "  41\n4243");
    // Zero columns: one unbounded row, no header even with %R.
    EXPECT_EQ(Format("%R%*m", 0, 3, abc), "414243");
    EXPECT_EQ(Format("%R%*m", -4, 3, abc), "414243");
    // The indent stops at 64.
    EXPECT_EQ(Format("%99r%*m", 1, 1, abc), std::string(64, ' ') + "41");
    // Columns stop at 256: 300 bytes make two rows.
    unsigned char many[300] = {};
    std::string wide = Format("%r%*m", 1000, 300, many);
    EXPECT_EQ(wide, std::string(512, '0') + "\n" + std::string(88, '0'));
    EXPECT_EQ(Format("%*m", 0, abc), "");
    // A negative '*' width is a count too (its sign only asks for left-justify).
    EXPECT_EQ(Format("%*m", -3, abc), "414243");
}

TEST(FmtxDump, HeaderDashesFollowCellDecorations) {
    const unsigned char ab[] = {0xA, 0xB};
    EXPECT_EQ(Format("%K%k%R%*m", "<>", "::", 2, 2, ab), "----00----01-\n0: <0a>::<0b>");
}

}  // namespace
