// Private folders and the namespace on top of them: what another user could
// have prepared (a folder of theirs, one anybody can write, a link) is
// refused with one line and nothing is written through it.
#include "platform/private_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>

#include "platform/runtime_namespace.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"

using namespace platform;
namespace fs = std::filesystem;

namespace {

constexpr uid_t kOtherUid = 65534;

std::string ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

mode_t ModeOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

size_t EntryCount(const fs::path& folder) {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) {
        ++count;
    }
    return count;
}

// A scratch folder for each test, with the namespace pointed into it.
class PrivateFolderTest : public ::testing::Test {
  protected:
    void TearDown() override { ::unsetenv("KTR_RUNTIME_DIR"); }
    support::TempDir scratchDir_{"private-folder"};
    const fs::path scratch_ = scratchDir_.Path();
};

TEST_F(PrivateFolderTest, RefusesFoldersOthersCouldHavePrepared) {
    struct Case {
        const char* what;
        int code;
        const char* says;
        // Prepares `folder`; false when this user cannot make the case.
        std::function<bool(const fs::path& folder, const fs::path& outside)> make;
    };
    const Case cases[] = {
        {"group-writable", EACCES, "others can write it",
         [](const fs::path& folder, const fs::path&) {
             return ::mkdir(folder.c_str(), 0700) == 0 && ::chmod(folder.c_str(), 0770) == 0;
         }},
        {"world-writable", EACCES, "others can write it",
         [](const fs::path& folder, const fs::path&) {
             return ::mkdir(folder.c_str(), 0700) == 0 && ::chmod(folder.c_str(), 01777) == 0;
         }},
        {"another user's", EACCES, "belongs to another user",
         [](const fs::path& folder, const fs::path&) {
             return ::geteuid() == 0 && ::mkdir(folder.c_str(), 0700) == 0 &&
                    ::chown(folder.c_str(), kOtherUid, kOtherUid) == 0;
         }},
        {"a link to a private folder", ELOOP, "symbolic link",
         [](const fs::path& folder, const fs::path& outside) {
             return ::symlink(outside.c_str(), folder.c_str()) == 0;
         }},
        {"a plain file", ENOTDIR, "not a folder",
         [](const fs::path& folder, const fs::path&) {
             std::ofstream(folder) << "x";
             return true;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path folder = scratch_ / "ktr";
        const fs::path outside = scratch_ / "outside";
        ASSERT_EQ(::mkdir(outside.c_str(), 0700), 0);
        if (!c.make(folder, outside)) {
            std::printf("skipped the %s folder: needs root to make it\n", c.what);
            fs::remove_all(folder);
            fs::remove_all(outside);
            continue;
        }
        struct stat before {};
        ASSERT_EQ(::lstat(folder.c_str(), &before), 0);

        const auto opened = PrivateFolder::Open(folder, true);
        EXPECT_FALSE(opened);
        const Error error = opened.GetError();
        EXPECT_EQ(error.code, c.code);
        EXPECT_NE(error.message.find(folder.string()), std::string::npos) << error.message;
        EXPECT_NE(error.message.find(c.says), std::string::npos) << error.message;
        EXPECT_NE(error.message.find("owner uid " + std::to_string(before.st_uid)),
                  std::string::npos)
            << error.message;
        char mode[16];
        std::snprintf(mode, sizeof mode, "mode %04o", before.st_mode & 07777);
        EXPECT_NE(error.message.find(mode), std::string::npos) << error.message;
        EXPECT_NE(error.message.find("remove it, or set XDG_RUNTIME_DIR or KTR_RUNTIME_DIR"),
                  std::string::npos)
            << error.message;

        // The namespace on it: the same line for programs, and no call of
        // the library writes anything there or through it.
        ::setenv("KTR_RUNTIME_DIR", folder.c_str(), 1);
        EXPECT_EQ(RuntimeDirRefusal(), error.message);
        support::PtyPair pty;
        const auto added = AddEntry(kComFolder, "COM3", pty.node());
        EXPECT_FALSE(added);
        EXPECT_EQ(added.GetError().code, c.code);
        EXPECT_EQ(added.GetError().message, error.message);
        EXPECT_FALSE(ResolveComPort(3));
        const auto listed = ListEntries(kComFolder);
        EXPECT_FALSE(listed);
        EXPECT_EQ(listed.GetError().message, error.message);
        NamespaceWatch watch({std::string(kUsbFolder)}, [](const NamespaceEvent&) {});
        EXPECT_FALSE(watch.IsRunning());
        EXPECT_EQ(watch.StartError().code, c.code);
        EXPECT_EQ(watch.StartError().message, error.message);
        EXPECT_EQ(EntryCount(outside), 0u);
        if (S_ISDIR(before.st_mode)) {
            EXPECT_EQ(EntryCount(folder), 0u);
            EXPECT_EQ(ModeOf(folder), before.st_mode & 07777);
        }
        ::unsetenv("KTR_RUNTIME_DIR");
        fs::remove_all(folder);
        fs::remove_all(outside);
    }
}

TEST_F(PrivateFolderTest, MakesMissingFoldersPrivateAndTakesTheUsersOwn) {
    // Missing, with missing parents: made 0700 all the way.
    const fs::path deep = scratch_ / "run" / "ktr";
    auto made = PrivateFolder::Open(deep, true);
    ASSERT_TRUE(made) << made.GetError().message;
    EXPECT_EQ(ModeOf(deep), 0700u);
    EXPECT_EQ(ModeOf(scratch_ / "run"), 0700u);
    auto sub = made->Sub("usb", true);
    ASSERT_TRUE(sub) << sub.GetError().message;
    EXPECT_EQ(sub->Path(), deep / "usb");
    EXPECT_EQ(ModeOf(deep / "usb"), 0700u);

    // A relative name is taken from the working folder.
    const fs::path here = fs::current_path();
    fs::current_path(scratch_);
    const auto relative = PrivateFolder::Open("rel/ktr", true);
    EXPECT_TRUE(relative) << relative.GetError().message;
    fs::current_path(here);
    EXPECT_EQ(ModeOf(scratch_ / "rel/ktr"), 0700u);

    // Missing and not to be made: ENOENT and no line, nothing made.
    const auto absent = PrivateFolder::Open(scratch_ / "absent", false);
    EXPECT_FALSE(absent);
    EXPECT_EQ(absent.GetError().code, ENOENT);
    EXPECT_EQ(absent.GetError().message, "");
    EXPECT_FALSE(fs::exists(scratch_ / "absent"));

    // The user's own folder readable by others (mkdir -p under umask 022)
    // is taken as it is.
    const fs::path shared = scratch_ / "readable";
    ASSERT_EQ(::mkdir(shared.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(shared.c_str(), 0755), 0);
    const auto readable = PrivateFolder::Open(shared, false);
    EXPECT_TRUE(readable) << readable.GetError().message;
    EXPECT_EQ(ModeOf(shared), 0755u);
}

TEST_F(PrivateFolderTest, AFolderInTheNamespaceThatIsALinkIsNeverUsed) {
    const fs::path ktr = scratch_ / "ktr";
    const fs::path outside = scratch_ / "outside";
    ASSERT_EQ(::mkdir(ktr.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(outside.c_str(), 0700), 0);
    ASSERT_EQ(::symlink(outside.c_str(), (ktr / "dosdevices").c_str()), 0);
    ::setenv("KTR_RUNTIME_DIR", ktr.c_str(), 1);
    support::PtyPair pty;
    // A link in the outside folder as if somebody put it there.
    ASSERT_EQ(::symlink(pty.node().c_str(), (outside / "COM4").c_str()), 0);

    EXPECT_EQ(RuntimeDirRefusal(), "");  // the namespace folder itself is fine
    const auto added = AddEntry(kComFolder, "COM3", pty.node());
    EXPECT_FALSE(added);
    EXPECT_EQ(added.GetError().code, ELOOP);
    EXPECT_NE(added.GetError().message.find("dosdevices"), std::string::npos)
        << added.GetError().message;
    EXPECT_EQ(RemoveEntry(kComFolder, "COM4").GetError().code, ELOOP);
    EXPECT_FALSE(ResolveComPort(4));
    EXPECT_TRUE(ListComPorts().empty());
    const auto opened = OpenRuntimeFolder(kComFolder, true);
    EXPECT_FALSE(opened);
    const Error error = opened.GetError();
    EXPECT_EQ(error.code, ELOOP);
    EXPECT_NE(error.message.find((ktr / "dosdevices").string()), std::string::npos)
        << error.message;
    EXPECT_EQ(EntryCount(outside), 1u);
    EXPECT_TRUE(fs::is_symlink(outside / "COM4"));
}

TEST_F(PrivateFolderTest, ValuesAreReplacedByRenameAndNeverWrittenThroughALink) {
    auto folder = PrivateFolder::Open(scratch_ / "values", true);
    ASSERT_TRUE(folder) << folder.GetError().message;
    const auto first = folder->WriteValue("PortName", "COM7");
    ASSERT_TRUE(first) << first.GetError().message;
    EXPECT_EQ(ReadText(scratch_ / "values/PortName"), "COM7");
    EXPECT_EQ(ModeOf(scratch_ / "values/PortName"), 0600u);
    const auto second = folder->WriteValue("PortName", "COM12");
    ASSERT_TRUE(second) << second.GetError().message;
    EXPECT_EQ(ReadText(scratch_ / "values/PortName"), "COM12");
    EXPECT_EQ(EntryCount(scratch_ / "values"), 1u) << "a temporary file was left";

    const fs::path victim = scratch_ / "victim.txt";
    std::ofstream(victim) << "precious";
    struct Case {
        const char* name;
        fs::path target;
        int code;
    };
    const Case cases[] = {
        {"Linked", victim, ELOOP},
        {"Dangling", scratch_ / "would-be-made", ELOOP},
        {"Folder", {}, EEXIST},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path value = scratch_ / "values" / c.name;
        if (c.target.empty()) {
            ASSERT_EQ(::mkdir(value.c_str(), 0700), 0);
        } else {
            ASSERT_EQ(::symlink(c.target.c_str(), value.c_str()), 0);
        }
        const auto written = folder->WriteValue(c.name, "COM7");
        EXPECT_FALSE(written);
        const Error error = written.GetError();
        EXPECT_EQ(error.code, c.code);
        EXPECT_NE(error.message.find(value.string()), std::string::npos) << error.message;
        EXPECT_NE(error.message.find("remove it"), std::string::npos) << error.message;
        if (!c.target.empty()) {
            EXPECT_NE(error.message.find(c.target.string()), std::string::npos) << error.message;
            EXPECT_TRUE(fs::is_symlink(value)) << "the link was replaced";
        }
    }
    EXPECT_EQ(ReadText(victim), "precious");
    EXPECT_FALSE(fs::exists(scratch_ / "would-be-made"));
    EXPECT_EQ(EntryCount(scratch_ / "values"), 4u) << "a temporary file was left";

    for (const char* name : {"", ".", "..", "a/b", ".PortName"}) {
        const auto written = folder->WriteValue(name, "x");
        EXPECT_FALSE(written) << name;
        EXPECT_EQ(written.GetError().code, EINVAL) << name;
    }
}

TEST_F(PrivateFolderTest, DeviceLinksCountOnlyWhenTheyLeadToATerminal) {
    ::setenv("KTR_RUNTIME_DIR", (scratch_ / "ktr").c_str(), 1);
    const fs::path file = scratch_ / "plain";
    std::ofstream(file) << "x";
    support::PtyPair pty;
    struct Case {
        unsigned com;
        fs::path target;
        bool used;
    };
    const Case cases[] = {
        {1, pty.node(), true},   {2, file, false},
        {3, "/dev/null", false},                          // a character device, but no terminal
        {4, scratch_, false},    {5, "/dev/tty", false},  // the caller's own terminal is no port
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(AddEntry(kComFolder, "COM" + std::to_string(c.com), c.target));
        ASSERT_TRUE(AddEntry(kUsbFolder, "usb#vid_1#" + std::to_string(c.com), c.target));
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target.string());
        EXPECT_EQ(ResolveComPort(c.com).has_value(), c.used);
        EXPECT_EQ(ResolveUsbDevicePath(UsbDevicePathFromName("usb#vid_1#" + std::to_string(c.com)))
                      .has_value(),
                  c.used);
    }
    EXPECT_EQ(ResolveComPort(1), pty.node());
}

}  // namespace
