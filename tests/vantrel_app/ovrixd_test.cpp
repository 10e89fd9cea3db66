// The console against a running ovrixd: driver version, device state,
// lifemode switch, the data pipe and a linked pair of ports.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "run_program.h"
#include "support/temp_dir.h"

namespace {

class WithOvrixd : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = tmp_.String();
        StartDaemon({"--pair", "COM20:COM21"}, "COM21");
    }
    // Starts ovrixd in the test's runtime folder; ready once `comName` and the
    // control socket are there.
    void StartDaemon(std::vector<std::string> args, const std::string& comName) {
        if (access(SuiteProgramPath("ovrixd").c_str(), X_OK) != 0)
            GTEST_SKIP() << "ovrixd is not built";
        daemon_ = StartOvrixd(args, dir_);
        ASSERT_TRUE(Appears(dir_ + "/dosdevices/" + comName)) << "ovrixd did not make its ports";
        ASSERT_TRUE(Appears(dir_ + "/vbus/control"));
    }
    void TearDown() override { daemon_.reset(); }
    support::TempDir tmp_{"vantrel_app"};
    std::string dir_;
    std::unique_ptr<support::ChildProcess> daemon_;
};

TEST_F(WithOvrixd, DriverRequestsOnAVirtualPort) {
    const ProgramRun run = RunProgram({"\\\\.\\COM20"}, "<|>|i\x1b", dir_);
    EXPECT_EQ(run.exitStatus, 0) << run.output;
    for (const char* line :
         {"OVRIX kernel version: ", "IOCTL_VCOM_OneTimeTemporalLifemode_Enable success.",
          "IOCTL_VCOM_OneTimeTemporalLifemode_Query success. onetime_temporal=true",
          "IOCTL_VCOM_OneTimeTemporalLifemode_Disable success.",
          "IOCTL_VCOM_OneTimeTemporalLifemode_Query success. onetime_temporal=false",
          "IOCTL_VCOM_GetDeviceState query result:\n", "  .lifemode : ", "  .isUsbdOnline: "})
        EXPECT_NE(run.output.find(line), std::string::npos) << line << "\n" << run.output;
    EXPECT_EQ(run.output.find("Cannot get OVRIX kernel version"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("GetDeviceState fails"), std::string::npos) << run.output;
}

TEST_F(WithOvrixd, DatapipeOpensWithoutTimeoutLinesAndLoopsBack) {
    LiveProgram program({"--datapipe", "-b", "4", "-c", "3000"}, dir_);
    ASSERT_TRUE(program.WaitFor("DevOpenPath: \\\\.\\KTR_Datapipe\n")) << program.Output();
    ASSERT_TRUE(program.WaitFor("Choose action:")) << program.Output();
    EXPECT_EQ(program.Output().find("g_rto_interval"), std::string::npos) << program.Output();
    EXPECT_EQ(program.Output().find("SetCommState() .Baudrate"), std::string::npos);
    program.Type("wr");
    ASSERT_TRUE(program.WaitFor("Calling ReadFile() request 4 bytes...")) << program.Output();
    ASSERT_TRUE(program.WaitFor("nDone=4")) << program.Output();
    program.Type("\x1b");
    EXPECT_EQ(program.Finish(), 0);
}

TEST_F(WithOvrixd, LinkedPairCarriesTheWordsFromOneConsoleToTheOther) {
    LiveProgram reader({"\\\\.\\COM21", "-b", "6", "-c", "10000"}, dir_);
    ASSERT_TRUE(reader.WaitFor("Choose action:")) << reader.Output();
    const ProgramRun writer = RunProgram({"\\\\.\\COM20", "-b", "6"}, "w\x1b", dir_);
    EXPECT_NE(writer.output.find("WriteFile sync success. nDone=6"), std::string::npos)
        << writer.output;
    // The read waits for the six bytes however late they come through the pair.
    reader.Type("r");
    ASSERT_TRUE(reader.WaitFor("nDone=6")) << reader.Output();
    reader.Type("\x1b");
    EXPECT_EQ(reader.Finish(), 0);
}

}  // namespace

namespace {

class ListingWithOvrixd : public WithOvrixd {};

TEST_F(ListingWithOvrixd, ShowsVirtualPortsWithTheServiceMarkAndPassesTheLinkCheck) {
    const ProgramRun run = RunProgram({"--list-vcoms"}, "2\n", dir_);
    EXPECT_EQ(run.exitStatus, 0) << run.output;
    for (const char* line : {"<#1>\n", "  * Service name : Ktr_ovrix\n",
                             "    Devinstpath  : KTR_VBUS\\Ktr_vcom\\0001\n", "<#2>\n",
                             "Total 2 VCOM devices found.\n\n",
                             "Want to view VCOM device property dialog(input number 1-2)? ",
                             "/DeviceID KTR_VBUS\\Ktr_vcom\\0002\n", "    PortName     : COM21\n"})
        EXPECT_NE(run.output.find(line), std::string::npos) << line << "\n" << run.output;
    EXPECT_EQ(run.output.find("Warning"), std::string::npos) << run.output;
}

TEST_F(ListingWithOvrixd, PlainListAsksNothingAndAnOrdinaryStartListsNothing) {
    const ProgramRun listed = RunProgram({"-l"}, "", dir_);
    EXPECT_EQ(listed.exitStatus, 0);
    EXPECT_NE(listed.output.find("Total 2 VCOM devices found."), std::string::npos)
        << listed.output;
    EXPECT_EQ(listed.output.find("Want to view"), std::string::npos) << listed.output;
    const ProgramRun started = RunProgram({"\\\\.\\COM20"}, "\x1b", dir_);
    EXPECT_EQ(started.output.find("<#1>"), std::string::npos) << started.output;
}

TEST_F(ListingWithOvrixd, RemovedLinkIsReportedEvenWithoutListing) {
    ASSERT_EQ(unlink((dir_ + "/dosdevices/COM21").c_str()), 0);
    const ProgramRun run = RunProgram({"\\\\.\\COM20"}, "\x1b", dir_);
    for (const char* line : {"    !!!\n", "    Warning: COM21 symlink is missing from system.\n",
                             "    * Correct symlink target: /",
                             "    -- You may need to reboot Windows to solve this problem.\n"})
        EXPECT_NE(run.output.find(line), std::string::npos) << line << "\n" << run.output;
    EXPECT_EQ(run.output.find("<#1>"), std::string::npos) << run.output;
}

TEST_F(ListingWithOvrixd, LinkPointingElsewhereGetsTheWrongTargetLines) {
    const std::string link = dir_ + "/dosdevices/COM21";
    ASSERT_EQ(unlink(link.c_str()), 0);
    ASSERT_EQ(symlink("/dev/null", link.c_str()), 0);
    const ProgramRun run = RunProgram({"-l"}, "", dir_);
    for (const char* line : {"    Warning: COM21 does not point to the correct VCOM device.\n",
                             "    * Wrong symlink target(session): /dev/null\n",
                             "    * Correct symlink target       : /",
                             "    -- You may need to reboot Windows to solve this problem.\n"})
        EXPECT_NE(run.output.find(line), std::string::npos) << line << "\n" << run.output;
    // The bus's own idea of the target agrees with the correct one.
    EXPECT_EQ(run.output.find("Wrong symlink target (kernel)"), std::string::npos) << run.output;
}

}  // namespace

namespace {

// A scanner stands behind a Persistent port: its tty is a pty whose slave the
// daemon opens through the usb/ link, as it would a USB endpoint.
class KeptPortWithOvrixd : public WithOvrixd {
  protected:
    void SetUp() override {
        dir_ = tmp_.String();
        scanner_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(scanner_, 0);
        ASSERT_EQ(grantpt(scanner_), 0);
        ASSERT_EQ(unlockpt(scanner_), 0);
        std::filesystem::create_directories(dir_ + "/usb");
        ASSERT_EQ(symlink(ptsname(scanner_), UsbLink().c_str()), 0);
        StartDaemon({"--lifemode", "persistent"}, "COM7");
    }
    void TearDown() override {
        Unplug();
        WithOvrixd::TearDown();
    }
    std::string UsbLink() const { return dir_ + "/usb/usb#vid_1eab&pid_0d10#sim0001"; }
    void Unplug() {
        unlink(UsbLink().c_str());
        if (scanner_ >= 0)
            close(scanner_);
        scanner_ = -1;
    }
    int scanner_ = -1;
};

TEST_F(KeptPortWithOvrixd, UnplugDuringAReadEndsItWithAnErrorLine) {
    // No read time-outs: only the scanner's absence can end the read.
    LiveProgram console(
        {"\\\\.\\COM7", "-b", "8", "-c", "600000", "--rtoi=0", "--rtom=0", "--rtoc=0"}, dir_);
    ASSERT_TRUE(console.WaitFor("Choose action:")) << console.Output();
    console.Type("r");
    ASSERT_TRUE(console.WaitFor("ReadFile pending, wait 600000 millisec...")) << console.Output();
    Unplug();
    ASSERT_TRUE(console.WaitFor("Result: ReadFile async fail.")) << console.Output();
    EXPECT_TRUE(console.WaitFor("1167")) << console.Output();
    // The console goes on: a read while the scanner is away fails at once.
    console.Type("r");
    ASSERT_TRUE(console.WaitFor("Unexpected ReadFile error.")) << console.Output();
    console.Type("\x1b");
    EXPECT_EQ(console.Finish(), 0) << console.Output();
}

}  // namespace
