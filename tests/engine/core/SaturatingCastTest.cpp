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
}

}  // namespace
}  // namespace rendova
