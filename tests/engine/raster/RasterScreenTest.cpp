#include "engine/raster/RasterScreen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace rendova {
namespace {

std::vector<int> matrixOf(const RasterScreen& screen) {
    const int n = screen.size() * screen.size();
    return std::vector<int>(screen.matrix(), screen.matrix() + n);
}

TEST(RasterScreenTest, DefaultIsTheTwoByTwoDispersedScreen) {
    RasterScreen screen(nullptr);
    ASSERT_EQ(screen.size(), 2);
    EXPECT_EQ(matrixOf(screen), (std::vector<int>{85, 170, 255, 1}));
    EXPECT_EQ(screen.minValue(), 1);
    EXPECT_EQ(screen.maxValue(), 255);
    for (int y = -3; y < 3; ++y) {
        for (int x = -3; x < 3; ++x) {
            EXPECT_EQ(screen.test(x, y, 255), 1);
            EXPECT_EQ(screen.test(x, y, 0), 0);
        }
    }
    // Grey 128 passes the thresholds 85 and 1 only.
    EXPECT_EQ(screen.test(0, 0, 128), 1);
    EXPECT_EQ(screen.test(1, 0, 128), 0);
    EXPECT_EQ(screen.test(0, 1, 128), 0);
    EXPECT_EQ(screen.test(1, 1, 128), 1);
}

TEST(RasterScreenTest, NegativeCoordinatesMirrorTheTiling) {
    RasterScreen screen(nullptr);
    // x = -1 takes column abs(-1 mod 2) = 1, as x = 1 does.
    for (int value = 0; value < 256; value += 17) {
        EXPECT_EQ(screen.test(-1, 0, value), screen.test(1, 0, value));
        EXPECT_EQ(screen.test(0, -3, value), screen.test(0, 1, value));
    }
    HalftoneParameters p;
    p.size = 4;
    RasterScreen four(&p);
    for (int value = 0; value < 256; value += 5) {
        EXPECT_EQ(four.test(-1, -2, value), four.test(1, 2, value));
        EXPECT_EQ(four.test(-3, 0, value), four.test(3, 0, value));
        EXPECT_EQ(four.test(INT32_MIN, 0, value), four.test(0, 0, value));
    }
}

TEST(RasterScreenTest, DispersedSizesAreRoundedUpToPowersOfTwo) {
    HalftoneParameters p;
    p.size = 5;
    RasterScreen eight(&p);
    EXPECT_EQ(eight.size(), 8);
    // Every threshold 1 + 254 (v - 1) / 63 for v = 1..64 appears once.
    std::vector<int> m = matrixOf(eight), expected;
    for (int v = 1; v <= 64; ++v)
        expected.push_back(1 + 254 * (v - 1) / 63);
    std::sort(m.begin(), m.end());
    EXPECT_EQ(m, expected);

    p.size = 1;
    RasterScreen one(&p);
    EXPECT_EQ(one.size(), 1);
    EXPECT_EQ(one.test(0, 0, 127), 0);
    EXPECT_EQ(one.test(5, 9, 128), 1);
    p.size = -4;
    EXPECT_EQ(RasterScreen(&p).size(), 1);
}

TEST(RasterScreenTest, ClusteredSizeIsEvenAndAtLeastTwo) {
    HalftoneParameters p;
    p.kind = kScreenClustered;
    p.size = 7;
    RasterScreen six(&p);
    EXPECT_EQ(six.size(), 6);
    p.size = 1;
    EXPECT_EQ(RasterScreen(&p).size(), 2);

    // Every cell gets one of the thresholds 1 + 254 k / 35, k = 0..35.
    std::vector<int> m = matrixOf(six), expected;
    for (int k = 0; k < 36; ++k)
        expected.push_back(1 + 254 * k / 35);
    std::sort(m.begin(), m.end());
    EXPECT_EQ(m, expected);
}

TEST(RasterScreenTest, ClusteredTwoByTwo) {
    HalftoneParameters p;
    p.kind = kScreenClustered;
    p.size = 2;
    RasterScreen screen(&p);
    // h = 1: cell (0, 0) has distance 0.5 (second branch of the first table),
    // cell (0, 1) 0.5 as well; the first wins the tie and takes 1, its
    // partner (1, 1) 85; then (0, 1) takes 170 and its partner (1, 0) 255.
    EXPECT_EQ(matrixOf(screen), (std::vector<int>{1, 255, 170, 85}));
}

TEST(RasterScreenTest, StochasticSizeGrowsToTwiceTheDotRadius) {
    HalftoneParameters p;
    p.kind = kScreenStochasticClustered;
    p.size = 4;
    p.dotRadius = 3;
    EXPECT_EQ(RasterScreen(&p).size(), 6);
    p.size = 10;
    EXPECT_EQ(RasterScreen(&p).size(), 10);
}

TEST(RasterScreenTest, SameParametersGiveTheSameScreen) {
    HalftoneParameters p;
    p.kind = kScreenStochasticClustered;
    p.size = 32;
    p.dotRadius = 2;
    RasterScreen a(&p), b(&p);
    EXPECT_EQ(matrixOf(a), matrixOf(b));
    RasterScreen copy(a);
    EXPECT_EQ(matrixOf(copy), matrixOf(a));
    EXPECT_EQ(copy.minValue(), a.minValue());
    EXPECT_EQ(copy.maxValue(), a.maxValue());
}

TEST(RasterScreenTest, StochasticScreenLeavesTheProcessRandomStateAlone) {
    std::srand(77);
    const int first = std::rand();
    std::srand(77);
    HalftoneParameters p;
    p.kind = kScreenStochasticClustered;
    p.size = 16;
    RasterScreen screen(&p);
    EXPECT_EQ(std::rand(), first);
}

// The screen as the build rules state it, with every cell compared against
// every dot, for checking the windowed nearest-dot search.
std::vector<int> referenceStochastic(int size, int r) {
    const int n = size * size;
    std::vector<int> cells(n);
    for (int k = 0; k < n; ++k)
        cells[k] = k;
    uint32_t seed = 123;
    for (int i = 0; i < n; ++i) {
        seed = seed * 214013u + 2531011u;
        const int rnd = static_cast<int>((seed >> 16) & 0x7fff);
        const int j = i + static_cast<int>(static_cast<int64_t>(rnd) * (n - i) / 32768);
        std::swap(cells[i], cells[j]);
    }
    std::vector<int> occupied(n, 0), dots;
    for (int cell : cells) {
        if (occupied[cell])
            continue;
        dots.push_back(cell);
        const int x = cell % size, y = cell / size;
        for (int dy = 0; dy <= r; ++dy)
            for (int dx = 0; dx <= r; ++dx)
                if (dx * dy <= r * r)
                    for (int sy : {1, -1})
                        for (int sx : {1, -1})
                            occupied[((y + sy * dy) % size + size) % size * size +
                                     ((x + sx * dx) % size + size) % size] = 1;
    }
    auto wrapped = [size](int a, int b) { return std::min(std::abs(a - b), size - std::abs(a - b)); };
    std::vector<int> owner(n), dist(n);
    for (int k = 0; k < n; ++k) {
        int best = 0, bestDist = -1;
        for (size_t d = 0; d < dots.size(); ++d) {
            const int dx = wrapped(k % size, dots[d] % size), dy = wrapped(k / size, dots[d] / size);
            if (bestDist < 0 || dx * dx + dy * dy < bestDist) {
                best = static_cast<int>(d);
                bestDist = dx * dx + dy * dy;
            }
        }
        owner[k] = best;
        dist[k] = bestDist;
    }
    std::vector<int> matrix(n);
    for (size_t d = 0; d < dots.size(); ++d) {
        std::vector<int> mine;
        for (int k = 0; k < n; ++k)
            if (owner[k] == static_cast<int>(d))
                mine.push_back(k);
        std::stable_sort(mine.begin(), mine.end(), [&](int a, int b) { return dist[a] < dist[b]; });
        const int m = static_cast<int>(mine.size());
        for (int k = 0; k < m; ++k)
            matrix[mine[k]] = m == 1 ? 128 : 255 - 254 * k / (m - 1);
    }
    return matrix;
}

TEST(RasterScreenTest, StochasticMatchesTheExhaustiveNearestDotSearch) {
    const int cases[][2] = {{8, 1}, {16, 2}, {24, 3}, {20, 0}, {6, 3}, {40, 5}, {64, 1}, {100, 2}};
    for (const auto& c : cases) {
        HalftoneParameters p;
        p.kind = kScreenStochasticClustered;
        p.size = c[0];
        p.dotRadius = c[1];
        RasterScreen screen(&p);
        ASSERT_EQ(screen.size(), std::max(c[0], 2 * c[1]));
        EXPECT_EQ(matrixOf(screen), referenceStochastic(screen.size(), c[1])) << c[0] << " " << c[1];
    }
}

TEST(RasterScreenTest, StochasticDotCentresAreWhiteAndEveryCellPassesSomething) {
    HalftoneParameters p;
    p.kind = kScreenStochasticClustered;
    p.size = 100;
    p.dotRadius = 2;
    RasterScreen screen(&p);
    const std::vector<int> m = matrixOf(screen);
    EXPECT_GT(std::count(m.begin(), m.end(), 255), 1);
    EXPECT_EQ(*std::min_element(m.begin(), m.end()), 1);
    EXPECT_EQ(screen.minValue(), 1);
    EXPECT_EQ(screen.maxValue(), 255);
}

TEST(RasterScreenTest, LimitsAndGammaAdjustThresholds) {
    HalftoneParameters p;
    p.size = 4;
    p.blackLimit = 0.2;  // 51
    p.whiteLimit = 0.8;  // 204
    RasterScreen limited(&p);
    const std::vector<int> m = matrixOf(limited);
    EXPECT_EQ(*std::min_element(m.begin(), m.end()), 51);
    EXPECT_EQ(*std::max_element(m.begin(), m.end()), 204);
    EXPECT_EQ(limited.minValue(), 51);
    EXPECT_EQ(limited.maxValue(), 204);
    EXPECT_EQ(limited.test(0, 0, 50), 0);
    EXPECT_EQ(limited.test(0, 0, 204), 1);

    // Gamma 2 squares: the threshold 1 + 254 x 8 / 15 = 136 becomes
    // floor((136 / 255)^2 x 255 + 0.5) = 73.
    HalftoneParameters g;
    g.size = 4;
    g.gamma = 2;
    RasterScreen squared(&g);
    HalftoneParameters four;
    four.size = 4;
    RasterScreen linear(&four);
    const uint8_t* found = std::find(linear.matrix(), linear.matrix() + 16, 136);
    ASSERT_NE(found, linear.matrix() + 16);
    EXPECT_EQ(squared.matrix()[found - linear.matrix()], 73);
}

TEST(RasterScreenTest, OutOfRangeSettingsStayInRange) {
    HalftoneParameters p;
    p.size = 1 << 30;
    EXPECT_EQ(RasterScreen(&p).size(), RasterScreen::kMaxScreenSize);
    p.kind = kScreenClustered;
    EXPECT_EQ(RasterScreen(&p).size(), RasterScreen::kMaxScreenSize);
    p.kind = kScreenStochasticClustered;
    p.size = 0;
    p.dotRadius = -7;
    EXPECT_EQ(RasterScreen(&p).size(), 1);
    p.dotRadius = 1 << 30;
    EXPECT_EQ(RasterScreen(&p).size(), RasterScreen::kMaxScreenSize);

    HalftoneParameters odd;
    odd.gamma = -3;  // pow(0, -3) is infinite
    odd.blackLimit = std::nan("");
    odd.whiteLimit = 1e300;
    RasterScreen screen(&odd);
    for (int k = 0; k < 4; ++k) {
        EXPECT_GE(screen.matrix()[k], 1);
        EXPECT_LE(screen.matrix()[k], 255);
    }
}

}  // namespace
}  // namespace rendova
