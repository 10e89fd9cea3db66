// The scansim program's exit statuses (0 done, 1 a file, the namespace or the
// name said no, 2 a wrong command line) with the one line on standard error
// that names the cause, and a name in use that stays with its owner.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/split_run.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

std::string ProgramPath() {
    const char* bin = std::getenv("SUITE_BIN_DIR");
    if (bin != nullptr) {
        return std::string(bin) + "/scansim";
    }
    return (fs::read_symlink("/proc/self/exe").parent_path() / "scansim").string();
}

// "{ns}" in a case stands for the test's runtime folder.
std::string Fill(std::string text, const std::string& ns) {
    for (size_t at = text.find("{ns}"); at != std::string::npos; at = text.find("{ns}")) {
        text.replace(at, 4, ns);
    }
    return text;
}

struct FailureCase {
    const char* name;
    std::vector<std::string> args;
    int exitStatus;
    std::string errLine;
};

// Test names show the case name, not the bytes of the record.
void PrintTo(const FailureCase& c, std::ostream* out) {
    *out << c.name;
}

class ScansimFailures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(ScansimFailures, EndWithTheirStatusAndOneLineNamingTheCause) {
    const FailureCase& c = GetParam();
    const support::TempDir ns("scansim-exit");
    std::ofstream(ns.Path() / "bad.ini") << "[device]\nproduct\n";
    fs::create_directory(ns.Path() / "folder");
    std::vector<std::string> args{"--runtime-dir", ns.String()};
    for (const std::string& arg : c.args) {
        args.push_back(Fill(arg, ns.String()));
    }
    const support::SplitResult run = support::RunSplit(ProgramPath(), args);
    EXPECT_EQ(run.exitStatus, c.exitStatus) << run.err;
    EXPECT_EQ(run.err, Fill(c.errLine, ns.String()) + "\n");
    EXPECT_EQ(run.out, "");
    // Nothing was registered on the way.
    EXPECT_FALSE(fs::exists(ns.Path() / "usb"));
}

INSTANTIATE_TEST_SUITE_P(
    CommandLinesAndFiles, ScansimFailures,
    ::testing::Values(
        FailureCase{"UnknownOption", {"--bogus"}, 2, "scansim: bad option --bogus"},
        FailureCase{"MissingValue", {"--usb"}, 2, "scansim: --usb needs a value"},
        FailureCase{"BadComNumber", {"--com", "0"}, 2, "scansim: --com needs a port number 1-255"},
        FailureCase{"StrayArgument", {"extra"}, 2, "scansim: unexpected argument extra"},
        FailureCase{"MissingProfile",
                    {"--profile", "{ns}/none.ini"},
                    1,
                    "scansim: cannot open profile {ns}/none.ini: No such file or directory"},
        FailureCase{"ProfileIsAFolder",
                    {"--profile", "{ns}/folder"},
                    1,
                    "scansim: cannot read profile {ns}/folder: Is a directory"},
        FailureCase{"BadProfileLine",
                    {"--profile", "{ns}/bad.ini"},
                    1,
                    "scansim: {ns}/bad.ini:2: bad line: product"},
        FailureCase{"MissingScanFile",
                    {"--scan-file", "{ns}/scans.txt"},
                    1,
                    "scansim: cannot read scan file {ns}/scans.txt: No such file or directory"},
        FailureCase{"ScanFileIsAFolder",
                    {"--scan-file", "{ns}/folder"},
                    1,
                    "scansim: cannot read scan file {ns}/folder: Is a directory"}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST(ScansimExit, ARuntimeFolderOthersCanWriteIsRefused) {
    const support::TempDir tmp("scansim-exit");
    const fs::path open = tmp.Path() / "open";
    fs::create_directory(open);
    fs::permissions(open, fs::perms::all);
    const support::SplitResult run =
        support::RunSplit(ProgramPath(), {"--runtime-dir", open.string()});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.err.rfind("scansim: refusing " + open.string() + ": others can write it", 0), 0u)
        << run.err;
    EXPECT_EQ(run.ErrLines().size(), 1u) << run.err;
}

bool Eventually(const std::function<bool()>& done) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > limit) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

struct NameCase {
    const char* name;
    std::vector<std::string> first;
    std::vector<std::string> second;
    std::string link;  // under the runtime folder
};

// Test names show the case name, not the bytes of the record.
void PrintTo(const NameCase& c, std::ostream* out) {
    *out << c.name;
}

class NameInUse : public ::testing::TestWithParam<NameCase> {};

// The second program refuses and leaves the first one's link alone, also
// after it ended; the link goes when its owner ends.
TEST_P(NameInUse, IsRefusedAndTheOwnersLinkStays) {
    const NameCase& c = GetParam();
    const support::TempDir ns("scansim-exit");
    const fs::path link = ns.Path() / c.link;
    std::vector<std::string> firstArgs{"--runtime-dir", ns.String()};
    firstArgs.insert(firstArgs.end(), c.first.begin(), c.first.end());
    support::ChildOptions quiet;
    quiet.mergeStderr = false;
    support::ChildProcess first(ProgramPath(), firstArgs, quiet);
    ASSERT_EQ(first.ReadLine(), "link " + link.string());
    const fs::path target = fs::read_symlink(link);

    std::vector<std::string> secondArgs{"--runtime-dir", ns.String()};
    secondArgs.insert(secondArgs.end(), c.second.begin(), c.second.end());
    const support::SplitResult second = support::RunSplit(ProgramPath(), secondArgs);
    EXPECT_EQ(second.exitStatus, 1);
    EXPECT_EQ(second.err, "scansim: " + link.string() + ": name in use (it leads to " +
                              target.string() + "); choose another --usb serial or --com number\n");
    EXPECT_EQ(second.out, "");
    EXPECT_EQ(fs::read_symlink(link), target);

    first.Signal(SIGTERM);
    EXPECT_EQ(first.Finish(), 0);
    EXPECT_FALSE(fs::is_symlink(link));
}

INSTANTIATE_TEST_SUITE_P(
    Names, NameInUse,
    ::testing::Values(
        NameCase{"Usb", {"--usb", "dup01"}, {"--usb", "DUP01"}, "usb/usb#vid_1eab&pid_0d10#dup01"},
        NameCase{"Com", {"--com", "9"}, {"--com", "9"}, "dosdevices/COM9"}),
    [](const ::testing::TestParamInfo<NameCase>& info) { return std::string(info.param.name); });

TEST(ScansimExit, AStaleLinkOfAGoneDeviceIsTakenOver) {
    const support::TempDir ns("scansim-exit");
    fs::create_directories(ns.Path() / "usb");
    ::chmod(ns.Path().c_str(), 0700);
    ::chmod((ns.Path() / "usb").c_str(), 0700);
    const fs::path link = ns.Path() / "usb" / "usb#vid_1eab&pid_0d10#stale1";
    fs::create_symlink("/dev/pts/no-such-pty", link);
    support::ChildOptions quiet;
    quiet.mergeStderr = false;
    support::ChildProcess program(ProgramPath(), {"--runtime-dir", ns.String(), "--usb", "stale1"},
                                  quiet);
    ASSERT_EQ(program.ReadLine(), "link " + link.string());
    EXPECT_TRUE(Eventually([&] { return fs::exists(link); }));
    EXPECT_NE(fs::read_symlink(link), "/dev/pts/no-such-pty");
    program.Signal(SIGTERM);
    EXPECT_EQ(program.Finish(), 0);
}

}  // namespace
