// The text a paste delivers: line-end count and the hexadecimal record form.
#include "delivery/delivery_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct LineEndCase {
    const char* name;
    std::u16string text;
    size_t lineEnds;
};

// Test names carry the case name; printing it keeps CTest's list readable.
void PrintTo(const LineEndCase& c, std::ostream* out) {
    *out << c.name;
}

class LineEnds : public testing::TestWithParam<LineEndCase> {};

TEST_P(LineEnds, CountsTheLastTwoUnits) {
    EXPECT_EQ(quillon::CountLineEnds(GetParam().text), GetParam().lineEnds);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, LineEnds,
    testing::Values(LineEndCase{"None", u"abc", 0}, LineEndCase{"CrLf", u"abc\r\n", 2},
                    LineEndCase{"CrCr", u"ab\r\r", 2}, LineEndCase{"LoneCr", u"ab\r", 1},
                    LineEndCase{"LoneLf", u"ab\n", 1},
                    // The first LF ends the count, so LF CR counts one.
                    LineEndCase{"LfCr", u"ab\n\r", 1}, LineEndCase{"LfLf", u"ab\n\n", 1},
                    // Fewer than two units never count.
                    LineEndCase{"SingleLf", u"\n", 0}, LineEndCase{"Empty", u"", 0},
                    LineEndCase{"CrLfOnly", u"\r\n", 2}),
    [](const testing::TestParamInfo<LineEndCase>& info) { return info.param.name; });

// A record of `units` units starting with `start` and ending with `tail`.
std::u16string Record(size_t units, std::u16string start, std::u16string tail) {
    std::u16string text = start;
    while (text.size() + tail.size() < units) {
        text.push_back(u'0' + static_cast<char16_t>(text.size() % 10));
    }
    return text + tail;
}

const std::u16string kRecordStart = {0x81, 0x01, 0x69};

struct HexCase {
    const char* name;
    std::u16string text;
    bool hexOut;
    bool hex;
};

void PrintTo(const HexCase& c, std::ostream* out) {
    *out << c.name;
}

class HexForm : public testing::TestWithParam<HexCase> {};

TEST_P(HexForm, ChoosesTheForm) {
    const HexCase& c = GetParam();
    quillon::DeliveryText out = quillon::BuildDeliveryText(c.text, c.hexOut);
    EXPECT_EQ(out.hex, c.hex);
    if (c.hex) {
        ASSERT_EQ(out.text.size(), 2 * c.text.size());
        EXPECT_EQ(out.text.substr(0, 6), u"810169");
    } else {
        EXPECT_EQ(out.text, c.text);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Records, HexForm,
    testing::Values(HexCase{"Crlf366", Record(366, kRecordStart, u"\r\n"), true, true},
                    HexCase{"Crlf366HexOff", Record(366, kRecordStart, u"\r\n"), false, false},
                    HexCase{"Crlf365", Record(365, kRecordStart, u"\r\n"), true, false},
                    HexCase{"Plain364", Record(364, kRecordStart, u""), true, true},
                    HexCase{"Cr365", Record(365, kRecordStart, u"\r"), true, true},
                    HexCase{"OtherStart", Record(366, {0x81, 0x01, 0x6A}, u"\r\n"), true, false},
                    HexCase{"Short", u"\u0081\u0001\u0069", true, false}),
    [](const testing::TestParamInfo<HexCase>& info) { return info.param.name; });

TEST(HexForm, RecordEndsWithItsLineEndDigits) {
    std::u16string record = Record(366, kRecordStart, u"\r\n");
    std::u16string hex = quillon::BuildDeliveryText(record, true).text;
    ASSERT_EQ(hex.size(), 732u);
    EXPECT_EQ(hex.substr(728), u"0D0A");
    // Digit pairs follow the units in order.
    EXPECT_EQ(hex.substr(6, 4), u"3334");
}

TEST(HexForm, WideUnitsKeepTwoDigitsEach) {
    EXPECT_EQ(quillon::HexDigits(u"\u20AC\u00FF\u0001"), u"ACFF01");
}

TEST(LengthLog, ShowsLengthAndFirstThreeUnits) {
    EXPECT_EQ(quillon::FormatLengthLog(Record(366, kRecordStart, u"\r\n")), "Length=366 810169");
    EXPECT_EQ(quillon::FormatLengthLog(u"A"), "Length=1 410000");
}

}  // namespace
