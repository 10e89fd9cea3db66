// The configuration set export against a scanner whose long reply repeats
// every setting: the device's data format is asked for once, the file is
// written whole, and its data format entries agree with each other.
#include <gtest/gtest.h>
#include <tinyxml.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fault_bench.h"
#include "ferrolink/config.h"

namespace {

TEST(ConfigSetExport, RepeatedItemsInAHugeReplyAskForTheDataFormatOnce) {
    support::RuntimeDir ns{"ferrolink-faults-ns"};
    faults_test::WorkingDir cwd;
    auto scanner = faults_test::StartScanner(scansim::Attachment::kUsb);
    ASSERT_NE(scanner, nullptr);
    ASSERT_TRUE(scanner->SetSetting("DFMADD", "1:X;2:Y;3:Z"));
    const _QVDeviceInfo record = faults_test::RecordFor(scansim::Attachment::kUsb);
    scanner->SetFault({scansim::Fault::Kind::kHuge, 0, 1});

    const auto elapsed = faults_test::TimeOf([&] { qv_SaveXml(&record); });
    EXPECT_LE(elapsed, 2 * faults_test::kReplyGuard + faults_test::kSlack);

    const std::vector<std::string> commands = ops_test::ReceivedCommands(*scanner);
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "DFMQCU"), 1);
    TiXmlDocument document;
    ASSERT_TRUE(document.LoadFile(faults_test::kConfigSetFile));
    ASSERT_NE(document.RootElement(), nullptr);
    std::vector<std::string> formats;
    for (const TiXmlElement* command = document.RootElement()->FirstChildElement("Command");
         command != nullptr; command = command->NextSiblingElement("Command")) {
        const char* name = command->Attribute("CommandName");
        const char* value = command->Attribute("Value");
        if (name != nullptr && std::string(name) == "DFMADD")
            formats.emplace_back(value != nullptr ? value : "");
    }
    ASSERT_GT(formats.size(), 1u) << "the reply was meant to repeat the item";
    EXPECT_TRUE(std::all_of(formats.begin(), formats.end(),
                            [&](const std::string& f) { return f == formats.front(); }));
    EXPECT_EQ(faults_test::FileProblems(cwd.Path(), {faults_test::kConfigSetFile}),
              std::vector<std::string>{});
}

}  // namespace
