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
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace {

using namespace scansim_test;

// The program is built into the same folder as this test program.
std::string ProgramPath() {
    const char* bin = std::getenv("SUITE_BIN_DIR");
    if (bin != nullptr) {
        return std::string(bin) + "/scansim";
    }
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "scansim").string();
}

// Runs the program to its end: its exit status and what it printed.
support::ChildResult RunToEnd(const std::vector<std::string>& arguments) {
    return support::RunChild(ProgramPath(), arguments, "");
}

// A running scansim with its standard input and output on pipes (standard
// error stays the test's).
support::ChildOptions OutputOnly() {
    support::ChildOptions options;
    options.mergeStderr = false;
    return options;
}

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
    const support::ChildResult help = RunToEnd({"--help"});
    EXPECT_EQ(help.exitStatus, 0);
    for (const char* option :
         {"--usb",        "--com",        "--baud",    "--runtime-dir", "--profile",
          "--product",    "--firmware",   "--decoder", "--serial",      "--oem-serial",
          "--image-size", "--fault",      "--scan",    "--scan-file",   "--scan-suffix",
          "--scan-delay", "--scan-every", "--stdin",   "--help",        "--version"}) {
        EXPECT_NE(help.output.find(option), std::string::npos) << option;
    }
    const support::ChildResult version = RunToEnd({"--version"});
    EXPECT_EQ(version.output, "scansim 1.0.0\n");
    EXPECT_EQ(version.exitStatus, 0);
    EXPECT_NE(RunToEnd({"--fault", "explode"}).exitStatus, 0);
    EXPECT_NE(RunToEnd({"--com", "0"}).exitStatus, 0);
}

TEST(Program, RepeatedScanReachesHostThroughItsLink) {
    support::RuntimeDir ns;
    support::ChildProcess program(ProgramPath(),
                                  {"--runtime-dir", ns.Path().string(), "--usb", "Proc01", "--scan",
                                   "hello-4711", "--scan-every", "200", "--product", "Proc Reader"},
                                  OutputOnly());
    const auto link = ns.Path() / "usb" / "usb#vid_1eab&pid_0d10#proc01";
    EXPECT_EQ(program.ReadLine(), "link " + link.string());
    ASSERT_TRUE(WaitForLink(link, true));
    HostPort host(link);
    ASSERT_TRUE(host.IsOpen());
    // Scans written before the host opened may be waiting too; a whole one must come.
    const std::string scans = host.ReadUntilEnd("hello-4711\r", 5000);
    EXPECT_NE(scans.find("hello-4711\r"), std::string::npos) << scans;
    program.Signal(SIGTERM);
    EXPECT_EQ(program.Finish(), 0);
    EXPECT_FALSE(std::filesystem::is_symlink(link));
}

TEST(Program, StdinScansControlLinesAndSignals) {
    support::RuntimeDir ns;
    support::ChildProcess program(
        ProgramPath(),
        {"--runtime-dir", ns.Path().string(), "--com", "4", "--stdin", "--serial", "CTRL-1"},
        OutputOnly());
    const auto link = ns.Path() / "dosdevices" / "COM4";
    EXPECT_EQ(program.ReadLine(), "link " + link.string());
    {
        HostPort host(link);
        ASSERT_TRUE(host.IsOpen());
        program.Write("ABC\n");
        EXPECT_EQ(host.ReadUntilEnd("\r"), "ABC\r");
        EXPECT_NE(host.Ask("@QRYSYS,PDN,PSN").find("Serial Number: CTRL-1\r\n"), std::string::npos);
        program.Write(":fault nak\n");
        EXPECT_EQ(program.ReadLine(), "fault set");
        EXPECT_EQ(host.Ask("BUFQRY"), ReplyFrame("BUFQRY1024", 0x15));
        program.Signal(SIGUSR1);
        EXPECT_TRUE(host.SeesHangup());
        EXPECT_TRUE(WaitForLink(link, false));
    }
    program.Signal(SIGUSR2);
    EXPECT_EQ(program.ReadLine(), "link " + link.string());
    ASSERT_TRUE(WaitForLink(link, true));
    program.Write(":quit\n");
    EXPECT_EQ(program.Finish(), 0);
}

}  // namespace

namespace {

TEST(Program, ProfileAndScanFileFromTheCommandLine) {
    support::RuntimeDir ns;
    const auto profile = ns.Path() / "reader.ini";
    std::ofstream(profile) << "[device]\nproduct = Profile Reader\nbuffer_size = 512\n"
                              "[settings]\nINTERF = 3, 0-4\n";
    const auto scans = ns.Path() / "scans.txt";
    std::ofstream(scans) << "first-code\nsecond-code\n";
    support::ChildProcess program(
        ProgramPath(),
        {"--runtime-dir", ns.Path().string(), "--usb", "filer", "--profile", profile.string(),
         "--scan-file", scans.string(), "--scan-suffix", "\\r\\n", "--scan-delay", "300"},
        OutputOnly());
    const auto link = ns.Path() / "usb" / "usb#vid_1eab&pid_0d10#filer";
    EXPECT_EQ(program.ReadLine(), "link " + link.string());
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
    EXPECT_EQ(program.Finish(), 0);

    std::ofstream(profile) << "[device]\nproduct\n";
    const support::ChildResult refused =
        RunToEnd({"--runtime-dir", ns.Path().string(), "--profile", profile.string()});
    EXPECT_EQ(refused.exitStatus, 1) << refused.output;
    EXPECT_NE(refused.output.find("reader.ini:2"), std::string::npos) << refused.output;
}

}  // namespace
