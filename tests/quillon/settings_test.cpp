// Settings in ktr.ini: defaults, the reading rules and what a save writes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "autorun.h"
#include "platform/ini_file.h"
#include "settings.h"
#include "string_table.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using namespace quillon;

namespace {

class SettingsFile : public testing::Test {
  protected:
    void SetUp() override {
        dir_ = folder_.Path();
        ASSERT_FALSE(dir_.empty());
        ini_ = dir_ / "ktr.ini";
    }

    void Write(const std::string& text) { std::ofstream(ini_) << text; }
    // The file's text with its line ends (CR LF, as the ini module writes) as LF.
    std::string Read() {
        std::ifstream in(ini_);
        std::stringstream text;
        text << in.rdbuf();
        std::string lines = text.str();
        std::erase(lines, '\r');
        return lines;
    }
    AppSettings Load() {
        AppSettings settings;
        LoadSettings(settings, ini_, dir_);
        return settings;
    }

    support::TempDir folder_{"quillon-settings"};
    fs::path dir_;
    fs::path ini_;
};

TEST_F(SettingsFile, MissingFileGivesDefaultsAndASaveCreatesIt) {
    AppSettings settings = Load();
    EXPECT_EQ(settings.title, "Quillon");
    EXPECT_EQ(settings.iconPath, QString::fromStdString(dir_.string()) + "/imageico.ico");
    EXPECT_EQ(settings.WorkMode, "0");
    EXPECT_EQ(settings.Enter, "1");
    EXPECT_EQ(settings.url, "http://127.0.0.1:8080/");
    EXPECT_EQ(settings.timeout, "3000");
    EXPECT_EQ(settings.CodePage, 0);
    EXPECT_EQ(settings.HexOut, 0);
    EXPECT_EQ(settings.languageId, kLanguageChinese);
    EXPECT_EQ(UiLanguage(), kLanguageChinese);

    ASSERT_TRUE(SaveSettings(settings, ini_));
    EXPECT_EQ(Read(),
              "[init]\ntitle=Quillon\nimage=imageico.ico\nWorkMode=0\nEnter=1\n"
              "url=http://127.0.0.1:8080/\ntimeout=3000\nCodePage=0\n"
              "TlsVerifyHost=0\nTlsPinnedKey=\nOutbox=0\n");
}

// The network keys are read by the same rules and written back as they are.
TEST_F(SettingsFile, NetworkKeysAreReadAndWrittenBack) {
    struct Case {
        const char* lines;
        int verifyHost;
        const char* pin;
        int outbox;
    };
    const std::string pin = "sha256//" + std::string(43, 'A') + "=";
    const Case cases[] = {
        {"", 0, "", 0},
        {"TlsVerifyHost=1\nOutbox=1\n", 1, "", 1},
        {"TlsVerifyHost=yes\nOutbox=2x\n", 0, "", 2},
        {"TlsPinnedKey=", 0, "", 0},
    };
    for (const Case& c : cases) {
        Write(std::string("[init]\n") + c.lines);
        AppSettings settings = Load();
        EXPECT_EQ(settings.TlsVerifyHost, c.verifyHost) << c.lines;
        EXPECT_EQ(settings.TlsPinnedKey.toStdString(), c.pin) << c.lines;
        EXPECT_EQ(settings.Outbox, c.outbox) << c.lines;
    }
    Write("[init]\nTlsVerifyHost=1\nTlsPinnedKey=" + pin + "\nOutbox=1\n");
    AppSettings settings = Load();
    EXPECT_EQ(settings.TlsPinnedKey.toStdString(), pin);
    settings.Outbox = 0;
    ASSERT_TRUE(SaveSettings(settings, ini_));
    EXPECT_EQ(platform::IniReadString(ini_, "init", "TlsVerifyHost", ""), "1");
    EXPECT_EQ(platform::IniReadString(ini_, "init", "TlsPinnedKey", ""), pin);
    EXPECT_EQ(platform::IniReadString(ini_, "init", "Outbox", ""), "0");
}

TEST_F(SettingsFile, ValuesAreReadByTheirRules) {
    struct Case {
        const char* line;
        int codePage;
        int hexOut;
        int language;
    };
    const Case cases[] = {
        {"lang=cn", 0, 0, kLanguageChinese},
        {"lang=CN", 0, 0, kLanguageEnglish},  // the comparison is exact
        {"lang=en", 0, 0, kLanguageEnglish},
        {"CodePage=abc", 0, 0, kLanguageChinese},
        {"CodePage=936xyz", 936, 0, kLanguageChinese},
        {"CodePage= -5", -5, 0, kLanguageChinese},
        {"HexOut=1", 0, 1, kLanguageChinese},
        {"HexOut=yes", 0, 0, kLanguageChinese},
    };
    for (const Case& c : cases) {
        Write(std::string("[init]\n") + c.line + "\n");
        AppSettings settings = Load();
        EXPECT_EQ(settings.CodePage, c.codePage) << c.line;
        EXPECT_EQ(settings.HexOut, c.hexOut) << c.line;
        EXPECT_EQ(settings.languageId, c.language) << c.line;
        EXPECT_EQ(UiLanguage(), c.language) << c.line;
    }
}

TEST_F(SettingsFile, LongValuesAreCutTo259Units) {
    Write("[init]\ntitle=" + std::string(400, 'T') + "\n");
    EXPECT_EQ(Load().title.size(), 259);
    // A Chinese title counts UTF-16 units, not bytes.
    std::string chinese;
    for (int i = 0; i < 300; ++i) {
        chinese += "\xe4\xb8\xad";
    }
    Write("[init]\ntitle=" + chinese + "\n");
    EXPECT_EQ(Load().title, QString(259, QChar(0x4E2D)));
}

TEST_F(SettingsFile, ACutValueIsWrittenBackAsTheFileHeldIt) {
    // A url with a long token: 335 characters, of which 259 are read.
    const std::string url = "https://scans.example.invalid/in?token=" + std::string(296, 'k');
    ASSERT_EQ(url.size(), 335u);
    const std::string title(300, 'T');
    Write("[init]\ntitle=" + title + "\nimage=" + std::string(280, 'd') + "/mine.ico\nurl=" + url +
          "\n");
    AppSettings settings = Load();
    EXPECT_EQ(settings.url.toStdString(), url.substr(0, 259));
    ASSERT_TRUE(SaveSettings(settings, ini_));
    EXPECT_EQ(platform::IniReadString(ini_, "init", "url", ""), url);
    EXPECT_EQ(platform::IniReadString(ini_, "init", "title", ""), title);
    EXPECT_EQ(platform::IniReadString(ini_, "init", "image", ""), "mine.ico");

    // A value changed while the program ran is written as it is now.
    settings = Load();
    settings.url = "http://other.invalid/";
    settings.title = QString::fromStdString(title.substr(0, 100));
    ASSERT_TRUE(SaveSettings(settings, ini_));
    EXPECT_EQ(platform::IniReadString(ini_, "init", "url", ""), "http://other.invalid/");
    EXPECT_EQ(platform::IniReadString(ini_, "init", "title", ""), title.substr(0, 100));
}

TEST_F(SettingsFile, AValueWithALineBreakIsRefusedAndTheOldOneKept) {
    Write("[init]\ntitle=Mine\nurl=http://a.invalid/\n");
    AppSettings settings = Load();
    for (const char* broken : {"http://b.invalid/\nWorkMode=1", "http://b.invalid/\r"}) {
        settings.url = QString::fromLatin1(broken);
        settings.title = "Changed";
        EXPECT_FALSE(SaveSettings(settings, ini_)) << broken;
        EXPECT_EQ(platform::IniReadString(ini_, "init", "url", ""), "http://a.invalid/");
        EXPECT_EQ(platform::IniReadString(ini_, "init", "title", ""), "Changed")
            << "the other keys are still written";
        EXPECT_EQ(platform::IniReadString(ini_, "init", "WorkMode", "<none>"), "0");
    }
}

TEST_F(SettingsFile, SaveKeepsOtherKeysAndSectionsAndNeverWritesHexOutOrLang) {
    Write(
        "; made by hand\n[other]\nkeep=1\n[init]\nlang=en\nHexOut=1\nDirectoutput=1\n"
        "image=icons\\blue.ico\ncustom=x\n");
    AppSettings settings = Load();
    EXPECT_EQ(settings.iconPath, QString::fromStdString(dir_.string()) + "/icons\\blue.ico");
    settings.CodePage = 1252;
    settings.url = "http://example.invalid:9/scan";
    ASSERT_TRUE(SaveSettings(settings, ini_));

    EXPECT_EQ(platform::IniReadString(ini_, "other", "keep", ""), "1");
    EXPECT_EQ(platform::IniReadString(ini_, "init", "custom", ""), "x");
    EXPECT_EQ(platform::IniReadString(ini_, "init", "Directoutput", ""), "1");
    EXPECT_EQ(platform::IniReadString(ini_, "init", "image", ""), "blue.ico");
    EXPECT_EQ(platform::IniReadString(ini_, "init", "CodePage", ""), "1252");
    EXPECT_EQ(platform::IniReadString(ini_, "init", "url", ""), "http://example.invalid:9/scan");
    EXPECT_NE(Read().find("; made by hand\n"), std::string::npos);

    // With HexOut and lang removed, a save does not bring them back.
    platform::IniDeleteKey(ini_, "init", "HexOut");
    platform::IniDeleteKey(ini_, "init", "lang");
    ASSERT_TRUE(SaveSettings(Load(), ini_));
    EXPECT_EQ(platform::IniReadString(ini_, "init", "HexOut", "<none>"), "<none>");
    EXPECT_EQ(platform::IniReadString(ini_, "init", "lang", "<none>"), "<none>");
}

TEST_F(SettingsFile, ImageWithADirectoryIsWrittenBackAsItsFileName) {
    for (const char* image : {"sub/dir/mine.ico", "C:\\icons\\mine.ico", "mine.ico"}) {
        Write(std::string("[init]\nimage=") + image + "\n");
        ASSERT_TRUE(SaveSettings(Load(), ini_));
        EXPECT_EQ(platform::IniReadString(ini_, "init", "image", ""), "mine.ico") << image;
    }
}

TEST_F(SettingsFile, FileLiesBesideTheProgramOnlyWhenThatDirectoryIsWritable) {
    EXPECT_EQ(SettingsFilePath(dir_), dir_ / "ktr.ini");

    const fs::path config = dir_ / "config";
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    EXPECT_EQ(SettingsFilePath(dir_ / "no-such-directory"), config / "quillon" / "ktr.ini");
    EXPECT_TRUE(fs::is_directory(config / "quillon"));
    unsetenv("XDG_CONFIG_HOME");
}

// Installed in the system's folders, the program keeps ktr.ini with the user
// even where it could write (root): nothing is written under /usr.
TEST_F(SettingsFile, SystemProgramFoldersNeverHoldTheFile) {
    const fs::path config = dir_ / "config";
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    for (const char* system : {"/usr/bin", "/usr/local/bin", "/usr/bin/../lib", "/bin", "/sbin"}) {
        EXPECT_EQ(SettingsFilePath(system), config / "quillon" / "ktr.ini") << system;
    }
    // A folder of the user's that merely mentions usr is not a system one.
    fs::create_directories(dir_ / "usr" / "bin");
    EXPECT_EQ(SettingsFilePath(dir_ / "usr" / "bin"), dir_ / "usr" / "bin" / "ktr.ini");
    unsetenv("XDG_CONFIG_HOME");
}

TEST_F(SettingsFile, DirectOutputIsWrittenAtOnce) {
    Write("[init]\ntitle=Mine\n");
    ASSERT_TRUE(WriteDirectOutput(ini_, true));
    EXPECT_EQ(platform::IniReadString(ini_, "init", "Directoutput", ""), "1");
    ASSERT_TRUE(WriteDirectOutput(ini_, false));
    EXPECT_EQ(platform::IniReadString(ini_, "init", "Directoutput", ""), "0");
    EXPECT_EQ(platform::IniReadString(ini_, "init", "title", ""), "Mine");
}

// The autostart entry's Exec value, written as a desktop entry reader
// expects it: string escapes first, then quoting, then field codes.
TEST(AutorunEntry, ExecValueQuotesEscapesAndDoublesPercent) {
    struct Case {
        const char* program;
        const char* exec;
    };
    const Case cases[] = {
        {"/opt/quillon/bin/quillon", "/opt/quillon/bin/quillon -autorun"},
        {"/opt/100%/quillon", "/opt/100%%/quillon -autorun"},
        {"/home/u/My Tools/quillon", "\"/home/u/My Tools/quillon\" -autorun"},
        // A backslash: escaped inside the quotes, and that escape again as a string.
        {"/opt/a\\b/quillon", "\"/opt/a\\\\\\\\b/quillon\" -autorun"},
        {"/opt/$HOME/quillon", "\"/opt/\\\\$HOME/quillon\" -autorun"},
        {"/opt/\"q\"/100% `x`", "\"/opt/\\\\\"q\\\\\"/100%% \\\\`x\\\\`\" -autorun"},
        {"/opt/a\nb/quillon", "\"/opt/a\\nb/quillon\" -autorun"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AutorunExecValue(c.program), c.exec) << c.program;
    }
}

}  // namespace
