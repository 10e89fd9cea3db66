// Two consoles run the echo test over a linked pair that ovrixd makes, and
// each of them against a peer written in Python from the chunk format alone.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "../soak_scale.h"
#include "run_program.h"
#include "support/temp_dir.h"

namespace {

class EchoPair : public ::testing::Test {
  protected:
    void SetUp() override {
        if (access(SuiteProgramPath("ovrixd").c_str(), X_OK) != 0)
            GTEST_SKIP() << "ovrixd is not built";
        dir_ = tmp_.String();
        daemon_ = StartOvrixd({"--pair", "COM20:COM21"}, dir_);
        ASSERT_TRUE(Appears(dir_ + "/dosdevices/COM21")) << "ovrixd did not make its ports";
    }
    void TearDown() override { daemon_.reset(); }

    // The Python peer runs beside the console; the test reads its output.
    std::unique_ptr<support::ChildProcess> StartPeer(const std::vector<std::string>& args) {
        const char* source = std::getenv("SUITE_SOURCE_DIR");
        std::vector<std::string> argv = {std::string(source ? source : ".") +
                                         "/tests/vantrel_app/echo_peer.py"};
        argv.insert(argv.end(), args.begin(), args.end());
        return std::make_unique<support::ChildProcess>("/usr/bin/python3", argv);
    }
    // Waits until the peer has opened its port (it says so); false after a
    // generous limit.
    static bool WaitPeerReady(support::ChildProcess& peer) {
        return peer.WaitFor("PY-READY", std::chrono::seconds(30));
    }
    // Waits for the peer; its exit status and what it printed.
    static std::pair<int, std::string> FinishPeer(support::ChildProcess& peer) {
        const int status = peer.Finish();
        return {status, peer.Output()};
    }
    std::string Port(int number) const { return "\\\\.\\COM" + std::to_string(number); }

    support::TempDir tmp_{"vantrel_app"};
    std::string dir_;
    std::unique_ptr<support::ChildProcess> daemon_;
};

TEST_F(EchoPair, TwoConsolesEndTheEchoTestWithTheirSuccessLines) {
    LiveProgram server({Port(20)}, dir_);
    ASSERT_TRUE(server.WaitFor("Choose action:")) << server.Output();
    server.Type("S");
    ASSERT_TRUE(
        server.WaitFor("Starting echo server(chunkmax=16000), waiting client... ('0' to "
                       "break)"))
        << server.Output();
    const ProgramRun client = RunProgram({Port(21), "-m", "10000"}, "C\x1b", dir_);
    EXPECT_EQ(client.exitStatus, 0);
    for (const char* line : {"Doing echo 10000 bytes(Urge), srand=0. ('0' to break)",
                             "All echo bytes sent. Total sent: chunks: ",
                             "All echo bytes received. Total chunks: ", "Echo test success."})
        EXPECT_NE(client.output.find(line), std::string::npos) << line << "\n" << client.output;
    ASSERT_TRUE(server.WaitFor("First client connected. Start timing.")) << server.Output();
    server.Type("0");
    ASSERT_TRUE(server.WaitFor("Echo server stopped.")) << server.Output();
    server.Type("\x1b");
    EXPECT_EQ(server.Finish(), 0);
}

TEST_F(EchoPair, HundredMegabytesCrossThePairWithoutACrcError) {
    LiveProgram server({Port(20)}, dir_);
    ASSERT_TRUE(server.WaitFor("Choose action:")) << server.Output();
    server.Type("S");
    ASSERT_TRUE(server.WaitFor("waiting client...")) << server.Output();
    // Longer runs stay within what -m takes (a C int).
    const std::string bytes = std::to_string(std::min(100000000LL * SoakScale(), 2000000000LL));
    const ProgramRun client = RunProgram({Port(21), "-m", bytes}, "C\x1b", dir_);
    EXPECT_EQ(client.exitStatus, 0);
    EXPECT_NE(client.output.find("Echo test success."), std::string::npos)
        << client.output.substr(client.output.size() > 4000 ? client.output.size() - 4000 : 0);
    EXPECT_EQ(client.output.find("rong crc"), std::string::npos);
    server.Type("0");
    ASSERT_TRUE(server.WaitFor("Echo server stopped.")) << server.Output();
    server.Type("\x1b");
    EXPECT_EQ(server.Finish(), 0);
    EXPECT_EQ(server.Output().find("rong crc"), std::string::npos);
}

TEST_F(EchoPair, ServerWithASmallerLimitStopsEchoingAndTheClientFails) {
    LiveProgram server({Port(20), "-K", "1000"}, dir_);
    ASSERT_TRUE(server.WaitFor("Choose action:")) << server.Output();
    server.Type("S");
    ASSERT_TRUE(server.WaitFor("waiting client...")) << server.Output();
    const ProgramRun client = RunProgram(
        {Port(21), "-K", "16000", "--echo-timeout-limit=1500", "--echo-srand=9"}, "C\x1b", dir_);
    EXPECT_NE(client.output.find("Echo timeout limit is 1500 millisec."), std::string::npos);
    EXPECT_NE(client.output.find("Pulling thread timeout(1500 millisec)!"), std::string::npos)
        << client.output;
    EXPECT_NE(client.output.find("Echo test fail."), std::string::npos) << client.output;
    ASSERT_TRUE(server.WaitFor("exceeds max expected(988).")) << server.Output();
    server.Type("0\x1b");
    EXPECT_EQ(server.Finish(), 0);
    EXPECT_NE(server.Output().find("Received wrong data. Echo body length("), std::string::npos);
}

TEST_F(EchoPair, ClientWithoutServerStopsOnTheSecondZero) {
    LiveProgram client({Port(21), "-K", "200"}, dir_);
    ASSERT_TRUE(client.WaitFor("Choose action:")) << client.Output();
    client.Type("c");
    ASSERT_TRUE(client.WaitFor("Doing echo unlimited bytes(Mild). srand=0. ('0' to break)"))
        << client.Output();
    client.Type("0");
    ASSERT_TRUE(
        client.WaitFor("Stopping echo flow... (In case no effect, press 0 again to "
                       "force.)"))
        << client.Output();
    client.Type("0");
    ASSERT_TRUE(client.WaitFor("You pressed 0 again. Now force pushing/pulling thread to quit."))
        << client.Output();
    ASSERT_TRUE(client.WaitFor("Echo test fail.")) << client.Output();
    client.Type("\x1b");
    EXPECT_EQ(client.Finish(), 0);
}

TEST_F(EchoPair, DatapipeClientGetsItsChunksBackFromThePipe) {
    // The data pipe hands every byte back to its reader: the client is its
    // own server there.
    const ProgramRun client =
        RunProgram({"--datapipe", "-m", "10000", "-K", "2000"}, "C\x1b", dir_);
    EXPECT_EQ(client.exitStatus, 0);
    EXPECT_NE(client.output.find("Echo test success."), std::string::npos) << client.output;
    EXPECT_EQ(client.output.find("SetCommTimeouts() fail"), std::string::npos) << client.output;
}

TEST_F(EchoPair, BackgroundThreadsSeeTheOtherConsolesWordsAndEndWithTheProgram) {
    LiveProgram watcher({Port(20), "-b", "6"}, dir_);
    ASSERT_TRUE(watcher.WaitFor("Choose action:")) << watcher.Output();
    watcher.Type("E");
    ASSERT_TRUE(watcher.WaitFor("====Starting WaitCommEvent(mask=0x1D)...")) << watcher.Output();
    watcher.Type("E");
    ASSERT_TRUE(watcher.WaitFor("Already monitoring CommEvents.")) << watcher.Output();
    watcher.Type("#");
    ASSERT_TRUE(watcher.WaitFor("ReadCom-thread created success.")) << watcher.Output();
    const ProgramRun writer = RunProgram({Port(21), "-b", "6"}, "w\x1b", dir_);
    EXPECT_NE(writer.output.find("nDone=6"), std::string::npos) << writer.output;
    ASSERT_TRUE(watcher.WaitFor("ReadComThread: Got 6 bytes.")) << watcher.Output();
    // The event thread prints on its own time: its line may come before or
    // after the reader's.
    if (watcher.Output().find("====New events: EV_RXCHAR") == std::string::npos) {
        EXPECT_TRUE(watcher.WaitFor("====New events: EV_RXCHAR")) << watcher.Output();
    }
    // Leaving with both threads running: the port closes under them.
    watcher.Type("\x1b");
    EXPECT_EQ(watcher.Finish(), 0) << watcher.Output();
}

TEST_F(EchoPair, ConsoleClientAgainstAnIndependentServer) {
    const auto peer = StartPeer({"server", dir_ + "/dosdevices/COM20", "2"});
    ASSERT_TRUE(WaitPeerReady(*peer)) << peer->Output();
    const ProgramRun client =
        RunProgram({Port(21), "-m", "30000", "-K", "3000", "--echo-srand=42"}, "C\x1b", dir_);
    EXPECT_NE(client.output.find("Echo test success."), std::string::npos) << client.output;
    const auto [status, output] = FinishPeer(*peer);
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("bad_crc=0"), std::string::npos) << output;
}

TEST_F(EchoPair, IndependentServerSeesBareHeadersAndACountingSequence) {
    struct Case {
        std::vector<std::string> options;
        std::vector<std::string> seen;
    } cases[] = {
        {{"-k", "12", "-K", "12", "-m", "120"},
         {"chunks=10 bytes=120 bad_crc=0 bare=10 ids_in_order=True first_word=none"}},
        {{"-k", "20", "-K", "48", "-m", "400", "--echo-start-seq=0x11233344"},
         {"bad_crc=0 bare=0 ids_in_order=True first_word=11233344 counting=True"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options.back());
        const auto peer = StartPeer({"server", dir_ + "/dosdevices/COM20", "1"});
        ASSERT_TRUE(WaitPeerReady(*peer)) << peer->Output();
        std::vector<std::string> args = {Port(21)};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const ProgramRun client = RunProgram(args, "C\x1b", dir_);
        EXPECT_NE(client.output.find("Echo test success."), std::string::npos) << client.output;
        const auto [status, output] = FinishPeer(*peer);
        EXPECT_EQ(status, 0) << output;
        for (const std::string& text : c.seen)
            EXPECT_NE(output.find(text), std::string::npos) << output;
    }
}

TEST_F(EchoPair, ConsoleServerAgainstAnIndependentClient) {
    LiveProgram server({Port(20), "-K", "2000"}, dir_);
    ASSERT_TRUE(server.WaitFor("Choose action:")) << server.Output();
    server.Type("S");
    ASSERT_TRUE(server.WaitFor("waiting client...")) << server.Output();
    const auto peer = StartPeer({"client", dir_ + "/dosdevices/COM21", "20000", "2000"});
    const auto [status, output] = FinishPeer(*peer);
    EXPECT_EQ(status, 0) << output << server.Output();
    EXPECT_NE(output.find("PY-CLIENT OK chunks="), std::string::npos) << output;
    server.Type("0\x1b");
    EXPECT_EQ(server.Finish(), 0);
    EXPECT_EQ(server.Output().find("Wrong crc32"), std::string::npos) << server.Output();
}

}  // namespace
