// The scansim program as a real process: help, version, its namespace link,
// scans, control lines and signals.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "host_port.h"

namespace {

using scansim_test::HostPort;
using scansim_test::ReplyFrame;
using scansim_test::TempNamespace;

// The program is built into the same folder as this test program.
std::string ProgramPath() {
    const char* bin = std::getenv("SUITE_BIN_DIR");
    if (bin != nullptr) {
        return std::string(bin) + "/scansim";
    }
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "scansim").string();
}

// Runs the program to its end and returns what it printed.
std::string RunToEnd(const std::string& arguments, int* status) {
    std::string output;
    FILE* pipe = ::popen((ProgramPath() + " " + arguments + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return output;
    }
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        output.append(buffer, n);
    }
    *status = ::pclose(pipe);
    return output;
}

// A running scansim with its standard input and output on pipes.
class Running {
  public:
    explicit Running(std::vector<std::string> arguments) {
        int in[2];
        int out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0) {
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], STDIN_FILENO);
            ::dup2(out[1], STDOUT_FILENO);
            ::close(in[1]);
            ::close(out[0]);
            std::vector<char*> argv;
            std::string program = ProgramPath();
            argv.push_back(program.data());
            for (auto& a : arguments) {
                argv.push_back(a.data());
            }
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        stdin_ = in[1];
        stdout_ = ::fdopen(out[0], "r");
    }
    ~Running() {
        if (pid_ > 0 && !waited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (stdin_ >= 0) {
            ::close(stdin_);
        }
        if (stdout_ != nullptr) {
            std::fclose(stdout_);
        }
    }
    // One line of the program's output, without its line end.
    std::string Line() {
        char buffer[1024];
        if (stdout_ == nullptr || std::fgets(buffer, sizeof buffer, stdout_) == nullptr) {
            return {};
        }
        std::string line(buffer);
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
        }
        return line;
    }
    void Input(const std::string& line) {
        [[maybe_unused]] auto n = ::write(stdin_, line.data(), line.size());
    }
    void Signal(int signal) { ::kill(pid_, signal); }
    int Wait() {
        int status = -1;
        ::waitpid(pid_, &status, 0);
        waited_ = true;
        return status;
    }

  private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    FILE* stdout_ = nullptr;
    bool waited_ = false;
};

bool WaitForLink(const std::filesystem::path& link, bool present) {
    for (int i = 0; i < 500; ++i) {
        if (std::filesystem::is_symlink(link) == present) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST(Program, HelpDocumentsEveryOptionAndVersionPrintsIt) {
    int status = -1;
    const std::string help = RunToEnd("--help", &status);
    EXPECT_EQ(status, 0);
    for (const char* option :
         {"--usb",        "--com",        "--baud",    "--runtime-dir", "--profile",
          "--product",    "--firmware",   "--decoder", "--serial",      "--oem-serial",
          "--image-size", "--fault",      "--scan",    "--scan-file",   "--scan-suffix",
          "--scan-delay", "--scan-every", "--stdin",   "--help",        "--version"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
    EXPECT_EQ(RunToEnd("--version", &status), "scansim 1.0.0\n");
    EXPECT_EQ(status, 0);
    RunToEnd("--fault explode", &status);
    EXPECT_NE(status, 0);
    RunToEnd("--com 0", &status);
    EXPECT_NE(status, 0);
}

TEST(Program, RepeatedScanReachesHostThroughItsLink) {
    TempNamespace ns;
    Running program({"--runtime-dir", ns.Dir().string(), "--usb", "Proc01", "--scan", "hello-4711",
                     "--scan-every", "200", "--product", "Proc Reader"});
    const auto link = ns.Dir() / "usb" / "usb#vid_1eab&pid_0d10#proc01";
    EXPECT_EQ(program.Line(), "link " + link.string());
    ASSERT_TRUE(WaitForLink(link, true));
    HostPort host(link);
    ASSERT_TRUE(host.IsOpen());
    // Scans written before the host opened may be waiting too; a whole one must come.
    const std::string scans = host.ReadUntilEnd("hello-4711\r", 5000);
    EXPECT_NE(scans.find("hello-4711\r"), std::string::npos) << scans;
    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(), 0);
    EXPECT_FALSE(std::filesystem::is_symlink(link));
}

TEST(Program, StdinScansControlLinesAndSignals) {
    TempNamespace ns;
    Running program(
        {"--runtime-dir", ns.Dir().string(), "--com", "4", "--stdin", "--serial", "CTRL-1"});
    const auto link = ns.Dir() / "dosdevices" / "COM4";
    EXPECT_EQ(program.Line(), "link " + link.string());
    {
        HostPort host(link);
        ASSERT_TRUE(host.IsOpen());
        program.Input("ABC\n");
        EXPECT_EQ(host.ReadUntilEnd("\r"), "ABC\r");
        EXPECT_NE(host.Ask("@QRYSYS,PDN,PSN").find("Serial Number: CTRL-1\r\n"), std::string::npos);
        program.Input(":fault nak\n");
        EXPECT_EQ(program.Line(), "fault set");
        EXPECT_EQ(host.Ask("BUFQRY"), ReplyFrame("BUFQRY1024", 0x15));
        program.Signal(SIGUSR1);
        EXPECT_TRUE(host.SeesHangup());
        EXPECT_TRUE(WaitForLink(link, false));
    }
    program.Signal(SIGUSR2);
    EXPECT_EQ(program.Line(), "link " + link.string());
    ASSERT_TRUE(WaitForLink(link, true));
    program.Input(":quit\n");
    EXPECT_EQ(program.Wait(), 0);
}

}  // namespace

namespace {

TEST(Program, ProfileAndScanFileFromTheCommandLine) {
    TempNamespace ns;
    const auto profile = ns.Dir() / "reader.ini";
    std::ofstream(profile) << "[device]\nproduct = Profile Reader\nbuffer_size = 512\n"
                              "[settings]\nINTERF = 3, 0-4\n";
    const auto scans = ns.Dir() / "scans.txt";
    std::ofstream(scans) << "first-code\nsecond-code\n";
    Running program({"--runtime-dir", ns.Dir().string(), "--usb", "filer", "--profile",
                     profile.string(), "--scan-file", scans.string(), "--scan-suffix", "\\r\\n",
                     "--scan-delay", "300"});
    const auto link = ns.Dir() / "usb" / "usb#vid_1eab&pid_0d10#filer";
    EXPECT_EQ(program.Line(), "link " + link.string());
    HostPort host(link);
    ASSERT_TRUE(host.IsOpen());
    EXPECT_EQ(host.ReadUntilEnd("second-code\r\n"), "first-code\r\nsecond-code\r\n");
    EXPECT_NE(host.Ask("@QRYSYS,PDN,PSN").find("Product Name: Profile Reader\r\n"),
              std::string::npos);
    EXPECT_EQ(host.Ask("BUFQRY"), ReplyFrame("BUFQRY512", 0x06));
    EXPECT_EQ(host.Ask("INTERF*"), ReplyFrame("INTERF3", 0x06));
    // The profile's table replaced the built-in one.
    EXPECT_EQ(host.Ask("ALLENA*"), ReplyFrame("ALLENA*", 0x15));
    program.Signal(SIGINT);
    EXPECT_EQ(program.Wait(), 0);

    std::ofstream(profile) << "[device]\nproduct\n";
    int status = -1;
    const std::string output =
        RunToEnd("--runtime-dir " + ns.Dir().string() + " --profile " + profile.string(), &status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << output;
    EXPECT_NE(output.find("reader.ini:2"), std::string::npos) << output;
}

}  // namespace
