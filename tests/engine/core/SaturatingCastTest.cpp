#include "engine/core/SaturatingCast.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace rendova {
namespace {

TEST(SaturatingCast, TruncatesTowardZeroInsideTheRange) {
    EXPECT_EQ(saturateToInt(2.9), 2);
    EXPECT_EQ(saturateToInt(-2.9), -2);
    EXPECT_EQ(saturateToInt(-0.5), 0);
    EXPECT_EQ(saturateToInt(2147483646.99), 2147483646);
    EXPECT_EQ(saturateToInt(-2147483647.99), -2147483647);
}

TEST(SaturatingCast, NotANumberIsZeroAndTheRestSaturates) {
    EXPECT_EQ(saturateToInt(std::nan("")), 0);
    EXPECT_EQ(saturateToInt(std::numeric_limits<double>::infinity()), INT32_MAX);
    EXPECT_EQ(saturateToInt(-std::numeric_limits<double>::infinity()), INT32_MIN);
    EXPECT_EQ(saturateToInt(2147483647.5), INT32_MAX);
    EXPECT_EQ(saturateToInt(-2147483648.0), INT32_MIN);
    EXPECT_EQ(saturateToInt(-2147483649.0), INT32_MIN);
    EXPECT_EQ(saturateToInt(1e300), INT32_MAX);
}

TEST(SaturatingCast, FixedPointIsTimes65536Truncated) {
    EXPECT_EQ(fixedFromDouble(1.0), 0x10000);
    EXPECT_EQ(fixedFromDouble(0.1373), 8998);  // 8998.25
    EXPECT_EQ(fixedFromDouble(-0.5), -0x8000);
    EXPECT_EQ(fixedFromDouble(-1.0 / 65536 / 2), 0);
    EXPECT_EQ(fixedFromDouble(40000.0), INT32_MAX);
    EXPECT_EQ(fixedFromDouble(std::nan("")), 0);
    EXPECT_EQ(fixedToDouble(-0x8000), -0.5);
    EXPECT_EQ(fixedToDouble(INT32_MIN), -32768.0);
}

// The codecs check their sizes in their own widths: unsigned and 64-bit
// overflows are caught as well as the engine's int ones.
TEST(SaturatingCast, CheckedArithmeticReportsOverflowInEveryWidth) {
    uint32_t u = 0;
    EXPECT_TRUE(tryMul<uint32_t>(65535, 65537, &u));
    EXPECT_EQ(u, 0xFFFFFFFFu);
    EXPECT_FALSE(tryAdd<uint32_t>(0xFFFFFFFFu, 1, &u));
    int64_t w = 0;
    EXPECT_FALSE(tryMul<int64_t>(INT64_MAX / 2 + 1, 2, &w));
    EXPECT_TRUE(tryAdd<int64_t>(INT64_MIN + 1, -1, &w));
    EXPECT_EQ(w, INT64_MIN);
    int i = 0;
    EXPECT_FALSE(tryAdd(INT32_MIN, -1, &i));
}

}  // namespace
}  // namespace rendova
