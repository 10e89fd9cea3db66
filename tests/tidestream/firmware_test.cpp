#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <random>

#include "pty_fixture.h"

using namespace test;

namespace {

uint32_t Crc(const void* data, size_t length) {
    return static_cast<uint32_t>(
        crc32(0, static_cast<const Bytef*>(data), static_cast<uInt>(length)));
}

std::vector<uint8_t> RandomImage(size_t size) {
    std::vector<uint8_t> image(size);
    std::mt19937 random(42);
    for (auto& byte : image) {
        byte = static_cast<uint8_t>(random());
    }
    return image;
}

// Writes a firmware file; `tweak` may spoil the header before it is written.
std::filesystem::path WriteFirmware(const std::filesystem::path& file,
                                    const std::vector<uint8_t>& image,
                                    void (*tweak)(KernelInfo&) = nullptr, size_t dropTail = 0) {
    KernelInfo header{};
    header.dwMagic = 0x4652544B;
    header.dwFormat = 1;
    header.nKind = 2;
    header.dwImageSize = static_cast<uint32_t>(image.size());
    header.dwImageCrc = Crc(image.data(), image.size());
    std::strcpy(header.szVersion, "V2.3.4-build77");
    std::strcpy(header.szProduct, "SIM");
    if (tweak) {
        tweak(header);
    }
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&header), sizeof header);
    out.write(reinterpret_cast<const char*>(image.data()),
              static_cast<std::streamsize>(image.size() - dropTail));
    return file;
}

// The device side of the transfer, written from the protocol description.
class FirmwareDevice {
  public:
    std::mutex mutex;
    bool nakStart = false;
    bool silent = false;
    std::map<uint16_t, int> damageTimes;  // seq -> how often it arrives "damaged"
    std::map<uint16_t, int> receptions;
    std::string startCommand;
    std::vector<uint8_t> image;
    bool ended = false;
    bool accepted = false;

    size_t Serve(const std::string& in, support::PtyPair& pty) {
        std::lock_guard lock(mutex);
        if (silent) {
            return in.size();
        }
        if (inBlocks_) {
            return ServeBlock(in, pty);
        }
        const size_t end = in.find(std::string(";\x03", 2));
        if (end == std::string::npos) {
            return 0;
        }
        const std::string command = in.substr(7, end - 7);  // after 7E 01 "0000@"
        if (command.rfind("FWSTART", 0) == 0) {
            startCommand = command;
            unsigned kind = 0;
            std::sscanf(command.c_str(), "FWSTART%u,%u,%x", &kind, &size_, &crc_);
            inBlocks_ = !nakStart && size_ > 0;
            pty.Send(ReplyFrame("", nakStart ? 0x15 : 0x06));
        } else if (command == "FWEND") {
            ended = true;
            accepted = image.size() == size_ && Crc(image.data(), image.size()) == crc_;
            pty.Send(ReplyFrame("", accepted ? 0x06 : 0x15));
        }
        return end + 2;
    }

  private:
    size_t ServeBlock(const std::string& in, support::PtyPair& pty) {
        if (in.size() < 6) {
            return 0;
        }
        const auto* b = reinterpret_cast<const uint8_t*>(in.data());
        const uint16_t seq = static_cast<uint16_t>(b[2] | (b[3] << 8));
        const uint16_t len = static_cast<uint16_t>(b[4] | (b[5] << 8));
        if (in.size() < 6u + len + 4u) {
            return 0;
        }
        uint32_t crc;
        std::memcpy(&crc, b + 6 + len, 4);
        bool good = b[0] == 0x10 && b[1] == 'B' && len <= 1024 && Crc(b + 2, 4u + len) == crc;
        ++receptions[seq];
        if (damageTimes[seq] > 0) {
            --damageTimes[seq];
            good = false;
        }
        if (good && seq == expectedSeq_) {
            image.insert(image.end(), b + 6, b + 6 + len);
            ++expectedSeq_;
        }
        pty.Send(std::string(1, good ? '\x06' : '\x15'));
        if (image.size() >= size_) {
            inBlocks_ = false;
        }
        return 6u + len + 4u;
    }

    bool inBlocks_ = false;
    unsigned size_ = 0;
    unsigned crc_ = 0;
    uint16_t expectedSeq_ = 0;
};

class FirmwareTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(platform::AddEntry("dosdevices", "COM8", pty_.node()));
        ComPortSettings settings{8, 115200, 8};
        int err = -1;
        ASSERT_EQ(qvds_open_com(h_, &settings, &err), 1);
    }
    int Update(const std::filesystem::path& file, int blockTimeout, int* err) {
        const std::u16string name = file.u16string();
        status_ = FirmwareUploadStatus{};
        status_.dwSize = 32;
        return qvds_update_firmware_file(h_, name.c_str(), blockTimeout, &info_, &status_, err);
    }

    support::RuntimeDir dir_;
    support::PtyPair pty_;
    Handle h_;
    FirmwareDevice device_;
    Device loop_{pty_, [this](const std::string& in, support::PtyPair& pty) {
                     return device_.Serve(in, pty);
                 }};
    FirmwareUploadInfo info_{};
    FirmwareUploadStatus status_{};
};

TEST_F(FirmwareTest, OneMebibyteImageArrivesWhole) {
    const auto image = RandomImage(1 << 20);
    const auto file = WriteFirmware(dir_.Path() / "app.bin", image);
    int err = -1;
    ASSERT_EQ(Update(file, 30, &err), 1);
    EXPECT_EQ(err, QVDS_OK);
    std::lock_guard lock(device_.mutex);
    char expectedStart[64];
    std::snprintf(expectedStart, sizeof expectedStart, "FWSTART2,1048576,%08X",
                  Crc(image.data(), image.size()));
    EXPECT_EQ(device_.startCommand, expectedStart);
    EXPECT_TRUE(device_.image == image);
    EXPECT_TRUE(device_.accepted);
    EXPECT_EQ(info_.dwTotalBytes, 1u << 20);
    EXPECT_EQ(info_.dwBytesSent, 1u << 20);
    EXPECT_EQ(info_.dwBlockCount, 1024u);
    EXPECT_EQ(info_.dwRetries, 0u);
    EXPECT_EQ(info_.nKind, 2);
    EXPECT_STREQ(info_.szVersion, "V2.3.4-build77");
    EXPECT_EQ(status_.dwPercent, 100u);
}

TEST_F(FirmwareTest, DamagedBlockIsResent) {
    const auto image = RandomImage(10 * 1024 + 17);  // last block is short
    const auto file = WriteFirmware(dir_.Path() / "app.bin", image);
    {
        std::lock_guard lock(device_.mutex);
        device_.damageTimes[3] = 2;
    }
    int err = -1;
    ASSERT_EQ(Update(file, 30, &err), 1);
    std::lock_guard lock(device_.mutex);
    EXPECT_EQ(device_.receptions[3], 3);
    EXPECT_EQ(info_.dwRetries, 2u);
    EXPECT_TRUE(device_.image == image);
}

TEST_F(FirmwareTest, BlockDamagedEveryTimeEndsTheTransfer) {
    const auto file = WriteFirmware(dir_.Path() / "app.bin", RandomImage(8 * 1024));
    {
        std::lock_guard lock(device_.mutex);
        device_.damageTimes[5] = 1000;
    }
    int err = -1;
    EXPECT_EQ(Update(file, 30, &err), 0);
    EXPECT_EQ(err, QVDS_ERR_REFUSED);
    EXPECT_EQ(status_.nLastError, QVDS_ERR_REFUSED);
    std::lock_guard lock(device_.mutex);
    EXPECT_EQ(device_.receptions[5], 4);  // once and three resends
    EXPECT_EQ(device_.receptions.count(6), 0u);
    EXPECT_FALSE(device_.ended);
}

TEST_F(FirmwareTest, RefusalAtStartAndSilenceAreReported) {
    const auto file = WriteFirmware(dir_.Path() / "app.bin", RandomImage(4096));
    {
        std::lock_guard lock(device_.mutex);
        device_.nakStart = true;
    }
    int err = -1;
    EXPECT_EQ(Update(file, 30, &err), 0);
    EXPECT_EQ(err, QVDS_ERR_REFUSED);
    {
        std::lock_guard lock(device_.mutex);
        device_.silent = true;
    }
    EXPECT_EQ(Update(file, 2, &err), 0);  // 0.2 s block time-out
    EXPECT_EQ(err, QVDS_ERR_TIMEOUT);
}

TEST_F(FirmwareTest, BadFilesAreRefusedBeforeAnythingIsSent) {
    const auto image = RandomImage(4096);
    struct Case {
        const char* what;
        std::filesystem::path file;
    };
    const Case cases[] = {
        {"missing", dir_.Path() / "none.bin"},
        {"magic",
         WriteFirmware(dir_.Path() / "m.bin", image, [](KernelInfo& k) { k.dwMagic = 1; })},
        {"format",
         WriteFirmware(dir_.Path() / "f.bin", image, [](KernelInfo& k) { k.dwFormat = 2; })},
        {"short", WriteFirmware(dir_.Path() / "s.bin", image, nullptr, 1)},
        {"crc",
         WriteFirmware(dir_.Path() / "c.bin", image, [](KernelInfo& k) { k.dwImageCrc ^= 1; })},
    };
    for (const auto& c : cases) {
        int err = -1;
        EXPECT_EQ(Update(c.file, 30, &err), 0) << c.what;
        EXPECT_EQ(err, QVDS_ERR_FILE) << c.what;
    }
    std::lock_guard lock(device_.mutex);
    EXPECT_TRUE(device_.startCommand.empty());
}

TEST(KernelInfo, IsReadFromTheHeader) {
    support::RuntimeDir dir;
    const auto image = RandomImage(2000);
    KernelInfo info{};
    const auto good = WriteFirmware(dir.Path() / "k.bin", image);
    ASSERT_EQ(qvds_get_kernel_info(good.c_str(), &info, 0), 1);
    EXPECT_EQ(info.nKind, 2);
    EXPECT_STREQ(reinterpret_cast<const char*>(&info) + 44, "V2.3.4-build77");
    EXPECT_EQ(info.dwImageSize, 2000u);

    const auto shortFile = WriteFirmware(dir.Path() / "s.bin", image, nullptr, 1);
    const auto badMagic =
        WriteFirmware(dir.Path() / "m.bin", image, [](KernelInfo& k) { k.dwMagic = 0; });
    EXPECT_EQ(qvds_get_kernel_info(shortFile.c_str(), &info, 0), 0);
    EXPECT_EQ(qvds_get_kernel_info(badMagic.c_str(), &info, 0), 0);
    EXPECT_EQ(qvds_get_kernel_info((dir.Path() / "none").c_str(), &info, 0), 0);
}

}  // namespace
