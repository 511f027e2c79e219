#include "engine/raster/RasterScreen.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "engine/core/Memory.h"
#include "engine/raster/RasterTypes.h"

namespace rendova {

namespace {

// The threshold given to a cell that is the only one of its kind (a dispersed
// screen of one cell, a stochastic dot that owns one cell), where the even
// spreading of thresholds over 1 to 255 has nothing to spread: the middle
// grey, so that such a screen is a plain 50% threshold.
constexpr uint8_t kLoneCellThreshold = 128;

// The shuffle's own generator: a 15-bit linear congruential generator
// (multiplier 214013, increment 2531011, output bits 16 to 30) seeded with
// 123 for every screen. Its outputs stay below 32768, which the shuffle's
// index formula needs, and the process's rand() state is left alone.
class ScreenRandom {
public:
    int next() {
        m_state = m_state * 214013u + 2531011u;
        return static_cast<int>((m_state >> 16) & 0x7fff);
    }

private:
    uint32_t m_state = 123;
};

// Per-axis wrapped distance on a torus of the given size.
int wrapped(int a, int b, int size) {
    const int d = std::abs(a - b);
    return std::min(d, size - d);
}

// The stochastic clustered screen's steps, on a screen of size x size cells
// numbered in row order.

// 1. and 2. Every cell in row order, shuffled.
std::vector<int> shuffledCells(int n) {
    std::vector<int> cells(static_cast<size_t>(n));
    for (int k = 0; k < n; ++k)
        cells[static_cast<size_t>(k)] = k;
    ScreenRandom random;
    for (int i = 0; i < n; ++i) {
        const int j = i + static_cast<int>(static_cast<int64_t>(random.next()) * (n - i) / 32768);
        std::swap(cells[static_cast<size_t>(i)], cells[static_cast<size_t>(j)]);
    }
    return cells;
}

// 3. and 4. Dots: each unoccupied cell in shuffled order becomes one and
// occupies the dot template (radius r) around itself. Returns the dots'
// cells; `dotAt` receives each cell's dot, or -1.
std::vector<int> placeDots(const std::vector<int>& cells, int size, int r, std::vector<int>& dotAt) {
    const int n = size * size;
    std::vector<uint8_t> tmpl(static_cast<size_t>((r + 1) * (r + 1)));
    for (int dy = 0; dy <= r; ++dy)
        for (int dx = 0; dx <= r; ++dx)
            tmpl[static_cast<size_t>(dy * (r + 1) + dx)] = dx * dy <= r * r;

    std::vector<uint8_t> occupied(static_cast<size_t>(n), 0);
    std::vector<int> dots;
    dots.reserve(32);
    dotAt.assign(static_cast<size_t>(n), -1);
    for (int cell : cells) {
        if (occupied[static_cast<size_t>(cell)])
            continue;
        const int x = cell % size, y = cell / size;
        dotAt[static_cast<size_t>(cell)] = static_cast<int>(dots.size());
        dots.push_back(cell);
        for (int dy = 0; dy <= r; ++dy) {
            for (int dx = 0; dx <= r; ++dx) {
                if (!tmpl[static_cast<size_t>(dy * (r + 1) + dx)])
                    continue;
                const int xp = (x + dx) % size, xm = (x - dx + size) % size;
                const int yp = (y + dy) % size, ym = (y - dy + size) % size;
                occupied[static_cast<size_t>(yp * size + xp)] = 1;
                occupied[static_cast<size_t>(yp * size + xm)] = 1;
                occupied[static_cast<size_t>(ym * size + xp)] = 1;
                occupied[static_cast<size_t>(ym * size + xm)] = 1;
            }
        }
    }
    return dots;
}

// 5. Every cell belongs to its nearest dot by wrapped squared distance, the
// earlier dot winning ties. Every cell lies within r of the dot that
// occupied it on both axes, so its nearest dot lies within sqrt(2) r on both
// axes. Small dots are many, large dots few: each cell compares either every
// dot or every cell of that window (one wider, against rounding), whichever
// is fewer, and both find the same dot.
void assignCellsToDots(int size, int r, const std::vector<int>& dots, const std::vector<int>& dotAt,
                       std::vector<int>& owner, std::vector<int>& ownerDist) {
    const int n = size * size;
    const int reach = static_cast<int>(std::sqrt(2.0 * r * r)) + 1;
    const bool useWindow =
        2 * reach + 1 < size && static_cast<size_t>((2 * reach + 1) * (2 * reach + 1)) < dots.size();
    owner.assign(static_cast<size_t>(n), 0);
    ownerDist.assign(static_cast<size_t>(n), 0);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            int best = -1, bestDist = 0;
            auto consider = [&](int dot, int cx, int cy) {
                const int ddx = wrapped(cx, x, size), ddy = wrapped(cy, y, size);
                const int d = ddx * ddx + ddy * ddy;
                if (best < 0 || d < bestDist || (d == bestDist && dot < best)) {
                    best = dot;
                    bestDist = d;
                }
            };
            if (useWindow) {
                for (int oy = -reach; oy <= reach; ++oy) {
                    const int cy = (y + oy + size) % size;
                    for (int ox = -reach; ox <= reach; ++ox) {
                        const int cx = (x + ox + size) % size;
                        const int dot = dotAt[static_cast<size_t>(cy * size + cx)];
                        if (dot >= 0)
                            consider(dot, cx, cy);
                    }
                }
            } else {
                for (size_t d = 0; d < dots.size(); ++d)
                    consider(static_cast<int>(d), dots[d] % size, dots[d] / size);
            }
            owner[static_cast<size_t>(y * size + x)] = best;
            ownerDist[static_cast<size_t>(y * size + x)] = bestDist;
        }
    }
}

// 6. Within each dot, thresholds fall from 255 at its centre to 1 at its
// farthest cell. Cells are gathered per dot in row order (a counting sort)
// and ordered by distance, equal distances keeping row order.
void thresholdWithinDots(size_t dotCount, const std::vector<int>& owner, const std::vector<int>& ownerDist,
                         uint8_t* matrix) {
    const int n = static_cast<int>(owner.size());
    std::vector<int> start(dotCount + 1, 0);
    for (int k = 0; k < n; ++k)
        ++start[static_cast<size_t>(owner[static_cast<size_t>(k)]) + 1];
    for (size_t d = 0; d < dotCount; ++d)
        start[d + 1] += start[d];
    std::vector<int> members(static_cast<size_t>(n));
    std::vector<int> fill(start.begin(), start.end() - 1);
    for (int k = 0; k < n; ++k)
        members[static_cast<size_t>(fill[static_cast<size_t>(owner[static_cast<size_t>(k)])]++)] = k;
    for (size_t d = 0; d < dotCount; ++d) {
        auto first = members.begin() + start[d], last = members.begin() + start[d + 1];
        std::stable_sort(first, last, [&](int a, int b) {
            return ownerDist[static_cast<size_t>(a)] < ownerDist[static_cast<size_t>(b)];
        });
        const int m = start[d + 1] - start[d];
        for (int k = 0; k < m; ++k) {
            const int cell = *(first + k);
            matrix[cell] = m == 1 ? kLoneCellThreshold : static_cast<uint8_t>(255 - (254 * k) / (m - 1));
        }
    }
}

}  // namespace

RasterScreen::RasterScreen(const HalftoneParameters* params) {
    const HalftoneParameters defaults;
    const HalftoneParameters& p = params ? *params : defaults;
    const int requested = std::min(p.size, kMaxScreenSize);

    if (p.kind == kScreenClustered) {
        m_size = requested & ~1;
        if (m_size < 2)
            m_size = 2;
        m_matrix = static_cast<uint8_t*>(memAlloc(m_size * m_size));
        buildClustered();
    } else if (p.kind == kScreenStochasticClustered) {
        const int radius = std::clamp(p.dotRadius, 0, kMaxScreenSize / 2);
        m_size = std::clamp(std::max(requested, 2 * radius), 1, kMaxScreenSize);
        m_matrix = static_cast<uint8_t*>(memAlloc(m_size * m_size));
        buildStochasticClustered(radius);
    } else {
        m_size = 1;
        while (m_size < requested)
            m_size *= 2;
        m_matrix = static_cast<uint8_t*>(memAlloc(m_size * m_size));
        if (m_size == 1) {
            m_matrix[0] = kLoneCellThreshold;
        } else {
            buildDispersed(m_size / 2, m_size / 2, 1, m_size / 2, 1);
        }
    }
    adjust(p.gamma, p.blackLimit, p.whiteLimit);
}

RasterScreen::RasterScreen(const RasterScreen& other)
    : m_size(other.m_size), m_minValue(other.m_minValue), m_maxValue(other.m_maxValue) {
    m_matrix = static_cast<uint8_t*>(memAlloc(m_size * m_size));
    std::memcpy(m_matrix, other.m_matrix, static_cast<size_t>(m_size * m_size));
}

RasterScreen::~RasterScreen() {
    memFree(m_matrix);
}

// The recursive ordered-dither fill. Its depth is log2 of the size, at most
// 8 for kMaxScreenSize.
void RasterScreen::buildDispersed(int i, int j, int value, int delta, int offset) {
    if (delta == 0) {
        m_matrix[i * m_size + j] = static_cast<uint8_t>(1 + (254 * (value - 1)) / (m_size * m_size - 1));
        return;
    }
    const int d2 = delta / 2, o4 = 4 * offset;
    buildDispersed(i, j, value, d2, o4);
    buildDispersed((i + delta) % m_size, (j + delta) % m_size, value + offset, d2, o4);
    buildDispersed((i + delta) % m_size, j, value + 2 * offset, d2, o4);
    buildDispersed((i + 2 * delta) % m_size, (j + delta) % m_size, value + 3 * offset, d2, o4);
}

void RasterScreen::buildClustered() {
    const int size = m_size, h = size / 2;
    std::memset(m_matrix, 0, static_cast<size_t>(size * size));

    // The combined distance table: size rows of h columns, the first table
    // above the second.
    std::vector<double> dist(static_cast<size_t>(size * h));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < h; ++x) {
            double u, v;
            if (x + y < h - 1) {
                u = y + 0.5;
                v = x + 0.5;
            } else {
                u = y + 0.5 - h;
                v = x + 0.5 - h;
            }
            dist[static_cast<size_t>(y * h + x)] = u * u + v * v;
        }
    }
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < h; ++x) {
            double u, v;
            if (y > x) {
                u = y + 0.5 - h;
                v = x + 0.5;
            } else {
                u = y + 0.5;
                v = x + 0.5 - h;
            }
            dist[static_cast<size_t>((y + h) * h + x)] = u * u + v * v;
        }
    }

    // Each round takes the unset left-half cell of largest distance, the
    // first in scan order winning ties. The left-half cells are only ever set
    // by being taken (their partners lie in the right half), so the rounds
    // visit them in a stable descending order of distance.
    std::vector<int> order(static_cast<size_t>(size * h));
    for (size_t k = 0; k < order.size(); ++k)
        order[k] = static_cast<int>(k);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return dist[static_cast<size_t>(a)] > dist[static_cast<size_t>(b)];
    });

    const int denominator = 2 * size * h - 1;
    for (int i = 0; i < size * h; ++i) {
        const int cell = order[static_cast<size_t>(i)];
        const int y = cell / h, x = cell % h;
        m_matrix[y * size + x] = static_cast<uint8_t>(1 + (254 * (2 * i)) / denominator);
        const int py = y < h ? y + h : y - h;
        m_matrix[py * size + x + h] = static_cast<uint8_t>(1 + (254 * (2 * i + 1)) / denominator);
    }
}

void RasterScreen::buildStochasticClustered(int r) {
    const std::vector<int> cells = shuffledCells(m_size * m_size);
    std::vector<int> dotAt;
    const std::vector<int> dots = placeDots(cells, m_size, r, dotAt);
    std::vector<int> owner, ownerDist;
    assignCellsToDots(m_size, r, dots, dotAt, owner, ownerDist);
    thresholdWithinDots(dots.size(), owner, ownerDist, m_matrix);
}

void RasterScreen::adjust(double gamma, double blackLimit, double whiteLimit) {
    // The limits and gamma come from the configuration file: saturate rather
    // than trust them to be in range (NaN gives the lowest value).
    int black = saturateToInt(std::floor(255 * blackLimit + 0.5), 0, 255);
    if (black == 0)
        black = 1;
    const int white = saturateToInt(std::floor(255 * whiteLimit + 0.5), 0, 255);

    int minValue = 255, maxValue = 0;
    const int n = m_size * m_size;
    for (int k = 0; k < n; ++k) {
        const double p = std::pow(m_matrix[k] / 255.0, gamma);
        int v = saturateToInt(std::floor(p * 255 + 0.5), 0, 255);
        if (v < black) {
            v = black;
        } else if (v >= white) {
            v = white;
        }
        m_matrix[k] = static_cast<uint8_t>(v);
        // The true extremes: a threshold can be both the lowest and the
        // highest seen so far (the first one always is).
        minValue = std::min(minValue, v);
        maxValue = std::max(maxValue, v);
    }
    m_minValue = static_cast<uint8_t>(minValue);
    m_maxValue = static_cast<uint8_t>(maxValue);
}

}  // namespace rendova
