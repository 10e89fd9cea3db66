// Each program that uses the runtime namespace, started on a namespace (or,
// for Quillon, a lock folder) that another user could have prepared: it
// prints the one refusal line, ends with a nonzero status and leaves the
// folder as it found it.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

constexpr uid_t kOtherUid = 65534;

struct Finished {
    int status = -1;  // -1: did not end in time (and was killed)
    std::string output;
};

fs::path BinDir() {
    const char* bin = std::getenv("SUITE_BIN_DIR");
    return bin != nullptr && *bin != '\0' ? fs::path(bin)
                                          : fs::read_symlink("/proc/self/exe").parent_path();
}

// Runs the program with exactly `env`, its standard output and error in one
// pipe, for at most `seconds`.
Finished RunProgram(const std::vector<std::string>& command, const std::vector<std::string>& env,
                    int seconds = 20) {
    support::ChildOptions options;
    options.clearEnvironment = true;
    for (const std::string& entry : env) {
        const size_t equals = entry.find('=');
        options.set.emplace_back(entry.substr(0, equals), entry.substr(equals + 1));
    }
    support::ChildProcess child((BinDir() / command[0]).string(),
                                std::vector<std::string>(command.begin() + 1, command.end()),
                                options);
    Finished result;
    result.status = child.Finish(std::chrono::seconds(seconds));
    result.output = child.Output();
    return result;
}

size_t EntryCount(const fs::path& folder) {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) {
        ++count;
    }
    return count;
}

class NamespaceRefusal : public ::testing::Test {
  protected:
    void SetUp() override {
        scratch_ = folder_.Path();
        ASSERT_FALSE(scratch_.empty());
        for (const char* folder : {"run", "config", "home", "outside"}) {
            ASSERT_EQ(::mkdir((scratch_ / folder).c_str(), 0700), 0);
        }
    }
    std::vector<std::string> Environment(const fs::path& ktr, const fs::path& run) const {
        return {"KTR_RUNTIME_DIR=" + ktr.string(),
                "XDG_RUNTIME_DIR=" + run.string(),
                "XDG_CONFIG_HOME=" + (scratch_ / "config").string(),
                "HOME=" + (scratch_ / "home").string(),
                "PATH=/usr/bin:/bin",
                "LANG=C.UTF-8"};
    }

    support::TempDir folder_{"ns-refusal"};
    fs::path scratch_;
};

struct BadFolder {
    const char* what;
    const char* says;
    // Makes `folder`; false when this user cannot make it.
    std::function<bool(const fs::path& folder, const fs::path& outside)> make;
};

const BadFolder kBadFolders[] = {
    {"world-writable", "others can write it",
     [](const fs::path& folder, const fs::path&) {
         return ::mkdir(folder.c_str(), 0700) == 0 && ::chmod(folder.c_str(), 0777) == 0;
     }},
    {"another user's", "belongs to another user",
     [](const fs::path& folder, const fs::path&) {
         return ::geteuid() == 0 && ::mkdir(folder.c_str(), 0700) == 0 &&
                ::chown(folder.c_str(), kOtherUid, kOtherUid) == 0;
     }},
    {"a link", "symbolic link",
     [](const fs::path& folder, const fs::path& outside) {
         return ::symlink(outside.c_str(), folder.c_str()) == 0;
     }},
};

TEST_F(NamespaceRefusal, EveryProgramRefusesANamespaceThatIsNotTheUsersOwn) {
    const std::vector<std::vector<std::string>> programs = {{"ferroctl", "list"},
                                                            {"scansim"},
                                                            {"vantrel", "COM3"},
                                                            {"ovrixd"},
                                                            {"quillon", "--headless"}};
    for (const BadFolder& bad : kBadFolders) {
        const fs::path ktr = scratch_ / "ktr";
        if (!bad.make(ktr, scratch_ / "outside")) {
            std::printf("skipped the %s namespace: only root can make it here\n", bad.what);
            continue;
        }
        for (const auto& program : programs) {
            SCOPED_TRACE(program[0] + " on a " + bad.what + " namespace");
            if (!fs::exists(BinDir() / program[0])) {
                std::printf("skipped %s: not built\n", program[0].c_str());
                continue;
            }
            const Finished run = RunProgram(program, Environment(ktr, scratch_ / "run"));
            EXPECT_GT(run.status, 0) << run.output;
            const std::string line = "refusing " + ktr.string() + ": ";
            EXPECT_NE(run.output.find(line), std::string::npos) << run.output;
            EXPECT_NE(run.output.find(bad.says), std::string::npos) << run.output;
            EXPECT_NE(run.output.find("remove it, or set XDG_RUNTIME_DIR or KTR_RUNTIME_DIR"),
                      std::string::npos)
                << run.output;
            EXPECT_EQ(EntryCount(scratch_ / "outside"), 0u);
            if (!fs::is_symlink(ktr)) {
                EXPECT_EQ(EntryCount(ktr), 0u);
            }
        }
        fs::remove_all(ktr);
    }
}

TEST_F(NamespaceRefusal, QuillonRefusesALockFolderOfAnotherUser) {
    if (!fs::exists(BinDir() / "quillon")) {
        GTEST_SKIP() << "quillon is not built";
    }
    const fs::path ktr = scratch_ / "ktr";
    ASSERT_EQ(::mkdir(ktr.c_str(), 0700), 0);
    for (const BadFolder& bad : kBadFolders) {
        SCOPED_TRACE(bad.what);
        const fs::path lockFolder = scratch_ / "lock";
        if (!bad.make(lockFolder, scratch_ / "outside")) {
            std::printf("skipped the %s lock folder: only root can make it here\n", bad.what);
            continue;
        }
        // A lock somebody holds there: it used to end Quillon silently.
        const int held =
            ::open((lockFolder / "Quillon.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        ASSERT_GE(held, 0);
        ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);

        const Finished run = RunProgram({"quillon", "--headless"}, Environment(ktr, lockFolder));
        EXPECT_GT(run.status, 0) << run.output;
        EXPECT_NE(run.output.find("quillon: refusing " + lockFolder.string() + ": "),
                  std::string::npos)
            << run.output;
        EXPECT_NE(run.output.find(bad.says), std::string::npos) << run.output;
        EXPECT_NE(run.output.find("remove it, or set XDG_RUNTIME_DIR to a folder of your own"),
                  std::string::npos)
            << run.output;
        EXPECT_EQ(EntryCount(fs::is_symlink(lockFolder) ? scratch_ / "outside" : lockFolder), 1u)
            << "only the lock that was there";
        EXPECT_EQ(EntryCount(scratch_ / "config"), 0u) << "nothing written before the refusal";
        ::close(held);
        fs::remove_all(lockFolder);
        for (const auto& entry : fs::directory_iterator(scratch_ / "outside")) {
            fs::remove_all(entry.path());
        }
    }
}

}  // namespace
