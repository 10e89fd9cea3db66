// Every link of the bus (linked pair, port and scanner, data pipe) must hold
// bytes back while the reader is slow instead of dropping them: a writer is
// slowed down, never cut short.
#include <gtest/gtest.h>

#include <atomic>

#include "ovrix/daemon.h"
#include "ovrix_test_support.h"

namespace {

using namespace ovrix_test;

constexpr char kScanner[] = "usb#vid_1eab&pid_0d10#sim0001";
constexpr size_t kStreamBytes = 3 * 1024 * 1024;
constexpr size_t kPauseEvery = 384 * 1024;
constexpr auto kPause = std::chrono::milliseconds(300);

// Bytes whose order matters: a shifted, dropped or repeated block changes them.
std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    uint32_t state = 0x12345678u;
    for (char& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

// Reads `size` bytes, resting now and then as a busy program does. Gives up
// when nothing more comes for a generous while (the rest was lost).
std::string ReadWithPauses(int fd, size_t size) {
    std::string got;
    size_t nextPause = kPauseEvery;
    const auto idleLimit = std::chrono::seconds(5);
    auto lastByte = std::chrono::steady_clock::now();
    while (got.size() < size && std::chrono::steady_clock::now() - lastByte < idleLimit) {
        if (got.size() >= nextPause) {
            std::this_thread::sleep_for(kPause);
            nextPause += kPauseEvery;
            lastByte = std::chrono::steady_clock::now();
        }
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        lastByte = std::chrono::steady_clock::now();
        char buffer[8192];
        ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, size - got.size()));
        if (n > 0)
            got.append(buffer, static_cast<size_t>(n));
        else if (n == 0 || (errno != EAGAIN && errno != EINTR))
            break;
    }
    return got;
}

// Index of the first differing byte, for a readable failure.
size_t FirstDifference(const std::string& a, const std::string& b) {
    size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i])
        ++i;
    return i;
}

// Writes all of `bytes`, waiting for room, until done or told to stop.
// false when the fd failed.
bool WriteUntilDone(int fd, const std::string& bytes, const std::atomic<bool>& stop) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    size_t done = 0;
    while (done < bytes.size() && !stop) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 100);
    }
    return true;
}

// Writes the stream from one thread while this one reads it slowly.
void ExpectStreamWhole(int writeFd, int readFd) {
    const std::string sent = Pattern(kStreamBytes);
    std::atomic<bool> stop{false};
    bool writeFailed = false;
    std::thread writer([&] { writeFailed = !WriteUntilDone(writeFd, sent, stop); });
    std::string got = ReadWithPauses(readFd, sent.size());
    stop = true;
    writer.join();
    EXPECT_FALSE(writeFailed);
    ASSERT_EQ(got.size(), sent.size())
        << "bytes lost; first difference at byte " << FirstDifference(got, sent);
    EXPECT_TRUE(got == sent) << "bytes out of order from byte " << FirstDifference(got, sent);
}

class LosslessLinkTest : public BusFixture {
  protected:
    unsigned ScannerPort() {
        const std::optional<ovrix::PortInfo> port = OnlinePort(kScanner);
        EXPECT_TRUE(port.has_value());
        return port ? port->comNumber : 0;
    }
};

TEST_F(LosslessLinkTest, LinkedPairHoldsBytesForASlowReaderBothWays) {
    ovrix::DaemonOptions options;
    options.pairs.push_back({20, 21});
    StartBus(options);
    TtyHandle a(ComLink(20));
    TtyHandle b(ComLink(21));
    ASSERT_GE(a.fd(), 0);
    ASSERT_GE(b.fd(), 0);
    {
        SCOPED_TRACE("COM20 to COM21");
        ExpectStreamWhole(a.fd(), b.fd());
    }
    {
        SCOPED_TRACE("COM21 to COM20");
        ExpectStreamWhole(b.fd(), a.fd());
    }
}

TEST_F(LosslessLinkTest, PairEndNobodyHasOpenKeepsWhatItWasSent) {
    // The writer goes first and fills every buffer on the way; the reader
    // comes late and must still get all of it.
    ovrix::DaemonOptions options;
    options.pairs.push_back({20, 21});
    StartBus(options);
    TtyHandle a(ComLink(20));
    ASSERT_GE(a.fd(), 0);
    const std::string sent = Pattern(256 * 1024);
    std::atomic<bool> stop{false};
    std::thread writer([&] { WriteUntilDone(a.fd(), sent, stop); });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    TtyHandle b(ComLink(21));
    std::string got = ReadWithPauses(b.fd(), sent.size());
    stop = true;
    writer.join();
    ASSERT_EQ(got.size(), sent.size());
    EXPECT_TRUE(got == sent) << "first difference at byte " << FirstDifference(got, sent);
}

TEST_F(LosslessLinkTest, ScannerLinkHoldsBytesForASlowReaderBothWays) {
    FakeEndpoint scanner(kScanner);
    StartBus();
    TtyHandle com(ComLink(ScannerPort()));
    ASSERT_GE(com.fd(), 0);
    {
        SCOPED_TRACE("scanner to port");
        ExpectStreamWhole(scanner.master(), com.fd());
    }
    {
        SCOPED_TRACE("port to scanner");
        ExpectStreamWhole(com.fd(), scanner.master());
    }
}

TEST_F(LosslessLinkTest, DatapipeHoldsBytesForASlowReader) {
    StartBus();
    TtyHandle writeEnd(Path("vbus/datapipe"));
    TtyHandle readEnd(Path("vbus/datapipe"));
    ASSERT_GE(writeEnd.fd(), 0);
    ASSERT_GE(readEnd.fd(), 0);
    ExpectStreamWhole(writeEnd.fd(), readEnd.fd());
}

TEST_F(LosslessLinkTest, OneStalledPairDoesNotHoldUpAnother) {
    // Back-pressure on one link must stop only that link's source.
    ovrix::DaemonOptions options;
    options.pairs.push_back({20, 21});
    options.pairs.push_back({30, 31});
    StartBus(options);
    TtyHandle stalledWriter(ComLink(20));
    ASSERT_GE(stalledWriter.fd(), 0);
    ::fcntl(stalledWriter.fd(), F_SETFL, ::fcntl(stalledWriter.fd(), F_GETFL) | O_NONBLOCK);
    const std::string filler = Pattern(64 * 1024);
    // Fill until the writer would block: COM21 is never read.
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < until) {
        ssize_t n = ::write(stalledWriter.fd(), filler.data(), filler.size());
        if (n < 0 && errno == EAGAIN) {
            pollfd p{stalledWriter.fd(), POLLOUT, 0};
            if (::poll(&p, 1, 500) == 0)
                break;  // stalled for good
        }
    }
    TtyHandle a(ComLink(30));
    TtyHandle b(ComLink(31));
    const std::string text = "still moving";
    WriteText(a.fd(), text);
    EXPECT_EQ(ReadBytes(b.fd(), text.size()), text);
}

}  // namespace
