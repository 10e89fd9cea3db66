// Threads started with a record of function and argument.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

#include "start_thread.h"

namespace vantrel::log {
namespace {

uint32_t AddOne(void* argument) {
    return *static_cast<uint32_t*>(argument) + 1;
}

// Uses a good part of a large stack, which a default-sized one would not hold.
uint32_t DeepStack(void*) {
    volatile char block[1 << 20];
    std::memset(const_cast<char*>(block), 7, sizeof block);
    return block[12345];
}

TEST(StartThread, RunsTheFunctionAndReturnsItsResult) {
    for (int32_t stack : {0, -1, 200000}) {
        uint32_t value = 41;
        std::optional<ThreadHandle> thread = StartThread(AddOne, &value, stack);
        ASSERT_TRUE(thread.has_value()) << stack;
        EXPECT_EQ(JoinThread(*thread), 42u) << stack;
    }
    std::optional<ThreadHandle> deep = StartThread(DeepStack, nullptr, 4 << 20);
    ASSERT_TRUE(deep.has_value());
    EXPECT_EQ(JoinThread(*deep), 7u);
}

}  // namespace
}  // namespace vantrel::log
