// Device bytes made safe to print: a miss here lets a scanner or a port send
// escape sequences to the user's terminal, or hides bytes from the user.
#include <gtest/gtest.h>

#include <string>

#include "platform/text_escape.h"

using namespace platform;

namespace {

struct EscapeCase {
    const char* name;
    std::string bytes;
    std::string asText;   // keepUtf8, backslash kept (how ferroctl shows device texts)
    std::string asBytes;  // ASCII only, named controls, backslash doubled (vantrel's reads)
};

TEST(TextEscape, EachRuleSetShowsEveryByteOnce) {
    const EscapeCase cases[] = {
        {"zero, ESC and a letter",
         std::string("\x00\x1B"
                     "A",
                     3),
         "\\x00\\x1BA", "\\x00\\x1BA"},
        {"line ends and tab", "a\tb\r\n", "a\\x09b\\x0D\\x0A", "a\\tb\\r\\n"},
        {"DEL", "\x7F", "\\x7F", "\\x7F"},
        {"backslash", "C:\\x41", "C:\\x41", "C:\\\\x41"},
        {"UTF-8 text",
         "Gr\xC3\xBC\xC3\x9F"
         "e",
         "Gr\xC3\xBC\xC3\x9F"
         "e",
         "Gr\\xC3\\xBC\\xC3\\x9Fe"},
        {"four-byte UTF-8", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80", "\\xF0\\x9F\\x98\\x80"},
        {"C1 control as UTF-8 (CSI)",
         "\xC2\x9B"
         "2J",
         "\\u009B2J", "\\xC2\\x9B2J"},
        {"lone continuation byte", "a\x80z", "a\\x80z", "a\\x80z"},
        {"cut sequence at the end", "ok\xE4\xB8", "ok\\xE4\\xB8", "ok\\xE4\\xB8"},
        {"overlong slash", "\xC0\xAF", "\\xC0\\xAF", "\\xC0\\xAF"},
        {"surrogate half", "\xED\xA0\x80", "\\xED\\xA0\\x80", "\\xED\\xA0\\x80"},
        {"GBK bytes", "\xD6\xD0", "\\xD6\\xD0", "\\xD6\\xD0"},
    };
    EscapeRules text;
    text.keepUtf8 = true;
    EscapeRules bytes;
    bytes.namedControls = true;
    bytes.escapeBackslash = true;
    for (const auto& c : cases) {
        EXPECT_EQ(EscapeText(c.bytes, text), c.asText) << c.name;
        EXPECT_EQ(EscapeText(c.bytes, bytes), c.asBytes) << c.name;
        for (const std::string& shown : {EscapeText(c.bytes, text), EscapeText(c.bytes, bytes)}) {
            for (char ch : shown) {
                const auto u = static_cast<unsigned char>(ch);
                EXPECT_TRUE(u >= 0x20 && u != 0x7F) << c.name << ": raw control byte left";
            }
        }
    }
}

TEST(TextEscape, Utf8CheckTakesOnlyWellFormedText) {
    EXPECT_TRUE(IsUtf8(""));
    EXPECT_TRUE(IsUtf8("plain"));
    EXPECT_TRUE(IsUtf8("\xE4\xB8\xAD\xE6\x96\x87"));
    EXPECT_FALSE(IsUtf8("\xD6\xD0\xCE\xC4"));  // GBK
    EXPECT_FALSE(IsUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(IsUtf8("\xE4\xB8"));          // cut
    char32_t c = 0;
    EXPECT_EQ(Utf8SequenceAt("x\xE2\x82\xAC", 1, &c), 3u);
    EXPECT_EQ(c, U'\u20AC');
}

}  // namespace
