// Code-page conversion: the results Windows gives for the code pages that the
// code page dialog offers, UTF-8 error handling, and the way back.
#include "platform/codepage.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <clocale>
#include <string>

namespace {

struct ToWideCase {
    const char* name;
    unsigned codePage;
    std::string bytes;
    std::u16string expected;
};

// Test names carry the case name; printing it keeps CTest's list readable.
void PrintTo(const ToWideCase& c, std::ostream* out) {
    *out << c.name;
}

class ToWide : public testing::TestWithParam<ToWideCase> {};

TEST_P(ToWide, GivesWindowsUnits) {
    const ToWideCase& c = GetParam();
    auto wide = platform::MultiByteToWide(c.codePage, c.bytes);
    ASSERT_TRUE(wide.has_value());
    EXPECT_EQ(*wide, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    CodePages, ToWide,
    testing::Values(
        ToWideCase{"Latin1UmlautU", 1252, "\xDC", u"\u00DC"},
        ToWideCase{"EuroSign1252", 1252, "\x80", u"\u20AC"},
        // Windows maps the holes of 1252 to the C1 control of the same value.
        ToWideCase{"Hole1252", 1252, "\x81\x8D\x8F\x90\x9D", u"\u0081\u008D\u008F\u0090\u009D"},
        ToWideCase{"Cyrillic", 1251, "\xC0\xFF", u"\u0410\u044F"},
        ToWideCase{"CentralEuropean", 1250, "\x8A\xB9", u"\u0160\u0105"},
        ToWideCase{"Greek", 1253, "\xC1", u"\u0391"},
        ToWideCase{"Turkish", 1254, "\xD0\xFE", u"\u011E\u015F"},
        ToWideCase{"Arabic", 1256, "\xC7", u"\u0627"},
        ToWideCase{"Baltic", 1257, "\xC0", u"\u0104"},
        // A letter and a combining mark stay two units (glibc would compose).
        ToWideCase{"VietnameseNoComposition", 1258, "A\xEC", u"A\u0301"},
        ToWideCase{"HebrewNoComposition", 1255, "\xE0\xC8", u"\u05D0\u05B8"},
        ToWideCase{"Thai", 874, "\xA1\x80", u"\u0E01\u20AC"},
        ToWideCase{"OemUs", 437, "\xB0\x9A", u"\u2591\u00DC"},
        ToWideCase{"ChineseSimplified", 936, "\xD6\xD0\x80", u"\u4E2D\u20AC"},
        ToWideCase{"ChineseSimplifiedCutLead", 936, "a\xD6", u"a?"},
        ToWideCase{"ChineseTraditional", 950, "\xA4\xA4", u"\u4E2D"},
        ToWideCase{"Japanese", 932, "\x82\xA0\xA6\x5C", u"\u3042\uFF66\\"},
        ToWideCase{"Korean", 949, "\xB0\xA1", u"\uAC00"},
        ToWideCase{"Utf8TwoBytes", 65001, "\xC3\x9C", u"\u00DC"},
        ToWideCase{"Utf8Astral", 65001, "\xF0\x9F\x98\x80", u"\U0001F600"},
        ToWideCase{"Utf8Overlong", 65001, "\xC0\x80x", u"\uFFFD\uFFFDx"},
        ToWideCase{"Utf8Surrogate", 65001, "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
        ToWideCase{"Utf8CutAtEnd", 65001, "a\xE2\x82", u"a\uFFFD"},
        ToWideCase{"Utf8CutInside", 65001, "\xE2\x82z", u"\uFFFDz"},
        ToWideCase{"Utf8AboveUnicode", 65001, "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        ToWideCase{"EmptyInput", 1252, "", u""}),
    [](const testing::TestParamInfo<ToWideCase>& info) { return info.param.name; });

struct ToBytesCase {
    const char* name;
    unsigned codePage;
    std::u16string text;
    std::string expected;
};

void PrintTo(const ToBytesCase& c, std::ostream* out) {
    *out << c.name;
}

class ToBytes : public testing::TestWithParam<ToBytesCase> {};

TEST_P(ToBytes, GivesWindowsBytes) {
    const ToBytesCase& c = GetParam();
    auto bytes = platform::WideToMultiByte(c.codePage, c.text);
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(*bytes, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    CodePages, ToBytes,
    testing::Values(ToBytesCase{"Euro1252", 1252, u"\u20AC\u00DC", "\x80\xDC"},
                    ToBytesCase{"Missing1252", 1252, u"a\u4E2Db", "a?b"},
                    ToBytesCase{"Chinese936", 936, u"\u4E2D", "\xD6\xD0"},
                    ToBytesCase{"Missing936", 936, u"\u0E01", "?"},
                    ToBytesCase{"Japanese932", 932, u"\u3042", "\x82\xA0"},
                    ToBytesCase{"Utf8Astral", 65001, u"\U0001F600", "\xF0\x9F\x98\x80"},
                    ToBytesCase{"Utf8LoneSurrogate", 65001, std::u16string(1, char16_t(0xD800)),
                                "\xEF\xBF\xBD"},
                    ToBytesCase{"AstralIn1252", 1252, u"\U0001F600", "?"}),
    [](const testing::TestParamInfo<ToBytesCase>& info) { return info.param.name; });

TEST(CodePage, SingleBytePagesOfTheDialogRoundTripEveryByte) {
    for (unsigned codePage :
         {1250u, 1251u, 1252u, 1253u, 1254u, 1255u, 1256u, 1257u, 1258u, 874u}) {
        std::string all;
        for (int byte = 0; byte < 256; ++byte) {
            all.push_back(static_cast<char>(byte));
        }
        auto wide = platform::MultiByteToWide(codePage, all);
        ASSERT_TRUE(wide.has_value()) << codePage;
        ASSERT_EQ(wide->size(), 256u) << codePage;
        auto back = platform::WideToMultiByte(codePage, *wide);
        ASSERT_TRUE(back.has_value()) << codePage;
        EXPECT_EQ(*back, all) << codePage;
    }
}

TEST(CodePage, UnknownCodePageGivesNoResult) {
    EXPECT_FALSE(platform::MultiByteToWide(12345, "abc").has_value());
    EXPECT_FALSE(platform::WideToMultiByte(12345, u"abc").has_value());
    EXPECT_EQ(platform::CodePageCharset(12345), "");
}

#ifdef _WIN32
// Code page 0 is the system's ANSI code page, whatever the C locale says.
TEST(AnsiCodePage, IsTheSystemsAnsiCodePage) {
    const unsigned ansi = GetACP();
    std::string all;
    for (int byte = 1; byte < 256; ++byte)
        all.push_back(static_cast<char>(byte));
    ASSERT_NE(platform::CodePageCharset(0), "");
    EXPECT_EQ(platform::CodePageCharset(0), platform::CodePageCharset(ansi));
    EXPECT_EQ(platform::MultiByteToWide(0, all), platform::MultiByteToWide(ansi, all));
    EXPECT_EQ(platform::WideToMultiByte(0, u"12\u00DC\u4E2D"),
              platform::WideToMultiByte(ansi, u"12\u00DC\u4E2D"));
}
#else
// Code page 0 follows the charset of the locale the program has set.
class AnsiCodePage : public testing::Test {
  protected:
    void SetUp() override { saved_ = setlocale(LC_ALL, nullptr); }
    void TearDown() override { setlocale(LC_ALL, saved_.c_str()); }
    std::string saved_;
};

TEST_F(AnsiCodePage, Utf8LocaleDecodesUtf8) {
    ASSERT_NE(setlocale(LC_ALL, "C.UTF-8"), nullptr);
    EXPECT_EQ(platform::CodePageCharset(0), "UTF-8");
    EXPECT_EQ(platform::MultiByteToWide(0, "\xC3\x9C\xDC"), u"\u00DC\uFFFD");
    EXPECT_EQ(platform::WideToMultiByte(0, u"\u00DC"), "\xC3\x9C");
}

TEST_F(AnsiCodePage, PlainCLocaleKeepsHighBytesAsTheirOwnUnits) {
    ASSERT_NE(setlocale(LC_ALL, "C"), nullptr);
    EXPECT_EQ(platform::MultiByteToWide(0, "12\xDC"), u"12\u00DC");
    EXPECT_EQ(platform::WideToMultiByte(0, u"12\u00DC\u4E2D"), "12\xDC?");
}
#endif

}  // namespace
