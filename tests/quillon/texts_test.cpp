// The string table, the identity text, the code page list and the autorun
// rules: what the window and the dialogs show and store.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "autorun.h"
#include "code_pages.h"
#include "settings.h"
#include "string_table.h"
#include "support/temp_dir.h"
#include "usb_interface_name.h"

namespace fs = std::filesystem;
using namespace quillon;

namespace {

TEST(StringTable, LanguageSelectsTheSet) {
    SetUiLanguage(kLanguageEnglish);
    EXPECT_EQ(LoadText(IDS_DEVICE_NOT_CONNECTED), "Device not connected");
    EXPECT_EQ(LoadText(IDS_SERIAL_NUMBER), "Serial Nubmer: ");
    EXPECT_EQ(LoadText(IDS_INTERFACE_ERROR), "Interface communication error!");
    SetUiLanguage(kLanguageChinese);
    EXPECT_EQ(LoadText(IDS_DEVICE_NOT_CONNECTED), QString::fromUtf8("设备未连接"));
    EXPECT_EQ(LoadText(IDS_INTERFACE_ERROR), QString::fromUtf8("接口通讯错误！ "));
    // Every id of the table has a text in both languages; others have none.
    for (int id = 101; id <= 117; ++id) {
        SetUiLanguage(kLanguageEnglish);
        EXPECT_FALSE(LoadText(id).isEmpty()) << id;
        SetUiLanguage(kLanguageChinese);
        EXPECT_FALSE(LoadText(id).isEmpty()) << id;
    }
    EXPECT_TRUE(LoadText(100).isEmpty());
    EXPECT_TRUE(LoadText(118).isEmpty());
}

// The notices of network output exist in both languages, and the counted
// ones have a place for the count in both.
TEST(StringTable, NetworkNoticesHaveBothLanguages) {
    for (int id : {IDS_SCANS_WAITING, IDS_SCAN_REFUSED, IDS_QUEUE_FULL}) {
        SetUiLanguage(kLanguageEnglish);
        const QString english = LoadText(id);
        SetUiLanguage(kLanguageChinese);
        const QString chinese = LoadText(id);
        EXPECT_FALSE(english.isEmpty()) << id;
        EXPECT_FALSE(chinese.isEmpty()) << id;
        EXPECT_NE(english, chinese) << id;
        if (id != IDS_SCAN_REFUSED) {
            EXPECT_TRUE(english.arg(7).contains(QLatin1Char('7'))) << id;
            EXPECT_TRUE(chinese.arg(7).contains(QLatin1Char('7'))) << id;
        }
    }
}

TEST(StringTable, IdentityTextIsFilledAndCutTo255Units) {
    SetUiLanguage(kLanguageEnglish);
    EXPECT_EQ(FormatDeviceIdentity("KTR-100", "SN42", "V1.2"),
              "Product Name:  KTR-100\nSerial Number: SN42\nFirmware Version: V1.2\n\n");
    SetUiLanguage(kLanguageChinese);
    EXPECT_EQ(FormatDeviceIdentity("A", "B", "C"),
              QString::fromUtf8("产品名称：A\n序列号：B\n固件版本号：C\n\n"));
    // A value holding the marker is not filled a second time.
    SetUiLanguage(kLanguageEnglish);
    EXPECT_EQ(FormatDeviceIdentity("%hs", "x", "y"),
              "Product Name:  %hs\nSerial Number: x\nFirmware Version: y\n\n");
    EXPECT_EQ(FormatDeviceIdentity(QString(300, 'P'), "S", "F").size(), 255);
}

TEST(CodePages, MapFindsNamesInNameOrderAndTypedNamesGiveZero) {
    CodePageMap map = MakeCodePageMap();
    ASSERT_EQ(map.size(), kCodePageList.size());
    EXPECT_EQ(FindCodePageName(map, 936), "Chinese Simplified (GB2312)");
    EXPECT_EQ(FindCodePageName(map, 0), "ANSI");
    EXPECT_EQ(FindCodePageName(map, 65001), "");
    EXPECT_EQ(CodePageFromText(map, "Korean"), 949);
    EXPECT_EQ(CodePageFromText(map, "korean"), 0);  // names match exactly
    EXPECT_EQ(CodePageFromText(map, "UTF-8 please"), 0);
    // Typed names are entered with 0 and then found in the map's own order:
    // "0 custom" sorts before "ANSI".
    CodePageFromText(map, "0 custom");
    EXPECT_EQ(FindCodePageName(map, 0), "0 custom");
}

class Autorun : public testing::Test {
  protected:
    void SetUp() override {
        dir_ = folder_.Path();
        ASSERT_FALSE(dir_.empty());
        setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
    }
    void TearDown() override { unsetenv("XDG_CONFIG_HOME"); }
    std::string Entry() {
        std::ifstream in(dir_ / "autostart" / "quillon.desktop");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    support::TempDir folder_{"quillon-autorun"};
    fs::path dir_;
};

TEST_F(Autorun, EntryRunsTheProgramWithAutorun) {
    ASSERT_TRUE(RegisterAutorun("/opt/tools/quillon"));
    EXPECT_EQ(AutorunEntryPath(), dir_ / "autostart" / "quillon.desktop");
    EXPECT_NE(Entry().find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(Entry().find("\nExec=/opt/tools/quillon -autorun\n"), std::string::npos);
    EXPECT_NE(Entry().find("\nType=Application\n"), std::string::npos);
    // A path with a blank is quoted, or the session would run "/opt/my".
    ASSERT_TRUE(RegisterAutorun("/opt/my tools/quillon"));
    EXPECT_NE(Entry().find("\nExec=\"/opt/my tools/quillon\" -autorun\n"), std::string::npos);
}

TEST_F(Autorun, UnwritableLocationReportsFailure) {
    std::ofstream(dir_ / "autostart") << "a file where the folder should be";
    EXPECT_FALSE(RegisterAutorun("/opt/tools/quillon"));
}

TEST(AutorunStart, OnlyASingleAutorunArgumentCounts) {
    struct Case {
        std::vector<const char*> argv;
        bool autorun;
    };
    const Case cases[] = {
        {{"quillon", "-autorun"}, true},
        {{"quillon", "-AutoRun"}, true},
        {{"quillon"}, false},
        {{"quillon", "autorun"}, false},
        {{"quillon", "-autorun", "x"}, false},
        {{"quillon", "--autorun"}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsAutorunStart(static_cast<int>(c.argv.size()), c.argv.data()), c.autorun)
            << c.argv.size();
    }
}

}  // namespace

namespace {

TEST(UsbInterfaceNames, AreMadeFromTheKernelsProductValue) {
    struct Case {
        const char* product;
        const char* serial;
        const char* name;
    };
    const Case cases[] = {
        {"1eab/d10/100", "SIM0001",
         "\\\\?\\usb#vid_1eab&pid_0d10#sim0001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"},
        {"5e0/1200/0", "", "\\\\?\\usb#vid_05e0&pid_1200##{a5dcbf10-6530-11d2-901f-00c04fb951ed}"},
        {"1eab", "X", ""},
        {"zz/10/1", "X", ""},
        {"10000/1/1", "X", ""},
        {"", "X", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(quillon::UsbInterfaceName(c.product, c.serial).toStdString(), c.name)
            << c.product;
    }
}

}  // namespace
