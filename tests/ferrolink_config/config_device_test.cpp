// The configuration exports against the scanner simulator over real ptys.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <tinyxml.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "config_download.h"
#include "ferrolink/config.h"
#include "scansim/scanner.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// Runs each test in a fresh runtime namespace and working directory.
class ConfigDevice : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = folder_.Path();
        ASSERT_FALSE(dir_.empty());
        previous_ = fs::current_path();
        fs::current_path(dir_);
        g_nDeviceBufSize = 128;
        SetSaveType(0);
    }
    void TearDown() override {
        scanners_.clear();
        fs::current_path(previous_);
        SetSaveType(0);
    }

    // A scanner on COM `port` and a record that addresses it.
    scansim::Scanner& StartScanner(unsigned port, scansim::ScannerOptions options = {}) {
        options.attachment = scansim::Attachment::kCom;
        options.comPort = port;
        std::string error;
        auto scanner = scansim::Scanner::Start(options, &error);
        EXPECT_NE(scanner, nullptr) << error;
        scanners_.push_back(std::move(scanner));
        return *scanners_.back();
    }
    static _QVDeviceInfo Record(unsigned port) {
        _QVDeviceInfo record;
        std::memset(static_cast<void*>(&record), 0, sizeof(record));
        std::strcpy(record.szProductName, "KTR Sim Scanner");
        std::strcpy(record.szSerialNumber, "SIM0001");
        ComPortSettings settings{static_cast<uint16_t>(port), 115200, 8};
        std::memcpy(&record.connInfo, &settings, sizeof(settings));
        record.nPortType = 1;
        return record;
    }
    // The texts of every frame the scanner received, without header and end.
    static std::vector<std::string> FrameTexts(const scansim::Scanner& scanner) {
        std::vector<std::string> texts;
        for (const scansim::Received& r : scanner.Log()) {
            if (r.kind != scansim::Received::Kind::kFrame || r.bytes.size() < 9)
                continue;
            texts.push_back(r.bytes.substr(7, r.bytes.size() - 9));
        }
        return texts;
    }
    std::string WriteSet(const char* name,
                         const std::vector<std::pair<const char*, const char*>>& commands) {
        std::ofstream out(dir_ / name);
        out << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Tarnwell DeviceType=\"X\">\n";
        for (const auto& [n, v] : commands) {
            out << "<Command CommandName=\"" << n << "\" Value=\"" << v << "\"/>\n";
        }
        out << "</Tarnwell>\n";
        return (dir_ / name).string();
    }

    support::TempDir folder_{"ferrolink-config"};
    support::RuntimeDir runtime_{"ferrolink-config-ns"};
    fs::path dir_;
    fs::path previous_;
    std::vector<std::unique_ptr<scansim::Scanner>> scanners_;
};

using Commands = std::vector<std::pair<std::string, std::string>>;

Commands ReadCommands(const fs::path& file) {
    Commands commands;
    TiXmlDocument doc;
    if (!doc.LoadFile(file.c_str()))
        return commands;
    for (auto* c = doc.RootElement()->FirstChildElement("Command"); c;
         c = c->NextSiblingElement("Command")) {
        commands.emplace_back(c->Attribute("CommandName"), c->Attribute("Value"));
    }
    return commands;
}

scansim::ScannerOptions SmallTable() {
    scansim::ScannerOptions options;
    scansim::SettingsTable table;
    table.Define("232BAD", "6", "0-9");
    table.Define("232PAR", "0", "0-2");
    table.Define("ALLENA", "1", "0|1");
    table.Define("CSUSET", "", "*");
    table.Define("APSENA", "", "*");
    table.Define("DFMADD", "", "*");
    table.Define("INTERF", "0", "0-4");
    options.settings = table;
    return options;
}

TEST_F(ConfigDevice, ConfigSetFileHoldsTheDeviceValues) {
    scansim::Scanner& scanner = StartScanner(5, SmallTable());
    ASSERT_TRUE(scanner.SetSetting("DFMADD", "X;Y;"));
    const _QVDeviceInfo record = Record(5);
    qv_SaveXml(&record);
    EXPECT_EQ(ReadCommands(dir_ / "test.xml"), (Commands{{"232BAD", "6"},
                                                         {"232PAR", "0"},
                                                         {"ALLENA", "1"},
                                                         {"CSUSET", ""},
                                                         {"DFMADD", "X;Y;"},
                                                         {"INTERF", "0"}}));
    TiXmlDocument doc;
    ASSERT_TRUE(doc.LoadFile((dir_ / "test.xml").c_str()));
    EXPECT_STREQ(doc.RootElement()->Attribute("DeviceType"), "KTR Sim Scanner");
}

TEST_F(ConfigDevice, OfficeFileDescribesAllButTheLastSetting) {
    StartScanner(6, SmallTable());
    const _QVDeviceInfo record = Record(6);
    EXPECT_EQ(SaveOffice(&record), 1);
    TiXmlDocument doc;
    ASSERT_TRUE(doc.LoadFile((dir_ / "Office.xml").c_str()));
    std::vector<std::string> names;
    for (auto* c = doc.RootElement()->FirstChildElement("Command"); c;
         c = c->NextSiblingElement("Command")) {
        names.push_back(c->FirstChildElement("CommandName")->GetText());
        if (names.back() == "232PAR") {
            EXPECT_STREQ(c->FirstChildElement("Maximum")->GetText(), "2");
            EXPECT_STREQ(c->FirstChildElement("SettingsList")->GetText(), "0-2");
        }
    }
    // FACDEF first, then the settings; INTERF, the last, is left out.
    EXPECT_EQ(names, (std::vector<std::string>{"FACDEF", "232BAD", "232PAR", "ALLENA", "CSUSET",
                                               "APSENA", "DFMADD"}));
}

TEST_F(ConfigDevice, OfficeOnAnAbsentPortFailsAndKeepsTheOldFile) {
    std::ofstream(dir_ / "Office.xml") << "kept";
    const _QVDeviceInfo record = Record(9);
    EXPECT_EQ(SaveOffice(&record), 0);
    std::ifstream in(dir_ / "Office.xml");
    std::string text;
    in >> text;
    EXPECT_EQ(text, "kept");
}

TEST_F(ConfigDevice, DownloadFramesOfBothRecordForms) {
    scansim::Scanner& scanner = StartScanner(7);
    const _QVDeviceInfo record = Record(7);
    const std::string set = WriteSet("set.xml", {{"ALLENA", "1"},
                                                 {"ALL1DC", "0"},
                                                 {"APSENA", "1"},
                                                 {"232BAD", "6"},
                                                 {"INTERF", "2"},
                                                 {"INTERF", "0"},
                                                 {"DFMADD", "1:X;2:Y;3:Z"}});
    struct Case {
        bool unified;
        intptr_t saveType;
        std::string final;
    } cases[] = {
        {false, 0, "232BAD6;INTERF0;DFMCAL;DFMADDX;Y;;BASSFY;SAVEFY;BASRES"},
        {true, 0, "232BAD6;INTERF0;DFMCAL;DFMADDX;Y;;;"},
        {true, 1, "232BAD6;INTERF0;DFMCAL;DFMADDX;Y;;;CUSSAV"},
    };
    for (const Case& c : cases) {
        SetSaveType(c.saveType);
        scanner.ClearLog();
        std::vector<char> name(set.begin(), set.end());
        name.push_back('\0');
        const bool ok = c.unified ? qv_SavetoDeviceAN_U(name.data(), &record)
                                  : qv_SavetoDeviceAN(name.data(), &record);
        EXPECT_TRUE(ok);
        EXPECT_EQ(FrameTexts(scanner),
                  (std::vector<std::string>{"BUFQRY", "ALLENA1,1DC0;APSENA1", c.final}));
    }
    // The group joined by ',' reached both settings, the data format too.
    EXPECT_EQ(scanner.SettingValue("ALL1DC"), "0");
    EXPECT_EQ(scanner.SettingValue("DFMADD"), "X;Y;");
}

scansim::ScannerOptions ManySettings(int count, unsigned bufferSize) {
    scansim::ScannerOptions options;
    scansim::SettingsTable table;
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof(name), "S%02d%03d", i / 7 % 100, i);
        table.Define(name, "0", "*");
    }
    options.settings = table;
    options.bufferSize = bufferSize;
    return options;
}

TEST_F(ConfigDevice, BatchesFollowTheBufferSizeLimitedToThreeHundredOnlyInTheOlderForm) {
    const std::vector<std::pair<std::string, std::string>> values = [] {
        std::vector<std::pair<std::string, std::string>> v;
        for (int i = 0; i < 120; ++i) {
            char name[32];
            std::snprintf(name, sizeof(name), "S%02d%03d", i / 7 % 100, i);
            v.emplace_back(name, std::to_string(i % 10));
        }
        return v;
    }();
    std::vector<std::pair<const char*, const char*>> commands;
    for (const auto& [n, v] : values)
        commands.emplace_back(n.c_str(), v.c_str());
    std::string set = WriteSet("many.xml", commands);
    set.push_back('\0');

    struct Case {
        unsigned deviceBuffer;
        bool unified;
        size_t limit;
    } cases[] = {{1024, false, 300 - 9}, {1024, true, 1024 - 9}, {128, false, 128 - 9}};
    unsigned port = 10;
    for (const Case& c : cases) {
        scansim::Scanner& scanner = StartScanner(port, ManySettings(120, c.deviceBuffer));
        const _QVDeviceInfo record = Record(port++);
        const bool ok = c.unified ? qv_SavetoDeviceAN_U(set.data(), &record)
                                  : qv_SavetoDeviceAN(set.data(), &record);
        EXPECT_TRUE(ok);
        EXPECT_EQ(g_nDeviceBufSize, static_cast<int>(c.limit + 9));
        const std::vector<std::string> texts = FrameTexts(scanner);
        ASSERT_GE(texts.size(), 3u);
        // Every full batch passed the limit with its last item, not before.
        for (size_t i = 1; i + 2 < texts.size(); ++i) {
            EXPECT_GT(texts[i].size(), c.limit) << c.deviceBuffer << " frame " << i;
            EXPECT_LE(texts[i].find_last_of(";,"), c.limit) << c.deviceBuffer << " frame " << i;
        }
        EXPECT_EQ(scanner.SettingValue("S17119"), "9");
    }
}

TEST_F(ConfigDevice, RefusedPartIsListedInTheOperationLog) {
    const fs::path logDir = fs::read_symlink("/proc/self/exe").parent_path() / "log";
    fs::create_directories(logDir);
    scansim::Scanner& scanner = StartScanner(8);
    const _QVDeviceInfo record = Record(8);
    // ALL1DC accepts 0 or 1: 7 is refused, the part after it is accepted.
    std::string set = WriteSet("nak.xml", {{"ALLENA", "1"}, {"ALL1DC", "7"}, {"ALL2DC", "0"}});
    set.push_back('\0');
    EXPECT_TRUE(qv_SavetoDeviceAN(set.data(), &record));
    EXPECT_EQ(scanner.SettingValue("ALL2DC"), "0");

    // The newest entry of today's file carries the refused part and its '|'.
    std::string lastError;
    for (const auto& entry : fs::directory_iterator(logDir)) {
        std::ifstream in(entry.path());
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("strError=", 0) == 0)
                lastError = line.substr(9);
        }
    }
    EXPECT_NE(lastError.find("ALL1DC7\x15|"), std::string::npos) << lastError;
}

TEST_F(ConfigDevice, PortDownloadKeepsTheLinkSettings) {
    scansim::Scanner& scanner = StartScanner(4);
    ASSERT_TRUE(scanner.SetSetting("232BAD", "7"));
    std::string set = WriteSet("port.xml", {{"ALLENA", "0"}, {"232BAD", "4"}});
    set.push_back('\0');
    EXPECT_TRUE(qv_SavetoDevice(set.data(), 4, 115200));
    const std::vector<std::string> texts = FrameTexts(scanner);
    ASSERT_GE(texts.size(), 3u);
    EXPECT_EQ(texts[0], "INTERF*");
    EXPECT_EQ(texts.back(), "232BAD4;BASSFY;SAVEFY;BASRES");
    EXPECT_NE(std::find(texts.begin(), texts.end(),
                        "GENDEF;INTERF0;AUTOUR0;232BAD7;232PAR0;232STP0;"
                        "232DAT1;KBWPOR0;"),
              texts.end());
    EXPECT_EQ(scanner.SettingValue("ALLENA"), "0");
    EXPECT_FALSE(qv_SavetoDevice(set.data(), 44, 115200)) << "no scanner there";
}

TEST_F(ConfigDevice, SettingsTravelFromOneScannerToAnother) {
    scansim::Scanner& source = StartScanner(11);
    scansim::Scanner& target = StartScanner(12);
    const struct {
        const char* name;
        const char* value;
    } changes[] = {{"232BAD", "3"}, {"INTERF", "2"},     {"ALLENA", "0"}, {"ALL1DC", "0"},
                   {"APSENA", "1"}, {"CSUSET", "hello"}, {"KBWPOR", "3"}, {"232AFL", "1"}};
    for (const auto& c : changes)
        ASSERT_TRUE(source.SetSetting(c.name, c.value)) << c.name;

    const _QVDeviceInfo from = Record(11);
    const _QVDeviceInfo to = Record(12);
    qv_SaveXml(&from);
    fs::rename(dir_ / "test.xml", dir_ / "source.xml");
    std::string set = (dir_ / "source.xml").string();
    set.push_back('\0');
    EXPECT_TRUE(qv_SavetoDeviceAN(set.data(), &to));
    qv_SaveXml(&to);
    EXPECT_EQ(ReadCommands(dir_ / "test.xml"), ReadCommands(dir_ / "source.xml"));
    EXPECT_EQ(target.SettingValue("CSUSET"), "hello");
}

}  // namespace
