// The private-profile ini module on real files.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/ini_file.h"

namespace {

class IniFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/ini-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        file_ = dir_ / "ktr.ini";
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    void Write(const std::string& text) { std::ofstream(file_, std::ios::binary) << text; }
    std::string Read() {
        std::ifstream in(file_, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::filesystem::path dir_;
    std::filesystem::path file_;
};

TEST_F(IniFileTest, ReadsMatchSectionsAndKeysWithoutCase) {
    Write(
        "; comment\r\n[Init]\r\nWorkMode = 1 \r\nurl=\"http://h/\"\r\nCodePage=abc\r\n"
        "Number=42x\r\n[other]\r\nWorkMode=9\r\n");
    struct Case {
        const char* section;
        const char* key;
        const char* expected;
    } cases[] = {
        {"init", "workmode", "1"},   {"INIT", "URL", "http://h/"},      {"other", "WorkMode", "9"},
        {"init", "missing", "dflt"}, {"nosection", "WorkMode", "dflt"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform::IniReadString(file_, c.section, c.key, "dflt"), c.expected)
            << c.section << "/" << c.key;
    EXPECT_EQ(platform::IniReadInt(file_, "init", "CodePage", 7), 0);
    EXPECT_EQ(platform::IniReadInt(file_, "init", "Number", 7), 42);
    EXPECT_EQ(platform::IniReadInt(file_, "init", "absent", 7), 7);
    EXPECT_EQ(platform::IniReadString(dir_ / "none.ini", "a", "b", "x"), "x");
}

TEST_F(IniFileTest, WritesUpdateInPlaceAndKeepEveryOtherLine) {
    Write("; keep me\r\n[init]\r\nEnter=0\r\nunknown=stays\r\n\r\n[other]\r\nx=1\r\n");
    ASSERT_TRUE(platform::IniWriteString(file_, "INIT", "enter", "1"));
    ASSERT_TRUE(platform::IniWriteString(file_, "init", "url", "http://a/"));
    ASSERT_TRUE(platform::IniWriteString(file_, "new", "k", "v"));
    EXPECT_EQ(Read(),
              "; keep me\r\n[init]\r\nenter=1\r\nunknown=stays\r\nurl=http://a/\r\n\r\n"
              "[other]\r\nx=1\r\n[new]\r\nk=v\r\n");
    ASSERT_TRUE(platform::IniDeleteKey(file_, "init", "unknown"));
    EXPECT_EQ(platform::IniKeyNames(file_, "init"), (std::vector<std::string>{"enter", "url"}));
    EXPECT_EQ(platform::IniSectionNames(file_), (std::vector<std::string>{"init", "other", "new"}));
}

TEST_F(IniFileTest, MissingFileIsCreatedAndAnUnwritableOneFails) {
    ASSERT_TRUE(platform::IniWriteString(file_, "init", "lang", "EN"));
    EXPECT_EQ(platform::IniReadString(file_, "init", "lang", ""), "EN");
    EXPECT_FALSE(platform::IniWriteString(dir_ / "no" / "such" / "dir.ini", "a", "b", "c"));
    for (const auto& entry : std::filesystem::directory_iterator(dir_))
        EXPECT_EQ(entry.path().filename(), "ktr.ini") << "no temporary file is left behind";
}

}  // namespace
