// The device side of the firmware transfer, driven byte by byte from the host.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>

#include "host_port.h"
#include "scansim/scanner.h"
#include "support/temp_dir.h"

namespace {

using scansim::Scanner;
using scansim::ScannerOptions;
using namespace scansim_test;

constexpr char kCan = 0x18;

uint32_t Crc(std::string_view bytes) {
    return static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0),
                                       reinterpret_cast<const Bytef*>(bytes.data()),
                                       static_cast<uInt>(bytes.size())));
}

void PutLe(std::string& out, uint32_t value, int width) {
    for (int i = 0; i < width; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

std::string Block(uint16_t seq, std::string_view data) {
    std::string covered;
    PutLe(covered, seq, 2);
    PutLe(covered, static_cast<uint32_t>(data.size()), 2);
    covered += data;
    std::string block(
        "\x10"
        "B");
    block += covered;
    PutLe(block, Crc(covered), 4);
    return block;
}

// An image that carries its own header: magic "KTRF" and the version at offset 44.
std::string Image(const std::string& version, size_t size) {
    std::string image(size, '\0');
    image.replace(0, 4, "KTRF");
    image.replace(44, version.size(), version);
    for (size_t i = 108; i < size; ++i) {
        image[i] = static_cast<char>(i * 7 + 3);
    }
    return image;
}

std::string StartCommand(const std::string& image) {
    char text[64];
    std::snprintf(text, sizeof text, "FWSTART2,%zu,%08X", image.size(), Crc(image));
    return text;
}

class FirmwareTransfer : public ::testing::Test {
  protected:
    void SetUp() override {
        ScannerOptions options;
        options.usbSerial = "fw01";
        options.identity.firmwareVersion = "V1.0.0";
        std::string error;
        scanner = Scanner::Start(options, &error);
        ASSERT_NE(scanner, nullptr) << error;
        host = std::make_unique<HostPort>(scanner->LinkPath());
        ASSERT_TRUE(host->IsOpen());
    }

    char SendBlock(const std::string& block) {
        host->Write(block);
        const std::string answer = host->ReadCount(1);
        return answer.size() == 1 ? answer[0] : '?';
    }

    support::RuntimeDir ns;
    std::unique_ptr<Scanner> scanner;
    std::unique_ptr<HostPort> host;
};

TEST_F(FirmwareTransfer, GoodImageInBlocksBecomesTheNewFirmwareVersion) {
    const std::string image = Image("V2.5.1-sim", 2500);  // blocks of 1024, 1024, 452
    const std::string start = StartCommand(image);
    ASSERT_EQ(host->Ask(start), ReplyFrame(start, kAck));
    for (uint16_t seq = 0; seq * 1024u < image.size(); ++seq) {
        EXPECT_EQ(SendBlock(Block(seq, std::string_view(image).substr(seq * 1024u, 1024))), kAck)
            << "block " << seq;
    }
    EXPECT_EQ(host->Ask("FWEND"), ReplyFrame("FWEND", kAck));
    EXPECT_EQ(scanner->GetIdentity().firmwareVersion, "V2.5.1-sim");
    EXPECT_EQ(scanner->FirmwareUpdates(), 1u);
    EXPECT_NE(host->Ask("@QRYSYS,PDN,PSN").find("Firmware Version: V2.5.1-sim\r\n"),
              std::string::npos);
}

TEST_F(FirmwareTransfer, CorruptedBlockIsNakkedAndItsResendTaken) {
    const std::string image = Image("V3.0", 1500);
    const std::string start = StartCommand(image);
    ASSERT_EQ(host->Ask(start), ReplyFrame(start, kAck));
    const std::string first = Block(0, std::string_view(image).substr(0, 1024));
    std::string damaged = first;
    damaged[200] ^= 0x5A;
    EXPECT_EQ(SendBlock(damaged), kNak);
    EXPECT_EQ(SendBlock(first), kAck);
    EXPECT_EQ(SendBlock(first), kAck);  // a repeat after a lost ACK is not appended twice
    EXPECT_EQ(SendBlock(Block(5, "out of order")), kNak);
    // A damaged length field is refused at once, not waited out.
    std::string badLength = Block(1, "short");
    badLength[5] = 0x7F;
    EXPECT_EQ(SendBlock(badLength), kNak);
    EXPECT_EQ(SendBlock(Block(1, std::string_view(image).substr(1024))), kAck);
    EXPECT_EQ(host->Ask("FWEND"), ReplyFrame("FWEND", kAck));
    EXPECT_EQ(scanner->GetIdentity().firmwareVersion, "V3.0");
}

TEST_F(FirmwareTransfer, ImageThatDoesNotMatchItsStartIsRejected) {
    const std::string image = Image("V9.9", 1200);
    std::string start = StartCommand(image);
    // Declared CRC of another image: every block is sound, the whole is not.
    std::string other = image;
    other[500] ^= 1;
    start = StartCommand(other);
    ASSERT_EQ(host->Ask(start), ReplyFrame(start, kAck));
    EXPECT_EQ(SendBlock(Block(0, std::string_view(image).substr(0, 1024))), kAck);
    EXPECT_EQ(SendBlock(Block(1, std::string_view(image).substr(1024))), kAck);
    EXPECT_EQ(host->Ask("FWEND"), ReplyFrame("FWEND", kNak));
    EXPECT_EQ(scanner->GetIdentity().firmwareVersion, "V1.0.0");
    EXPECT_EQ(scanner->FirmwareUpdates(), 0u);
}

TEST_F(FirmwareTransfer, TooManyBytesMakesTheDeviceGiveUp) {
    const std::string image = Image("V4", 200);
    const std::string start = StartCommand(image);
    ASSERT_EQ(host->Ask(start), ReplyFrame(start, kAck));
    EXPECT_EQ(SendBlock(Block(0, image + image)), kCan);
    EXPECT_EQ(host->Ask("FWEND"), ReplyFrame("FWEND", kNak));
}

TEST_F(FirmwareTransfer, MalformedStartsAreNakked) {
    for (const char* command : {"FWSTART", "FWSTART2,100", "FWSTART9,100,00000000",
                                "FWSTART1,abc,00000000", "FWSTART1,100,123"}) {
        EXPECT_EQ(host->Ask(command), ReplyFrame(command, kNak)) << command;
    }
    EXPECT_EQ(host->Ask("FWEND"), ReplyFrame("FWEND", kNak));
}

}  // namespace
