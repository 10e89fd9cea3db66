// The small tty and descriptor tools every program shares: a fault here shows
// up as a wrong speed, a refused COM name or a leaked descriptor everywhere.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <optional>
#include <string>

#include "platform/ascii_case.h"
#include "platform/baud_rates.h"
#include "platform/com_name.h"
#include "platform/deadline.h"
#include "platform/error.h"
#include "platform/pty_pair.h"
#include "platform/raw_tty.h"
#include "platform/result.h"
#include "platform/unique_fd.h"

using namespace platform;

namespace {

bool IsOpenFd(int fd) {
    return ::fcntl(fd, F_GETFD) != -1 || errno != EBADF;
}

struct Pipe {
    UniqueFd read;
    UniqueFd write;
    Pipe() {
        int fds[2];
        EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
        read.Reset(fds[0]);
        write.Reset(fds[1]);
    }
};

}  // namespace

TEST(BaudRates, KnownRatesMapBothWaysAndOthersAreRefused) {
    struct Case {
        uint32_t baud;
        std::optional<speed_t> speed;
    };
    const Case cases[] = {
        {50, B50},
        {300, B300},
        {1200, B1200},
        {9600, B9600},
        {19200, B19200},
        {57600, B57600},
        {115200, B115200},
        {230400, B230400},
        {921600, B921600},
        {1000000, B1000000},
        {4000000, B4000000},
        {0, std::nullopt},
        {12345, std::nullopt},
        {115201, std::nullopt},
        {4000001, std::nullopt},
        {UINT32_MAX, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.baud);
        EXPECT_EQ(SpeedFromBaud(c.baud), c.speed);
        if (c.speed) {
            EXPECT_EQ(BaudFromSpeed(*c.speed), c.baud);
        }
    }
    EXPECT_EQ(BaudFromSpeed(B0), 0u);
    // A value that is no speed code at all (the codes are small flag values).
    EXPECT_EQ(BaudFromSpeed(static_cast<speed_t>(0x7FFFFFFF)), 0u);
}

TEST(RawTty, CookedPseudoTerminalBecomesRawAtTheGivenSpeed) {
    UniqueFd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_TRUE(master);
    ASSERT_EQ(::grantpt(master.Get()), 0);
    ASSERT_EQ(::unlockpt(master.Get()), 0);
    char name[128];
    ASSERT_EQ(::ptsname_r(master.Get(), name, sizeof name), 0);
    UniqueFd slave(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_TRUE(slave);

    termios cooked{};
    ASSERT_EQ(::tcgetattr(slave.Get(), &cooked), 0);
    cooked.c_lflag |= ICANON | ECHO | ISIG;
    cooked.c_iflag |= IXON | IXOFF | ICRNL;
    cooked.c_oflag |= OPOST;
    cooked.c_cflag = (cooked.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB;
    ASSERT_EQ(::tcsetattr(slave.Get(), TCSANOW, &cooked), 0);

    const Error error = MakeRaw(slave.Get(), B9600);
    ASSERT_FALSE(error.Failed()) << error.message;

    termios raw{};
    ASSERT_EQ(::tcgetattr(slave.Get(), &raw), 0);
    EXPECT_EQ(raw.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(raw.c_iflag & (IXON | IXOFF | ICRNL), 0u);
    EXPECT_EQ(raw.c_oflag & OPOST, 0u);
    EXPECT_EQ(raw.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));
    EXPECT_EQ(raw.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(raw.c_cc[VMIN], 1);
    EXPECT_EQ(raw.c_cc[VTIME], 0);
    EXPECT_EQ(::cfgetospeed(&raw), static_cast<speed_t>(B9600));

    // Bytes the line discipline would have changed arrive as they were sent.
    const char sent[] = "a\r\x03\x7f";
    ASSERT_EQ(::write(master.Get(), sent, 4), 4);
    char got[4] = {};
    ASSERT_EQ(::read(slave.Get(), got, 4), 4);
    EXPECT_EQ(std::string(got, 4), std::string(sent, 4));
}

TEST(RawTty, TermiosValueTakesTheCharacterSize) {
    termios tio{};
    tio.c_cflag = CS8 | PARENB | CRTSCTS;
    MakeRawTermios(tio, CS5);
    EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CRTSCTS), static_cast<tcflag_t>(CS5));
    ASSERT_TRUE(SetTermiosSpeed(tio, B115200));
    EXPECT_EQ(::cfgetispeed(&tio), static_cast<speed_t>(B115200));
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B115200));
}

TEST(RawTty, SomethingThatIsNoTerminalIsRefusedWithItsErrno) {
    Pipe pipe;
    const Error error = MakeRaw(pipe.read.Get());
    EXPECT_EQ(error.code, ENOTTY);
    EXPECT_EQ(error.message.rfind("tcgetattr: ", 0), 0u) << error.message;
}

TEST(ComName, ParsesWhatTheWindowsProgramsWrite) {
    struct Case {
        const char* name;
        std::optional<unsigned> number;
    };
    const Case cases[] = {
        {"COM3", 3u},
        {"com12", 12u},
        {"cOm7", 7u},
        {"\\\\.\\COM12", 12u},
        {"\\\\.\\com1", 1u},
        {"COM256", 256u},
        {"COM65535", 65535u},
        {"COM65536", std::nullopt},
        {"COM4294967297", std::nullopt},  // would wrap to 1 in 32 bits
        {"COM0", std::nullopt},
        {"COM00", std::nullopt},
        {"COMx", std::nullopt},
        {"COM", std::nullopt},
        {"COM3x", std::nullopt},
        {"COM 3", std::nullopt},
        {"COM-3", std::nullopt},
        {"xCOM3", std::nullopt},
        {"LPT1", std::nullopt},
        {"\\\\.\\", std::nullopt},
        {"\\\\?\\COM3", std::nullopt},
        {"\\\\.\\\\\\.\\COM3", std::nullopt},
        {"3", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ParseComName(c.name), c.number);
    }
}

TEST(ComName, FormatReadsBack) {
    for (unsigned number : {1u, 9u, 10u, 255u, 256u, kMaxComNumber}) {
        SCOPED_TRACE(number);
        const std::string name = FormatComName(number);
        EXPECT_EQ(name, "COM" + std::to_string(number));
        EXPECT_EQ(ParseComName(name), number);
        EXPECT_EQ(ParseComName(std::string(kDeviceNamePrefix) + name), number);
    }
}

TEST(Deadline, ExpiryAndRemainderAtGivenTicks) {
    struct Case {
        uint32_t start;
        uint32_t timeout;
        uint32_t now;
        bool expired;
        uint32_t remaining;
    };
    const Case cases[] = {
        {1000, 500, 1000, false, 500},
        {1000, 500, 1499, false, 1},
        {1000, 500, 1500, true, 0},
        {1000, 500, 90000, true, 0},
        {1000, 0, 1000, true, 0},
        // Across the wrap of the counter.
        {0xFFFFFFF0u, 0x40, 0x10, false, 0x20},
        {0xFFFFFFF0u, 0x40, 0x30, true, 0},
        {0xFFFFFFF0u, 0x10, 0xFFFFFFFFu, false, 1},
        // The longest time-out does not pass at once.
        {5, UINT32_MAX, 5, false, UINT32_MAX},
        {5, UINT32_MAX, 3, false, 1},
        {5, UINT32_MAX, 4, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.start << " + " << c.timeout << " at " << c.now);
        const Deadline deadline(c.start, c.timeout);
        EXPECT_EQ(deadline.ExpiredAt(c.now), c.expired);
        EXPECT_EQ(deadline.RemainingMsAt(c.now), c.remaining);
        EXPECT_EQ(deadline.ElapsedMsAt(c.now), c.now - c.start);
    }
}

TEST(Deadline, PassesOnTheTickCounter) {
    const Deadline deadline(40);
    EXPECT_FALSE(deadline.Expired());
    EXPECT_LE(deadline.RemainingMs(), 40u);
    // Wait on nothing until the limit: poll() returns at the time-out given.
    while (!deadline.Expired()) {
        const int wait = deadline.RemainingPollMs();
        ASSERT_GE(wait, 0);
        ASSERT_LE(wait, 40);
        ::poll(nullptr, 0, wait);
    }
    EXPECT_GE(deadline.ElapsedMs(), 40u);
    EXPECT_EQ(deadline.RemainingMs(), 0u);
    EXPECT_EQ(deadline.RemainingPollMs(), 0);
    EXPECT_EQ(Deadline(UINT32_MAX).RemainingPollMs(), INT_MAX);
}

TEST(UniqueFd, MoveHandsOverAndTheLastOwnerCloses) {
    Pipe pipe;
    const int fd = pipe.read.Get();
    {
        UniqueFd moved(std::move(pipe.read));
        EXPECT_FALSE(pipe.read);
        EXPECT_EQ(pipe.read.Get(), -1);
        EXPECT_EQ(moved.Get(), fd);
        EXPECT_TRUE(IsOpenFd(fd));
    }
    EXPECT_FALSE(IsOpenFd(fd));
}

TEST(UniqueFd, AssignmentClosesTheOldDescriptorOnly) {
    Pipe first;
    Pipe second;
    const int kept = second.read.Get();
    const int replaced = first.read.Get();
    first.read = std::move(second.read);
    EXPECT_FALSE(IsOpenFd(replaced));
    EXPECT_TRUE(IsOpenFd(kept));
    EXPECT_EQ(first.read.Get(), kept);

    auto& self = first.read;
    first.read = std::move(self);
    EXPECT_TRUE(IsOpenFd(kept));
    first.read.Reset(kept);
    EXPECT_TRUE(IsOpenFd(kept));
}

TEST(UniqueFd, ReleaseGivesUpWithoutClosing) {
    Pipe pipe;
    const int fd = pipe.write.Release();
    EXPECT_FALSE(pipe.write);
    EXPECT_TRUE(IsOpenFd(fd));
    ::close(fd);
}

TEST(AsciiCase, OnlyAsciiLettersFold) {
    struct Case {
        const char* a;
        const char* b;
        bool equal;
    };
    const Case cases[] = {
        {"KTR_Datapipe", "ktr_datapipe", true},
        {"COM", "com", true},
        {"", "", true},
        {"COM", "COM1", false},
        {"[", "{", false},  // 0x5B and 0x7B differ by 32 but are no letters
        {"@", "`", false},
        {"\xC4", "\xE4", false},  // Latin-1 A/a umlaut do not fold
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.a << " ~ " << c.b);
        EXPECT_EQ(EqualNoCase(c.a, c.b), c.equal);
        EXPECT_EQ(EqualNoCase(c.b, c.a), c.equal);
    }
    EXPECT_TRUE(EqualNoCase(u"#{A5DCBF10}", "#{a5dcbf10}"));
    EXPECT_FALSE(EqualNoCase(u"#{A5DCBF10}", "#{a5dcbf1}"));
    EXPECT_FALSE(EqualNoCase(u"\u00C4", "\xC4"));
    EXPECT_TRUE(StartsWithNoCase("Com12", "COM"));
    EXPECT_FALSE(StartsWithNoCase("CO", "COM"));
    EXPECT_TRUE(EndsWithNoCase("ROOT#{20161207-6A0C}", "#{20161207-6a0c}"));
    EXPECT_FALSE(EndsWithNoCase("0c}", "#{20161207-6a0c}"));
}

TEST(Error, CarriesTheErrnoAndItsText) {
    errno = EACCES;
    const Error error = Error::FromErrno("open /x");
    EXPECT_EQ(error.code, EACCES);
    EXPECT_TRUE(error.Failed());
    EXPECT_EQ(error.message, "open /x: Permission denied");
    EXPECT_FALSE(Error{}.Failed());

    const Result<int> value(7);
    ASSERT_TRUE(value);
    EXPECT_EQ(*value, 7);
    EXPECT_FALSE(value.GetError().Failed());
    const Result<int> failed(Error::FromCode(ENOENT, "stat"));
    EXPECT_FALSE(failed);
    EXPECT_EQ(failed.GetError().code, ENOENT);
    EXPECT_EQ(failed.GetError().message, "stat: No such file or directory");
}

TEST(PtyPair, SlaveIsRawAtItsSpeedAndMasterDoesNotBlock) {
    auto pair = OpenPtyPair(B115200);
    ASSERT_TRUE(pair) << pair.GetError().message;
    EXPECT_TRUE(::isatty(pair->slave.Get()));
    EXPECT_EQ(std::string(::ttyname(pair->slave.Get())), pair->slavePath);

    termios tio{};
    ASSERT_EQ(::tcgetattr(pair->slave.Get(), &tio), 0);
    EXPECT_EQ(::cfgetispeed(&tio), static_cast<speed_t>(B115200));
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u);

    char byte;
    errno = 0;
    EXPECT_EQ(::read(pair->master.Get(), &byte, 1), -1);
    EXPECT_EQ(errno, EAGAIN);

    const char sent[] = "\r\n\x03";
    ASSERT_EQ(::write(pair->master.Get(), sent, 3), 3);
    char got[3] = {};
    ASSERT_EQ(::read(pair->slave.Get(), got, 3), 3);
    EXPECT_EQ(std::string(got, 3), std::string(sent, 3));
}
