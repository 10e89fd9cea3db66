#include <gtest/gtest.h>

#include <filesystem>
#include <system_error>

#include "platform/module_path.h"
#include "platform/tick.h"

using namespace platform;

TEST(Tick, DifferenceIsRightAcrossTheWrap) {
    EXPECT_EQ(TicksSince(0xFFFFFFF0u, 0x10u), 0x20u);
    EXPECT_EQ(TicksSince(100u, 350u), 250u);
}

TEST(Tick, CounterFollowsASleep) {
    const uint32_t start = TickCountMs();
    SleepMs(50);
    const uint32_t elapsed = TicksSince(start, TickCountMs());
    EXPECT_GE(elapsed, 50u);
    EXPECT_LT(elapsed, 60000u);  // generous: only catches a wrong unit
}

TEST(ModulePath, NamesThisTestProgram) {
    EXPECT_EQ(ModuleFilePath().filename(), "platform_tests");
    // The directory holds this very program file (not the file itself, not
    // the working directory's idea of it).
    std::error_code error;
    EXPECT_TRUE(
        std::filesystem::equivalent(ModuleDirectory() / "platform_tests", "/proc/self/exe", error))
        << ModuleDirectory() << ": " << error.message();
    EXPECT_TRUE(std::filesystem::is_directory(ModuleDirectory())) << ModuleDirectory();
    EXPECT_TRUE(ModuleDirectory().is_absolute());
}
