#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "pty_fixture.h"

using namespace test;

namespace {

struct Line {
    int level;
    std::string source;
    int line;
    std::string text;
};

class LogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ::unsetenv("TIDESTREAM_LOG_LEVEL");
        ::setenv("TIDESTREAM_LOG_FILE", (dir_.Path() / "log.txt").c_str(), 1);
        qvds_set_log_hook(
            [](int level, const char* source, int line, const char* text, void* user) {
                static_cast<LogTest*>(user)->lines_.push_back({level, source, line, text});
            },
            this);
    }
    void TearDown() override {
        qvds_set_log_hook(nullptr, nullptr);
        ::unsetenv("TIDESTREAM_LOG_FILE");
        ::unsetenv("TIDESTREAM_LOG_LEVEL");
    }
    std::string LogFile() {
        std::ifstream in(dir_.Path() / "log.txt");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    support::RuntimeDir dir_;
    std::vector<Line> lines_;
};

TEST_F(LogTest, HookSeesLevelLineAndText) {
    logout_line(2, "Ferrolink", 552, "%s %s", "Open", "error");
    ASSERT_EQ(lines_.size(), 1u);
    EXPECT_EQ(lines_[0].level, 2);
    EXPECT_EQ(lines_[0].source, "Ferrolink");
    EXPECT_EQ(lines_[0].line, 552);
    EXPECT_EQ(lines_[0].text, "Open error");
    // The file line carries time, level, source and line number.
    const std::regex stamped(
        R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[2\] Ferrolink:552 Open error\n)");
    EXPECT_TRUE(std::regex_match(LogFile(), stamped)) << LogFile();
}

TEST_F(LogTest, ThresholdComesFromTheEnvironment) {
    logout_line(4, "Ferrolink", 10, "event");  // above the default level 2
    EXPECT_TRUE(lines_.empty());
    ::setenv("TIDESTREAM_LOG_LEVEL", "5", 1);
    logout_line(5, "Ferrolink", 11, "trace");
    ::setenv("TIDESTREAM_LOG_LEVEL", "0", 1);
    logout_line(2, "Ferrolink", 12, "silenced");
    ::setenv("TIDESTREAM_LOG_LEVEL", "verbose", 1);  // no number: the default stays
    logout_line(2, "Ferrolink", 13, "error kept");
    logout_line(4, "Ferrolink", 14, "event dropped");
    ASSERT_EQ(lines_.size(), 2u);
    EXPECT_EQ(lines_[0].text, "trace");
    EXPECT_EQ(lines_[1].text, "error kept");
}

TEST_F(LogTest, NarrowFormatTakesChar16TextsForLs) {
    const char16_t* path = u"\\\\?\\usb#vid_1eab#\u4e2d";
    logout_line(2, "Ferrolink", 1, "open %ls failed (%d, %05.1f, %x, %c, %-4s|, %.3s, %%)", path,
                -7, 2.25, 255u, 'Z', "ab", "abcdef");
    logout_line(2, "Ferrolink", 2, "%lld %zu %p %s %ls", 1234567890123LL, size_t{7},
                static_cast<void*>(nullptr), static_cast<const char*>(nullptr),
                static_cast<const char16_t*>(nullptr));
    ASSERT_EQ(lines_.size(), 2u);
    EXPECT_EQ(lines_[0].text,
              "open \\\\?\\usb#vid_1eab#\xe4\xb8\xad failed (-7, 002.2, ff, Z, ab  |, abc, %)");
    char pointer[32];
    std::snprintf(pointer, sizeof pointer, "%p", static_cast<void*>(nullptr));
    EXPECT_EQ(lines_[1].text, std::string("1234567890123 7 ") + pointer + " (null) (null)");
}

TEST_F(LogTest, WideFormatTakesChar16TextsForSAndLs) {
    logout_line_u(2, "AutoTabAppDlg", 3570, u"\u72b6\u6001 %s / %ls / %hs / %d / %5.2s|",
                  u"USB\u8bbe\u5907", u"COM3", "narrow", 42, u"xyz");
    ASSERT_EQ(lines_.size(), 1u);
    EXPECT_EQ(lines_[0].source, "AutoTabAppDlg");
    EXPECT_EQ(lines_[0].line, 3570);
    EXPECT_EQ(lines_[0].text,
              "\xe7\x8a\xb6\xe6\x80\x81 USB\xe8\xae\xbe\xe5\xa4\x87 / COM3 / narrow / 42 /    xy|");
}

TEST_F(LogTest, LongArgumentsAreNotCut) {
    const std::string longText(20000, 'q');
    logout_line(2, "Ferrolink", 5, "[%s]", longText.c_str());
    ASSERT_EQ(lines_.size(), 1u);
    EXPECT_EQ(lines_[0].text, "[" + longText + "]");
}

}  // namespace
