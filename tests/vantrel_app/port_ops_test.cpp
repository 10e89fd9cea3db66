// Port operations driven by keys on a pseudo terminal whose other end the
// test holds as the scanner side.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "run_program.h"
#include "support/temp_dir.h"

namespace {

class PortOps : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(openpty(&master_, &slave_, slaveName_, nullptr, nullptr), 0);
        termios raw{};
        tcgetattr(master_, &raw);
        cfmakeraw(&raw);
        tcsetattr(master_, TCSANOW, &raw);
        dir_ = tmp_.String();
    }
    void TearDown() override {
        close(master_);
        close(slave_);
    }
    // Bytes the console sent, gathered until `count` came or a generous limit.
    std::vector<uint8_t> Received(size_t count) {
        std::vector<uint8_t> bytes;
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (bytes.size() < count && std::chrono::steady_clock::now() < limit) {
            pollfd entry{master_, POLLIN, 0};
            if (poll(&entry, 1, 100) <= 0)
                continue;
            uint8_t chunk[256];
            const ssize_t got = read(master_, chunk, sizeof chunk);
            if (got > 0)
                bytes.insert(bytes.end(), chunk, chunk + got);
        }
        return bytes;
    }
    int master_ = -1;
    int slave_ = -1;
    char slaveName_[128] = {};
    support::TempDir tmp_{"vantrel_app"};
    std::string dir_;
};

TEST_F(PortOps, ReadWithNothingToReadTimesOutAndIsCancelled) {
    LiveProgram program({slaveName_, "-c", "300"}, dir_);
    program.Type("r");
    for (const char* line :
         {"Calling ReadFile() request 100 bytes...", "ReadFile pending, wait 300 millisec...",
          "WAIT_TIMEOUT\n", "Calling CancelIo().", "CancelIo() returns TRUE.",
          "Result: ReadFile async fail. WinErr=995(ERROR_OPERATION_ABORTED)"})
        ASSERT_TRUE(program.WaitFor(line)) << line << "\n" << program.Output();
    program.Type("\x1b");
    EXPECT_EQ(program.Finish(), 0);
}

TEST_F(PortOps, WritesSendCountingWordsThatGoOnFromOneWriteToTheNext) {
    LiveProgram program({slaveName_, "-b", "6"}, dir_);
    program.Type("ww");
    ASSERT_TRUE(program.WaitFor("Calling WriteFile(), request 6 bytes...")) << program.Output();
    const std::vector<uint8_t> expected = {0, 0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0};
    EXPECT_EQ(Received(expected.size()), expected);
    program.Type("\x1b");
    EXPECT_EQ(program.Finish(), 0);
    EXPECT_NE(program.Output().find("WriteFile sync success. nDone=6\n"), std::string::npos);
}

TEST_F(PortOps, ReadShowsTheDataAndLogsADumpEntry) {
    const std::string log = dir_ + "/read.log";
    LiveProgram program({slaveName_, "-c", "5000", "--read-log=" + log}, dir_);
    ASSERT_TRUE(program.WaitFor("Choose action:")) << program.Output();
    ASSERT_EQ(write(master_, "ABCDEFGHIJKLMNOPQRST", 20), 20);
    program.Type("R");
    ASSERT_TRUE(program.WaitFor("Bytes to read(0): ")) << program.Output();
    program.Type("20\n");
    ASSERT_TRUE(program.WaitFor("ABCDEFGHIJKLMNOPQRST\n")) << program.Output();
    program.Type("\x1b");
    EXPECT_EQ(program.Finish(), 0);
    std::ifstream file(log, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_NE(text.str().find("] #0: 20 bytes.\r\n"), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("41 42 43"), std::string::npos) << text.str();
    EXPECT_NE(text.str().find(".\r\n\r\n"), std::string::npos) << text.str();
}

TEST_F(PortOps, ClearReportsTheBytesItDroppedAndNothingOnAnEmptyPort) {
    LiveProgram program({slaveName_}, dir_);
    program.Type("0");
    ASSERT_TRUE(program.WaitFor("COM port cleared.")) << program.Output();
    EXPECT_EQ(program.Output().find("bytes cleared"), std::string::npos) << program.Output();
    EXPECT_NE(program.Output().find("ClearCommError() reports: cbInQue=0, cbOutQue=0."),
              std::string::npos);
    ASSERT_EQ(write(master_, "xyz", 3), 3);
    program.Type("q");
    ASSERT_TRUE(program.WaitFor("ClearCommError() reports: cbInQue=3, cbOutQue=0."))
        << program.Output();
    program.Type("0");
    ASSERT_TRUE(program.WaitFor("COM port read-buffer bytes cleared: 3")) << program.Output();
    program.Type("\x1b");
    EXPECT_EQ(program.Finish(), 0);
}

TEST_F(PortOps, EmptyAnswerReusesTheCountAndOversizedCountsAreRefused) {
    LiveProgram program({slaveName_, "-c", "200"}, dir_);
    program.Type("W");
    ASSERT_TRUE(program.WaitFor("Bytes to write(0): ")) << program.Output();
    program.Type("4\n");
    ASSERT_TRUE(program.WaitFor("Calling WriteFile(), request 4 bytes...")) << program.Output();
    program.Type("W");
    ASSERT_TRUE(program.WaitFor("Bytes to write(4): ")) << program.Output();
    program.Type("\n");
    ASSERT_TRUE(program.WaitFor("Calling WriteFile(), request 4 bytes...")) << program.Output();
    program.Type("W");
    ASSERT_TRUE(program.WaitFor("Bytes to write(4): ")) << program.Output();
    program.Type("8124000\n");
    ASSERT_TRUE(program.WaitFor("refused")) << program.Output();
    ASSERT_TRUE(program.WaitFor("Calling WriteFile(), request 4 bytes...")) << program.Output();
    EXPECT_EQ(Received(12), (std::vector<uint8_t>{0, 0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0}));
    program.Type("\x1b");
    EXPECT_EQ(program.Finish(), 0);
}

// The run goes on without the log, but its status says not everything asked was done.
TEST_F(PortOps, ReadLogThatCannotBeOpenedIsNamedAndTheRunGoesOn) {
    const std::string log = dir_ + "/absent/read.log";
    const ProgramRun run = RunProgram({slaveName_, "--read-log=" + log}, "i\x1b", dir_);
    EXPECT_EQ(run.exitStatus, 1) << run.output;
    size_t from = 0;
    for (const std::string& line :
         {"Read logging to file(clean): " + log + "\n",
          "!!! Error: " + log + " open/create fail! (No such file or directory)\n",
          std::string("CreateFile('") + slaveName_ + "') success.",
          std::string("GetCommState() returns DCB info:")}) {
        const size_t at = run.output.find(line, from);
        ASSERT_NE(at, std::string::npos) << line << "\n" << run.output;
        from = at + line.size();
    }
}

// Echo commands whose log file cannot be created name it and end at once:
// no test runs and no prompt follows.
TEST_F(PortOps, EchoLogThatCannotBeCreatedEndsTheCommandWithoutAPrompt) {
    struct Case {
        const char* key;
        const char* blocked;  // made a directory, so the log cannot be opened over it
        const char* notRun;
    };
    const Case cases[] = {
        {"C", "echo_cli_out.log", "Using echo chunk size"},
        {"c", "echo_cli_in.log", "Using echo chunk size"},
        {"S", "echo_srv_in.log", "Starting echo server"},
    };
    const std::filesystem::path previous = std::filesystem::current_path();
    for (const Case& c : cases) {
        const support::TempDir work("vantrel_app");
        const std::string workDir = work.String();
        std::filesystem::create_directory(workDir + "/" + c.blocked);
        std::filesystem::current_path(workDir);
        const ProgramRun run =
            RunProgram({slaveName_, "--echo-need-log"}, std::string(c.key) + "\x1b", dir_);
        std::filesystem::current_path(previous);
        EXPECT_EQ(run.exitStatus, 0) << c.key << "\n" << run.output;
        EXPECT_NE(run.output.find(std::string("Error: ") + c.blocked + " open/create fail!\n"),
                  std::string::npos)
            << c.key << "\n"
            << run.output;
        EXPECT_EQ(run.output.find(c.notRun), std::string::npos) << c.key << "\n" << run.output;
        EXPECT_EQ(run.output.find("Again?"), std::string::npos) << c.key << "\n" << run.output;
    }
}

TEST_F(PortOps, PurgeFlowAndInfoReports) {
    LiveProgram program({slaveName_}, dir_);
    program.Type("PpFif");
    for (const char* line :
         {"PurgeComm()... +Cancel VCOM IRP", "PurgeComm() ok.", "PurgeComm()... \n",
          "PurgeComm() ok.", "SetCommState() .fOutxCtsFlow=1 Success.",
          "GetCommState() returns DCB info:", "  .Baudrate=115200\n", "  .fOutxCtsFlow=yes\n",
          "  .ByteSize=8\n", "  .Parity=NO_PARITY\n", "  .StopBits=one\n", "  .EvtChar=0x00\n",
          "Modem lines: CTS on,DSR on, DCD on,RING off\n",
          "SetCommState() .fOutxCtsFlow=0 Success."})
        ASSERT_TRUE(program.WaitFor(line)) << line << "\n" << program.Output();
    program.Type("\x1b");
    EXPECT_EQ(program.Finish(), 0);
}

TEST_F(PortOps, ReadLeftPendingWithoutCancelEndsWhenDataComes) {
    LiveProgram program({slaveName_, "-c", "200", "--omit-cancelio", "--omit-getoverlappedresult"},
                        dir_);
    program.Type("r");
    ASSERT_TRUE(program.WaitFor("**NOT** calling CancelIo().")) << program.Output();
    ASSERT_TRUE(program.WaitFor("**NOT** calling GetOverlappedResult().")) << program.Output();
    // The request still owns its record and buffer; data that comes now
    // ends it without harm, and closing the port releases it.
    ASSERT_EQ(write(master_, "late", 4), 4);
    program.Type("q");
    ASSERT_TRUE(program.WaitFor("ClearCommError() reports:")) << program.Output();
    program.Type("X");
    ASSERT_TRUE(program.WaitFor("CreateFile() again success.")) << program.Output();
    EXPECT_EQ(program.Finish(), 0);
}

}  // namespace

namespace {

size_t CountOf(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

class ExitPaths : public PortOps {};

TEST_F(ExitPaths, TimedOpenCloseRunsTheCountGivenAndTotals) {
    const ProgramRun run = RunProgram({slaveName_}, "T3\n", dir_);
    EXPECT_EQ(run.exitStatus, 0) << run.output;
    EXPECT_NE(run.output.find("Repeat VCOM open/close how many times(10): "), std::string::npos);
    for (const char* pass : {"[0] open ", "[1] open ", "[2] open "})
        EXPECT_NE(run.output.find(pass), std::string::npos) << pass << "\n" << run.output;
    EXPECT_EQ(run.output.find("[3] open "), std::string::npos) << run.output;
    EXPECT_EQ(CountOf(run.output, " ms, close "), 3u) << run.output;
    EXPECT_NE(run.output.find("Total time: "), std::string::npos) << run.output;
}

TEST_F(ExitPaths, ReadOnlyRequestOnABusyPortIsRefusedAndTheHolderKeepsWorking) {
    // A first console holds the port's exclusive lock.
    LiveProgram holder({slaveName_}, dir_);
    ASSERT_TRUE(holder.WaitFor("Choose action:")) << holder.Output();
    const ProgramRun run = RunProgram({"--readonly", slaveName_}, "", dir_);
    EXPECT_EQ(run.exitStatus, 1) << run.output;
    EXPECT_NE(run.output.find("fail -- even request read-only."), std::string::npos) << run.output;
    holder.Type("T2\n");
    ASSERT_TRUE(holder.WaitFor("Total time: ")) << holder.Output();
    EXPECT_EQ(CountOf(holder.Output(), " ms, close "), 2u) << holder.Output();
}

}  // namespace

namespace {

class RepeatKey : public PortOps {};

TEST_F(RepeatKey, LastFirstKeyRepeatsWhileNothingIsTypedAndOtherKeysAreSwallowed) {
    LiveProgram program({slaveName_, "--first-key=pq", "--repeat-final-key"}, dir_);
    ASSERT_TRUE(program.WaitFor("First-key auto input(#1): 'q'\n")) << program.Output();
    ASSERT_TRUE(program.WaitFor("Repeat-key auto input(#2): 'q'\n")) << program.Output();
    ASSERT_TRUE(program.WaitFor("Repeat-key auto input(#3): 'q'\n")) << program.Output();
    program.Type("w");  // swallowed: the repeat goes on
    ASSERT_TRUE(program.WaitFor("Repeat-key auto input(#5): 'q'\n")) << program.Output();
    program.Type("\r");
    ASSERT_TRUE(program.WaitFor("(Repeat-key stops.)\n")) << program.Output();
    program.Type("\x1b");
    EXPECT_EQ(program.Finish(), 0);
    EXPECT_EQ(program.Output().find("Calling WriteFile()"), std::string::npos);
    EXPECT_EQ(program.Output().find("Got 'w'"), std::string::npos);
}

}  // namespace
