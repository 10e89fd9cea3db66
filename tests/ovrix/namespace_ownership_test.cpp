// ovrixd and what it finds in the namespace: links a bus killed with
// SIGKILL left behind, a value name that was made a link, a USB entry that
// leads to a plain file.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "ovrix_test_support.h"

namespace {

using namespace ovrix_test;

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
        auto bus = StartOvrixd({"--pair", "COM5:COM6"}, SIGTERM);
        EXPECT_TRUE(
            bus->WaitFor("ovrixd: refusing " + Path(folder).string() + ": it is a symbolic link",
                         std::chrono::seconds(10)))
            << bus->Output();
        EXPECT_EQ(bus->Finish(std::chrono::seconds(10)), 1) << bus->Output();
        EXPECT_TRUE(fs::is_empty(outside));
        fs::remove(Path(folder));
    }
}

TEST_F(NamespaceOwnership, ABusStartedAfterAKilledOneRemovesItsLinks) {
    {
        auto killed = StartOvrixd({"--pair", "COM5:COM6"}, SIGTERM);
        ASSERT_TRUE(killed->WaitFor("serving", std::chrono::seconds(10))) << killed->Output();
        ASSERT_TRUE(ComLive(5) && ComLive(6));
        killed->Signal(SIGKILL);
        killed->Finish(std::chrono::seconds(10));
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

    auto next = StartOvrixd({}, SIGTERM);
    ASSERT_TRUE(next->WaitFor("serving", std::chrono::seconds(10))) << next->Output();
    EXPECT_EQ(ComLinks(), std::vector<std::string>{"COM9"});
    EXPECT_EQ(fs::read_symlink(ComLink(9)), node);
    EXPECT_FALSE(fs::exists(Path("vbus/Ktr_vcom/0001")));
    EXPECT_TRUE(fs::exists(Path("vbus/datapipe"))) << "the new bus has its own data pipe";
    EXPECT_NE(fs::read_symlink(Path("vbus/datapipe")), oldDatapipe);
    ::close(slave);
    ::close(master);
}

TEST_F(NamespaceOwnership, APortValueThatIsALinkIsNotWrittenThrough) {
    auto bus = StartOvrixd({"--com-base", "COM3"}, SIGTERM);
    ASSERT_TRUE(bus->WaitFor("serving", std::chrono::seconds(10))) << bus->Output();
    const fs::path victim = Path("victim.txt");
    std::ofstream(victim) << "precious";
    // The first port the bus makes is instance 0001.
    ASSERT_EQ(::mkdir(Path("vbus/Ktr_vcom").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(Path("vbus/Ktr_vcom/0001").c_str(), 0700), 0);
    fs::create_symlink(victim, Path("vbus/Ktr_vcom/0001/PortName"));

    FakeEndpoint scanner("usb#vid_1eab&pid_0d10#sim0001");
    const std::string line = "ovrixd: refusing " + Path("vbus/Ktr_vcom/0001/PortName").string() +
                             ": it is a symbolic link to " + victim.string();
    EXPECT_TRUE(bus->WaitFor(line, std::chrono::seconds(10))) << bus->Output();
    EXPECT_EQ(ReadText(victim), "precious");
    EXPECT_TRUE(ComLinks().empty());

    // The next scanner gets a port as usual.
    FakeEndpoint second("usb#vid_1eab&pid_0d10#sim0002");
    EXPECT_TRUE(Eventually([&] { return ComLive(3); })) << bus->Output();
    EXPECT_EQ(ReadText(Path("vbus/Ktr_vcom/0002/PortName")), "COM3");
    EXPECT_EQ(ReadText(victim), "precious");
}

TEST_F(NamespaceOwnership, AUsbEntryThatIsNoTerminalIsIgnored) {
    const fs::path file = Path("plain-file");
    std::ofstream(file) << "not a scanner";
    ::chmod(file.c_str(), 0600);
    ASSERT_TRUE(platform::AddEntry(platform::kUsbFolder, "usb#vid_1eab&pid_0d10#plain", file));
    auto bus = StartOvrixd({"--com-base", "COM3"}, SIGTERM);
    ASSERT_TRUE(bus->WaitFor("serving", std::chrono::seconds(10))) << bus->Output();
    // One arriving while the bus runs is ignored as well; a real endpoint
    // after it shows when the bus has looked at both.
    ASSERT_TRUE(
        platform::AddEntry(platform::kUsbFolder, "usb#vid_1eab&pid_0d10#null", "/dev/null"));
    FakeEndpoint scanner("usb#vid_1eab&pid_0d10#sim0003");
    ASSERT_TRUE(Eventually([&] { return !ComLinks().empty(); })) << bus->Output();
    EXPECT_EQ(ComLinks(), std::vector<std::string>{"COM3"});
    EXPECT_EQ(ReadText(Path("vbus/Ktr_vcom/0001/HardwareDevinstpath")),
              "USB\\VID_1EAB&PID_0D10\\SIM0003");
    EXPECT_EQ(ReadText(file), "not a scanner");
}

}  // namespace
