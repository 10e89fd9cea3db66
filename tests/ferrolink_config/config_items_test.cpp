// Group-query replies taken apart into entries, and the two XML documents.
#include <gtest/gtest.h>
#include <tinyxml.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "config_items.h"
#include "config_xml.h"

namespace {

namespace fs = std::filesystem;
using ferrolink_config::ReplyItems;

const std::string kAck = "\x06";
const std::string kNak = "\x15";
const std::string kEnd = ";\x03";

struct ItemCase {
    const char* what;
    std::string reply;
    std::vector<std::string> items;
};

TEST(ConfigReplyItems, ItemRuleOverReplies) {
    const std::vector<ItemCase> cases = {
        {"group joined by ','",
         "232BAD6" + kAck + ",PAR0" + kAck + ";ALLENA1" + kAck + kEnd,
         {"232BAD6" + kAck, "232PAR0" + kAck, "ALLENA1" + kAck}},
        {"last piece is the end byte", "ALLENA1" + kAck + kEnd, {"ALLENA1" + kAck}},
        {"no ';' at all", "ALLENA1", {}},
        {"empty reply", "", {}},
        {"empty piece yields no item", ";;ALLENA1" + kAck + kEnd, {"ALLENA1" + kAck}},
        {"short first part still lends its head", "AB,C" + kAck + kEnd, {"AB", "ABC" + kAck}},
    };
    for (const ItemCase& c : cases) {
        EXPECT_EQ(ReplyItems(c.reply), c.items) << c.what;
    }
}

struct Collected {
    std::string name;
    std::string value;
    bool operator==(const Collected&) const = default;
};

std::vector<Collected> Collect(const std::string& reply, const std::string& dataFormat = "") {
    std::vector<Collected> out;
    for (const ConfigEntry& e : CollectConfigEntries(reply, [&] { return dataFormat; })) {
        out.push_back({e.szName, e.szValue});
    }
    return out;
}

TEST(ConfigReplyItems, ConfigSetEntriesKeepOrderAndOnlyTheTextSettingsMayBeEmpty) {
    EXPECT_EQ(Collect("232BAD6" + kAck + ",PAR0" + kAck + ";ALLENA1" + kAck + kEnd),
              (std::vector<Collected>{{"232BAD", "6"}, {"232PAR", "0"}, {"ALLENA", "1"}}));
    EXPECT_EQ(
        Collect("CSUSET" + kAck + ";CPRSET" + kAck + ";APSENA" + kAck + ";FACDEF" + kAck + kEnd),
        (std::vector<Collected>{{"CSUSET", ""}, {"CPRSET", ""}}));
}

TEST(ConfigReplyItems, DataFormatValueComesFromItsOwnQuery) {
    EXPECT_EQ(Collect("DFMADDstale" + kAck + ";ALLENA1" + kAck + kEnd, "X;Y;"),
              (std::vector<Collected>{{"DFMADD", "X;Y;"}, {"ALLENA", "1"}}));
    // An empty data format drops the item like any other empty value.
    EXPECT_EQ(Collect("DFMADDstale" + kAck + kEnd, ""), std::vector<Collected>{});
}

TEST(ConfigReplyItems, LongDeviceTextsAreCutToTheFields) {
    const std::string longValue(5000, 'v');
    const std::vector<ConfigEntry> entries = CollectConfigEntries(
        "LONGNAME_IS_HERE" + longValue + kAck + kEnd, [] { return std::string(); });
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(std::strlen(entries[0].szName), 6u);
    EXPECT_EQ(std::strlen(entries[0].szValue), sizeof(entries[0].szValue) - 1);

    std::vector<OfficeEntry> office;
    const std::string defaults = "ALLENA" + longValue + kAck + kEnd;
    ReadDefaultsReply(defaults.c_str(), office);
    ReadRangesReply(defaults.c_str(), office);
    ASSERT_EQ(office.size(), 1u);
    EXPECT_EQ(std::strlen(office[0].szDefault), sizeof(office[0].szDefault) - 1);
    EXPECT_EQ(std::strlen(office[0].szRange), sizeof(office[0].szRange) - 1);
}

// The raw "@&" reply: its first piece still carries the reply header and FACDEF.
const std::string kRawHeader = std::string("\x02\x01") + "0000" + "0";

TEST(ConfigOfficeEntries, DefaultsAndRangesMeetByName) {
    std::vector<OfficeEntry> entries;
    const std::string defaults = kRawHeader + "FACDEF" + kAck + ";232BAD6" + kAck + ",PAR0" + kAck +
                                 ";ALLENA1" + kAck + kEnd;
    ReadDefaultsReply(defaults.c_str(), entries);
    const std::string ranges = kRawHeader + "FACDEF" + kAck + ";232BAD0-9" + kAck + ";NOSUCH1|2" +
                               kAck + ";ALLENA0|1" + kAck + kEnd;
    ReadRangesReply(ranges.c_str(), entries);

    ASSERT_EQ(entries.size(), 4u);
    EXPECT_STREQ(entries[0].szName, "FACDEF");
    EXPECT_STREQ(entries[0].szDefault, "FACDEF");
    EXPECT_STREQ(entries[1].szDefault, "232BAD6");
    EXPECT_STREQ(entries[1].szRange, "232BAD0-9");
    EXPECT_STREQ(entries[2].szName, "232PAR");
    EXPECT_STREQ(entries[2].szRange, "") << "no range item for it";
    EXPECT_STREQ(entries[3].szRange, "ALLENA0|1");
}

TEST(ConfigOfficeEntries, RangeBoundsAreTheSmallestAndLargestNumber) {
    struct Case {
        const char* range;
        int low, high;
    } cases[] = {{"0-9", 0, 9}, {"7", 7, 7}, {"12|0-3|5", 0, 12},
                 {"*", 0, 0},   {"", 0, 0},  {"99999999999999", 2147483647, 2147483647}};
    for (const Case& c : cases) {
        int low = -1, high = -1;
        ferrolink_config::RangeBounds(c.range, &low, &high);
        EXPECT_EQ(low, c.low) << c.range;
        EXPECT_EQ(high, c.high) << c.range;
    }
}

class ConfigXmlFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("ferrolink_config_xml_" +
                std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string Path(const char* name) const { return (dir_ / name).string(); }
    fs::path dir_;
};

OfficeEntry Office(const char* name, const char* def, const char* range) {
    OfficeEntry e{};
    std::strcpy(e.szName, name);
    std::strcpy(e.szDefault, def);
    std::strcpy(e.szRange, range);
    return e;
}

std::string ChildText(const TiXmlElement* parent, const char* name) {
    const TiXmlElement* child = parent->FirstChildElement(name);
    if (child == nullptr)
        return "<missing>";
    return child->GetText() ? child->GetText() : "";
}

TEST_F(ConfigXmlFiles, OfficeDocumentLeavesOutTheLastEntry) {
    const std::vector<OfficeEntry> entries = {Office("232BAD", "232BAD6", "232BAD0-9"),
                                              Office("CSUSET", "CSUSET", ""),
                                              Office("ALLENA", "ALLENA1", "ALLENA0|1")};
    ASSERT_TRUE(WriteOfficeXml(Path("Office.xml").c_str(), entries));

    TiXmlDocument doc;
    ASSERT_TRUE(doc.LoadFile(Path("Office.xml").c_str()));
    const TiXmlDeclaration* decl = doc.FirstChild()->ToDeclaration();
    ASSERT_NE(decl, nullptr);
    EXPECT_STREQ(decl->Version(), "1.0");
    EXPECT_STREQ(decl->Encoding(), "UTF-8");
    EXPECT_STREQ(decl->Standalone(), "");
    const TiXmlElement* root = doc.RootElement();
    EXPECT_STREQ(root->Value(), "DeviceConfiguration");
    std::vector<const TiXmlElement*> commands;
    for (auto* c = root->FirstChildElement("Command"); c; c = c->NextSiblingElement("Command")) {
        commands.push_back(c);
    }
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(ChildText(commands[0], "CommandName"), "232BAD");
    EXPECT_EQ(ChildText(commands[0], "Minimum"), "0");
    EXPECT_EQ(ChildText(commands[0], "Maximum"), "9");
    EXPECT_EQ(ChildText(commands[0], "SettingsList"), "0-9");
    EXPECT_EQ(ChildText(commands[0], "Default"), "6");
    EXPECT_EQ(ChildText(commands[1], "SettingsList"), "");
    EXPECT_EQ(ChildText(commands[1], "Default"), "");
    EXPECT_EQ(ChildText(commands[1], "Minimum"), "0");
    // The child elements come in this order.
    const char* order[] = {"CommandName", "Minimum", "Maximum", "SettingsList", "Default"};
    const TiXmlElement* child = commands[0]->FirstChildElement();
    for (const char* name : order) {
        ASSERT_NE(child, nullptr);
        EXPECT_STREQ(child->Value(), name);
        child = child->NextSiblingElement();
    }
}

TEST_F(ConfigXmlFiles, ConfigSetWrittenIsReadBackInOrder) {
    std::vector<ConfigEntry> entries(3);
    std::strcpy(entries[0].szName, "232BAD");
    std::strcpy(entries[0].szValue, "6");
    std::strcpy(entries[1].szName, "CSUSET");
    std::strcpy(entries[2].szName, "DFMADD");
    std::strcpy(entries[2].szValue, "1:<a&\"b>;2:Y;");
    ASSERT_TRUE(WriteConfigSetXml(Path("test.xml").c_str(), entries, "KTR Sim Scanner"));

    TiXmlDocument doc;
    ASSERT_TRUE(doc.LoadFile(Path("test.xml").c_str()));
    EXPECT_STREQ(doc.FirstChild()->ToDeclaration()->Encoding(), "utf-8");
    EXPECT_STREQ(doc.RootElement()->Value(), "Tarnwell");
    EXPECT_STREQ(doc.RootElement()->Attribute("DeviceType"), "KTR Sim Scanner");

    ferrolink_config::ConfigSetElements elements;
    ASSERT_TRUE(ferrolink_config::LoadConfigSet(Path("test.xml").c_str(), &elements));
    EXPECT_EQ(elements, (ferrolink_config::ConfigSetElements{
                            {"232BAD", "6"}, {"CSUSET", ""}, {"DFMADD", "1:<a&\"b>;2:Y;"}}));
}

TEST_F(ConfigXmlFiles, SettingsInASingleByteCodePageAreReadBackAsWritten) {
    // Bytes that are no UTF-8 ("\xB0" a degree sign, "\xFF") stand right
    // before the closing quote, where a UTF-8 reading would swallow it.
    struct Case {
        const char* name;
        const char* value;
    };
    const Case cases[] = {
        {"PREFIX", "25\xB0"},      {"SUFFIX", "\xFF\xFF"}, {"DFMADD", "1:caf\xE9;2:\xC3;"},
        {"UTF8OK", "caf\xC3\xA9"}, {"\xE9\xE9", "x"},
    };
    std::vector<ConfigEntry> entries(std::size(cases));
    ferrolink_config::ConfigSetElements expected;
    for (size_t i = 0; i < std::size(cases); ++i) {
        std::strcpy(entries[i].szName, cases[i].name);
        std::strcpy(entries[i].szValue, cases[i].value);
        expected.emplace_back(cases[i].name, cases[i].value);
    }
    ASSERT_TRUE(WriteConfigSetXml(Path("latin.xml").c_str(), entries, "KTR Sim Scanner"));
    ferrolink_config::ConfigSetElements elements;
    ASSERT_TRUE(ferrolink_config::LoadConfigSet(Path("latin.xml").c_str(), &elements));
    EXPECT_EQ(elements, expected);
}

TEST_F(ConfigXmlFiles, LoaderStartsAtTheFirstCommandAndTakesEverySiblingAfterIt) {
    std::ofstream(Path("set.xml")) << "<?xml version=\"1.0\"?>\n<Any><Note CommandName=\"NOTE01\"/>"
                                      "<Command CommandName=\"ALLENA\" Value=\"1\"/>"
                                      "<Other CommandName=\"APSENA\"/><Command Value=\"7\"/></Any>";
    ferrolink_config::ConfigSetElements elements;
    ASSERT_TRUE(ferrolink_config::LoadConfigSet(Path("set.xml").c_str(), &elements));
    EXPECT_EQ(elements,
              (ferrolink_config::ConfigSetElements{{"ALLENA", "1"}, {"APSENA", ""}, {"", "7"}}));

    std::ofstream(Path("bad.xml")) << "<Any><Command";
    EXPECT_FALSE(ferrolink_config::LoadConfigSet(Path("bad.xml").c_str(), &elements));
    EXPECT_FALSE(ferrolink_config::LoadConfigSet(Path("absent.xml").c_str(), &elements));
}

TEST_F(ConfigXmlFiles, AFailedSaveLeavesNoHalfFileBehind) {
    // The target is a directory: the document cannot replace it.
    fs::create_directories(dir_ / "Office.xml");
    const std::vector<OfficeEntry> entries = {Office("A", "A", ""), Office("B", "B", "")};
    EXPECT_FALSE(WriteOfficeXml(Path("Office.xml").c_str(), entries));
    EXPECT_TRUE(fs::is_directory(dir_ / "Office.xml"));
    EXPECT_FALSE(fs::exists(dir_ / "Office.xml.part"));

    // A save over an existing document replaces it whole.
    std::ofstream(Path("test.xml")) << "old";
    EXPECT_TRUE(WriteConfigSetXml(Path("test.xml").c_str(), {}, "X"));
    TiXmlDocument doc;
    EXPECT_TRUE(doc.LoadFile(Path("test.xml").c_str()));
    EXPECT_FALSE(fs::exists(dir_ / "test.xml.part"));
}

}  // namespace
