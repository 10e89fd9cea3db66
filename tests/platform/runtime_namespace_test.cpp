#include "platform/runtime_namespace.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/pty_pair.h"
#include "support/temp_dir.h"

using namespace platform;

namespace {

constexpr char16_t kSimPath[] =
    u"\\\\?\\usb#vid_1eab&pid_0d10#sim0001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";

TEST(UsbDevicePath, NameAndPathConvertBothWays) {
    EXPECT_EQ(UsbDevicePathFromName("usb#vid_1eab&pid_0d10#sim0001"), kSimPath);
    EXPECT_EQ(UsbNameFromDevicePath(kSimPath), "usb#vid_1eab&pid_0d10#sim0001");
    // A serial number with other letters: one unit per character, and back.
    const std::string accented = "usb#vid_1eab&pid_0d10#s\xC3\xA9rie\xE4\xB8\xAD";
    const std::u16string path = UsbDevicePathFromName(accented);
    EXPECT_NE(path.find(u"#s\u00E9rie\u4E2D#"), std::u16string::npos);
    EXPECT_EQ(UsbNameFromDevicePath(path), accented);
}

TEST(UsbDevicePath, ReverseIsCaseInsensitiveAndRejectsOtherTexts) {
    struct Case {
        std::u16string path;
        std::string name;
    };
    const Case cases[] = {
        {u"\\\\?\\USB#VID_1EAB&PID_0D10#SIM0001#{A5DCBF10-6530-11D2-901F-00C04FB951ED}",
         "usb#vid_1eab&pid_0d10#sim0001"},
        {u"usb#vid_1eab&pid_0d10#sim0001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}", ""},
        {u"\\\\?\\usb#vid_1eab&pid_0d10#sim0001", ""},
        {u"\\\\?\\usb#vid_1eab&pid_0d10#sim0001#{00000000-6530-11d2-901f-00c04fb951ed}", ""},
        {u"\\\\?\\#{a5dcbf10-6530-11d2-901f-00c04fb951ed}", ""},
        {u"\\\\?\\..#{a5dcbf10-6530-11d2-901f-00c04fb951ed}", ""},
        {u"\\\\?\\a/b#{a5dcbf10-6530-11d2-901f-00c04fb951ed}", ""},
        {u"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UsbNameFromDevicePath(c.path), c.name);
    }
}

TEST(RuntimeDirChoice, FollowsEnvironmentInOrder) {
    const char* savedXdg = std::getenv("XDG_RUNTIME_DIR");
    const std::string xdg = savedXdg ? savedXdg : "";
    ::setenv("KTR_RUNTIME_DIR", "/x/ktr-own", 1);
    ::setenv("XDG_RUNTIME_DIR", "/x/run", 1);
    EXPECT_EQ(RuntimeDir(), "/x/ktr-own");
    ::unsetenv("KTR_RUNTIME_DIR");
    EXPECT_EQ(RuntimeDir(), "/x/run/ktr");
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(RuntimeDir(), "/tmp/ktr-" + std::to_string(getuid()));
    if (savedXdg) {
        ::setenv("XDG_RUNTIME_DIR", xdg.c_str(), 1);
    }
}

// The entries of a folder, a test failure when it cannot be listed.
std::vector<std::string> Listed(std::string_view folder) {
    auto names = ListEntries(folder);
    EXPECT_TRUE(names) << names.GetError().message;
    return std::move(names).ValueOr({});
}

class NamespaceTest : public ::testing::Test {
  protected:
    support::RuntimeDir dir_;
};

TEST_F(NamespaceTest, ResolvesUsbPathAndComNumberToTheirTtys) {
    support::PtyPair usb, com;
    ASSERT_TRUE(AddEntry(kUsbFolder, "usb#vid_1eab&pid_0d10#sim0001", usb.node()));
    ASSERT_TRUE(AddEntry(kComFolder, "COM7", com.node()));

    EXPECT_EQ(ResolveUsbDevicePath(kSimPath), usb.node());
    EXPECT_EQ(ResolveUsbDevicePath(
                  u"\\\\?\\USB#VID_1EAB&PID_0D10#SIM0001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"),
              usb.node());
    EXPECT_EQ(ResolveComPort(7), com.node());
    EXPECT_FALSE(ResolveComPort(8));
    EXPECT_FALSE(ResolveComPort(0));
    EXPECT_FALSE(ResolveUsbDevicePath(UsbDevicePathFromName("usb#vid_1eab&pid_0d10#other")));
}

TEST_F(NamespaceTest, DanglingLinkCountsAsAbsent) {
    auto pty = std::make_unique<support::PtyPair>();
    const auto file = dir_.Path() / "plain-target";
    std::ofstream(file) << "x";
    ASSERT_TRUE(AddEntry(kComFolder, "COM3", pty->node()));
    ASSERT_TRUE(AddEntry(kComFolder, "COM4", file));
    ASSERT_TRUE(AddEntry(kUsbFolder, "usb#gone", dir_.Path() / "never-there"));

    EXPECT_EQ(ListComPorts(), (std::vector<unsigned>{3, 4}));
    pty.reset();  // closing both ends removes /dev/pts/N
    std::filesystem::remove(file);

    EXPECT_FALSE(ResolveComPort(3));
    EXPECT_FALSE(ResolveComPort(4));
    EXPECT_TRUE(ListComPorts().empty());
    EXPECT_EQ(Listed(kUsbFolder), std::vector<std::string>{});
    EXPECT_FALSE(ResolveUsbDevicePath(UsbDevicePathFromName("usb#gone")));
}

TEST_F(NamespaceTest, ListsAddsReplacesAndRemovesEntries) {
    support::PtyPair a, b;
    EXPECT_EQ(Listed(kUsbFolder), std::vector<std::string>{});  // folder missing is no error
    ASSERT_TRUE(AddEntry(kUsbFolder, "usb#vid_1#b", a.node()));
    ASSERT_TRUE(AddEntry(kUsbFolder, "usb#vid_1#a", a.node()));
    ASSERT_TRUE(AddEntry(kComFolder, "COM12", a.node()));
    ASSERT_TRUE(AddEntry(kComFolder, "COM2", a.node()));
    ASSERT_TRUE(AddEntry(kComFolder, "notacom", a.node()));

    EXPECT_EQ(Listed(kUsbFolder), (std::vector<std::string>{"usb#vid_1#a", "usb#vid_1#b"}));
    EXPECT_EQ(ListComPorts(), (std::vector<unsigned>{2, 12}));

    ASSERT_TRUE(AddEntry(kComFolder, "COM2", b.node()));  // replaces the old link
    EXPECT_EQ(ResolveComPort(2), b.node());

    EXPECT_TRUE(RemoveEntry(kUsbFolder, "usb#vid_1#a"));
    EXPECT_EQ(Listed(kUsbFolder), (std::vector<std::string>{"usb#vid_1#b"}));
    const auto removedAgain = RemoveEntry(kUsbFolder, "usb#vid_1#a");
    EXPECT_FALSE(removedAgain);
    EXPECT_EQ(removedAgain.GetError().code, ENOENT);
}

TEST_F(NamespaceTest, RefusesNamesThatLeaveTheFolder) {
    support::PtyPair a;
    for (const char* name : {"", ".", "..", "../escape", "a/b", ".hidden"}) {
        const auto added = AddEntry(kUsbFolder, name, a.node());
        EXPECT_FALSE(added) << name;
        EXPECT_EQ(added.GetError().code, EINVAL) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(dir_.Path() / "escape"));
    EXPECT_EQ(RemoveEntry(kUsbFolder, "..").GetError().code, EINVAL);
}

}  // namespace
