// The console in a real terminal: keys typed through tmux arrive one by one
// without echo, and the output shows in the pane.
#include <pty.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "run_program.h"
#include "support/temp_dir.h"

namespace {

std::string Shell(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char chunk[4096];
    for (size_t got; (got = fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        out.append(chunk, got);
    pclose(pipe);
    return out;
}

class TmuxConsole : public ::testing::Test {
  protected:
    void SetUp() override {
        if (Shell("command -v tmux").empty())
            GTEST_SKIP() << "tmux is not installed";
        ASSERT_EQ(openpty(&master_, &slave_, slaveName_, nullptr, nullptr), 0);
        dir_ = tmp_.String();
        socket_ = dir_ + "/tmux.sock";
        Shell("tmux -S " + socket_ + " new-session -d -s vt -x 160 -y 50 'env KTR_RUNTIME_DIR=" +
              dir_ + " " + ProgramPath() + " -c 200 " + slaveName_ + "; sleep 30'");
    }
    void TearDown() override {
        if (!socket_.empty())
            Shell("tmux -S " + socket_ + " kill-server 2>/dev/null");
        if (master_ >= 0)
            close(master_);
        if (slave_ >= 0)
            close(slave_);
    }
    std::string Pane() { return Shell("tmux -S " + socket_ + " capture-pane -p -t vt -S -200"); }
    bool PaneShows(const std::string& text) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < limit) {
            if (Pane().find(text) != std::string::npos)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }
    void Keys(const std::string& keys) { Shell("tmux -S " + socket_ + " send-keys -t vt " + keys); }

    int master_ = -1;
    int slave_ = -1;
    char slaveName_[128] = {};
    support::TempDir tmp_{"vantrel_app"};
    std::string dir_;
    std::string socket_;
};

TEST_F(TmuxConsole, KeysActWithoutEnterAndAreNotEchoed) {
    ASSERT_TRUE(PaneShows("Choose action:")) << Pane();
    Keys("q");
    ASSERT_TRUE(PaneShows("Got 'q'.")) << Pane();
    ASSERT_TRUE(PaneShows("ClearCommError() reports: cbInQue=0, cbOutQue=0.")) << Pane();
    Keys("r");
    ASSERT_TRUE(PaneShows("WinErr=995(ERROR_OPERATION_ABORTED)")) << Pane();
    Keys("'?'");
    ASSERT_TRUE(PaneShows(" X : Quit vantrel and do a deliberate CreateFile().")) << Pane();
    Keys("X");
    ASSERT_TRUE(PaneShows("CreateFile() again success.")) << Pane();
    // Without echo the typed key shows only in the program's own line.
    const std::string pane = Pane();
    EXPECT_EQ(pane.find("\nq\n"), std::string::npos) << pane;
    EXPECT_EQ(pane.find("{1}Again?"), pane.rfind("{1}Again?")) << pane;
}

}  // namespace
