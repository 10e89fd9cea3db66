// The program's own path on Windows, from the module list.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/module_path.h"
#include "support/temp_dir.h"

namespace {

TEST(ModulePath, NamesThisTestProgramWhateverTheWorkingFolder) {
    support::TempDir elsewhere("module-path");
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(elsewhere.Path());
    const std::filesystem::path file = platform::ModuleFilePath();
    const std::filesystem::path folder = platform::ModuleDirectory();
    std::filesystem::current_path(before);

    EXPECT_EQ(file.filename(), "platform_win_tests.exe");
    EXPECT_TRUE(file.is_absolute()) << file;
    EXPECT_TRUE(std::filesystem::is_regular_file(file)) << file;
    EXPECT_EQ(folder, file.parent_path());
}

}  // namespace
