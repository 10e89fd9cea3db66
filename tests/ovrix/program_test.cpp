// The real ovrixd program: command line, serving a linked pair and the
// control socket, a clean stop on SIGTERM, SIGINT and SIGHUP, and its log
// lines when clients cannot be taken or are dropped.
#include <signal.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "ovrix/daemon.h"
#include "ovrix_test_support.h"

namespace {

using namespace ovrix_test;

struct Finished {
    int status;
    std::string output;
};

// Runs the program to its end: its exit status (-1 when it did not end in
// time) and standard output.
Finished RunToEnd(const std::vector<std::string>& args) {
    support::ChildOptions options;
    options.mergeStderr = false;
    support::ChildProcess program(OvrixdPath().string(), args, options);
    const int status = program.Finish(std::chrono::seconds(20));
    return {status, program.Output()};
}

// Stops the program with `signal`: its exit status, -1 when it did not end.
int Stop(support::ChildProcess& program, int signal = SIGTERM) {
    program.Signal(signal);
    return program.Finish(std::chrono::seconds(20));
}

// CPU time the process has used so far, in clock ticks.
long CpuTicks(pid_t pid) {
    std::string stat = ReadText("/proc/" + std::to_string(pid) + "/stat");
    // Fields after the command name (which may hold spaces): state is the
    // third field, utime and stime the 14th and 15th.
    std::istringstream rest(stat.substr(stat.rfind(')') + 2));
    std::string field;
    long utime = 0;
    long stime = 0;
    for (int number = 3; number <= 15 && rest >> field; ++number) {
        if (number == 14)
            utime = std::stol(field);
        if (number == 15)
            stime = std::stol(field);
    }
    return utime + stime;
}

class ProgramTest : public RuntimeDirFixture {};

TEST_F(ProgramTest, HelpVersionAndBadArguments) {
    Finished help = RunToEnd({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* word : {"--pair", "--com-base", "--lifemode", "vbus/control", "datapipe"})
        EXPECT_NE(help.output.find(word), std::string::npos) << word;
    Finished version = RunToEnd({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.output, "ovrixd " + std::to_string(ovrix::kVersionMajor) + "." +
                                  std::to_string(ovrix::kVersionMinor) + "." +
                                  std::to_string(ovrix::kVersionPatch) + "\n");
    for (std::vector<std::string> bad :
         std::vector<std::vector<std::string>>{{"--pair", "COM20"},
                                               {"--pair", "COM5:COM5"},
                                               {"--lifemode", "forever"},
                                               {"--com-base", "0"},
                                               {"--com-base"},
                                               {"--frobnicate"}}) {
        SCOPED_TRACE(bad[0] + (bad.size() > 1 ? " " + bad[1] : ""));
        EXPECT_EQ(RunToEnd(bad).status, 2);
    }
    EXPECT_FALSE(fs::exists(Path("vbus/control"))) << "a refused command line started serving";
}

TEST_F(ProgramTest, ServesAPairAndCleansUpOnEachStopSignal) {
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        auto daemon = StartOvrixd({"--pair", "COM20:COM21"});
        ASSERT_TRUE(daemon->Started());
        ASSERT_TRUE(Eventually([&] { return ComLive(20) && ComLive(21); }));
        ASSERT_TRUE(Eventually([&] { return fs::exists(Path("vbus/control")); }));

        Reply version = Send(
            Path("vbus/control"),
            Request{ovrix::IOCTL_OVRIX_GetVersion, ovrix::Target::Interface, false, "", {}, 180});
        ASSERT_TRUE(version.received);
        EXPECT_EQ(version.header.winError, 0u);
        EXPECT_EQ(As<ovrix::VersionInfo>(version).major, ovrix::kVersionMajor);
        {
            TtyHandle a(ComLink(20));
            TtyHandle b(ComLink(21));
            WriteText(a.fd(), "echo test");
            EXPECT_EQ(ReadBytes(b.fd(), 9), "echo test");
            WriteText(b.fd(), "echo test");
            EXPECT_EQ(ReadBytes(a.fd(), 9), "echo test");
        }
        EXPECT_EQ(Stop(*daemon, signal), 0) << daemon->Output();
        EXPECT_FALSE(fs::is_symlink(ComLink(20)));
        EXPECT_FALSE(fs::is_symlink(ComLink(21)));
        EXPECT_FALSE(fs::exists(Path("vbus/control")));
        EXPECT_FALSE(fs::is_symlink(Path("vbus/datapipe")));
        EXPECT_TRUE(fs::is_empty(Path("vbus/Ktr_vcom"))) << "port values left behind";
    }
}

TEST_F(ProgramTest, MakesAPortForAScannerFromTheComBase) {
    FakeEndpoint scanner("usb#vid_1eab&pid_0d10#sim0009");
    auto daemon = StartOvrixd({"--com-base", "COM12", "--lifemode=persistent"});
    ASSERT_TRUE(daemon->Started());
    EXPECT_TRUE(Eventually([&] { return ComLive(12); }));
    EXPECT_EQ(ReadText(Path("vbus/Ktr_vcom/0001/PortName")), "COM12");
    scanner.Unplug();
    // Persistent: the port outlives its scanner.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(ComLive(12));
    EXPECT_EQ(Stop(*daemon), 0) << daemon->Output();
    EXPECT_FALSE(fs::is_symlink(ComLink(12)));
}

TEST_F(ProgramTest, AcceptFailuresBackOffAndClientsAreTakenAgainOnceDescriptorsAreFree) {
    auto daemon = StartOvrixd({});
    ASSERT_TRUE(daemon->Started());
    ASSERT_TRUE(daemon->WaitFor("serving", std::chrono::seconds(10))) << daemon->Output();
    // Leave it two descriptors to spare, then connect more clients than that.
    size_t open = 0;
    for ([[maybe_unused]] auto& entry :
         fs::directory_iterator("/proc/" + std::to_string(daemon->Pid()) + "/fd"))
        ++open;
    rlimit limit{open + 2, open + 2};
    ASSERT_EQ(::prlimit(daemon->Pid(), RLIMIT_NOFILE, &limit, nullptr), 0) << std::strerror(errno);
    std::vector<int> clients;
    for (int i = 0; i < 6; ++i) {
        clients.push_back(ConnectControl(Path("vbus/control")));
        ASSERT_GE(clients.back(), 0);
    }
    ASSERT_TRUE(daemon->WaitFor("cannot take a control client", std::chrono::seconds(10)))
        << daemon->Output();

    // While the clients wait in the backlog it does not try again and again:
    // over a second it uses a small part of the processor.
    long before = CpuTicks(daemon->Pid());
    std::this_thread::sleep_for(std::chrono::seconds(1));
    long used = CpuTicks(daemon->Pid()) - before;
    EXPECT_LT(used, ::sysconf(_SC_CLK_TCK) / 5) << "ticks used in one second";

    // With descriptors free again the waiting client is taken and answered.
    for (size_t i = 0; i + 1 < clients.size(); ++i)
        ::close(clients[i]);
    int last = clients.back();
    auto message = Encode(
        Request{ovrix::IOCTL_OVRIX_GetVersion, ovrix::Target::Interface, false, "", {}, 180});
    ASSERT_EQ(::send(last, message.data(), message.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(message.size()));
    pollfd p{last, POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 10000), 1) << "the waiting client was never answered";
    ovrix::ReplyHeader reply{};
    EXPECT_EQ(::recv(last, &reply, sizeof reply, MSG_DONTWAIT), static_cast<ssize_t>(sizeof reply));
    EXPECT_EQ(reply.winError, 0u);
    ::close(last);
    EXPECT_EQ(Stop(*daemon), 0) << daemon->Output();
}

TEST_F(ProgramTest, AClientThatLetsAnswersPileUpIsDroppedWithALogLine) {
    auto daemon = StartOvrixd({});
    ASSERT_TRUE(daemon->Started());
    ASSERT_TRUE(daemon->WaitFor("serving", std::chrono::seconds(10))) << daemon->Output();
    int flooder = ConnectControl(Path("vbus/control"));
    ASSERT_GE(flooder, 0);
    timeval limit{3, 0};
    ::setsockopt(flooder, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    auto message = Encode(
        Request{ovrix::IOCTL_OVRIX_GetVersion, ovrix::Target::Interface, false, "", {}, 180});
    int sent = 0;
    while (sent < 10000 && ::send(flooder, message.data(), message.size(), MSG_NOSIGNAL) > 0)
        ++sent;
    EXPECT_LT(sent, 10000);
    EXPECT_TRUE(daemon->WaitFor("dropped control client", std::chrono::seconds(10)))
        << daemon->Output();
    ::close(flooder);
    // It goes on serving the others.
    Reply version =
        Send(Path("vbus/control"),
             Request{ovrix::IOCTL_OVRIX_GetVersion, ovrix::Target::Interface, false, "", {}, 180});
    EXPECT_TRUE(version.received);
    EXPECT_EQ(Stop(*daemon), 0) << daemon->Output();
}

}  // namespace
