// Line shapes, stamps, thread markers and the WinErr variants.
#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <string>
#include <thread>

#include "console_log.h"
#include "platform/tick.h"
#include "port/win_port.h"
#include "support/stdout_capture.h"

namespace vantrel::log {
namespace {

const char kClock[] = R"(\d{4}-\d\d-\d\d_\d\d:\d\d:\d\d)";

class LinePrinters : public ::testing::Test {
  protected:
    void SetUp() override { ClaimThreadRole(ThreadRole::kMain); }
    void TearDown() override { ReleaseThreadRole(ThreadRole::kMain); }
};

TEST_F(LinePrinters, ShapesOfEveryPrinter) {
    struct Case {
        std::function<void()> print;
        std::string pattern;
    };
    const Case cases[] = {
        {[] { PrintLine("plain %d", 5); }, R"(plain 5\n)"},
        {[] { PrintTickLine("Wait success."); }, R"( \[\d+\.\d{3}\] Wait success\.\n)"},
        {[] { PrintClockLine("at %s", "noon"); }, std::string(" \\[") + kClock + R"(\] at noon\n)"},
        {[] { PrintClockLineMs("%D", 1234567); },
         std::string(" \\[") + kClock + R"(\.\d{3}\] 1 234 567\n)"},
        {[] { PrintTickLineAligned("aligned"); }, R"( \[\d+\.\d{3}\] aligned\n)"},
    };
    for (const Case& c : cases) {
        std::string line = support::CaptureStdout(c.print);
        EXPECT_TRUE(std::regex_match(line, std::regex(c.pattern))) << line;
    }
}

TEST_F(LinePrinters, TickStampSplitsSecondsAndMilliseconds) {
    uint32_t before = platform::TickCountMs();
    std::string line = support::CaptureStdout([] { PrintTickLine("x"); });
    uint32_t after = platform::TickCountMs();
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, std::regex(R"( \[(\d+)\.(\d{3})\] x\n)")));
    uint64_t tick = std::stoull(match[1]) * 1000 + std::stoull(match[2]);
    EXPECT_GE(tick, before);
    EXPECT_LE(tick, after);
}

TEST_F(LinePrinters, AlignedLineWaitsForTheNextHundred) {
    uint32_t before = platform::TickCountMs();
    std::string line = support::CaptureStdout([] { PrintTickLineAligned("x"); });
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, std::regex(R"( \[(\d+)\.(\d{3})\] x\n)")));
    uint64_t tick = std::stoull(match[1]) * 1000 + std::stoull(match[2]);
    uint64_t boundary = (uint64_t{before} + 99) / 100 * 100;
    EXPECT_GE(tick, boundary);
}

TEST_F(LinePrinters, WinErrVariantsAppendTheLastErrorAndItsName) {
    struct Case {
        uint32_t code;
        const char* ending;
    };
    for (const Case& c :
         {Case{5, " WinErr=5(ERROR_ACCESS_DENIED)\n"}, Case{1460, " WinErr=1460(ERROR_TIMEOUT)\n"},
          Case{1234, " WinErr=1234(UnknownWinErrCode)\n"}, Case{0, " WinErr=0(ERROR_SUCCESS)\n"}}) {
        std::string lines = support::CaptureStdout([&] {
            win::SetLastError(c.code);
            PrintTickLineWinErr(0, "open %s", "COM3");
            PrintLineWinErr(0, "open %s", "COM3");
            PrintClockLineWinErr(0, "open %s", "COM3");
            PrintClockLineMsWinErr(0, "open %s", "COM3");
        });
        std::string ending = std::string("open COM3") + c.ending;
        size_t count = 0;
        for (size_t at = lines.find(ending); at != std::string::npos;
             at = lines.find(ending, at + 1))
            ++count;
        EXPECT_EQ(count, 4u) << lines;
        EXPECT_EQ(lines.rfind(ending, 0), std::string::npos) << "stamp missing:" << lines;
        EXPECT_NE(lines.find("\n" + ending), std::string::npos) << "PrintLine shape:" << lines;
    }
    std::string nothing = support::CaptureStdout([] {
        win::SetLastError(5);
        PrintLineWinErr(1, "ok");
        PrintTickLineWinErr(-1, "ok");
        PrintClockLineWinErr(1, "ok");
        PrintClockLineMsWinErr(1, "ok");
    });
    EXPECT_EQ(nothing, "");
}

TEST_F(LinePrinters, MarkerNamesTheWritingThread) {
    struct Case {
        ThreadRole role;
        char marker;
    };
    for (const Case& c : {Case{ThreadRole::kEventMonitor, '*'}, Case{ThreadRole::kReadCom, '#'},
                          Case{ThreadRole::kPushing, '>'}, Case{ThreadRole::kPulling, '<'}}) {
        char seen = 0;
        char afterRelease = 0;
        std::thread worker([&] {
            ClaimThreadRole(c.role);
            seen = ThreadMarker();
            ReleaseThreadRole(c.role);
            afterRelease = ThreadMarker();
        });
        worker.join();
        EXPECT_EQ(seen, c.marker);
        EXPECT_EQ(afterRelease, '?');
    }
    EXPECT_EQ(ThreadMarker(), ' ');
    std::string line;
    std::thread stranger([&] { line = support::CaptureStdout([] { PrintTickLine("who"); }); });
    stranger.join();
    EXPECT_EQ(line.substr(0, 2), "?[");
}

TEST_F(LinePrinters, LongMessagesAreCutButKeepTheLineEnd) {
    std::string line = support::CaptureStdout([] { PrintLine("%1500n", "x"); });
    EXPECT_EQ(line, std::string(999, 'x') + "\n");
}

}  // namespace
}  // namespace vantrel::log
