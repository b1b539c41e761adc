#include "digest/ProgressScale.h"

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

}  // namespace
