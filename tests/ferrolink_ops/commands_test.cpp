// Single commands against a simulated scanner over real ptys.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "ferrolink/commands.h"
#include "ops_fixture.h"
#include "support/temp_dir.h"

namespace {

using ops_test::ComRecord;
using ops_test::LogCapture;
using ops_test::ReceivedCommands;
using ops_test::UsbRecord;

const bool kTraceEverything = (setenv("TIDESTREAM_LOG_LEVEL", "5", 1), true);

class OpsCommands : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(kTraceEverything);
        scanner = ops_test::StartUsbScanner("cmd01");
        ASSERT_NE(scanner, nullptr);
        record = UsbRecord("cmd01");
    }

    support::RuntimeDir ns{"ferrolink-ops-ns"};
    std::unique_ptr<scansim::Scanner> scanner;
    _QVDeviceInfo record{};
};

TEST_F(OpsCommands, SendCommandReturnsThePayloadAndTheAcknowledgement) {
    struct Case {
        const char* command;
        int result;
        std::string payload;
    };
    const Case cases[] = {
        {"QRYPSN", 1, "QRYPSNSIM0001\x06;\x03"},
        {"NOSUCH", 0, "NOSUCH\x15;\x03"},
    };
    for (const Case& c : cases) {
        char output[2048];
        std::memset(output, 'x', sizeof(output));
        EXPECT_EQ(SendCommand(&record, c.command, output), c.result) << c.command;
        EXPECT_EQ(std::string(output), c.payload) << c.command;
    }
}

TEST_F(OpsCommands, UnreachableDeviceFailsWithTheOpenLineAndAnEmptyOutput) {
    LogCapture log;
    const _QVDeviceInfo missing = UsbRecord("absent");
    char output[64] = "untouched";
    EXPECT_EQ(SendCommand(&missing, "QRYPSN", output), 0);
    EXPECT_TRUE(log.Has(2, 3570, "Open error"));
    EXPECT_STREQ(output, "untouched");
}

TEST_F(OpsCommands, SilentDeviceGivesZeroAndAnEmptyOutput) {
    scansim::Fault silence;
    silence.kind = scansim::Fault::Kind::kSilence;
    scanner->SetFault(silence);
    char output[64] = "untouched";
    EXPECT_EQ(SendCommand(&record, "QRYPSN", output), 0);
    EXPECT_STREQ(output, "");
}

TEST_F(OpsCommands, SendCommandHexWritesRawBytesAndReturnsTheWholeReply) {
    char output[256] = {};
    EXPECT_EQ(SendSingle(&record, output), 1);
    EXPECT_STREQ(output, "NOREAD\r");
    ASSERT_TRUE(scanner->SendScan("4006381333931\r"));
    // The unasked scan is purged before the write; ESC Q gets the last scan back.
    char hex[] = {0x1B, 'Q', 0};
    EXPECT_EQ(SendCommandHEX(&record, hex, output), 1);
    EXPECT_NE(std::string(output).find("4006381333931\r"), std::string::npos);
    bool sawRaw = false;
    for (const scansim::Received& entry : scanner->Log()) {
        sawRaw = sawRaw || (entry.kind == scansim::Received::Kind::kRaw && entry.bytes == "\x1BQ");
    }
    EXPECT_TRUE(sawRaw) << "ESC Q goes out unframed";
}

TEST_F(OpsCommands, SendCmdClaveSucceedsOnlyWhenTheReadBackHoldsTheValue) {
    EXPECT_EQ(SendCmdClave(&record, "1234567890:ABCD:5"), 1);
    EXPECT_EQ(scanner->GetIdentity().esn, "1234567890:ABCD:5");
    const std::vector<std::string> sent = ReceivedCommands(*scanner);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], "ESNSET1234567890:ABCD:5");
    EXPECT_EQ(sent[1], "QRYESN");
    // An empty value is refused by the device and the read-back keeps the old value;
    // a NAKed read-back fails however much it holds.
    scansim::Fault nak;
    nak.kind = scansim::Fault::Kind::kNak;
    scanner->SetFault(nak);
    EXPECT_EQ(SendCmdClave(&record, "1234567890:ABCD:5"), 0);
}

TEST_F(OpsCommands, OpenGreenIllSendsBothIlluminationCommandsAndReturnsZero) {
    EXPECT_EQ(OpenGreenILL(&record), 0);
    const std::vector<std::string> sent = ReceivedCommands(*scanner);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], "#ILLCLR3");
    EXPECT_EQ(sent[1], "#ILLSCN1");
    // On the wire both carry the '@' in front of their '#'.
    std::vector<std::string> frames;
    for (const scansim::Received& entry : scanner->Log()) {
        if (entry.kind == scansim::Received::Kind::kFrame && entry.bytes.size() > 6)
            frames.push_back(entry.bytes.substr(6));
    }
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], "@#ILLCLR3;\x03");
    EXPECT_EQ(frames[1], "@#ILLSCN1;\x03");
}

TEST(OpsSendCommandCom, OpensTheNumberedPortAtFullSpeed) {
    support::RuntimeDir ns{"ferrolink-ops-ns"};
    // The simulated port answers only at 115200 baud with 8 data bits; the
    // high bits of the port number are dropped.
    auto scanner = ops_test::StartComScanner(3, 115200);
    ASSERT_NE(scanner, nullptr);
    char output[256] = {};
    EXPECT_EQ(SendCommandCom(3 + 0x10000, "QRYPDN", output), 1);
    EXPECT_STREQ(output, "QRYPDNKTR Sim Scanner\x06;\x03");
    std::strcpy(output, "untouched");
    EXPECT_EQ(SendCommandCom(4, "QRYPDN", output), 0);
    EXPECT_STREQ(output, "untouched") << "a port that cannot be opened leaves the output alone";
}

TEST(OpsCompareVer, ComparesOnlyForKnownKinds) {
    support::TempDir dir("ferrolink-ops-fw");
    _QVDeviceInfo record = UsbRecord("none", "SN", "V2.1.0");
    struct Case {
        int kind;
        const char* version;
        int result;
    };
    const Case cases[] = {
        {1, "V2.1.0", 1}, {2, "V2.1.0", 1}, {3, "V2.1.0", 1},
        {2, "V2.1.1", 0}, {2, "V2.1", 0},   {4, "V2.1.0", 0},
    };
    for (const Case& c : cases) {
        const auto file = dir.Path() / "fw.bin";
        ops_test::WriteFirmwareFile(file, c.kind, c.version);
        EXPECT_EQ(CompareVer(&record, file.c_str()), c.result) << c.kind << ' ' << c.version;
    }
    EXPECT_EQ(CompareVer(&record, (dir.Path() / "missing.bin").c_str()), 0);
}

TEST(OpsGetProductNameAndSN, NeedsExactlyOneScanner) {
    support::RuntimeDir ns{"ferrolink-ops-ns"};
    char name[64] = "keep";
    char serial[64] = "keep";
    EXPECT_EQ(GetProductNameAndSN(name, serial), -1);
    scansim::Identity identity;
    identity.serialNumber = "ONLY01";
    auto first = ops_test::StartUsbScanner("one01", identity);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetProductNameAndSN(name, serial), 0);
    EXPECT_STREQ(name, "KTR Sim Scanner");
    EXPECT_STREQ(serial, "ONLY01");
    auto second = ops_test::StartUsbScanner("two01");
    ASSERT_NE(second, nullptr);
    std::strcpy(name, "keep");
    EXPECT_EQ(GetProductNameAndSN(name, serial), -1);
    EXPECT_STREQ(name, "keep");
}

}  // namespace
