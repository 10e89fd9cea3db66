// Rewriting a scanner's identity over a real pty.
#include <gtest/gtest.h>

#include <string>

#include "ferrolink/identity.h"
#include "ops_fixture.h"
#include "support/temp_dir.h"

namespace {

using ops_test::ReceivedCommands;
using ops_test::UsbRecord;

using Commands = std::vector<std::string>;

class OpsIdentity : public ::testing::Test {
  protected:
    void Start(const scansim::Identity& identity = {}) {
        scanner = ops_test::StartUsbScanner("id01", identity);
        ASSERT_NE(scanner, nullptr);
        record = UsbRecord("id01");
    }

    support::RuntimeDir ns{"ferrolink-ops-ns"};
    std::unique_ptr<scansim::Scanner> scanner;
    _QVDeviceInfo record{};
};

TEST_F(OpsIdentity, ProductNameAndSerialAreEnabledThenEdited) {
    Start();
    EXPECT_EQ(SetDevicePDN(&record, "New Name"), 1);
    EXPECT_EQ(SetDeviceSN(&record, "SN-777"), 1);
    EXPECT_EQ(scanner->GetIdentity().productName, "New Name");
    EXPECT_EQ(scanner->GetIdentity().serialNumber, "SN-777");
    EXPECT_EQ(ReceivedCommands(*scanner),
              (Commands{"PINFEN1", "PDNEDTNew Name", "PINFEN1", "PSNEDTSN-777"}));
    // The replies are not examined: a refused edit still reports the commands sent.
    EXPECT_EQ(SetDevicePDN(&record, ""), 1);
    EXPECT_EQ(scanner->GetIdentity().productName, "New Name");
    const _QVDeviceInfo missing = UsbRecord("absent");
    EXPECT_EQ(SetDeviceSN(&missing, "X"), 0);
}

TEST_F(OpsIdentity, SecondSerialIsMarkedOnceThenReportedAsMarked) {
    scansim::Identity identity;
    identity.serialNumber = "ABC123";
    Start(identity);
    EXPECT_EQ(SetDeviceBSN(&record), 1);
    EXPECT_EQ(scanner->GetIdentity().oemSerialNumber, "ABC123");
    const Commands first = ReceivedCommands(*scanner);
    ASSERT_EQ(first.size(), 3u);
    EXPECT_EQ(first[1], "BPINFE1");
    EXPECT_EQ(first[2], "BSNEDT ABC123D");

    identity.serialNumber = "ABC123D";
    scanner->SetIdentity(identity);
    scanner->ClearLog();
    EXPECT_EQ(SetDeviceBSN(&record), 2);
    for (const std::string& command : ReceivedCommands(*scanner)) {
        EXPECT_EQ(command.rfind("BSNEDT", 0), std::string::npos) << "nothing is written";
        EXPECT_NE(command, "BPINFE1");
    }
}

TEST_F(OpsIdentity, SecondSerialOfALongIdentificationIsCutNotOverrun) {
    scansim::Identity identity;
    identity.serialNumber = std::string(600, '7');
    Start(identity);
    EXPECT_EQ(SetDeviceBSN(&record), 1);
    const Commands sent = ReceivedCommands(*scanner);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back(), "BSNEDT " + std::string(258, '7') + "D");
}

TEST_F(OpsIdentity, DeviceInfoGoesToTheSingleScanner) {
    Start();
    EXPECT_EQ(setDeviceInfo("A", "B", "C"), 1);
    EXPECT_EQ(scanner->GetIdentity().esn, "A:B:C");
    auto second = ops_test::StartUsbScanner("id02");
    ASSERT_NE(second, nullptr);
    scanner->ClearLog();
    EXPECT_EQ(setDeviceInfo("D", "E", "F"), 0);
    EXPECT_EQ(scanner->GetIdentity().esn, "A:B:C");
    for (const std::string& command : ReceivedCommands(*scanner)) {
        EXPECT_EQ(command.rfind("ESNSET", 0), std::string::npos) << command;
    }
}

TEST_F(OpsIdentity, ModeReplacesTheLastPartOfTheDeviceInformation) {
    struct Case {
        std::string esn;
        int result;
        std::string after;
    };
    const Case cases[] = {
        {"X:Y:Z", 1, "X:Y:M"},
        {"1234567890:0000:0", 1, "1234567890:0000:M"},
        {"X:Y", 0, "X:Y"},          // one ':' only: refused, nothing sent
        {"X:Y:Z:W", 0, "X:Y:Z:W"},  // four pieces
    };
    Start();
    for (const Case& c : cases) {
        scansim::Identity identity = scanner->GetIdentity();
        identity.esn = c.esn;
        scanner->SetIdentity(identity);
        scanner->ClearLog();
        EXPECT_EQ(changeDevMode("M"), c.result) << c.esn;
        EXPECT_EQ(scanner->GetIdentity().esn, c.after) << c.esn;
        const Commands sent = ReceivedCommands(*scanner);
        bool wrote = false;
        for (const std::string& command : sent)
            wrote = wrote || command.rfind("ESNSET", 0) == 0;
        EXPECT_EQ(wrote, c.result == 1) << c.esn;
    }
}

TEST_F(OpsIdentity, SerialOfTheSingleScannerOrAnEmptyTextNeverNull) {
    const char* none = GetSN();
    ASSERT_NE(none, nullptr);
    EXPECT_STREQ(none, "");
    scansim::Identity identity;
    identity.serialNumber = "GETSN01";
    Start(identity);
    const char* one = GetSN();
    ASSERT_NE(one, nullptr);
    EXPECT_STREQ(one, "GETSN01");
    auto second = ops_test::StartUsbScanner("id03");
    ASSERT_NE(second, nullptr);
    const char* two = GetSN();
    ASSERT_NE(two, nullptr);
    EXPECT_STREQ(two, "");
}

}  // namespace
