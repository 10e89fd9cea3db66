// Setting ranges, fault texts and profile files.
#include <gtest/gtest.h>

#include <fstream>

#include "host_port.h"
#include "scansim/profile.h"
#include "scansim/scanner.h"
#include "support/temp_dir.h"

namespace {

using scansim::Fault;
using scansim::ScannerOptions;

struct RangeCase {
    const char* value;
    const char* range;
    bool inside;
};

TEST(SettingRanges, ValuesAreCheckedAgainstEveryAlternative) {
    const RangeCase cases[] = {
        {"0", "0-9", true},     {"9", "0-9", true},      {"10", "0-9", false},
        {"-1", "0-9", false},   {"", "0-9", false},      {"5x", "0-9", false},
        {"1", "0|1", true},     {"2", "0|1", false},     {"12", "0-4|12", true},
        {"ON", "ON|OFF", true}, {"on", "ON|OFF", false}, {"", "*", true},
        {"any;", "*", true},    {"300", "0-1000", true}, {"", "", true},
        {"x", "", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(scansim::ValueInRange(c.value, c.range), c.inside)
            << "'" << c.value << "' in '" << c.range << "'";
    }
}

TEST(SettingRanges, TableSetRefusesUnknownAndOutOfRangeAndResets) {
    auto table = scansim::SettingsTable::Builtin();
    EXPECT_FALSE(table.Set("NOSUCH", "1"));
    EXPECT_FALSE(table.Set("232BAD", "10"));
    EXPECT_TRUE(table.Set("232BAD", "9"));
    EXPECT_EQ(table.Find("232BAD")->value, "9");
    table.ResetToDefaults();
    EXPECT_EQ(table.Find("232BAD")->value, "6");
}

struct FaultCase {
    const char* text;
    bool valid;
    Fault::Kind kind;
    int delayMs;
    int chunks;
    size_t hugeBytes = size_t{1} << 20;
};

TEST(FaultText, ParsesEveryKindAndRefusesJunk) {
    const FaultCase cases[] = {
        {"none", true, Fault::Kind::kNone, 0, 1},
        {"silence", true, Fault::Kind::kSilence, 0, 1},
        {"delay:250", true, Fault::Kind::kDelay, 250, 1},
        {"chunks:4", true, Fault::Kind::kChunked, 0, 4},
        {"chunks:3:120", true, Fault::Kind::kChunked, 120, 3},
        {"nak", true, Fault::Kind::kNak, 0, 1},
        {"garbage", true, Fault::Kind::kGarbage, 0, 1},
        {"disconnect", true, Fault::Kind::kDisconnect, 0, 1},
        {"truncated", true, Fault::Kind::kTruncated, 0, 1},
        {"huge", true, Fault::Kind::kHuge, 0, 1},
        {"huge:2", true, Fault::Kind::kHuge, 0, 1, 2},
        {"huge:3145728", true, Fault::Kind::kHuge, 0, 1, 3145728},
        {"huge:0", false, {}, 0, 0},
        {"huge:", false, {}, 0, 0},
        {"huge:1k", false, {}, 0, 0},
        {"endless", true, Fault::Kind::kEndless, 0, 1},
        {"endless:1", false, {}, 0, 0},
        {"delay", false, {}, 0, 0},
        {"delay:-5", false, {}, 0, 0},
        {"chunks:0", false, {}, 0, 0},
        {"nak:1", false, {}, 0, 0},
        {"explode", false, {}, 0, 0},
    };
    for (const auto& c : cases) {
        auto fault = scansim::ParseFault(c.text);
        ASSERT_EQ(fault.has_value(), c.valid) << c.text;
        if (fault) {
            EXPECT_EQ(fault->kind, c.kind) << c.text;
            EXPECT_EQ(fault->delayMs, c.delayMs) << c.text;
            EXPECT_EQ(fault->chunks, c.chunks) << c.text;
            EXPECT_EQ(fault->hugeBytes, c.hugeBytes) << c.text;
        }
    }
}

class ProfileFile : public ::testing::Test {
  protected:
    std::filesystem::path Write(const std::string& text) {
        std::ofstream(file) << text;
        return file;
    }
    support::RuntimeDir ns;
    std::filesystem::path file = ns.Path() / "profile.ini";
};

TEST_F(ProfileFile, DeviceKeysAndSettingsTableAreLoaded) {
    ScannerOptions options;
    std::string error;
    ASSERT_TRUE(scansim::LoadProfile(Write("# comment\n[device]\nproduct = Desk Reader 2\n"
                                           "serial=DR-77\nbuffer_size = 300\nimage_width=100\n"
                                           "[settings]\nINTERF = 2, 0-4\nCSUSET = , *\n"),
                                     options, error))
        << error;
    EXPECT_EQ(options.identity.productName, "Desk Reader 2");
    EXPECT_EQ(options.identity.serialNumber, "DR-77");
    EXPECT_EQ(options.identity.firmwareVersion, ScannerOptions{}.identity.firmwareVersion);
    EXPECT_EQ(options.bufferSize, 300u);
    EXPECT_EQ(options.imageWidth, 100u);
    ASSERT_EQ(options.settings.Entries().size(), 2u);
    EXPECT_EQ(options.settings.Find("INTERF")->value, "2");
    EXPECT_EQ(options.settings.Find("INTERF")->range, "0-4");
    EXPECT_EQ(options.settings.Find("CSUSET")->value, "");
}

TEST_F(ProfileFile, BadFilesAreRefusedWithTheLineAndLeaveOptionsAlone) {
    const char* bad[] = {
        "[device]\nproduct\n",                 // no '='
        "[device]\ncolour = red\n",            // unknown key
        "[device]\nbuffer_size = many\n",      // not a number
        "[settings]\nTOOLONGNAME = 1, 0|1\n",  // name not 6 characters
        "[settings]\nALLENA = 1\n",            // no range
        "[settings]\nALLENA = 5, 0|1\n",       // default outside its range
    };
    for (const char* text : bad) {
        ScannerOptions options;
        std::string error;
        EXPECT_FALSE(scansim::LoadProfile(Write(text), options, error)) << text;
        EXPECT_NE(error.find("profile.ini:"), std::string::npos) << error;
        EXPECT_EQ(options.settings.Entries().size(),
                  scansim::SettingsTable::Builtin().Entries().size());
    }
    ScannerOptions options;
    std::string error;
    EXPECT_FALSE(scansim::LoadProfile(ns.Path() / "missing.ini", options, error));
}

TEST(ShippedProfile, LoadsAndMatchesTheBuiltInTable) {
    ScannerOptions options;
    std::string error;
    ASSERT_TRUE(scansim::LoadProfile(SCANSIM_DEFAULT_PROFILE, options, error)) << error;
    const auto builtin = scansim::SettingsTable::Builtin();
    ASSERT_EQ(options.settings.Entries().size(), builtin.Entries().size());
    for (const auto& setting : builtin.Entries()) {
        const auto* loaded = options.settings.Find(setting.name);
        ASSERT_NE(loaded, nullptr) << setting.name;
        EXPECT_EQ(loaded->defaultValue, setting.defaultValue) << setting.name;
        EXPECT_EQ(loaded->range, setting.range) << setting.name;
    }
}

}  // namespace
