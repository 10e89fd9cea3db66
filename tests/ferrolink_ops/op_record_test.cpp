// The operation log: bounded entries, the per-day file beside the host
// program or in the user's state folder, and files that a standard ini
// reader accepts.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "op_record.h"
#include "ops_fixture.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

std::string RunCapture(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return output;
    std::array<char, 4096> chunk{};
    size_t n = 0;
    while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
        output.append(chunk.data(), n);
    pclose(pipe);
    return output;
}

std::string Today() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char text[16];
    std::strftime(text, sizeof(text), "%Y-%m-%d", &tm);
    return text;
}

// A copy of the helper program in a directory of its own, so its log folder
// is private to the test.
class OpsHostInDirectory : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* bin = std::getenv("SUITE_BIN_DIR");
        ASSERT_NE(bin, nullptr);
        binDir = bin;
        host = dir.Path() / "ferrolink_ops_host";
        fs::copy_file(binDir / "ferrolink_ops_host", host);
    }

    // withTrace: the library's trace lines are captured along with the output.
    std::string Run(const std::string& arguments, bool withTrace = false) {
        // The user's state folder is the test's own, so a log folder of the
        // machine's user never takes the entries.
        return RunCapture(std::string(withTrace ? "TIDESTREAM_LOG_LEVEL=5 " : "") +
                          "XDG_STATE_HOME='" + StateHome().string() + "' LD_LIBRARY_PATH='" +
                          binDir.string() + "' '" + host.string() + "' " + arguments +
                          (withTrace ? " 2>&1" : " 2>/dev/null"));
    }

    fs::path DayFile() const { return dir.Path() / "log" / (Today() + ".ini"); }
    fs::path StateHome() const { return dir.Path() / "state"; }
    fs::path StateLogFolder() const { return StateHome() / "ferrolink" / "log"; }

    // Sections and keys in file order, read by Python's configparser.
    std::string ReadWithConfigParser() {
        const std::string script =
            "import configparser,sys\n"
            "p=configparser.ConfigParser(interpolation=None)\n"
            "p.optionxform=str\n"
            "p.read(sys.argv[1])\n"
            "for s in p.sections():\n"
            "  print('['+s+']')\n"
            "  for k,v in p.items(s): print(k+'='+v)\n";
        const fs::path scriptFile = dir.Path() / "read.py";
        std::ofstream(scriptFile) << script;
        return RunCapture("python3 '" + scriptFile.string() + "' '" + DayFile().string() + "'");
    }

    support::TempDir dir{"ferrolink-ops-host"};
    fs::path binDir;
    fs::path host;
};

TEST_F(OpsHostInDirectory, WithoutLogFolderNothingIsWrittenOrCreated) {
    const std::string output = Run("record 1 0 SN1 fw.bin ''", true);
    EXPECT_NE(output.find("WriteRecord: SN=SN1 Error"), std::string::npos) << output;
    EXPECT_EQ(output.find("Success"), std::string::npos) << output;
    EXPECT_FALSE(fs::exists(dir.Path() / "log"));
}

// The folder beside the program wins; without it the user's state folder
// takes the entries; neither folder is ever made.
TEST_F(OpsHostInDirectory, EntriesGoToTheFirstLogFolderThatExists) {
    struct Case {
        bool beside;
        bool state;
        const char* expected;  // "beside", "state" or "" (nowhere)
    };
    const Case cases[] = {{true, true, "beside"},
                          {true, false, "beside"},
                          {false, true, "state"},
                          {false, false, ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("beside=") + (c.beside ? "yes" : "no") +
                     " state=" + (c.state ? "yes" : "no"));
        fs::remove_all(dir.Path() / "log");
        fs::remove_all(StateHome());
        if (c.beside)
            fs::create_directory(dir.Path() / "log");
        if (c.state)
            fs::create_directories(StateLogFolder());
        const std::string output = Run("record 1 0 SN-WHERE fw.bin ''", true);
        const fs::path besideFile = DayFile();
        const fs::path stateFile = StateLogFolder() / (Today() + ".ini");
        EXPECT_EQ(fs::exists(besideFile), std::string(c.expected) == "beside") << output;
        EXPECT_EQ(fs::exists(stateFile), std::string(c.expected) == "state") << output;
        EXPECT_EQ(fs::exists(dir.Path() / "log"), c.beside);
        EXPECT_EQ(fs::exists(StateLogFolder()), c.state);
        EXPECT_NE(output.find(std::string(c.expected).empty() ? "SN=SN-WHERE Error"
                                                              : "SN=SN-WHERE Success"),
                  std::string::npos)
            << output;
    }
}

// A relative XDG_STATE_HOME is no base directory: the entry is not written
// relative to the working directory.
TEST_F(OpsHostInDirectory, RelativeStateHomeIsIgnored) {
    fs::create_directories(dir.Path() / "rel" / "ferrolink" / "log");
    const std::string output = RunCapture(
        "cd '" + dir.Path().string() + "' && TIDESTREAM_LOG_LEVEL=5 XDG_STATE_HOME=rel HOME='" +
        (dir.Path() / "home").string() + "' LD_LIBRARY_PATH='" + binDir.string() + "' '" +
        host.string() + "' record 1 0 SN-REL fw.bin '' 2>&1");
    EXPECT_NE(output.find("SN=SN-REL Error"), std::string::npos) << output;
    EXPECT_TRUE(fs::is_empty(dir.Path() / "rel" / "ferrolink" / "log"));
}

TEST_F(OpsHostInDirectory, EntriesOpenInConfigParserWithTheirKeysInOrder) {
    fs::create_directory(dir.Path() / "log");
    EXPECT_EQ(Run("record 1 6 SN-UPD /tmp/fw.bin 'stale text'"), "left=\n");
    EXPECT_EQ(Run("record 0 -1 SN-CFG /tmp/set.xml 'ALLENA9|INTERF7|'"), "left=\n");
    ASSERT_TRUE(fs::exists(DayFile()));

    const std::string parsed = ReadWithConfigParser();
    const std::regex layout(
        "\\[(\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d)\\]\n"
        "DevSn=SN-UPD\nOpeCommand=Update\nOpeFile=/tmp/fw.bin\nErrorInfo=6\nstrError=\n"
        "\\[(\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d)\\]\n"
        "DevSn=SN-CFG\nOpeCommand=SetConfig\nOpeFile=/tmp/set.xml\nErrorInfo=-1\n"
        "strError=ALLENA9\\|INTERF7\\|\n");
    std::smatch match;
    EXPECT_TRUE(std::regex_match(parsed, match, layout)) << parsed;
}

TEST_F(OpsHostInDirectory, EntriesFromManyThreadsStayWhole) {
    fs::create_directory(dir.Path() / "log");
    EXPECT_EQ(Run("burst 6"), "");
    const std::string parsed = ReadWithConfigParser();
    // Entries of the same millisecond share a section, the later values
    // replacing the earlier; every section still holds all five keys in order.
    const std::string entry =
        "\\[\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d\\]\n"
        "DevSn=T\\d\nOpeCommand=Update\nOpeFile=f\\d-\\d\nErrorInfo=\\d\nstrError=\n";
    ASSERT_FALSE(parsed.empty());
    EXPECT_TRUE(std::regex_match(parsed, std::regex("(" + entry + ")+"))) << parsed;
}

TEST(OpsOpRecord, EveryFieldIsCutToItsSize) {
    _QVDeviceInfo device;
    std::memset(static_cast<void*>(&device), 'S', sizeof(device));  // unterminated serial
    device.pOpenStream = nullptr;
    const std::string longName(1000, 'f');
    std::memset(g_szLastConfigError, 'e', sizeof(g_szLastConfigError) - 1);
    g_szLastConfigError[sizeof(g_szLastConfigError) - 1] = '\0';

    static OpRecord record;
    BuildOpRecord(record, &device, longName.c_str(), -1, 0);
    EXPECT_STREQ(record.szOpeCommand, "SetConfig");
    EXPECT_EQ(std::string(record.szOpeFile), std::string(259, 'f'));
    EXPECT_EQ(std::string(record.szDevSn), std::string(32, 'S'));
    EXPECT_EQ(std::string(record.szStrError), std::string(4095, 'e'));
    EXPECT_EQ(record.nErrorInfo, -1);
    EXPECT_TRUE(std::regex_match(std::string(record.szTime),
                                 std::regex("\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d")));

    BuildOpRecord(record, &device, nullptr, 3, 1);
    EXPECT_STREQ(record.szOpeCommand, "Update");
    EXPECT_STREQ(record.szOpeFile, "");
    EXPECT_STREQ(record.szStrError, "") << "an update entry carries no configuration error";
    std::memset(g_szLastConfigError, 0, sizeof(g_szLastConfigError));
}

TEST(OpsOpRecord, DayNameIsTheLocalDate) {
    EXPECT_EQ(CurrentDayName(), Today());
}

}  // namespace
