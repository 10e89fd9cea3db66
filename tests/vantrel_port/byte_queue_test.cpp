// The input queue keeps the byte stream in order through appends, partial
// takes and the compaction that drops taken bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "../../vantrel/port/src/byte_queue.h"

namespace {

using win::detail::ByteQueue;

TEST(ByteQueue, TakesInAppendOrderAcrossCompactions) {
    ByteQueue queue;
    std::vector<uint8_t> taken;
    uint8_t next = 0;
    // Appends and takes of uneven sizes, so compaction happens with bytes
    // both before and after the taken ones.
    const struct {
        size_t append;
        size_t take;
    } steps[] = {{10, 3}, {5, 8}, {100, 1}, {0, 60}, {7, 40}, {300, 299}, {1, 2}, {0, 10}};
    for (const auto& step : steps) {
        std::vector<uint8_t> block(step.append);
        for (auto& byte : block)
            byte = next++;
        queue.Append(block.data(), block.size());
        ASSERT_LE(step.take, queue.size());
        std::vector<uint8_t> out(step.take);
        queue.TakeFront(out.data(), out.size());
        taken.insert(taken.end(), out.begin(), out.end());
    }
    EXPECT_TRUE(queue.empty());
    ASSERT_EQ(taken.size(), 423u);
    for (size_t i = 0; i < taken.size(); ++i)
        ASSERT_EQ(taken[i], static_cast<uint8_t>(i)) << "at " << i;
}

TEST(ByteQueue, ClearDropsWhatWaits) {
    ByteQueue queue;
    const uint8_t bytes[] = {1, 2, 3};
    queue.Append(bytes, 3);
    queue.clear();
    EXPECT_EQ(queue.size(), 0u);
    queue.Append(bytes + 2, 1);
    uint8_t out = 0;
    queue.TakeFront(&out, 1);
    EXPECT_EQ(out, 3);
}

}  // namespace
