// The real ovrixd program: command line, serving a linked pair and the
// control socket, and a clean stop on SIGTERM and SIGINT.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "ovrix/daemon.h"
#include "ovrix_test_support.h"

extern char** environ;

namespace {

using namespace ovrix_test;

fs::path ProgramPath() {
    // Programs are built beside the test program; SUITE_BIN_DIR names the
    // folder when the test runs from elsewhere.
    const char* bin = std::getenv("SUITE_BIN_DIR");
    if (bin != nullptr && *bin != '\0')
        return fs::path(bin) / "ovrixd";
    return fs::read_symlink("/proc/self/exe").parent_path() / "ovrixd";
}

pid_t Spawn(const std::vector<std::string>& args, int outputFd = -1) {
    std::vector<char*> argv;
    std::string program = ProgramPath().string();
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
    for (auto& arg : copies)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (outputFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, outputFd, 1);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Exit status of the process, or -1 when it did not end in time.
int WaitExit(pid_t pid, int seconds = 20) {
    int status = 0;
    bool ended = Eventually([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, seconds);
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Finished {
    int status;
    std::string output;
};

Finished RunToEnd(const std::vector<std::string>& args) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {-1, ""};
    pid_t pid = Spawn(args, pipeFds[1]);
    ::close(pipeFds[1]);
    std::string output;
    char buffer[1024];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0)
        output.append(buffer, static_cast<size_t>(n));
    ::close(pipeFds[0]);
    return {pid > 0 ? WaitExit(pid) : -1, output};
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
    for (int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        pid_t pid = Spawn({"--pair", "COM20:COM21"});
        ASSERT_GT(pid, 0);
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
        ASSERT_EQ(::kill(pid, signal), 0);
        EXPECT_EQ(WaitExit(pid), 0);
        EXPECT_FALSE(fs::is_symlink(ComLink(20)));
        EXPECT_FALSE(fs::is_symlink(ComLink(21)));
        EXPECT_FALSE(fs::exists(Path("vbus/control")));
        EXPECT_FALSE(fs::is_symlink(Path("vbus/datapipe")));
    }
}

TEST_F(ProgramTest, MakesAPortForAScannerFromTheComBase) {
    FakeEndpoint scanner("usb#vid_1eab&pid_0d10#sim0009");
    pid_t pid = Spawn({"--com-base", "COM12", "--lifemode=persistent"});
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(Eventually([&] { return ComLive(12); }));
    EXPECT_EQ(ReadText(Path("vbus/Ktr_vcom/0001/PortName")), "COM12");
    scanner.Unplug();
    // Persistent: the port outlives its scanner.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(ComLive(12));
    ::kill(pid, SIGTERM);
    EXPECT_EQ(WaitExit(pid), 0);
    EXPECT_FALSE(fs::is_symlink(ComLink(12)));
}

}  // namespace
