// Image capture over real ptys: silent devices, the 29/30-byte boundary and
// an image far larger than one read.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "ferrolink/image.h"
#include "image_read.h"
#include "ops_fixture.h"
#include "support/temp_dir.h"

namespace {

using ops_test::ComRecord;
using ops_test::LogCapture;

const std::string kReplyHeader(
    "\x02\x01"
    "00000",
    7);

// The header is outside input: every malformed form is refused, and no field
// can make the parse read past the 20 bytes or overflow.
TEST(ImageHeader, ParsesOnlyWholeConsistentHeaders) {
    struct Case {
        std::string bytes;
        bool valid;
        uint32_t width, height, size;
    };
    const Case cases[] = {
        {"IMGGET06400480307200", true, 640, 480, 307200},
        {"IMGGET00000000000000", true, 0, 0, 0},
        {"IMGGET09990999998001", true, 999, 999, 998001},
        {"IMGGET06400480307200trailing pixels", true, 640, 480, 307200},
        {"IMGGET0640048030720", false, 0, 0, 0},  // 19 bytes
        {"", false, 0, 0, 0},
        {"IMGGEX06400480307200", false, 0, 0, 0},  // another tag
        {"imgget06400480307200", false, 0, 0, 0},
        {"IMGGETabcdefghijklmn", false, 0, 0, 0},  // no digits
        {"IMGGET 640 480307200", false, 0, 0, 0},  // blanks are no digits
        {"IMGGET+6400480307200", false, 0, 0, 0},  // signs are no digits
        {"IMGGET06400480-30720", false, 0, 0, 0},
        {"IMGGET06400480307201", false, 0, 0, 0},  // count is not width x height
        {"IMGGET99999999999999", false, 0, 0, 0},  // 9999 x 9999 needs more than 6 digits
        {std::string("IMGGET0640") + '\0' + "480307200", false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        const auto header = ParseImageHeader(reinterpret_cast<const unsigned char*>(c.bytes.data()),
                                             c.bytes.size());
        ASSERT_EQ(header.has_value(), c.valid) << c.bytes;
        if (header) {
            EXPECT_EQ(header->width, c.width) << c.bytes;
            EXPECT_EQ(header->height, c.height) << c.bytes;
            EXPECT_EQ(header->bytes, c.size) << c.bytes;
        }
    }
    EXPECT_FALSE(ParseImageHeader(nullptr, 20).has_value());
}

class OpsImage : public ::testing::Test {
  protected:
    support::RuntimeDir ns{"ferrolink-ops-ns"};
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

TEST_F(OpsImage, TooShortAnswersGiveNullAndAnEmptyImageGivesItsLastThree) {
    struct Case {
        std::string answer;
        bool image;
    };
    const Case cases[] = {
        // 29 bytes: the header lacks its last digit.
        {kReplyHeader + "IMGGET0000000000000" + "\x06;\x03", false},
        // 30 bytes: a whole header announcing no pixels.
        {kReplyHeader + "IMGGET00000000000000" + "\x06;\x03", true},
        // 30 bytes whose header is no header.
        {kReplyHeader + std::string(20, 'a') + "\x06;\x03", false},
        // The header announces more pixels than came.
        {kReplyHeader + "IMGGET00020002000004" + "xy\x06;\x03", false},
        {"", false},  // silence
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
        // Nothing at all: three reads that wait out their 2000 ms each.
        if (c.answer.empty()) {
            EXPECT_GE(waited, std::chrono::milliseconds(5500));
            EXPECT_TRUE(log.Has(2, 1346, "nReReadTimes OverTimes"));
        }
    }
}

TEST_F(OpsImage, DeviceThatCannotBeOpenedGivesNull) {
    const _QVDeviceInfo record = ComRecord(9);
    EXPECT_EQ(qv_GetPic(&record), nullptr);
}

}  // namespace
