// Numbers, strings, grouping, repetition and unknown directives.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <functional>
#include <string>

#include "format_helpers.h"

namespace {

struct Case {
    std::string expected;
    std::function<std::string()> format;
};

void RunCases(const std::vector<Case>& cases) {
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(cases[i].format(), cases[i].expected) << "case " << i;
}

TEST(FmtxConversions, IntegersFollowPrefixPrecisionAndWidthRules) {
    RunCases({
        {"  007", [] { return Format("%5.3d", 7); }},
        {"42   |", [] { return Format("%-5d|", 42); }},
        {"-42  |", [] { return Format("%-05d|", -42); }},  // '-' wins over '0'
        {"ff   |", [] { return Format("%0-5x|", 255); }},
        {"+0042", [] { return Format("%+05d", 42); }},
        {"-0042", [] { return Format("%05d", -42); }},
        {"0xff", [] { return Format("%#x", 255); }},
        {"0", [] { return Format("%#x", 0); }},
        {"0X00FF", [] { return Format("%#06X", 255); }},
        {"010", [] { return Format("%#o", 8); }},
        {"00010", [] { return Format("%#.5o", 8); }},
        {"0", [] { return Format("%#o", 0); }},
        {"", [] { return Format("%.0d", 0); }},
        {"     |", [] { return Format("%5.0d|", 0); }},
        {"+", [] { return Format("%+.0d", 0); }},
        {"0", [] { return Format("%#.0o", 0); }},
        {"70000", [] { return Format("%hd", 70000); }},
        {"+5  5 +5", [] { return Format("%+d % d %+ d", 5, 5, 5); }},
        {"-2147483648", [] { return Format("%d", INT_MIN); }},
        {"4294967295", [] { return Format("%u", UINT_MAX); }},
        {"-9223372036854775808", [] { return Format("%lld", LLONG_MIN); }},
        {"18446744073709551615", [] { return Format("%llu", ULLONG_MAX); }},
        {"1777777777777777777777", [] { return Format("%llo", ULLONG_MAX); }},
        {"7", [] { return Format("%ld", 7); }},
        {"1234", [] { return Format("%'d", 1234); }},
        {"42   |", [] { return Format("%*d|", -5, 42); }},
        {"0", [] { return Format("%.*d", -1, 0); }},
        {"   42", [] { return Format("%*d", 5, 42); }},
        {"00042", [] { return Format("%.*d", 5, 42); }},
        {"    00042", [] { return Format("%09.5d", 42); }},
        {"0000000000001234", [] { return Format("%p", reinterpret_cast<void*>(0x1234)); }},
        {"0X0000000000001234", [] { return Format("%#P", reinterpret_cast<void*>(0x1234)); }},
        {"0000000000ABCDEF", [] { return Format("%llP", reinterpret_cast<void*>(0xabcdef)); }},
    });
}

TEST(FmtxConversions, FloatingValuesTakeTheLibraryTextAndOurPadding) {
    RunCases({
        {"   3.142", [] { return Format("%08.3f", 3.14159); }},
        {"-0001.500000", [] { return Format("%012f", -1.5); }},
        {"-1.5   |", [] { return Format("%-07.1f|", -1.5); }},
        {"+1.500000", [] { return Format("%+f", 1.5); }},
        {" 2.50e+00", [] { return Format("% .2e", 2.5); }},
        {"1.5", [] { return Format("%#g", 1.5); }},
        {"2", [] { return Format("%#.0f", 2.0); }},
        {"1E+10", [] { return Format("%G", 1e10); }},
        {"inf  |", [] { return Format("%-5f|", 1.0 / 0.0); }},
    });
    // Text longer than the number buffer is cut at 127 characters.
    std::string huge = Format("%f", 1e300);
    EXPECT_EQ(huge.size(), 127u);
    EXPECT_EQ(huge.substr(0, 4), "1000");
    EXPECT_EQ(Format("%+f", 1e300).size(), 127u);
}

TEST(FmtxConversions, StringsAndCharactersPadWithSpacesOrZeros) {
    RunCases({
        {"000ab", [] { return Format("%05s", "ab"); }},
        {"ab   |", [] { return Format("%-05s|", "ab"); }},
        {"ab", [] { return Format("%.2s", "abcdef"); }},
        {"   ab", [] { return Format("%5.2s", "abcdef"); }},
        {"[]", [] { return Format("[%s]", static_cast<const char*>(nullptr)); }},
        {"[]", [] { return Format("[%9s]", static_cast<const char*>(nullptr)); }},
        {"  x|x  |00x", [] { return Format("%3c|%-3c|%03c", 'x', 'x', 'x'); }},
        {"%|  %|00%", [] { return Format("%%|%3%|%03%"); }},
    });
}

TEST(FmtxConversions, GroupingUsesTheSeparatorOfItsConversion) {
    RunCases({
        {"1,234,567", [] { return Format("%t%d", ",", 1234567); }},
        {"1 234 567", [] { return Format("%D", 1234567); }},
        {"-1 234", [] { return Format("%D", -1234); }},
        {"18 446 744 073 709 551 615", [] { return Format("%llU", ULLONG_MAX); }},
        {"1.234.567|1234567", [] { return Format("%T%D|%d", ".", 1234567, 1234567); }},
        {"1 234|1,234", [] { return Format("%t%D|%d", ",", 1234, 1234); }},
        {"0000BEEF", [] { return Format("%_%t%08X", 4, ":", 0xBEEF); }},
        {"0000:BEEF", [] { return Format("%_%t%0.8X", 4, ":", 0xBEEF); }},
        {"dead_beef", [] { return Format("%_%t%x", 4, "_", 0xdeadbeefu); }},
        {"1--2--3", [] { return Format("%_%t%d", 1, "--", 123); }},
        {"123456", [] { return Format("%_%t%d", 0, ",", 123456); }},
        {"123456", [] { return Format("%t%d", "", 123456); }},
        {"0000.0000.0000.1234", [] { return Format("%_%t%p", 4, ".", (void*)0x1234); }},
        // A group restarts counting after the separator, never before the top digit.
        {"123,456", [] { return Format("%t%d", ",", 123456); }},
    });
    // Settings end with the call: a second call starts without a separator.
    EXPECT_EQ(Format("%t", ","), "");
    EXPECT_EQ(Format("%d", 1234567), "1234567");
}

TEST(FmtxConversions, RepetitionAndUnknownDirectives) {
    RunCases({
        {"ababab", [] { return Format("%3n", "ab"); }},
        {"", [] { return Format("%*n", 0, "ab"); }},
        {"", [] { return Format("%5n", ""); }},
        {"", [] { return Format("%5n", static_cast<const char*>(nullptr)); }},
        {std::string(250, '='), [] { return Format("%250n", "="); }},
        {"%i", [] { return Format("%i", 5); }},
        {"%5i", [] { return Format("%5i", 5); }},
        {"%", [] { return Format("%"); }},
        {"abc%", [] { return Format("abc%"); }},
        {"x%-08.3", [] { return Format("x%-08.3"); }},
        {"%lq", [] { return Format("%lq"); }},
        {"%y 7", [] { return Format("%y %d", 7); }},
    });
    char buffer[8];
    EXPECT_EQ(fmtx_snprintf(buffer, sizeof buffer, nullptr), 0);
    EXPECT_STREQ(buffer, "");
}

}  // namespace
