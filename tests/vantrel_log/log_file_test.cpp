// LogFile over real files: buffering, append versus truncate, formatted
// entries, the sticky error of a device that refuses writes, two writers.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "fmtx.h"
#include "log_file.h"
#include "port/win_port.h"
#include "port/win_port_errors.h"
#include "support/temp_dir.h"

namespace vantrel::log {
namespace {

class LogFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = tmp_.String();
        path_ = dir_ + "/test.log";
    }
    support::TempDir tmp_{"vantrel_logfile"};
    long long FileSize() const {
        struct stat info {};
        return stat(path_.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
    }
    std::string Content() const {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static std::string Bytes(size_t count, char first) {
        std::string bytes(count, ' ');
        for (size_t i = 0; i < count; ++i)
            bytes[i] = static_cast<char>(first + i % 23);
        return bytes;
    }
    std::string dir_;
    std::string path_;
};

TEST_F(LogFileTest, LargeChunkGoesStraightToTheFile) {
    LogFile log;
    ASSERT_TRUE(log.Open(path_.c_str(), false, 4096));
    std::string chunk = Bytes(10000, 'a');
    EXPECT_TRUE(log.Write(chunk.data(), chunk.size()));
    EXPECT_EQ(FileSize(), 10000);
    EXPECT_EQ(log.Fill(), 0u);
    EXPECT_TRUE(log.Close());
    EXPECT_EQ(Content(), chunk);
}

TEST_F(LogFileTest, ChunkThatOverflowsTopsUpFlushesAndKeepsTheRest) {
    LogFile log;
    ASSERT_TRUE(log.Open(path_.c_str(), false, 4096));
    std::string first = Bytes(2000, 'a');
    std::string second = Bytes(3000, 'A');
    EXPECT_TRUE(log.Write(first.data(), first.size()));
    EXPECT_EQ(FileSize(), 0);
    EXPECT_TRUE(log.Write(second.data(), second.size()));
    EXPECT_EQ(FileSize(), 4096);
    EXPECT_EQ(log.Fill(), 904u);
    EXPECT_TRUE(log.Flush());
    EXPECT_EQ(FileSize(), 5000);
    EXPECT_TRUE(log.Close());
    EXPECT_EQ(Content(), first + second);
}

TEST_F(LogFileTest, BufferedDataThenAChunkTooLargeToShare) {
    LogFile log;
    ASSERT_TRUE(log.Open(path_.c_str(), false, 100));
    EXPECT_TRUE(log.Write("head", 4));
    std::string big = Bytes(500, 'k');
    EXPECT_TRUE(log.Write(big.data(), big.size()));
    EXPECT_EQ(FileSize(), 504);
    // Exactly the capacity does not stay in the buffer either.
    std::string exact = Bytes(100, 'e');
    EXPECT_TRUE(log.Write(exact.data(), exact.size()));
    EXPECT_EQ(FileSize(), 604);
    EXPECT_TRUE(log.Write("x", 1));
    EXPECT_EQ(log.Fill(), 1u);
    EXPECT_TRUE(log.Close());
    EXPECT_EQ(Content(), "head" + big + exact + "x");
}

TEST_F(LogFileTest, AppendKeepsAndTruncateCuts) {
    {
        std::ofstream out(path_, std::ios::binary);
        out << "old line\n";
    }
    LogFile log;
    ASSERT_TRUE(log.Open(path_.c_str(), true, 64));
    EXPECT_TRUE(log.Write("new\n", 4));
    EXPECT_TRUE(log.Close());
    EXPECT_EQ(Content(), "old line\nnew\n");
    ASSERT_TRUE(log.Open(path_.c_str(), false, 64));
    EXPECT_EQ(FileSize(), 0);
    EXPECT_TRUE(log.Write("fresh", 5));
    EXPECT_TRUE(log.Close());
    EXPECT_EQ(Content(), "fresh");
}

TEST_F(LogFileTest, OpenFailuresAndClosedUse) {
    LogFile log;
    EXPECT_FALSE(log.Open(path_.c_str(), false, 0));
    EXPECT_FALSE(log.Open(path_.c_str(), false, -5));
    EXPECT_FALSE(log.IsOpen());
    EXPECT_FALSE(log.Open((dir_ + "/missing/dir.log").c_str(), false, 64));
    EXPECT_EQ(win::GetLastError(), win::ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(log.IsOpen());
    EXPECT_FALSE(log.Write("x", 1));
    EXPECT_FALSE(log.Flush());
    EXPECT_FALSE(log.Close());
    ASSERT_TRUE(log.Open(path_.c_str(), false, 64));
    EXPECT_TRUE(log.IsOpen());
    EXPECT_FALSE(log.Open(path_.c_str(), false, 64)) << "open twice";
    EXPECT_TRUE(log.Flush()) << "nothing buffered";
}

TEST_F(LogFileTest, RefusedWriteIsStickyUntilReopened) {
    LogFile log;
    ASSERT_TRUE(log.Open("/dev/full", false, 16));
    EXPECT_TRUE(log.Write("buffered", 8));
    EXPECT_FALSE(log.Flush());
    EXPECT_EQ(log.StickyError(), win::ERROR_DISK_FULL);
    EXPECT_EQ(win::GetLastError(), win::ERROR_DISK_FULL);
    win::SetLastError(0);
    // Everything fails at once now, without trying the device again.
    EXPECT_FALSE(log.Write("x", 1));
    EXPECT_FALSE(log.Flush());
    EXPECT_EQ(win::GetLastError(), 0u);
    EXPECT_FALSE(log.Close());
    EXPECT_FALSE(log.IsOpen());

    // A straight write fails the same way.
    ASSERT_TRUE(log.Open("/dev/full", false, 16));
    EXPECT_EQ(log.StickyError(), 0u);
    std::string big = Bytes(100, 'z');
    EXPECT_FALSE(log.Write(big.data(), big.size()));
    EXPECT_EQ(log.StickyError(), win::ERROR_DISK_FULL);
    EXPECT_FALSE(log.Write("y", 1));
    EXPECT_FALSE(log.Close());
}

TEST_F(LogFileTest, FormattedEntriesArriveThroughTheEngine) {
    LogFile log;
    ASSERT_TRUE(log.Open(path_.c_str(), false, 8192));
    const unsigned char bytes[] = {0xDE, 0xAD};
    int32_t length =
        fmtx_cb_printf(LogFile::WritePiece, &log, "read %D bytes: %k%*M\n", 123456, " ", 2, bytes);
    EXPECT_EQ(length, 26);
    EXPECT_TRUE(log.Close());
    EXPECT_EQ(Content(), "read 123 456 bytes: DE AD\n");
}

TEST_F(LogFileTest, TwoThreadsWriteAndFlushWithoutLosingBytes) {
    LogFile log;
    ASSERT_TRUE(log.Open(path_.c_str(), false, 512));
    std::thread writer([&] {
        for (int i = 0; i < 2000; ++i)
            fmtx_cb_printf(LogFile::WritePiece, &log, "line %05d\n", i);
    });
    std::thread flusher([&] {
        for (int i = 0; i < 200; ++i)
            log.Flush();
    });
    writer.join();
    flusher.join();
    EXPECT_TRUE(log.Close());
    std::string content = Content();
    ASSERT_EQ(content.size(), 2000u * 11);
    for (int i = 0; i < 2000; i += 397) {
        char line[16];
        std::snprintf(line, sizeof line, "line %05d\n", i);
        EXPECT_EQ(content.substr(static_cast<size_t>(i) * 11, 11), line);
    }
}

}  // namespace
}  // namespace vantrel::log
