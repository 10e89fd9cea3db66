// The private-profile ini module on real files.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <cerrno>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/ini_file.h"
#include "support/temp_dir.h"

namespace {

class IniFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = tmp_.Path();
        file_ = dir_ / "ktr.ini";
    }
    support::TempDir tmp_{"ini-test"};
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

#ifdef _WIN32
TEST_F(IniFileTest, AReadOnlyFileIsRefusedAndKept) {
    const std::string before = "[init]\r\nurl=http://a/\r\n";
    Write(before);
    ASSERT_TRUE(SetFileAttributesW(file_.c_str(), FILE_ATTRIBUTE_READONLY));
    errno = 0;
    EXPECT_FALSE(platform::IniWriteString(file_, "init", "url", "http://b/"));
    EXPECT_EQ(errno, EACCES);
    SetFileAttributesW(file_.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(Read(), before);
    for (const auto& entry : std::filesystem::directory_iterator(dir_))
        EXPECT_EQ(entry.path().filename(), "ktr.ini") << "no temporary file is left behind";
}
#else
mode_t ModeOf(const std::filesystem::path& file) {
    struct stat info {};
    EXPECT_EQ(stat(file.c_str(), &info), 0) << file;
    return info.st_mode & 07777;
}

TEST_F(IniFileTest, AWriteKeepsThePermissionBitsAndNewFilesAreOwnerOnly) {
    // A umask that would widen nothing and narrow nothing the writer sets.
    const mode_t oldMask = umask(0022);
    for (mode_t mode : {0600, 0640, 0644, 0660}) {
        Write("[init]\r\nurl=http://a/?token=1\r\n");
        ASSERT_EQ(chmod(file_.c_str(), mode), 0);
        ASSERT_TRUE(platform::IniWriteString(file_, "init", "url", "http://b/"));
        EXPECT_EQ(ModeOf(file_), mode) << std::oct << mode;
    }
    const std::filesystem::path fresh = dir_ / "fresh.ini";
    ASSERT_TRUE(platform::IniWriteString(fresh, "init", "url", "http://b/"));
    EXPECT_EQ(ModeOf(fresh), 0600u);
    umask(oldMask);
}

TEST_F(IniFileTest, ALinkIsFollowedAndStaysALink) {
    std::filesystem::create_directory(dir_ / "real");
    const std::filesystem::path real = dir_ / "real" / "settings.ini";
    { std::ofstream(real, std::ios::binary) << "[init]\r\nEnter=0\r\n"; }
    ASSERT_EQ(chmod(real.c_str(), 0640), 0);
    // A relative link, and a link to that link.
    std::filesystem::create_symlink("real/settings.ini", dir_ / "middle.ini");
    std::filesystem::create_symlink(dir_ / "middle.ini", file_);
    ASSERT_TRUE(platform::IniWriteString(file_, "init", "Enter", "1"));
    EXPECT_TRUE(std::filesystem::is_symlink(file_));
    EXPECT_TRUE(std::filesystem::is_symlink(dir_ / "middle.ini"));
    EXPECT_EQ(Read(), "[init]\r\nEnter=1\r\n");
    EXPECT_EQ(ModeOf(real), 0640u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_ / "real"),
                            std::filesystem::directory_iterator()),
              1)
        << "no temporary file is left beside the target";

    // A link whose file is not there yet: the file is made where it points.
    std::filesystem::remove(real);
    ASSERT_TRUE(platform::IniWriteString(file_, "init", "lang", "en"));
    EXPECT_TRUE(std::filesystem::is_symlink(file_));
    EXPECT_EQ(Read(), "[init]\r\nlang=en\r\n");
    EXPECT_EQ(ModeOf(real), 0600u);
}

#endif

TEST_F(IniFileTest, LineBreaksInNamesAndValuesAreRefusedAndTheFileKept) {
    const std::string before = "[init]\r\nurl=http://a/\r\n";
    Write(before);
    struct Case {
        const char* section;
        const char* key;
        const char* value;
    } cases[] = {
        {"init", "url", "http://b/\nWorkMode=1"},
        {"init", "url", "http://b/\rWorkMode=1"},
        {"init", "url", "\n"},
        {"init", "url\n[evil]", "x"},
        {"init\r\n[x]", "url", "x"},
    };
    for (const Case& c : cases) {
        errno = 0;
        EXPECT_FALSE(platform::IniWriteString(file_, c.section, c.key, c.value)) << c.value;
        EXPECT_EQ(errno, EINVAL);
        EXPECT_EQ(Read(), before);
    }
    EXPECT_EQ(platform::IniKeyNames(file_, "init"), (std::vector<std::string>{"url"}));
}

}  // namespace
