// The scanner's answers to framed commands, seen from the host over the real pty.
#include <gtest/gtest.h>

#include <fstream>

#include "host_port.h"
#include "scansim/scanner.h"
#include "support/temp_dir.h"

namespace {

using scansim::Received;
using scansim::Scanner;
using scansim::ScannerOptions;
using namespace scansim_test;

class DeviceWire : public ::testing::Test {
  protected:
    void SetUp() override {
        ScannerOptions options;
        options.usbSerial = "WireTest01";
        options.identity.productName = "Sim Imager 9";
        options.identity.firmwareVersion = "V1.2.3";
        options.identity.decoderVersion = "D7.7";
        options.identity.serialNumber = "SN12345";
        options.identity.oemSerialNumber = "OEM999";
        options.identity.esn = "ABCDEFGHIJ:0001:0";
        options.imageWidth = 32;
        options.imageHeight = 8;
        std::string error;
        scanner = Scanner::Start(options, &error);
        ASSERT_NE(scanner, nullptr) << error;
        host = std::make_unique<HostPort>(scanner->LinkPath());
        ASSERT_TRUE(host->IsOpen());
    }

    support::RuntimeDir ns;
    std::unique_ptr<Scanner> scanner;
    std::unique_ptr<HostPort> host;
};

TEST_F(DeviceWire, RegistersLowerCaseUsbNameInNamespace) {
    EXPECT_EQ(scanner->LinkPath(), ns.Path() / "usb" / "usb#vid_1eab&pid_0d10#wiretest01");
    EXPECT_TRUE(std::filesystem::is_symlink(scanner->LinkPath()));
}

TEST_F(DeviceWire, IdentificationAnswerCarriesTheLinesInParseOrder) {
    const std::string reply = host->Ask("@QRYSYS,PDN,PSN");
    EXPECT_EQ(reply, ReplyFrame("Product Name: Sim Imager 9\r\n"
                                "Firmware Version: V1.2.3\r\n"
                                "Decoder Version: D7.7\r\n"
                                "Serial Number: SN12345\r\n"
                                "OEM Serial Number: OEM999\r\n",
                                kAck));
    // The first ';'-piece after byte 7 must hold every label, none of them twice before OEM.
    const std::string piece = reply.substr(7, reply.find(';', 7) - 7);
    const auto p = piece.find("Product");
    const auto f = piece.find("Firmware");
    const auto s = piece.find("Serial");
    const auto o = piece.find("OEM");
    EXPECT_LT(p, f);
    EXPECT_LT(f, s);
    EXPECT_LT(s, o);
    EXPECT_NE(piece.find("Decoder"), std::string::npos);

    const auto log = scanner->Log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].kind, Received::Kind::kFrame);
    EXPECT_EQ(log[0].bytes, CommandFrame("@QRYSYS,PDN,PSN"));
}

// Each case sends its commands in order and checks the reply to the last one.
struct CommandCase {
    const char* title;
    std::vector<std::string> commands;
    std::string payload;
    char status;
};

void PrintTo(const CommandCase& c, std::ostream* os) {
    *os << c.title;
}

class CommandReplies : public DeviceWire, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(CommandReplies, LastReplyMatches) {
    const auto& c = GetParam();
    std::string reply;
    for (const auto& command : c.commands) {
        reply = host->Ask(command);
    }
    EXPECT_EQ(reply, ReplyFrame(c.payload, c.status));
}

const CommandCase kCommandCases[] = {
    {"UnknownCommandIsNakked", {"FOOBAR"}, "FOOBAR", kNak},
    {"ShortUnknownIsNakked", {"Q"}, "Q", kNak},
    {"SettingQueryGivesValue", {"232BAD*"}, "232BAD6", kAck},
    {"SettingDefaultQuery", {"232BAD8", "232BAD&"}, "232BAD6", kAck},
    {"SettingRangeQuery", {"232BAD^"}, "232BAD0-9", kAck},
    {"SettingWriteInRange", {"232BAD8", "232BAD*"}, "232BAD8", kAck},
    {"SettingWriteOutOfRangeKeepsValue", {"232BAD12", "232BAD*"}, "232BAD6", kAck},
    {"SettingWriteOutOfRangeIsNakked", {"ALLENA7"}, "ALLENA7", kNak},
    {"ConfigFrameAnsweredItemByItem",
     {"232BAD3;ALLENA9;INTERF2"},
     std::string("232BAD3\x06,ALLENA9\x15,INTERF2"),
     kAck},
    {"GenDefRestoresDefaultsThenApplies",
     {"232BAD3;INTERF2", "GENDEF;INTERF1", "232BAD*"},
     "232BAD6",
     kAck},
    {"GenDefKeepsItsOwnItems", {"INTERF2", "GENDEF;INTERF1;", "INTERF*"}, "INTERF1", kAck},
    {"BufferQuery", {"BUFQRY"}, "BUFQRY1024", kAck},
    {"EsnQuery", {"QRYESN"}, "QRYESNABCDEFGHIJ:0001:0", kAck},
    {"EsnSetThenQuery", {"ESNSETX1:Y2:3", "QRYESN"}, "QRYESNX1:Y2:3", kAck},
    {"ProductEditRefusedWithoutEnable", {"PDNEDTNewName"}, "PDNEDTNewName", kNak},
    {"ProductEditAfterEnable", {"PINFEN1", "PDNEDTNewName", "QRYPDN"}, "QRYPDNNewName", kAck},
    {"SerialEditAfterEnable", {"PINFEN1", "PSNEDTSN777", "QRYPSN"}, "QRYPSNSN777", kAck},
    {"BackupSerialNeedsItsOwnEnable", {"PINFEN1", "BSNEDTX1D"}, "BSNEDTX1D", kNak},
    {"DataFormatQueryAfterCalibration", {"DFMCAL;DFMADDX;Y;", "DFMQCU"}, "DFMQCUX;Y;", kAck},
    {"IlluminationColour", {"#ILLCLR3"}, "#ILLCLR3", kAck},
    {"IlluminationModeNeedsDigit", {"#ILLSCNx"}, "#ILLSCNx", kNak},
    {"ResetKeepingLinkFrame", {"GENDEF;INTERF3;232BAD5;", "INTERF*"}, "INTERF3", kAck},
};

INSTANTIATE_TEST_SUITE_P(Commands, CommandReplies, ::testing::ValuesIn(kCommandCases),
                         [](const auto& info) { return std::string(info.param.title); });

TEST_F(DeviceWire, BackupSerialEditChangesOemSerialLine) {
    host->Ask("BPINFE1");
    EXPECT_EQ(host->Ask("BSNEDTSN12345D"), ReplyFrame("BSNEDTSN12345D", kAck));
    EXPECT_EQ(scanner->GetIdentity().oemSerialNumber, "SN12345");
    // The serial as cut from the identification text, blank included.
    EXPECT_EQ(host->Ask("BSNEDT SN777D"), ReplyFrame("BSNEDT SN777D", kAck));
    EXPECT_EQ(scanner->GetIdentity().oemSerialNumber, "SN777");
    EXPECT_EQ(host->Ask("BSNEDT D"), ReplyFrame("BSNEDT D", kNak));
    EXPECT_NE(host->Ask("@QRYSYS,PDN,PSN").find("OEM Serial Number: SN777\r\n"), std::string::npos);
}

TEST_F(DeviceWire, HashCommandWithoutAtPrefixIsUnderstoodToo) {
    // A request built without '@' before '#'.
    host->Write(
        std::string("\x7E\x01"
                    "0000#ILLSCN1;\x03"));
    EXPECT_EQ(host->ReadUntilEnd(";\x03"), ReplyFrame("#ILLSCN1", kAck));
}

TEST_F(DeviceWire, GroupQueriesListEverySettingAfterFacdef) {
    scanner->SetSetting("232BAD", "4");
    const std::string current = host->Ask("@*");
    const std::string defaults = host->Ask("@&");
    const std::string ranges = host->Ask("@^");
    const std::string head = ReplyFrame("FACDEF\x06;", kAck).substr(0, 14);
    for (const auto* reply : {&current, &defaults, &ranges}) {
        EXPECT_EQ(reply->substr(0, 14), head);
        EXPECT_EQ(reply->substr(reply->size() - 3), std::string("\x06;\x03"));
    }
    EXPECT_NE(current.find(std::string("232BAD4\x06;")), std::string::npos);
    EXPECT_NE(defaults.find(std::string("232BAD6\x06;")), std::string::npos);
    EXPECT_NE(ranges.find(std::string("232BAD0-9\x06;")), std::string::npos);
    // An empty value still makes an item: name and status byte.
    EXPECT_NE(current.find(std::string(";CSUSET\x06")), std::string::npos);
    // Every setting of the table shows up once.
    const auto table = scanner->GetSettings();
    for (const auto& setting : table.Entries()) {
        EXPECT_NE(current.find(";" + setting.name), std::string::npos) << setting.name;
    }
}

TEST_F(DeviceWire, ImageCaptureHasHeaderPixelsAndTrailer) {
    host->Write(CommandFrame("IMGGET0T0R1F"));
    const std::string reply = host->ReadCount(27 + 32 * 8 + 3);
    ASSERT_EQ(reply.size(), 27u + 32 * 8 + 3);
    EXPECT_EQ(reply.substr(0, 27), std::string("\x02\x01"
                                               "00000IMGGET00320008000256"));
    EXPECT_EQ(reply.substr(reply.size() - 3), std::string("\x06;\x03"));
    const std::string pixels = reply.substr(27, 32 * 8);
    EXPECT_EQ(pixels.find('\0'), std::string::npos);
    EXPECT_EQ(pixels.find('\x03'), std::string::npos);
}

TEST_F(DeviceWire, ImageSizeChosenAtRunTime) {
    scanner->SetImageSize(640, 480);
    host->Write(CommandFrame("IMGGET0T0R1F"));
    const std::string reply = host->ReadCount(27 + 640 * 480 + 3, 20000);
    ASSERT_EQ(reply.size(), 27u + 640 * 480 + 3);
    EXPECT_EQ(reply.substr(7, 20), "IMGGET06400480307200");
}

TEST_F(DeviceWire, EscQAnswersLastScanUnframed) {
    host->Write(std::string("\x1BQ"));
    EXPECT_EQ(host->ReadUntilEnd("\r"), "NOREAD\r");
    ASSERT_TRUE(scanner->SendScan("4006381333931\r"));
    EXPECT_EQ(host->ReadUntilEnd("\r"), "4006381333931\r");
    host->Write(std::string("\x1BQ"));
    EXPECT_EQ(host->ReadUntilEnd("\r"), "4006381333931\r");
}

TEST_F(DeviceWire, FramesSplitAcrossWritesAndBackToBackAreEachAnswered) {
    const std::string first = CommandFrame("BUFQRY");
    const std::string second = CommandFrame("QRYPSN");
    host->Write(first.substr(0, 5));
    EXPECT_EQ(host->ReadFor(200), "");
    host->Write(first.substr(5) + "junk" + second);
    const std::string replies = host->ReadUntilEnd(ReplyFrame("QRYPSNSN12345", kAck).substr(7));
    EXPECT_EQ(replies, ReplyFrame("BUFQRY1024", kAck) + ReplyFrame("QRYPSNSN12345", kAck));
    const auto log = scanner->Log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].bytes, first);
    EXPECT_EQ(log[1].kind, Received::Kind::kRaw);
    EXPECT_EQ(log[1].bytes, "junk");
    EXPECT_EQ(log[2].bytes, second);
}

TEST_F(DeviceWire, ScansFromFileArriveLineByLineWithSuffix) {
    const auto file = ns.Path() / "scans.txt";
    std::ofstream(file) << "ABC-123\r\n4006381333931\nlast line without end";
    ASSERT_TRUE(scanner->SendScansFromFile(file, "\r\n"));
    EXPECT_EQ(host->ReadUntilEnd("without end\r\n"),
              "ABC-123\r\n4006381333931\r\nlast line without end\r\n");
    EXPECT_FALSE(scanner->SendScansFromFile(ns.Path() / "missing.txt", "\r"));
}

}  // namespace
