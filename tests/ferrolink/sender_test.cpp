// The command sender over a pty whose device side the test plays.
#include <unistd.h>

#include <cstring>
#include <thread>
#include <vector>

#include "cmd_send.h"
#include "core_fixture.h"

namespace {

const std::string kHeader(
    "\x7E\x01"
    "0000",
    6);
const std::string kReplyHeader(
    "\x02\x01"
    "0000",
    6);

std::string Framed(const std::string& payload, char status = 0x06) {
    return kReplyHeader + "0" + payload + status + ";\x03";
}

class SenderTest : public CoreTest {
  protected:
    void SetUp() override {
        CoreTest::SetUp();
        master_ = StartPtyDevice("usb#vid_1eab&pid_0d10#pty0001");
        ASSERT_GE(master_, 0);
        record_ = UsbRecord("usb#vid_1eab&pid_0d10#pty0001");
        connection_ = std::make_unique<__STRUCT_DEVICE_ONLINE>();
        CopyPortSettings(record_, *connection_);
        ASSERT_TRUE(OpenConnection(connection_.get()));
    }
    void TearDown() override {
        connection_.reset();
        CoreTest::TearDown();
    }
    // Answers the next frame with the given pieces, gapMs apart.
    std::thread Answer(std::vector<std::string> pieces, int gapMs = 50) {
        return std::thread([this, pieces, gapMs] {
            written_ = ReadMaster(master_);
            for (const std::string& piece : pieces) {
                (void)!write(master_, piece.data(), piece.size());
                std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
            }
        });
    }
    int master_ = -1;
    _QVDeviceInfo record_;
    std::unique_ptr<__STRUCT_DEVICE_ONLINE> connection_;
    std::string written_;
};

struct FrameCase {
    const char* command;
    bool framed;  // SendFramed, else SendRequest
    std::string expected;
};

TEST_F(SenderTest, FramesAreBuiltByteForByte) {
    const FrameCase cases[] = {
        {"QRYESN", true, kHeader + "@QRYESN;\x03"},
        {"@QRYSYS,PDN,PSN", true, kHeader + "@QRYSYS,PDN,PSN;\x03"},
        {"#ILLCLR3", true, kHeader + "@#ILLCLR3;\x03"},
        {"#X", true, kHeader + "@#X;\x03"},
        // A framed command that holds '@' anywhere gets none in front.
        {"QRY@X", true, kHeader + "QRY@X;\x03"},
        {"IMGGET0T0R1F", false, kHeader + "@IMGGET0T0R1F;\x03"},
        {"#ILLSCN1", false, kHeader + "#ILLSCN1;\x03"},
        {"@X;", false, kHeader + "@X;\x03"},
    };
    for (const FrameCase& c : cases) {
        CCmdSend sender;
        if (c.framed) {
            std::thread device = Answer({Framed("OK")});
            int count = 0;
            sender.SendFramed(connection_.get(), c.command, &count);
            device.join();
            EXPECT_EQ(written_, c.expected) << c.command;
        } else {
            EXPECT_EQ(sender.SendRequest(connection_.get(), c.command), 1);
            EXPECT_EQ(ReadMaster(master_), c.expected) << c.command;
        }
    }
}

TEST_F(SenderTest, FramedReplyInThreeChunksIsCollectedWhole) {
    const std::string reply = Framed("PART-ONE,PART-TWO,PART-THREE");
    std::thread device = Answer({reply.substr(0, 10), reply.substr(10, 12), reply.substr(22)}, 150);
    CCmdSend sender;
    int count = 0;
    sender.SendFramed(connection_.get(), "QRYALL", &count);
    device.join();
    ASSERT_EQ(sender.m_dwCurrentSize, reply.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(sender.Data()), sender.m_dwCurrentSize),
              reply);
    EXPECT_EQ(sender.Data()[sender.m_dwCurrentSize - 3], 0x06);
}

TEST_F(SenderTest, BytesAfterTheFrameEndStayOutOfTheReplyText) {
    // The device's next frame arrives in the same read as the end of this one;
    // the configuration steps read the collected reply as a C string.
    const std::string reply = Framed("OK");
    std::thread device = Answer({reply + "NEXT-FRAME"});
    CCmdSend sender;
    int count = 0;
    sender.SendFramed(connection_.get(), "QRYALL", &count);
    device.join();
    ASSERT_EQ(sender.m_dwCurrentSize, reply.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(sender.Data())), reply);
}

TEST_F(SenderTest, UnframedDataIsCompleteAfterItsFirstChunk) {
    // A chunk ends at the read's time limit (3 s); unframed bytes end the
    // reading there, so what comes later stays for the next reader.
    std::thread device([this] {
        (void)!write(master_, "ABC", 3);
        std::this_thread::sleep_for(std::chrono::milliseconds(3800));
        (void)!write(master_, "DEF", 3);
    });
    CCmdSend sender;
    ASSERT_TRUE(sender.ReadReply(connection_.get()));
    EXPECT_TRUE(sender.IsReplyComplete());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(sender.Data()), sender.m_dwCurrentSize),
              "ABC");
    device.join();
}

TEST_F(SenderTest, TwoByteReplyIsNotAcknowledged) {
    std::thread device = Answer({"\x06;"});
    CCmdSend sender;
    int count = 0;
    sender.SendFramed(connection_.get(), "PING", &count);
    device.join();
    ASSERT_EQ(sender.m_dwCurrentSize, 2u);
    EXPECT_TRUE(sender.IsReplyComplete());
    const bool acknowledged =
        sender.m_dwCurrentSize >= 3 && sender.Data()[sender.m_dwCurrentSize - 3] == 0x06;
    EXPECT_FALSE(acknowledged);
}

TEST_F(SenderTest, GrowingTheBufferKeepsEveryByte) {
    std::string payload(250000, 'x');
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<char>('A' + i % 26);
    const std::string reply = Framed(payload);
    std::vector<std::string> pieces;
    for (size_t at = 0; at < reply.size(); at += 30000)
        pieces.push_back(reply.substr(at, 30000));
    std::thread device = Answer(pieces, 20);
    CCmdSend sender;
    int count = 0;
    sender.SendFramed(connection_.get(), "BIG", &count);
    device.join();
    ASSERT_EQ(sender.m_dwCurrentSize, reply.size());
    EXPECT_GE(sender.BuffSize(), reply.size());
    EXPECT_EQ(std::memcmp(sender.Data(), reply.data(), reply.size()), 0);
}

// The largest reply the sender reads is taken whole; one byte more fails like
// a reply that never ended: nothing of it stays, and the buffer stops growing
// at its cap instead of doubling for as long as the reply goes on.
TEST_F(SenderTest, RepliesAreTakenUpToTheMaximumAndNotOneByteMore) {
    for (const size_t size :
         {size_t{CCmdSend::kMaxReplySize}, size_t{CCmdSend::kMaxReplySize} + 1}) {
        const std::string reply = Framed(std::string(size - 10, 'm'));
        ASSERT_EQ(reply.size(), size);
        std::vector<std::string> pieces;
        for (size_t at = 0; at < reply.size(); at += 65536)
            pieces.push_back(reply.substr(at, 65536));
        std::thread device = Answer(pieces, 0);
        CCmdSend sender;
        int count = 0;
        sender.SendFramed(connection_.get(), "MAX", &count);
        device.join();
        EXPECT_LE(sender.BuffSize(), CCmdSend::kMaxBuffSize) << size;
        if (size == CCmdSend::kMaxReplySize) {
            EXPECT_FALSE(sender.ReplyTooLong());
            ASSERT_EQ(sender.m_dwCurrentSize, reply.size());
            EXPECT_EQ(std::memcmp(sender.Data(), reply.data(), reply.size()), 0);
        } else {
            EXPECT_TRUE(sender.ReplyTooLong());
            EXPECT_EQ(sender.m_dwCurrentSize, 0u);
            EXPECT_EQ(sender.Data()[0], 0) << "a piece of the refused reply stayed";
        }
    }
}

TEST_F(SenderTest, UnusableConnectionSendsNothing) {
    CCmdSend sender;
    int count = 7;
    EXPECT_EQ(sender.SendFramed(nullptr, "QRYESN", &count), nullptr);
    __STRUCT_DEVICE_ONLINE closed;
    EXPECT_EQ(sender.SendFramed(&closed, "QRYESN", &count), nullptr);
    EXPECT_EQ(sender.SendRequest(&closed, "QRYESN"), 0);
    EXPECT_EQ(count, 7);
    EXPECT_EQ(sender.m_dwCurrentSize, 0u);
}

TEST_F(SenderTest, CommandTooLongForTheFrameIsRefusedNotCut) {
    const std::string command(1100, 'A');
    CCmdSend sender;
    int count = 0;
    EXPECT_EQ(sender.SendFramed(connection_.get(), command.c_str(), &count), nullptr);
    EXPECT_EQ(sender.SendRequest(connection_.get(), command.c_str()), 0);
    EXPECT_EQ(ReadMaster(master_, 300), "");
}

}  // namespace
