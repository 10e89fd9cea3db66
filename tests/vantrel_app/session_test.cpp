// Sessions of the console program on a real pseudo terminal: start-up
// report, the key loop's first keys, repeat key and exit paths.
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run_program.h"
#include "support/temp_dir.h"

namespace {

class PtySession : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(openpty(&master_, &slave_, slaveName_, nullptr, nullptr), 0);
        dir_ = tmp_.String();
    }
    void TearDown() override {
        close(master_);
        close(slave_);
    }
    ProgramRun Run(std::vector<std::string> args, const std::string& input) {
        args.insert(args.begin(), slaveName_);
        return RunProgram(args, input, dir_);
    }
    int master_ = -1;
    int slave_ = -1;
    char slaveName_[128] = {};
    support::TempDir tmp_{"vantrel_app"};
    std::string dir_;
};

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

TEST_F(PtySession, StartupReportShowsSettingsAndQuickReadWinsOverRtoi) {
    const ProgramRun run = Run({"-Q", "3000", "--rtoi=5", "--in-queue=8192", "-B", "9600"}, "\x1b");
    EXPECT_EQ(run.exitStatus, 0) << run.output;
    for (const char* line : {"g_bytes_to_rw = 100\n", "g_wait_msec_before_cancel = 5000\n",
                             "g_rto_interval   = MAXDWORD\n", "g_rto_multiplier = MAXDWORD\n",
                             "g_rto_constant   = 3000\n", "g_wto_constant   = 0\n",
                             "g_in_queue_bytes = 8192\n", "SetCommState() .Baudrate=9600 Success\n",
                             "Choose action: 'R/r' read, 'W/w' write, '?' help. <ESC> quit.\n",
                             "Got '\x1b'.\n", "Calling CloseHandle(0x", "Done    CloseHandle(0x"})
        EXPECT_NE(run.output.find(line), std::string::npos) << line << "\n" << run.output;
    EXPECT_EQ(run.output.find("g_out_queue_bytes"), std::string::npos);
}

TEST_F(PtySession, PrintLessDropsTheSettingLines) {
    const ProgramRun run = RunProgram({slaveName_}, "\x1b", dir_, true);
    EXPECT_EQ(run.exitStatus, 0) << run.output;
    EXPECT_EQ(run.output.find("DevOpenPath:"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("g_rto_interval"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("') success. Handle=0x"), std::string::npos) << run.output;
}

TEST_F(PtySession, FirstKeysRunThenTypedKeysAndXReopensThePort) {
    const ProgramRun run = Run({"--first-key=?z"}, "zX");
    EXPECT_EQ(run.exitStatus, 0) << run.output;
    for (const char* line :
         {"First-key auto input(#0): '?'\n", "Single-char op help:\n",
          " X : Quit vantrel and do a deliberate CreateFile().\n",
          "{1}Again? 'R/r' read, 'W/w' write. More: 0,X,i,P,p,F,f,E,e,C,c,S,#,?\n",
          "First-key auto input(#1): 'z'\n", "{2}Again?", "Got 'z'.\n", "{3}Again?", "Got 'X'.\n",
          "Done    CloseHandle(0x", "CreateFile() again success. Handle=0x"})
        EXPECT_NE(run.output.find(line), std::string::npos) << line << "\n" << run.output;
    EXPECT_EQ(run.output.find("{4}Again?"), std::string::npos) << run.output;
}

TEST_F(PtySession, RepeatFinalKeyRepeatsUntilEnterThenTakesTypedKeys) {
    // Keys are waiting from the start, so the marker reads Enter at once and
    // stops; with no keys waiting the last first key would repeat.
    const ProgramRun run = Run({"--first-key=??", "--repeat-final-key"}, "\r\x1b");
    EXPECT_EQ(run.exitStatus, 0) << run.output;
    EXPECT_NE(run.output.find("First-key auto input(#1): '?'\n"), std::string::npos);
    EXPECT_NE(run.output.find("(Repeat-key stops.)\n"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("Got '\x1b'.\n"), std::string::npos) << run.output;
    EXPECT_EQ(Count(run.output, "Single-char op help:\n"), 2u) << run.output;
}

TEST_F(PtySession, SecondOpenOfABusyPortIsRefused) {
    // The first console holds the port while the second tries it.
    LiveProgram holder({slaveName_}, dir_);
    ASSERT_TRUE(holder.WaitFor("Choose action:")) << holder.Output();
    const ProgramRun run = Run({}, "\x1b");
    holder.Type("\x1b");
    EXPECT_EQ(holder.Finish(), 0);
    EXPECT_EQ(run.exitStatus, 1) << run.output;
    EXPECT_NE(run.output.find("fail -- even request read-only. WinErr=5(ERROR_ACCESS_DENIED)"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("Please check whether it is occupied by another program.\n"),
              std::string::npos);
}

}  // namespace
