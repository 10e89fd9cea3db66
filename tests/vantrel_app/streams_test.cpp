// What the console tells a script: the exit status (0 done, 1 refused by the
// port, bus or folder, 2 a wrong command line), the one error line on standard
// error, --help and --version, and the bytes of a read shown whole with the
// control and non-ASCII ones escaped, or as a hex dump.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "run_program.h"
#include "support/pty_pair.h"
#include "support/split_run.h"
#include "support/temp_dir.h"

namespace {

support::ChildOptions InNamespace(const std::string& runtimeDir) {
    support::ChildOptions options;
    options.set.emplace_back("KTR_RUNTIME_DIR", runtimeDir);
    return options;
}

struct FailureCase {
    const char* name;
    std::vector<std::string> args;
    int exitStatus;
    std::string firstErrLine;  // the whole first line of standard error
};

// Test names show the case name, not the bytes of the record.
void PrintTo(const FailureCase& c, std::ostream* out) {
    *out << c.name;
}

class VantrelFailures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(VantrelFailures, EndWithTheirStatusAndNameTheCauseOnStandardError) {
    const FailureCase& c = GetParam();
    const support::TempDir tmp("vantrel_app");
    const support::SplitResult run =
        support::RunSplit(ProgramPath(), c.args, "", InNamespace(tmp.String()));
    EXPECT_EQ(run.exitStatus, c.exitStatus) << run.out << run.err;
    const std::vector<std::string> lines = run.ErrLines();
    ASSERT_FALSE(lines.empty()) << run.out;
    EXPECT_EQ(lines[0], c.firstErrLine) << run.err;
    EXPECT_EQ(run.out.find(c.firstErrLine), std::string::npos) << run.out;
    // Standard output keeps the start-up lines only.
    EXPECT_EQ(run.out.rfind("Vantrel version 1.7.12, compiled on ", 0), 0u) << run.out;
}

INSTANTIATE_TEST_SUITE_P(
    CommandLinesAndPorts, VantrelFailures,
    ::testing::Values(
        FailureCase{"UnknownOption", {"-x", "COM3"}, 2, "Bad short option '-x'."},
        FailureCase{"UnknownLongOption", {"--hexdump", "COM3"}, 2, "Bad long option '--hexdump'"},
        FailureCase{"NoPortName",
                    {"-b", "10"},
                    2,
                    "You do not pass in an argument as COM port device name."},
        FailureCase{
            "BadCount", {"-c", "0", "COM3"}, 2, "--msec-cancel or -c has bad argument(should>0)"},
        FailureCase{"MissingComPort",
                    {"COM3"},
                    1,
                    "CreateFile('COM3') fail. WinErr=2(ERROR_FILE_NOT_FOUND): no such port or "
                    "device"},
        FailureCase{"MissingTtyPath",
                    {"/dev/no-such-tty"},
                    1,
                    "CreateFile('/dev/no-such-tty') fail. WinErr=2(ERROR_FILE_NOT_FOUND): no such "
                    "port or device"},
        FailureCase{"MissingDatapipe",
                    {"--datapipe"},
                    1,
                    "CreateFile('\\\\.\\KTR_Datapipe') fail. WinErr=2(ERROR_FILE_NOT_FOUND): no "
                    "such port or device"}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST(VantrelStreams, ARuntimeFolderOthersCanWriteIsRefusedWithStatusOne) {
    const support::TempDir tmp("vantrel_app");
    const std::string open = tmp.String() + "/open";
    ASSERT_EQ(::mkdir(open.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(open.c_str(), 0777), 0);
    const support::SplitResult run =
        support::RunSplit(ProgramPath(), {"COM3"}, "", InNamespace(open));
    EXPECT_EQ(run.exitStatus, 1) << run.out << run.err;
    ASSERT_EQ(run.ErrLines().size(), 1u) << run.err;
    EXPECT_EQ(run.ErrLines()[0].rfind("refusing " + open + ": others can write it", 0), 0u)
        << run.err;
}

TEST(VantrelStreams, HelpAndVersionAnswerOnStandardOutputWithStatusZero) {
    const support::TempDir tmp("vantrel_app");
    const support::SplitResult help =
        support::RunSplit(ProgramPath(), {"--help"}, "", InNamespace(tmp.String()));
    EXPECT_EQ(help.exitStatus, 0) << help.out << help.err;
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(help.out.rfind("Usage: vantrel [options] <DevOpenPath>\n", 0), 0u) << help.out;
    for (const char* line :
         {"  --hex  ", "Exit status:\n", "  0  everything asked was done",
          "  1  the port, the virtual bus, the runtime folder or the --read-log file refused\n",
          "  2  the command line is wrong", "  -Q <rtoc> \n"})
        EXPECT_NE(help.out.find(line), std::string::npos) << line << "\n" << help.out;
    EXPECT_EQ(help.out.find("Need at least one argument"), std::string::npos) << help.out;
    // Help wins over the rest of the command line, as with other programs.
    EXPECT_EQ(support::RunSplit(ProgramPath(), {"COM3", "-b", "4", "--help"}, "",
                                InNamespace(tmp.String()))
                  .out,
              help.out);

    const support::SplitResult version =
        support::RunSplit(ProgramPath(), {"--version"}, "", InNamespace(tmp.String()));
    EXPECT_EQ(version.exitStatus, 0);
    EXPECT_EQ(version.out, "vantrel 1.7.12\n");
    EXPECT_EQ(version.err, "");

    // -h keeps its usage text; it was asked for, so it is no failure.
    const support::SplitResult usage =
        support::RunSplit(ProgramPath(), {"-h"}, "", InNamespace(tmp.String()));
    EXPECT_EQ(usage.exitStatus, 0);
    EXPECT_NE(usage.out.find("\nNeed at least one argument as COM port DevOpenPath.\n"),
              std::string::npos);
    EXPECT_EQ(usage.err, "");
    // Without any argument the same text is a usage error.
    const support::SplitResult bare =
        support::RunSplit(ProgramPath(), {}, "", InNamespace(tmp.String()));
    EXPECT_EQ(bare.exitStatus, 2);
    EXPECT_NE(bare.err.find("\nNeed at least one argument as COM port DevOpenPath.\n"),
              std::string::npos);
}

// The listing names each port's COM name; a request the bus cannot take
// (no daemon) ends with status 1, one it carried out with 0.
TEST(VantrelStreams, ListingShowsComNamesAndBusRequestsTellWhetherTheyWereDone) {
    const support::TempDir tmp("vantrel_app");
    const support::ChildOptions ns = InNamespace(tmp.String());
    const support::SplitResult noBus = support::RunSplit(ProgramPath(), {"--unplug-vcoms"}, "", ns);
    EXPECT_EQ(noBus.exitStatus, 1) << noBus.out << noBus.err;
    EXPECT_NE(noBus.out.find("Unplug all VCOMs fail. WinErr=1167(ERROR_DEVICE_NOT_CONNECTED)"),
              std::string::npos)
        << noBus.out;

    const std::string daemon =
        std::filesystem::path(ProgramPath()).parent_path().string() + "/ovrixd";
    if (::access(daemon.c_str(), X_OK) != 0)
        GTEST_SKIP() << "ovrixd is not part of this build";
    support::ChildProcess bus(daemon, {"--pair", "COM20:COM21"}, ns);
    ASSERT_TRUE(bus.WaitFor("ovrixd: serving\n")) << bus.Output();
    const support::SplitResult listed = support::RunSplit(ProgramPath(), {"-l"}, "", ns);
    EXPECT_EQ(listed.exitStatus, 0) << listed.err;
    size_t from = 0;
    for (const char* line :
         {"<#1>\n", "    PortName     : COM20  (vantrel \\\\.\\COM20)\n", "<#2>\n",
          "    PortName     : COM21  (vantrel \\\\.\\COM21)\n", "Total 2 VCOM devices found.\n"}) {
        const size_t at = listed.out.find(line, from);
        ASSERT_NE(at, std::string::npos) << line << "\n" << listed.out;
        from = at;
    }
    const support::SplitResult unplugged =
        support::RunSplit(ProgramPath(), {"--unplug-vcoms"}, "", ns);
    EXPECT_EQ(unplugged.exitStatus, 0) << unplugged.out << unplugged.err;
    EXPECT_NE(unplugged.out.find("Unplug all VCOMs success."), std::string::npos) << unplugged.out;
    bus.Signal(SIGTERM);
    EXPECT_EQ(bus.Finish(), 0);
}

struct ReadCase {
    const char* name;
    std::vector<std::string> options;
    std::string bytes;
    std::string shown;  // the line(s) the read prints after its result line
};

// Test names show the case name, not the bytes of the record.
void PrintTo(const ReadCase& c, std::ostream* out) {
    *out << c.name;
}

class ReadDisplay : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadDisplay, ShowsEveryByteAndNoneRaw) {
    const ReadCase& c = GetParam();
    support::PtyPair pty;
    const support::TempDir tmp("vantrel_app");
    std::vector<std::string> args{pty.node().string(), "-c", "5000"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    LiveProgram program(args, tmp.String());
    ASSERT_TRUE(program.WaitFor("Choose action:")) << program.Output();
    pty.Send(c.bytes);
    program.Type("R");
    ASSERT_TRUE(program.WaitFor("Bytes to read(0): ")) << program.Output();
    program.Type(std::to_string(c.bytes.size()) + "\n");
    // Sync or async, the result line names the count; the data follows on lines of its own.
    ASSERT_TRUE(program.WaitFor("nDone=" + std::to_string(c.bytes.size()))) << program.Output();
    ASSERT_TRUE(program.WaitFor("\n" + c.shown)) << program.Output();
    // No byte of the port reached the console raw (the ESC typed to quit
    // comes after this point).
    const std::string shown = program.Output();
    EXPECT_EQ(shown.find('\x1b'), std::string::npos) << shown;
    EXPECT_EQ(shown.find('\0'), std::string::npos) << shown;
    EXPECT_EQ(shown.find('\x80'), std::string::npos) << shown;
    program.Type("\x1b");
    EXPECT_EQ(program.Finish(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, ReadDisplay,
    ::testing::Values(
        ReadCase{"ZeroEscapeLetter",
                 {},
                 std::string("\x00\x1b"
                             "A",
                             3),
                 "\\x00\\x1BA\n"},
        ReadCase{"LineEndsTabsBackslashAndUtf8",
                 {},
                 "a\tb\\c\r\n\xc3\xbc\x7f",
                 "a\\tb\\\\c\\r\\n\\xC3\\xBC\\x7F\n"},
        ReadCase{"HexDump",
                 {"--hex"},
                 std::string("\x00\x1b"
                             "A",
                             3),
                 "0000  00 1B 41                                          |..A|\n"},
        ReadCase{"HexDumpOfTwoRows",
                 {"--hex"},
                 "0123456789abcdefXY\x80",
                 "0000  30 31 32 33 34 35 36 37  38 39 61 62 63 64 65 66  |0123456789abcdef|\n"
                 "0010  58 59 80                                          |XY.|\n"}),
    [](const ::testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

}  // namespace
