// Image capture over real ptys: silent devices, the 29/30-byte boundary and
// an image far larger than one read.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "ferrolink/image.h"
#include "ops_fixture.h"

namespace {

using ops_test::ComRecord;
using ops_test::LogCapture;

const std::string kReplyHeader(
    "\x02\x01"
    "00000",
    7);

class OpsImage : public ::testing::Test {
  protected:
    ops_test::TempNamespace ns;
};

TEST_F(OpsImage, ScannerImageIsCollectedWholeAcrossManyReads) {
    auto scanner = ops_test::StartUsbScanner("img01");
    ASSERT_NE(scanner, nullptr);
    scanner->SetImageSize(600, 500);  // 300000 bytes, some 30 reads of 10240
    const _QVDeviceInfo record = ops_test::UsbRecord("img01");
    const unsigned char* image = qv_GetPic(&record);
    ASSERT_NE(image, nullptr);
    const std::string head(reinterpret_cast<const char*>(image) - 20, 20);
    EXPECT_EQ(head, "IMGGET06000500300000");
    for (size_t i = 0; i < 300000; ++i) {
        // Grey bytes are never 00 or 03; a hole or a lost chunk shows as 00.
        ASSERT_NE(image[i], 0) << "byte " << i;
    }
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(image) + 300000, 3), "\x06;\x03");
    bool sent = false;
    for (const std::string& command : ops_test::ReceivedCommands(*scanner)) {
        sent = sent || command == "IMGGET0T0R1F";
    }
    EXPECT_TRUE(sent);
}

TEST_F(OpsImage, ChunkedImageIsCollectedWhole) {
    auto scanner = ops_test::StartUsbScanner("img02");
    ASSERT_NE(scanner, nullptr);
    scanner->SetImageSize(100, 100);
    scansim::Fault chunks;
    chunks.kind = scansim::Fault::Kind::kChunked;
    chunks.chunks = 4;
    chunks.delayMs = 300;
    scanner->SetFault(chunks);
    const _QVDeviceInfo record = ops_test::UsbRecord("img02");
    const unsigned char* image = qv_GetPic(&record);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(image) + 10000, 3), "\x06;\x03");
}

TEST_F(OpsImage, TooShortAnswersGiveNullAndThirtyBytesGiveTheirLastThree) {
    struct Case {
        std::string answer;
        bool image;
    };
    const Case cases[] = {
        {kReplyHeader + std::string(19, 'a') + "\x06;\x03", false},  // 29 bytes
        {kReplyHeader + std::string(20, 'a') + "\x06;\x03", true},   // 30 bytes
        {"", false},                                                 // silence
    };
    for (const Case& c : cases) {
        ops_test::ScriptedDevice device(7, c.answer);
        ASSERT_TRUE(device.Ready());
        LogCapture log;
        const _QVDeviceInfo record = ComRecord(7);
        const auto start = std::chrono::steady_clock::now();
        const unsigned char* image = qv_GetPic(&record);
        const auto waited = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(image != nullptr, c.image) << c.answer.size() << " bytes";
        if (image != nullptr) {
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(image), 4),
                      std::string("\x06;\x03\0", 4));
        }
        // Every capture ends with reads that wait out their 2000 ms: one after a
        // complete reply, three in a row when nothing comes.
        EXPECT_GE(waited, std::chrono::milliseconds(c.answer.empty() ? 5500 : 1500));
        EXPECT_TRUE(!c.answer.empty() || log.Has(2, 1346, "nReReadTimes OverTimes"));
    }
}

TEST_F(OpsImage, DeviceThatCannotBeOpenedGivesNull) {
    const _QVDeviceInfo record = ComRecord(9);
    EXPECT_EQ(qv_GetPic(&record), nullptr);
}

}  // namespace
