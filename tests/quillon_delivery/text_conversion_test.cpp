// Scan bytes to text: the UTF-8 test and the conversion that follows it.
#include "delivery/text_conversion.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

namespace {

struct Utf8Case {
    const char* name;
    std::string bytes;
    bool utf8;
};

// Test names carry the case name; printing it keeps CTest's list readable.
void PrintTo(const Utf8Case& c, std::ostream* out) {
    *out << c.name;
}

class Utf8Test : public testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Test, ClassifiesBytes) {
    EXPECT_EQ(quillon::IsUtf8Text(GetParam().bytes), GetParam().utf8);
}

INSTANTIATE_TEST_SUITE_P(Bytes, Utf8Test,
                         testing::Values(Utf8Case{"Empty", "", false},
                                         // Pure ASCII is left to the code page.
                                         Utf8Case{"Ascii", "123\r\n", false},
                                         Utf8Case{"TwoByte", "\xC3\x9C", true},
                                         Utf8Case{"ThreeByte", "a\xE4\xB8\xAD", true},
                                         Utf8Case{"FourByte", "\xF0\x9F\x98\x80", true},
                                         // The loose check takes the old five- and six-byte forms.
                                         Utf8Case{"FiveByte", "\xF8\x88\x80\x80\x80", true},
                                         Utf8Case{"SixByte", "\xFC\x84\x80\x80\x80\x80", true},
                                         Utf8Case{"LoneLatin1", "\xDC", false},
                                         Utf8Case{"StrayContinuation", "a\x9C", false},
                                         Utf8Case{"CutAtEnd", "\xE4\xB8", false},
                                         Utf8Case{"AsciiInsteadOfContinuation",
                                                  "\xC3"
                                                  "A",
                                                  false},
                                         // 0xFE and 0xFF count as five-byte leads like 0xF8.
                                         Utf8Case{"ByteFE", "\xFE\x80\x80\x80\x80", true},
                                         Utf8Case{"ByteFFCut", "\xFF\x80\x80\x80", false}),
                         [](const testing::TestParamInfo<Utf8Case>& info) {
                             return info.param.name;
                         });

class ConvertToWideTest : public testing::Test {
  protected:
    // The program runs under the user's locale; the tests pin one.
    void SetUp() override {
        saved_ = setlocale(LC_ALL, nullptr);
        ASSERT_NE(setlocale(LC_ALL, "C.UTF-8"), nullptr);
    }
    void TearDown() override { setlocale(LC_ALL, saved_.c_str()); }
    std::string saved_;
};

struct ConvertCase {
    const char* name;
    std::string bytes;
    unsigned codePage;
    std::u16string expected;
};

void PrintTo(const ConvertCase& c, std::ostream* out) {
    *out << c.name;
}

class ConvertCases : public ConvertToWideTest, public testing::WithParamInterface<ConvertCase> {};

TEST_P(ConvertCases, ConvertsWithinCapacity) {
    const ConvertCase& c = GetParam();
    auto wide = quillon::ConvertToWide(c.bytes, c.bytes.size(), c.codePage);
    ASSERT_TRUE(wide.has_value());
    EXPECT_EQ(*wide, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Scans, ConvertCases,
    testing::Values(ConvertCase{"AsciiDigitsAnsi", "123", 0, u"123"},
                    ConvertCase{"Utf8Umlaut", "\xC3\x9C", 0, u"\u00DC"},
                    // UTF-8 wins over any configured code page.
                    ConvertCase{"Utf8Over1251", "\xC3\x9C", 1251, u"\u00DC"},
                    ConvertCase{"SingleByte1252", "\xDC", 1252, u"\u00DC"},
                    ConvertCase{"SingleByte1251", "\xDC", 1251, u"\u042C"},
                    // Malformed UTF-8 is not taken as UTF-8: the code page decides.
                    ConvertCase{"MalformedUtf8Via1252", "\xC3\x9C\xDC", 1252,
                                u"\u00C3\u0153\u00DC"},
                    ConvertCase{"Gbk", "\xD6\xD0\xCE\xC4", 936, u"\u4E2D\u6587"},
                    ConvertCase{"ShiftJisLooksLikeUtf8Not", "\x82\xA0", 932, u"\u3042"},
                    ConvertCase{"ScannerLineEnd", "A1\r\n", 0, u"A1\r\n"}),
    [](const testing::TestParamInfo<ConvertCase>& info) { return info.param.name; });

TEST_F(ConvertToWideTest, MoreUnitsThanCapacityGiveNone) {
    EXPECT_FALSE(quillon::ConvertToWide("1234", 3, 0).has_value());
    EXPECT_FALSE(quillon::ConvertToWide("\xF0\x9F\x98\x80", 1, 0).has_value());
    auto exact = quillon::ConvertToWide("\xF0\x9F\x98\x80", 2, 0);
    ASSERT_TRUE(exact.has_value());
    EXPECT_EQ(*exact, u"\U0001F600");
}

TEST_F(ConvertToWideTest, UnsupportedCodePageGivesNone) {
    EXPECT_FALSE(quillon::ConvertToWide("\xDC", 1, 4242).has_value());
}

}  // namespace

namespace {

// A scan that arrives in several reads: the text of each read, then what
// the collect timer's flush adds.
struct SplitCase {
    const char* name;
    std::vector<std::string> reads;
    unsigned codePage;
    std::vector<std::u16string> perRead;
    std::u16string flushed;
};

void PrintTo(const SplitCase& c, std::ostream* out) {
    *out << c.name;
}

class SplitReads : public ConvertToWideTest, public testing::WithParamInterface<SplitCase> {};

TEST_P(SplitReads, DecodeWholeCharacters) {
    const SplitCase& c = GetParam();
    quillon::ScanDecoder decoder;
    ASSERT_EQ(c.reads.size(), c.perRead.size());
    for (size_t i = 0; i < c.reads.size(); ++i) {
        auto text = decoder.Feed(c.reads[i], c.codePage);
        ASSERT_TRUE(text.has_value()) << "read " << i;
        EXPECT_EQ(*text, c.perRead[i]) << "read " << i;
    }
    auto rest = decoder.Flush(c.codePage);
    ASSERT_TRUE(rest.has_value());
    EXPECT_EQ(*rest, c.flushed);
    EXPECT_FALSE(decoder.Holding());
}

INSTANTIATE_TEST_SUITE_P(
    Reads, SplitReads,
    testing::Values(
        SplitCase{"Utf8TwoByteSplit", {"\xC3", "\x9C"}, 0, {u"", u"\u00DC"}, u""},
        SplitCase{"Utf8AfterAscii", {"AB\xC3", "\x9C\r"}, 1252, {u"AB", u"\u00DC\r"}, u""},
        SplitCase{"Utf8ThreeByteInThree", {"\xE4", "\xB8", "\xAD"}, 0, {u"", u"", u"\u4E2D"}, u""},
        SplitCase{"Utf8FourByteSplit", {"x\xF0\x9F", "\x98\x80"}, 0, {u"x", u"\U0001F600"}, u""},
        SplitCase{
            "Utf8WholeThenPart", {"\xC3\x9C\xE4\xB8", "\xAD"}, 0, {u"\u00DC", u"\u4E2D"}, u""},
        // The timer ends before the rest comes: the held byte is decoded as
        // it stands, by the code page.
        SplitCase{"LeadAloneUntilTheTimer", {"A\xDC"}, 1252, {u"A"}, u"\u00DC"},
        // Held bytes that the next read does not continue are not UTF-8.
        SplitCase{"HeldByteNotContinued",
                  {"\xDC", "A"},
                  1252,
                  {u"",
                   u"\u00DC"
                   u"A"},
                  u""},
        SplitCase{"GbkLeadSplit", {"\xD6\xD0\xCE", "\xC4"}, 936, {u"\u4E2D", u"\u6587"}, u""},
        SplitCase{"ShiftJisLeadSplit", {"a\x82", "\xA0"}, 932, {u"a", u"\u3042"}, u""},
        // A trail byte that equals a lead byte value is not held.
        SplitCase{"GbkWholePairs", {"\xD6\xD0"}, 936, {u"\u4E2D"}, u""},
        SplitCase{"SingleBytePageHoldsNothing", {"\xC0\xE9"}, 1251, {u"\u0410\u0439"}, u""}),
    [](const testing::TestParamInfo<SplitCase>& info) { return info.param.name; });

}  // namespace

namespace {

// Wherever a scan is cut into two reads, the text is the one of the whole
// scan: for UTF-8 and for a double-byte code page.
TEST(SplitAnywhere, GivesTheTextOfTheWholeScan) {
    struct Scan {
        std::string bytes;
        unsigned codePage;
    };
    const Scan scans[] = {
        {"A\xC3\x9C\xE4\xB8\xAD\xF0\x9F\x98\x80z\r\n", 1252},
        {"\xD6\xD0\xCE\xC4"
         "AB\xB5\xC4\r",
         936},
        {"a\x82\xA0\x83\x41\x8B\x9E\r", 932},
    };
    for (const Scan& scan : scans) {
        const auto whole = quillon::ConvertToWide(scan.bytes, scan.bytes.size(), scan.codePage);
        ASSERT_TRUE(whole.has_value());
        for (size_t cut = 1; cut < scan.bytes.size(); ++cut) {
            quillon::ScanDecoder decoder;
            auto first = decoder.Feed(scan.bytes.substr(0, cut), scan.codePage);
            auto second = decoder.Feed(scan.bytes.substr(cut), scan.codePage);
            auto rest = decoder.Flush(scan.codePage);
            ASSERT_TRUE(first && second && rest) << cut;
            EXPECT_EQ(*first + *second + *rest, *whole) << scan.codePage << " cut at " << cut;
        }
    }
}

}  // namespace
