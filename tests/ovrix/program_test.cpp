// The real ovrixd program: command line, serving a linked pair and the
// control socket, a clean stop on SIGTERM, SIGINT and SIGHUP, and its log
// lines when clients cannot be taken or are dropped.
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
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

pid_t Spawn(const std::vector<std::string>& args, int outputFd = -1, int errorFd = -1) {
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
    if (errorFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, errorFd, 2);
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

// The program running, its standard error read by the test.
class Running {
  public:
    explicit Running(const std::vector<std::string>& args) {
        int pipeFds[2];
        if (::pipe2(pipeFds, O_CLOEXEC) != 0)
            return;
        pid_ = Spawn(args, -1, pipeFds[1]);
        ::close(pipeFds[1]);
        errors_ = pipeFds[0];
    }
    ~Running() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (errors_ >= 0)
            ::close(errors_);
    }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;

    pid_t pid() const { return pid_; }
    // Reads standard error until the text shows up or the time is up.
    bool WaitForLog(const std::string& text, int seconds = 10) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (log_.find(text) == std::string::npos) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{errors_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                return false;
            char buffer[512];
            ssize_t n = ::read(errors_, buffer, sizeof buffer);
            if (n <= 0)
                return false;
            log_.append(buffer, static_cast<size_t>(n));
        }
        return true;
    }
    const std::string& log() const { return log_; }
    // Stops it with SIGTERM; its exit status, -1 when it did not end.
    int Terminate() {
        ::kill(pid_, SIGTERM);
        int status = WaitExit(pid_);
        pid_ = -1;
        return status;
    }

  private:
    pid_t pid_ = -1;
    int errors_ = -1;
    std::string log_;
};

int ConnectControl(const fs::path& socketPath) {
    int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, socketPath.c_str(), sizeof addr.sun_path - 1);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        fd = -1;
    }
    return fd;
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
        EXPECT_TRUE(fs::is_empty(Path("vbus/Ktr_vcom"))) << "port values left behind";
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

TEST_F(ProgramTest, AcceptFailuresBackOffAndClientsAreTakenAgainOnceDescriptorsAreFree) {
    Running daemon({});
    ASSERT_GT(daemon.pid(), 0);
    ASSERT_TRUE(daemon.WaitForLog("serving")) << daemon.log();
    // Leave it two descriptors to spare, then connect more clients than that.
    size_t open = 0;
    for ([[maybe_unused]] auto& entry :
         fs::directory_iterator("/proc/" + std::to_string(daemon.pid()) + "/fd"))
        ++open;
    rlimit limit{open + 2, open + 2};
    ASSERT_EQ(::prlimit(daemon.pid(), RLIMIT_NOFILE, &limit, nullptr), 0) << std::strerror(errno);
    std::vector<int> clients;
    for (int i = 0; i < 6; ++i) {
        clients.push_back(ConnectControl(Path("vbus/control")));
        ASSERT_GE(clients.back(), 0);
    }
    ASSERT_TRUE(daemon.WaitForLog("cannot take a control client")) << daemon.log();

    // While the clients wait in the backlog it does not try again and again:
    // over a second it uses a small part of the processor.
    long before = CpuTicks(daemon.pid());
    std::this_thread::sleep_for(std::chrono::seconds(1));
    long used = CpuTicks(daemon.pid()) - before;
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
    EXPECT_EQ(daemon.Terminate(), 0);
}

TEST_F(ProgramTest, AClientThatLetsAnswersPileUpIsDroppedWithALogLine) {
    Running daemon({});
    ASSERT_GT(daemon.pid(), 0);
    ASSERT_TRUE(daemon.WaitForLog("serving")) << daemon.log();
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
    EXPECT_TRUE(daemon.WaitForLog("dropped control client")) << daemon.log();
    ::close(flooder);
    // It goes on serving the others.
    Reply version =
        Send(Path("vbus/control"),
             Request{ovrix::IOCTL_OVRIX_GetVersion, ovrix::Target::Interface, false, "", {}, 180});
    EXPECT_TRUE(version.received);
    EXPECT_EQ(daemon.Terminate(), 0);
}

}  // namespace
