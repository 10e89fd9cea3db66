// ovrixd's exit statuses (0 after a stop signal or --help/--version, 1 when it
// cannot serve, 2 for a wrong command line), each failure with one line on
// standard error that names the cause.
#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "ovrix_test_support.h"
#include "platform/runtime_namespace.h"
#include "support/child_process.h"
#include "support/pty_pair.h"
#include "support/split_run.h"

namespace {

using namespace ovrix_test;

std::string ProgramPath() {
    const char* bin = std::getenv("SUITE_BIN_DIR");
    if (bin != nullptr && *bin != '\0')
        return (fs::path(bin) / "ovrixd").string();
    return (fs::read_symlink("/proc/self/exe").parent_path() / "ovrixd").string();
}

struct UsageCase {
    const char* name;
    std::vector<std::string> args;
    std::string errLine;
};

// Test names show the case name, not the bytes of the record.
void PrintTo(const UsageCase& c, std::ostream* out) {
    *out << c.name;
}

class OvrixdUsage : public ::testing::TestWithParam<UsageCase> {};

TEST_P(OvrixdUsage, EndsWithTwoAndOneLineNamingTheArgument) {
    const UsageCase& c = GetParam();
    support::RuntimeDir ns("ovrix-test");
    const support::SplitResult run = support::RunSplit(ProgramPath(), c.args);
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_EQ(run.err, "ovrixd: " + c.errLine + " (see ovrixd --help)\n");
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(fs::exists(ns.Path() / "vbus"));
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, OvrixdUsage,
    ::testing::Values(
        UsageCase{"UnknownArgument", {"--frobnicate"}, "unknown argument '--frobnicate'"},
        UsageCase{"MissingValue", {"--com-base"}, "--com-base needs a value"},
        UsageCase{
            "ComBaseZero", {"--com-base=0"}, "--com-base wants a COM number from 1 up, not '0'"},
        UsageCase{"PairOfOnePort",
                  {"--pair", "COM5:COM5"},
                  "--pair wants two different ports, e.g. COM20:COM21"},
        UsageCase{"UnknownLifemode",
                  {"--lifemode", "forever"},
                  "--lifemode wants temporal, friendly or persistent"}),
    [](const ::testing::TestParamInfo<UsageCase>& info) { return std::string(info.param.name); });

class OvrixdRefusals : public RuntimeDirFixture {};

TEST_F(OvrixdRefusals, ASecondDaemonOnTheSameNamespaceEndsWithOne) {
    support::ChildProcess first(ProgramPath(), {});
    ASSERT_TRUE(first.WaitFor("ovrixd: serving\n")) << first.Output();
    const support::SplitResult second = support::RunSplit(ProgramPath(), {});
    EXPECT_EQ(second.exitStatus, 1);
    EXPECT_EQ(second.err,
              "ovrixd: another ovrixd already serves " + Path("vbus/control").string() + "\n");
    // The first one serves on and ends cleanly.
    EXPECT_TRUE(fs::exists(Path("vbus/control")));
    first.Signal(SIGTERM);
    EXPECT_EQ(first.Finish(), 0);
}

TEST_F(OvrixdRefusals, APairWhosePortIsInUseEndsWithOne) {
    support::PtyPair device;
    ASSERT_TRUE(platform::AddEntry(platform::kComFolder, "COM20", device.node()));
    const support::SplitResult run = support::RunSplit(ProgramPath(), {"--pair", "COM20:COM21"});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.err, "ovrixd: COM20:COM21 cannot be linked: a port is in use\n");
    // The port stays with its owner, and nothing of the daemon is left.
    EXPECT_EQ(fs::read_symlink(ComLink(20)), device.node());
    EXPECT_FALSE(fs::exists(Path("vbus/control")));
}

TEST_F(OvrixdRefusals, ARuntimeFolderOthersCanWriteEndsWithOne) {
    const fs::path open = Path("open");
    ASSERT_EQ(::mkdir(open.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(open.c_str(), 0777), 0);
    support::ChildOptions options;
    options.set.emplace_back("KTR_RUNTIME_DIR", open.string());
    const support::SplitResult run = support::RunSplit(ProgramPath(), {}, "", options);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.err.rfind("ovrixd: refusing " + open.string() + ": others can write it", 0), 0u)
        << run.err;
    EXPECT_EQ(run.ErrLines().size(), 1u) << run.err;
}

}  // namespace
