// The pending text between the library's thread and the window thread.
#include "delivery/pending_text.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

namespace {

TEST(PendingText, ReportsTheFirstBlockOfEachBurst) {
    quillon::PendingText pending;
    EXPECT_TRUE(pending.Append(u"12"));
    EXPECT_FALSE(pending.Append(u"3\r\n"));
    EXPECT_EQ(pending.Size(), 5u);
    EXPECT_EQ(pending.TakeAll(), u"123\r\n");
    EXPECT_TRUE(pending.Empty());
    EXPECT_TRUE(pending.Append(u"4"));
}

TEST(PendingText, RestoredTextGoesBeforeLaterBlocks) {
    quillon::PendingText pending;
    pending.Append(u"first ");
    std::u16string taken = pending.TakeAll();
    EXPECT_TRUE(pending.Append(u"second"));
    pending.Restore(taken);
    EXPECT_EQ(pending.TakeAll(), u"first second");
}

// Text held after a paste that could not be made waits without a timer: the
// next block asks for the timer again and goes out behind it.
TEST(PendingText, HeldTextAsksForTheTimerAtTheNextBlock) {
    quillon::PendingText pending;
    pending.Append(u"A1");
    std::u16string taken = pending.TakeAll();
    pending.Hold(taken);
    EXPECT_TRUE(pending.Held());
    EXPECT_TRUE(pending.Append(u"B2"));
    EXPECT_FALSE(pending.Held());
    EXPECT_FALSE(pending.Append(u"C3")) << "one arming per block after the hold";
    EXPECT_EQ(pending.TakeAll(), u"A1B2C3");

    // A take clears the hold too; holding nothing holds nothing.
    pending.Hold(u"X");
    EXPECT_EQ(pending.TakeAll(), u"X");
    EXPECT_FALSE(pending.Held());
    pending.Hold(u"");
    EXPECT_FALSE(pending.Held());
    EXPECT_TRUE(pending.Append(u"Y"));
}

// A library thread appends numbered units while the window thread takes,
// sometimes failing its delivery and restoring. Every unit must arrive exactly
// once and in order, and whenever the producer found the text empty it must
// have been told so.
TEST(PendingText, TwoThreadsLoseAndReorderNothing) {
    constexpr int kBlocks = 20000;
    quillon::PendingText pending;
    std::atomic<bool> producing{true};
    std::atomic<int> arms{0};

    std::thread library([&] {
        for (int i = 0; i < kBlocks; ++i) {
            std::u16string block(1, static_cast<char16_t>(i % 0xD000));
            if (pending.Append(block)) {
                arms.fetch_add(1);
            }
        }
        producing = false;
    });

    std::u16string delivered;
    int takes = 0;
    int nonEmptyTakes = 0;
    while (producing || !pending.Empty()) {
        std::u16string taken = pending.TakeAll();
        ++takes;
        if (taken.empty()) {
            std::this_thread::yield();
            continue;
        }
        ++nonEmptyTakes;
        if (takes % 3 == 0) {
            pending.Restore(taken);  // a busy clipboard: try again later
        } else {
            delivered += taken;
        }
    }
    library.join();
    delivered += pending.TakeAll();

    ASSERT_EQ(delivered.size(), static_cast<size_t>(kBlocks));
    for (int i = 0; i < kBlocks; ++i) {
        ASSERT_EQ(delivered[i], static_cast<char16_t>(i % 0xD000)) << "at " << i;
    }
    // Each emptying take is followed by an append that finds the text empty.
    EXPECT_GE(arms.load(), 1);
    EXPECT_LE(arms.load(), nonEmptyTakes + 1);
}

}  // namespace
