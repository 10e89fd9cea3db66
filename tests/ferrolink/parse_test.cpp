// Splitting identification replies, and the clean-up of the identity texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cmd_send.h"
#include "identity_text.h"

namespace {

const std::string kPrefix(
    "\x02\x01"
    "00000",
    7);

struct Parsed {
    bool ok;
    int count;
    std::vector<std::pair<std::string, std::string>> records;
};

Parsed Parse(const std::string& text) {
    std::vector<ReplyRecord> records(CCmdSend::kRecordCount);
    for (auto& r : records)
        r = ReplyRecord{};
    int count = CCmdSend::kRecordCount;
    Parsed parsed;
    parsed.ok =
        ParseReply(text.c_str(), static_cast<uint32_t>(text.size()), records.data(), &count);
    parsed.count = count;
    for (int i = 0; i < 3; ++i)
        parsed.records.emplace_back(records[i].szName, records[i].szValue);
    return parsed;
}

TEST(ParseReplyTest, IdentificationPieceGivesThreeRecords) {
    const Parsed p = Parse(kPrefix +
                           "Product Name: X\r\nFirmware Version: V1\r\nSerial Number: Y\r\nOEM "
                           "Serial Number: Z\r\n\x06;\x03");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.count, 3);
    EXPECT_EQ(p.records[0],
              std::make_pair(std::string("QRYSYS"), std::string("Firmware Version: V1\r")));
    EXPECT_EQ(p.records[1], std::make_pair(std::string("QRYPDN"), std::string("X")));
    EXPECT_EQ(p.records[2], std::make_pair(std::string("QRYPSN"), std::string("Y\r")));
}

TEST(ParseReplyTest, PiecesWithoutLabelsOrOutOfOrderStayInsideTheText) {
    const std::vector<std::string> texts = {
        kPrefix + "nothing to see in this answer\x06;\x03",
        kPrefix + "Firmware and Serial only\x06;\x03",            // two labels missing
        kPrefix + "OEM Serial Firmware Product\x06;\x03",         // reversed order
        kPrefix + "ProductFirmwareSerialOEM\x06;\x03",            // labels touching
        kPrefix + "Product Name: A Firmware: B Serial OEM;\x03",  // too close for the cuts
        kPrefix + ";;;\x03",
    };
    for (const std::string& text : texts) {
        const Parsed p = Parse(text);
        EXPECT_TRUE(p.ok) << text;
        if (p.count != 3) {
            EXPECT_EQ(p.count, CCmdSend::kRecordCount) << text;
            EXPECT_EQ(p.records[0].first, "") << text;
        }
    }
}

TEST(ParseReplyTest, SixteenCharacterPieceAndEmptyText) {
    const Parsed p = Parse(kPrefix + "0123456789ABCDE\x06;\x03");  // 15 characters and the status
    EXPECT_EQ(p.count, 1);
    EXPECT_EQ(p.records[0].first, "BASQSY");
    EXPECT_FALSE(Parse("").ok);
    // A size of 0 means no text at all: not even the first byte is looked at
    // (here it lies outside the buffer; the sanitizer build catches a read).
    const std::vector<char> buffer(4, 'X');
    std::vector<ReplyRecord> records(CCmdSend::kParsedRecords);
    int count = CCmdSend::kRecordCount;
    EXPECT_FALSE(ParseReply(buffer.data() + buffer.size(), 0, records.data(), &count));
    EXPECT_EQ(count, CCmdSend::kRecordCount);
}

// The payload starts after the six header bytes and the one byte behind them:
// only a piece of exactly sixteen characters from there is the short answer,
// whatever that one byte holds.
TEST(ParseReplyTest, ShortAnswerIsCountedFromTheEighthByte) {
    for (const char oneByte : {'0', 'Z', ';'}) {
        for (const size_t length : {14u, 15u, 16u, 17u}) {
            std::string text = kPrefix.substr(0, 6) + oneByte + std::string(length, 'q') + ";\x03";
            const Parsed p = Parse(text);
            ASSERT_TRUE(p.ok);
            const bool shortAnswer = p.count == 1 && p.records[0].first == "BASQSY";
            EXPECT_EQ(shortAnswer, length == 16) << "one byte '" << oneByte << "', " << length;
        }
    }
}

TEST(ParseReplyTest, LongValueIsCutAtTheField) {
    const std::string product(3000, 'P');
    const Parsed p = Parse(kPrefix + "Product Name: " + product +
                           "\r\nFirmware V\r\nSerial Number: S\r\nOEM\x06;\x03");
    ASSERT_EQ(p.count, 3);
    EXPECT_EQ(p.records[1].second.size(), 1023u);
}

struct CleanCase {
    const char* in;
    const char* out;
};

TEST(IdentityTextTest, ValuesAreCleanedAsDiscoveryStoresThem) {
    const CleanCase cases[] = {
        {"Name: ABC", "ABC"}, {"ABC", "ABC"},       {": A:B", "A:B"},
        {"x:  two", " two"},  {"S1\r\n2", "S1\n2"}, {"S1\r", "S1\r"},
    };
    for (const CleanCase& c : cases)
        EXPECT_EQ(ferrolink::CleanIdentityValue(c.in), c.out) << c.in;
    EXPECT_EQ(ferrolink::TrimLineEnds("Y\r\n\r"), "Y");
}

TEST(IdentityTextTest, FirmwareVersionComesFromBeforeDecoder) {
    const CleanCase cases[] = {
        {"Firmware Version: V1.2.3\r\nDecoder D9\r", "V1.2.3"},
        {"Firmware Version V1.2.3\r\nDecoder D9", ""},
        {"Firmware Version: V7\r", "Firmware Version: V7\r"},
        {"X:Decoder", ""},
    };
    for (const CleanCase& c : cases)
        EXPECT_EQ(ferrolink::FirmwareVersionOf(c.in), c.out) << c.in;
}

}  // namespace
