#include "digest/progress_scale.h"

#include <gtest/gtest.h>

namespace {

TEST(ProgressScale, RangeAndShiftFromFileSize) {
    const struct { std::uint64_t bytes; int range, shift; } cases[] = {
        {0, 0, 0},
        {1023, 0, 0},
        {10238976, 9999, 0},
        {10240000, 1000, 1},
        {52428800, 5120, 1},
        {734003200, 7168, 2},
        {4294967295u, 4194, 3},
        {5ull << 30, 5242, 3},
        {~0ull, 1801, 13},  // the largest 64-bit size
    };
    for (const auto& c : cases) {
        const ProgressScale s = ScaleForBytes(c.bytes);
        EXPECT_EQ(s.range, c.range) << c.bytes;
        EXPECT_EQ(s.shift, c.shift) << c.bytes;
    }
}

TEST(ProgressScale, PositionDividesChunksByTenShiftTimes) {
    for (std::uint64_t n = 0; n < 1024; ++n) ASSERT_EQ(ScaledPosition(n, 0), static_cast<int>(n));
    EXPECT_EQ(ScaledPosition(10000, 1), 1000);
    EXPECT_EQ(ScaledPosition(9999, 1), 999);
    EXPECT_EQ(ScaledPosition(716800, 2), 7168);
    EXPECT_EQ(ScaledPosition(4194304, 3), 4194);
    EXPECT_EQ(ScaledPosition(5242880, 3), 5242);  // a counter past 2^32 bytes' worth
}

TEST(ProgressThrottle, SendsChangesAtMostEvery17Ms) {
    ProgressThrottle t;
    t.Start(1000);
    EXPECT_TRUE(t.ShouldSend(0, 5000));    // first position of the file
    EXPECT_FALSE(t.ShouldSend(0, 6000));   // unchanged
    EXPECT_FALSE(t.ShouldSend(1, 5016));   // too soon
    EXPECT_TRUE(t.ShouldSend(2, 5017));
    EXPECT_FALSE(t.ShouldSend(2, 9000));
    EXPECT_TRUE(t.ShouldSend(3, 9000));

    t.Start(1000);  // next file: its first position goes out whatever the clock says
    EXPECT_TRUE(t.ShouldSend(3, 9000));
}

TEST(ProgressThrottle, EveryChangeAtOrPastTheMaximumIsSent) {
    ProgressThrottle t;
    t.Start(100);
    EXPECT_TRUE(t.ShouldSend(50, 0));
    EXPECT_TRUE(t.ShouldSend(100, 1));
    EXPECT_FALSE(t.ShouldSend(100, 2));
    EXPECT_TRUE(t.ShouldSend(101, 2));  // one chunk past a whole number of KiB
}

// A file read far faster than the screen refreshes: about 60 sends a
// second, and the bar still ends on its maximum.
TEST(ProgressThrottle, FastFileIsRateLimitedAndEndsFull) {
    const ProgressScale s = ScaleForBytes(734003200);
    ProgressThrottle t;
    t.Start(s.range);
    int sent = 0, last = -1;
    const std::uint64_t chunks = 716800;
    for (std::uint64_t n = 1; n <= chunks; ++n) {
        const int pos = ScaledPosition(n, s.shift);
        if (t.ShouldSend(pos, n / 700)) {  // ~1 s for the whole file
            ++sent;
            last = pos;
        }
    }
    EXPECT_EQ(last, s.range);
    EXPECT_LE(sent, 62);
    EXPECT_GE(sent, 55);
}

}  // namespace
