// ovrixd and what it finds in the namespace: links a bus killed with
// SIGKILL left behind, a value name that was made a link, a USB entry that
// leads to a plain file.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "ovrix_test_support.h"

extern char** environ;

namespace {

using namespace ovrix_test;

// The ovrixd program with its error output in a pipe the test reads.
class Ovrixd {
  public:
    explicit Ovrixd(std::vector<std::string> args) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return;
        const char* bin = std::getenv("SUITE_BIN_DIR");
        std::string program =
            (bin != nullptr && *bin != '\0' ? fs::path(bin)
                                            : fs::read_symlink("/proc/self/exe").parent_path()) /
            "ovrixd";
        std::vector<char*> argv{program.data()};
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
        if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        errors_ = fds[0];
    }
    ~Ovrixd() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        if (errors_ >= 0)
            ::close(errors_);
    }
    Ovrixd(const Ovrixd&) = delete;
    Ovrixd& operator=(const Ovrixd&) = delete;

    // Reads the error output until `text` shows up or the time is up.
    bool WaitFor(const std::string& text, int seconds = 10) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (output_.find(text) == std::string::npos) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{errors_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                return false;
            char buffer[512];
            ssize_t n = ::read(errors_, buffer, sizeof buffer);
            if (n <= 0)
                return false;
            output_.append(buffer, static_cast<size_t>(n));
        }
        return true;
    }
    // Exit status once the program ended by itself; -1 when it did not.
    int Wait(int seconds = 10) {
        int status = 0;
        if (!Eventually([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, seconds))
            return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    void Kill() {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    const std::string& Output() const { return output_; }

  private:
    pid_t pid_ = -1;
    int errors_ = -1;
    std::string output_;
};

class NamespaceOwnership : public RuntimeDirFixture {
  protected:
    std::vector<std::string> ComLinks() const {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(Path("dosdevices"), ec))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(NamespaceOwnership, AFolderOfTheBusThatIsALinkEndsTheStart) {
    const fs::path outside = Path("outside");
    ASSERT_EQ(::mkdir(outside.c_str(), 0700), 0);
    for (const char* folder : {"usb", "dosdevices", "vbus"}) {
        SCOPED_TRACE(folder);
        ASSERT_EQ(::symlink(outside.c_str(), Path(folder).c_str()), 0);
        Ovrixd bus({"--pair", "COM5:COM6"});
        EXPECT_TRUE(
            bus.WaitFor("ovrixd: refusing " + Path(folder).string() + ": it is a symbolic link"))
            << bus.Output();
        EXPECT_EQ(bus.Wait(), 1) << bus.Output();
        EXPECT_TRUE(fs::is_empty(outside));
        fs::remove(Path(folder));
    }
}

TEST_F(NamespaceOwnership, ABusStartedAfterAKilledOneRemovesItsLinks) {
    {
        Ovrixd killed({"--pair", "COM5:COM6"});
        ASSERT_TRUE(killed.WaitFor("serving")) << killed.Output();
        ASSERT_TRUE(ComLive(5) && ComLive(6));
        killed.Kill();
    }
    ASSERT_TRUE(fs::is_symlink(ComLink(5)));
    ASSERT_TRUE(fs::is_symlink(ComLink(6)));
    ASSERT_TRUE(fs::is_symlink(Path("vbus/datapipe")));
    const fs::path oldDatapipe = fs::read_symlink(Path("vbus/datapipe"));
    // Somebody else's port, made while no bus ran: it stays.
    int master = -1, slave = -1;
    char node[128];
    ASSERT_EQ(::openpty(&master, &slave, node, nullptr, nullptr), 0);
    ASSERT_TRUE(platform::AddEntry(platform::kComFolder, "COM9", node));

    Ovrixd next({});
    ASSERT_TRUE(next.WaitFor("serving")) << next.Output();
    EXPECT_EQ(ComLinks(), std::vector<std::string>{"COM9"});
    EXPECT_EQ(fs::read_symlink(ComLink(9)), node);
    EXPECT_FALSE(fs::exists(Path("vbus/Ktr_vcom/0001")));
    EXPECT_TRUE(fs::exists(Path("vbus/datapipe"))) << "the new bus has its own data pipe";
    EXPECT_NE(fs::read_symlink(Path("vbus/datapipe")), oldDatapipe);
    ::close(slave);
    ::close(master);
}

TEST_F(NamespaceOwnership, APortValueThatIsALinkIsNotWrittenThrough) {
    Ovrixd bus({"--com-base", "COM3"});
    ASSERT_TRUE(bus.WaitFor("serving")) << bus.Output();
    const fs::path victim = Path("victim.txt");
    std::ofstream(victim) << "precious";
    // The first port the bus makes is instance 0001.
    ASSERT_EQ(::mkdir(Path("vbus/Ktr_vcom").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(Path("vbus/Ktr_vcom/0001").c_str(), 0700), 0);
    fs::create_symlink(victim, Path("vbus/Ktr_vcom/0001/PortName"));

    FakeEndpoint scanner("usb#vid_1eab&pid_0d10#sim0001");
    const std::string line = "ovrixd: refusing " + Path("vbus/Ktr_vcom/0001/PortName").string() +
                             ": it is a symbolic link to " + victim.string();
    EXPECT_TRUE(bus.WaitFor(line)) << bus.Output();
    EXPECT_EQ(ReadText(victim), "precious");
    EXPECT_TRUE(ComLinks().empty());

    // The next scanner gets a port as usual.
    FakeEndpoint second("usb#vid_1eab&pid_0d10#sim0002");
    EXPECT_TRUE(Eventually([&] { return ComLive(3); })) << bus.Output();
    EXPECT_EQ(ReadText(Path("vbus/Ktr_vcom/0002/PortName")), "COM3");
    EXPECT_EQ(ReadText(victim), "precious");
}

TEST_F(NamespaceOwnership, AUsbEntryThatIsNoTerminalIsIgnored) {
    const fs::path file = Path("plain-file");
    std::ofstream(file) << "not a scanner";
    ::chmod(file.c_str(), 0600);
    ASSERT_TRUE(platform::AddEntry(platform::kUsbFolder, "usb#vid_1eab&pid_0d10#plain", file));
    Ovrixd bus({"--com-base", "COM3"});
    ASSERT_TRUE(bus.WaitFor("serving")) << bus.Output();
    // One arriving while the bus runs is ignored as well; a real endpoint
    // after it shows when the bus has looked at both.
    ASSERT_TRUE(
        platform::AddEntry(platform::kUsbFolder, "usb#vid_1eab&pid_0d10#null", "/dev/null"));
    FakeEndpoint scanner("usb#vid_1eab&pid_0d10#sim0003");
    ASSERT_TRUE(Eventually([&] { return !ComLinks().empty(); })) << bus.Output();
    EXPECT_EQ(ComLinks(), std::vector<std::string>{"COM3"});
    EXPECT_EQ(ReadText(Path("vbus/Ktr_vcom/0001/HardwareDevinstpath")),
              "USB\\VID_1EAB&PID_0D10\\SIM0003");
    EXPECT_EQ(ReadText(file), "not a scanner");
}

}  // namespace
