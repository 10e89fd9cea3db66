// The real program: start-up, settings at exit, the autostart entry, one
// copy at a time, and window commands from other processes.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/ini_file.h"
#include "support/quillon_process.h"
#include "support/x_session.h"

namespace fs = std::filesystem;

namespace {

constexpr char kDefaultIni[] =
    "[init]\ntitle=Quillon\nimage=imageico.ico\nWorkMode=0\nEnter=1\n"
    "url=http://127.0.0.1:8080/\ntimeout=3000\nCodePage=0\n"
    "TlsVerifyHost=0\nTlsPinnedKey=\nOutbox=0\n";

// CPU time (user and system) the process has used so far, from /proc.
double CpuSeconds(pid_t pid) {
    std::string stat = ReadTextFile("/proc/" + std::to_string(pid) + "/stat");
    // Fields after the command name in parentheses: state is field 3, utime
    // field 14, stime field 15.
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    unsigned long long ticks = 0;
    for (int number = 3; number <= 15 && fields >> field; ++number) {
        if (number >= 14) {
            ticks += std::stoull(field);
        }
    }
    return static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

std::string IniValue(const QuillonHome& home, const char* key) {
    return platform::IniReadString(home.IniFile(), "init", key, "<none>");
}

TEST(Program, FirstStartWritesTheAutorunEntryAndTheDefaultsAtExit) {
    QuillonHome home;
    QuillonRun run(home, {"--headless"});
    ASSERT_TRUE(run.WaitFor("Quillon V1.0.0.B2\n")) << run.Output();
    ASSERT_TRUE(run.WaitFor("设备未连接\n")) << run.Output();
    EXPECT_FALSE(fs::exists(home.IniFile()));
    EXPECT_NE(
        ReadTextFile(home.AutorunEntry()).find("\nExec=" + home.Program().string() + " -autorun\n"),
        std::string::npos);
    EXPECT_EQ(run.Stop(), 0) << run.Output();
    EXPECT_EQ(ReadTextFile(home.IniFile()), kDefaultIni);
}

TEST(Program, AnAutorunStartLeavesTheEntryAndAPlainStartRewritesIt) {
    QuillonHome home;
    fs::create_directories(home.AutorunEntry().parent_path());
    std::ofstream(home.AutorunEntry()) << "edited by the user\n";
    {
        QuillonRun run(home, {"--headless", "-AUTORUN"});
        ASSERT_TRUE(run.WaitFor("Quillon V1.0.0.B2\n")) << run.Output();
        EXPECT_EQ(run.Stop(), 0);
    }
    EXPECT_EQ(ReadTextFile(home.AutorunEntry()), "edited by the user\n");
    {
        // Two arguments after the program make an ordinary start.
        QuillonRun run(home, {"--headless", "-autorun", "-autorun"});
        ASSERT_TRUE(run.WaitFor("Quillon V1.0.0.B2\n")) << run.Output();
        EXPECT_EQ(run.Stop(), 0);
    }
    EXPECT_NE(ReadTextFile(home.AutorunEntry()).find(" -autorun\n"), std::string::npos);
}

TEST(Program, ASecondCopyEndsAtOnceWithStatusZeroAfterWritingTheSettings) {
    QuillonHome home;
    std::ofstream(home.IniFile()) << "[init]\nlang=en\n";
    QuillonRun first(home, {"--headless"});
    ASSERT_TRUE(first.WaitFor("Device not connected\n")) << first.Output();

    fs::remove(home.IniFile());
    QuillonRun second(home, {"--headless"});
    EXPECT_EQ(second.Wait(10), 0) << second.Output();
    EXPECT_EQ(second.Output(), "") << "a second copy ends silently";
    EXPECT_EQ(ReadTextFile(home.IniFile()), kDefaultIni);

    EXPECT_EQ(first.Stop(), 0);
}

TEST(Program, KtrIniKeepsItsModeAndALongUrlThroughAStartAndAnExit) {
    QuillonHome home;
    // A url with a token: 335 characters, of which the program reads 259.
    const std::string url = "https://scans.example.invalid/in?token=" + std::string(296, 'k');
    ASSERT_EQ(url.size(), 335u);
    std::ofstream(home.IniFile()) << "[init]\nlang=en\nWorkMode=1\nurl=" << url << "\n";
    fs::permissions(home.IniFile(), fs::perms::owner_read | fs::perms::owner_write);
    const auto runOnce = [&] {
        QuillonRun run(home, {"--headless"});
        ASSERT_TRUE(run.WaitFor("Quillon V1.0.0.B2\n")) << run.Output();
        EXPECT_EQ(run.Stop(), 0) << run.Output();
    };
    runOnce();
    EXPECT_EQ(IniValue(home, "url"), url);
    EXPECT_EQ(fs::status(home.IniFile()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    // A file the program makes itself is its owner's alone as well.
    fs::remove(home.IniFile());
    runOnce();
    EXPECT_EQ(fs::status(home.IniFile()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST(Program, DeviceEventsThatCannotBeWatchedAreReportedAndTheStartGoesOn) {
    QuillonHome home;
    std::ofstream(home.IniFile()) << "[init]\nlang=en\n";
    // The folder of USB scanner names links to nowhere: it can be neither made nor watched.
    fs::create_symlink(home.Root() / "gone", home.DeviceNamespace() / "usb");
    QuillonRun run(home, {"--headless"});
    const std::string prefix = "Can't register device notification: ";
    ASSERT_TRUE(run.WaitFor(prefix)) << run.Output();
    ASSERT_TRUE(run.WaitFor("Device not connected\n")) << run.Output();
    // The cause in the system's words: the link leads nowhere (or is not
    // followed at all), never "Success".
    const size_t at = run.Output().find(prefix) + prefix.size();
    const std::string cause = run.Output().substr(at, run.Output().find('\n', at) - at);
    EXPECT_TRUE(cause == std::strerror(ENOENT) || cause == std::strerror(ELOOP)) << cause;
    EXPECT_EQ(run.Stop(), 0);
}

TEST(Program, APasteThatCannotBeMadeIsReportedOnceAndNotTriedInABusyLoop) {
    QuillonHome home;
    std::ofstream(home.IniFile()) << "[init]\nlang=en\nWorkMode=0\n";
    ScannerProcess scanner(home);
    ASSERT_TRUE(scanner.WaitPresent());
    // Headless without a display: no clipboard to paste from.
    QuillonRun run(home, {"--headless"});
    ASSERT_TRUE(run.WaitFor("Work Mode: Output at cursor\n")) << run.Output();
    scanner.Send("123");
    ASSERT_TRUE(
        run.WaitFor("[balloon] Scan not pasted: no display, so no clipboard to paste from\n"
                    "The text is kept for the next paste.\n"))
        << run.Output();
    const double before = CpuSeconds(run.Pid());
    scanner.Send("456");
    EXPECT_FALSE(run.WaitFor("Scan not pasted", 5)) << "reported once: " << run.Output();
    EXPECT_LT(CpuSeconds(run.Pid()) - before, 0.5);
    EXPECT_EQ(run.Stop(), 0) << run.Output();
}

TEST(Program, WindowCommandsReachTheRunningCopy) {
    QuillonHome home;
    {
        QuillonRun nobody(home, {"--send-command", "1148"});
        EXPECT_EQ(nobody.Wait(), 1);
        EXPECT_NE(nobody.Output().find("no running copy"), std::string::npos);
    }
    QuillonRun run(home, {"--headless"});
    ASSERT_TRUE(run.WaitFor("设备未连接\n")) << run.Output();
    struct Case {
        const char* command;
        int status;
        const char* directOutput;
    };
    const Case cases[] = {
        {"1148", 0, "1"},
        {"1147", 0, "0"},
        {"1148", 0, "1"},
        {"12x", 2, "1"},   // not a number: refused before anything is sent
        {"4711", 0, "1"},  // unknown commands are taken and do nothing
        // Beyond the 16 bits of a command: refused, not wrapped (to 1147 here).
        {"4294968443", 2, "1"},
        {"65536", 2, "1"},
        {"-1", 2, "1"},
        {"99999999999999999999999", 2, "1"},
    };
    for (const Case& c : cases) {
        QuillonRun send(home, {"--send-command", c.command});
        EXPECT_EQ(send.Wait(), c.status) << c.command << ": " << send.Output();
        EXPECT_EQ(IniValue(home, "Directoutput"), c.directOutput) << c.command;
    }
    QuillonRun config(home, {"--send-command", "1149"});
    EXPECT_EQ(config.Wait(), 0);
    EXPECT_TRUE(run.WaitFor("The code page dialog needs a window")) << run.Output();
    EXPECT_EQ(run.Stop(), 0);
    // The settings written at exit keep the command's key.
    EXPECT_EQ(IniValue(home, "Directoutput"), "1");
    EXPECT_EQ(IniValue(home, "title"), "Quillon");
}

TEST(Program, DesktopFormShowsItsWindowAndTakesCommands) {
    XSession session;
    ASSERT_TRUE(session.Start(true)) << session.Error();
    QuillonHome home;
    std::ofstream(home.IniFile()) << "[init]\nlang=en\ntitle=Scan Relay\nHexOut=1\n";
    ScannerProcess scanner(home);
    ASSERT_TRUE(scanner.WaitPresent());
    QuillonRun run(home, {}, session.DisplayName());
    EXPECT_EQ(RunOnDisplay(session.DisplayName(),
                           "xdotool search --sync --onlyvisible --name "
                           "'^Scan Relay V1.0.0.B2\\(Harlowe\\)$' >/dev/null"),
              0);
    QuillonRun send(home, {"--send-command", "1148"});
    EXPECT_EQ(send.Wait(), 0) << send.Output();
    EXPECT_EQ(IniValue(home, "Directoutput"), "1");
    // A second copy on the desktop ends as quietly.
    QuillonRun second(home, {}, session.DisplayName());
    EXPECT_EQ(second.Wait(10), 0) << second.Output();
    EXPECT_EQ(run.Stop(), 0) << run.Output();
    EXPECT_EQ(IniValue(home, "title"), "Scan Relay");
    EXPECT_EQ(IniValue(home, "HexOut"), "1");
}

TEST(Program, HelpVersionAndMissingDisplay) {
    QuillonHome home;
    QuillonRun version(home, {"--version"});
    EXPECT_EQ(version.Wait(), 0);
    EXPECT_EQ(version.Output(), "Quillon 1.0.0.2\n");
    QuillonRun help(home, {"--help"});
    EXPECT_EQ(help.Wait(), 0);
    EXPECT_NE(help.Output().find("--send-command N"), std::string::npos);
    EXPECT_NE(help.Output().find("2 for a usage error"), std::string::npos) << help.Output();
    QuillonRun noDisplay(home, {});
    EXPECT_EQ(noDisplay.Wait(), 1);
    EXPECT_NE(noDisplay.Output().find("use --headless"), std::string::npos);
    const std::vector<std::vector<std::string>> unknown = {
        {"--headles"}, {"--headless", "extra"}, {"-autorun", "--verbose"}, {"--send"}};
    for (const std::vector<std::string>& arguments : unknown) {
        QuillonRun run(home, arguments);
        EXPECT_EQ(run.Wait(), 2) << arguments.back();
        EXPECT_NE(run.Output().find("unknown argument \"" + arguments.back() + "\"\n\nUsage:"),
                  std::string::npos)
            << run.Output();
    }
    QuillonRun jsonAlone(home, {"--json"});
    EXPECT_EQ(jsonAlone.Wait(), 2);
    EXPECT_EQ(jsonAlone.Output(), "quillon: --json needs --headless\n");
    EXPECT_FALSE(fs::exists(home.IniFile())) << "a refused start writes no settings";
}

}  // namespace
