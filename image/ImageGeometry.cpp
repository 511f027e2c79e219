// Rotation by any angle and resampling to a new size.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "image/ImageTransforms.h"
#include "image/PaletteSearch.h"
#include "image/TransformSupport.h"

namespace rendova {

using transform::copyPalette;
using transform::createLike;
using transform::fail;
using transform::handOver;
using transform::indexAt;
using transform::putIndexIntoZeroed;
using transform::RowProgress;

namespace {

// Calls body.template operator()<Bits>() with the image depth as a
// template argument (1, 4, 8, else 24), so that each loop is compiled per
// depth and the depth is chosen once, outside it.
template <typename Body>
void withDepth(int bits, Body&& body) {
    switch (bits) {
        case 1:
            body.template operator()<1>();
            break;
        case 4:
            body.template operator()<4>();
            break;
        case 8:
            body.template operator()<8>();
            break;
        default:
            body.template operator()<24>();
            break;
    }
}

constexpr const char* kNoMemory = "can't allocate memory for the transformed image";

// Reads the colour of a pixel of a Bits-bit image from its raw rows; an
// indexed image through a copy of its palette (indices beyond it read black).
template <int Bits>
class ColourReader {
public:
    explicit ColourReader(const RasterImage& image)
        : m_rows(image.RowPointer(0)), m_stride(image.GetRowStride()) {
        if constexpr (Bits != 24) {
            const uint32_t count = std::min<uint32_t>(image.GetColourCount(), 256);
            std::memcpy(m_palette, image.GetPalette(), 4 * size_t(count));
        }
    }

    // Blue, green, red of pixel (x, y), which must lie inside the image.
    const uint8_t* at(int32_t x, int32_t y) const {
        const uint8_t* row = m_rows + size_t(y) * m_stride;
        if constexpr (Bits == 24) {
            return row + 3 * size_t(x);
        } else {
            return &m_palette[indexAt<Bits>(row, x)].blue;
        }
    }

private:
    const uint8_t* m_rows;
    size_t m_stride;
    RgbQuad m_palette[256] = {};
};

// Writes a colour into the cleared rows of a Bits-bit image: the bytes of a
// 24-bit image, else the nearest palette index.
template <int Bits>
class ColourWriter {
public:
    ColourWriter(RasterImage& image, PaletteSearch* search)
        : m_rows(image.RowPointer(0)), m_stride(image.GetRowStride()), m_search(search) {}

    void put(int32_t x, int32_t y, uint8_t blue, uint8_t green, uint8_t red) {
        uint8_t* row = m_rows + size_t(y) * m_stride;
        if constexpr (Bits == 24) {
            row[3 * size_t(x)] = blue;
            row[3 * size_t(x) + 1] = green;
            row[3 * size_t(x) + 2] = red;
        } else {
            putIndexIntoZeroed<Bits>(row, x, m_search->nearest(blue, green, red));
        }
    }

private:
    uint8_t* m_rows;
    size_t m_stride;
    PaletteSearch* m_search;
};

// The rounding error of a filter's single-precision weighted sum stays far
// below this; without it a flat 255 that sums to 254.99998 would truncate to 254.
constexpr float kSumSlack = 1.0f / 512.0f;

// A filtered channel value truncated to a byte, kept to 0..255.
inline uint8_t toByte(float value) {
    value += kSumSlack;
    if (!(value > 0.0f))
        return 0;
    if (value >= 255.0f)
        return 255;
    return uint8_t(value);
}

inline int32_t clampIndex(int64_t value, int32_t limit) {
    return int32_t(std::clamp<int64_t>(value, 0, int64_t(limit) - 1));
}

// --- Rotation -----------------------------------------------------------------

struct RotationFrame {
    double cosine;
    double sine;
    int64_t minX;
    int64_t minY;
};

// Each new pixel (k, r) samples the source at the truncated inverse rotation
// of (minX + k, minY + r); samples outside the source take `outsideIndex` or
// `outsideColour`, which stand for what the image answers outside itself.
template <int Bits>
void rotatePixels(const RasterImage& image, RasterImage& result, const RotationFrame& frame,
                  uint8_t outsideIndex, RgbQuad outsideColour, RowProgress& progress) {
    const int32_t width = image.GetWidth();
    const int32_t height = image.GetHeight();
    const uint8_t* sourceRows = image.RowPointer(0);
    const size_t sourceStride = image.GetRowStride();
    const uint8_t* sourceAlpha = image.alphaPlane();
    uint8_t* resultAlpha = result.alphaPlane();
    const int32_t newWidth = result.GetWidth();
    const int32_t newHeight = result.GetHeight();
    const double c = frame.cosine;
    const double s = frame.sine;
    for (int32_t r = 0; r < newHeight; ++r) {
        if (!progress.proceed(r))
            return;
        const double y = double(frame.minY + r);
        uint8_t* out = result.RowPointer(r);
        for (int32_t k = 0; k < newWidth; ++k) {
            const double x = double(frame.minX + k);
            // Truncation toward zero, as the conversion does.
            const auto sx = int64_t(x * c + y * s - 0.5);
            const auto sy = int64_t(y * c - x * s - 0.5);
            const bool inside = sx >= 0 && sx < width && sy >= 0 && sy < height;
            if constexpr (Bits == 24) {
                const uint8_t* pixel =
                    inside ? sourceRows + size_t(sy) * sourceStride + 3 * size_t(sx) : &outsideColour.blue;
                std::memcpy(out + 3 * size_t(k), pixel, 3);
            } else {
                const uint8_t index =
                    inside ? indexAt<Bits>(sourceRows + size_t(sy) * sourceStride, sx) : outsideIndex;
                putIndexIntoZeroed<Bits>(out, k, index);
            }
            if (resultAlpha != nullptr && inside)
                resultAlpha[size_t(r) * size_t(newWidth) + size_t(k)] =
                    sourceAlpha[size_t(sy) * size_t(width) + size_t(sx)];
        }
    }
}

// --- Resampling ---------------------------------------------------------------

template <int Bits>
void resampleNearest(const RasterImage& image, RasterImage& result, const std::vector<int32_t>& columns,
                     const std::vector<int32_t>& rows, RowProgress& progress) {
    const int32_t newWidth = result.GetWidth();
    // An indexed image keeps its palette; each old index maps to the index the
    // nearest-colour search gives for its colour in the new image.
    uint8_t indexMap[256] = {};
    if constexpr (Bits != 24) {
        PaletteSearch search(result);
        for (int i = 0; i < 256; ++i) {
            const RgbQuad colour = image.PaletteEntry(uint8_t(i));
            indexMap[i] = search.nearest(colour.blue, colour.green, colour.red);
        }
    }
    for (int32_t y = 0; y < result.GetHeight(); ++y) {
        if (!progress.proceed(y))
            return;
        const uint8_t* in = image.RowPointer(rows[size_t(y)]);
        uint8_t* out = result.RowPointer(y);
        for (int32_t x = 0; x < newWidth; ++x) {
            if constexpr (Bits == 24) {
                std::memcpy(out + 3 * size_t(x), in + 3 * size_t(columns[size_t(x)]), 3);
            } else {
                putIndexIntoZeroed<Bits>(out, x, indexMap[indexAt<Bits>(in, columns[size_t(x)])]);
            }
        }
    }
}

// The cubic B-spline: K(t) = ((t + 2)^3+ - 4 (t + 1)^3+ + 6 t^3+ - 4 (t - 1)^3+) / 6,
// u^3+ being u^3 for u > 0 and 0 otherwise; zero beyond 2.
float cubicBSpline(float t) {
    if (t > 2.0f)
        return 0.0f;
    auto cubePlus = [](float u) { return u > 0.0f ? u * u * u : 0.0f; };
    return (cubePlus(t + 2.0f) - 4.0f * cubePlus(t + 1.0f) + 6.0f * cubePlus(t) - 4.0f * cubePlus(t - 1.0f)) *
           0.16666667f;
}

// The four source positions (clamped to the image) and B-spline weights of one
// output coordinate along one axis.
struct CubicTaps {
    int32_t position[4];
    float weight[4];
};

// `mirrored` gives the weights as K(n - d) (true) or K(d - n) (false) for the
// taps n = -1..2; the spline is symmetric, so both are kept as the rule reads.
std::vector<CubicTaps> cubicTaps(int32_t count, float scale, int32_t limit, bool mirrored) {
    std::vector<CubicTaps> taps(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        const float f = float(i) * scale - 0.5f;
        const float base = std::floor(f);
        const float d = f - base;
        for (int n = -1; n <= 2; ++n) {
            taps[size_t(i)].position[n + 1] = clampIndex(int64_t(base) + n, limit);
            taps[size_t(i)].weight[n + 1] = cubicBSpline(mirrored ? float(n) - d : d - float(n));
        }
    }
    return taps;
}

template <int Bits>
void resampleBicubic(const RasterImage& image, RasterImage& result, float xScale, float yScale,
                     RowProgress& progress) {
    const int32_t newWidth = result.GetWidth();
    const int32_t newHeight = result.GetHeight();
    const std::vector<CubicTaps> columns = cubicTaps(newWidth, xScale, image.GetWidth(), false);
    const std::vector<CubicTaps> rows = cubicTaps(newHeight, yScale, image.GetHeight(), true);
    const ColourReader<Bits> reader(image);
    PaletteSearch search(result);
    ColourWriter<Bits> writer(result, &search);
    for (int32_t y = 0; y < newHeight; ++y) {
        if (!progress.proceed(y))
            return;
        const CubicTaps& row = rows[size_t(y)];
        for (int32_t x = 0; x < newWidth; ++x) {
            const CubicTaps& column = columns[size_t(x)];
            float sum[3] = {0.0f, 0.0f, 0.0f};
            for (int m = 0; m < 4; ++m) {
                for (int n = 0; n < 4; ++n) {
                    const float weight = row.weight[m] * column.weight[n];
                    const uint8_t* colour = reader.at(column.position[n], row.position[m]);
                    sum[0] += weight * colour[0];
                    sum[1] += weight * colour[1];
                    sum[2] += weight * colour[2];
                }
            }
            writer.put(x, y, toByte(sum[0]), toByte(sum[1]), toByte(sum[2]));
        }
    }
}

template <int Bits>
void resampleBilinear(const RasterImage& image, RasterImage& result, float xScale, float yScale,
                      RowProgress& progress) {
    const int32_t width = image.GetWidth();
    const int32_t height = image.GetHeight();
    const int32_t newWidth = result.GetWidth();
    const int32_t newHeight = result.GetHeight();
    struct Tap {
        int32_t first;
        int32_t second;
        float fraction;
    };
    std::vector<Tap> columns(static_cast<size_t>(newWidth));
    for (int32_t x = 0; x < newWidth; ++x) {
        const float f = float(x) * xScale;
        const int32_t i = clampIndex(int64_t(f), width);
        columns[size_t(x)] = Tap{i, std::min(i + 1, width - 1), f - float(i)};
    }
    const ColourReader<Bits> reader(image);
    PaletteSearch search(result);
    ColourWriter<Bits> writer(result, &search);
    for (int32_t y = 0; y < newHeight; ++y) {
        if (!progress.proceed(y))
            return;
        const float fy = float(y) * yScale;
        const int32_t iy = clampIndex(int64_t(fy), height);
        const int32_t iy1 = std::min(iy + 1, height - 1);
        const float dy = fy - float(iy);
        for (int32_t x = 0; x < newWidth; ++x) {
            const Tap& t = columns[size_t(x)];
            const float dx = t.fraction;
            const uint8_t* c00 = reader.at(t.first, iy);
            const uint8_t* c01 = reader.at(t.first, iy1);
            const uint8_t* c10 = reader.at(t.second, iy);
            const uint8_t* c11 = reader.at(t.second, iy1);
            uint8_t channel[3];
            for (int c = 0; c < 3; ++c) {
                channel[c] = toByte((1.0f - dx) * ((1.0f - dy) * c00[c] + dy * c01[c]) +
                                    dx * ((1.0f - dy) * c10[c] + dy * c11[c]));
            }
            writer.put(x, y, channel[0], channel[1], channel[2]);
        }
    }
}

// How the source pixels of one axis fall on the destination pixels when the
// axis shrinks: the span [i, i + 1) of source pixel i, in thousandths of a
// pixel, overlaps destination pixel `target[i]` by `weight[i]` and the next one
// by 1000 - weight[i]. `span[k]` is the length of destination pixel k.
struct AreaAxis {
    std::vector<int32_t> target;
    std::vector<uint32_t> weight;
    std::vector<uint64_t> span;
};

constexpr int64_t kAreaUnit = 1000;

AreaAxis areaAxis(int32_t sourceCount, int32_t targetCount) {
    AreaAxis axis;
    axis.target.resize(size_t(sourceCount));
    axis.weight.resize(size_t(sourceCount));
    axis.span.resize(size_t(targetCount));
    // Destination pixel k covers [bound(k), bound(k + 1)); bound(targetCount)
    // is the whole axis, so no source pixel reaches past the last one.
    auto bound = [&](int64_t k) { return k * sourceCount * kAreaUnit / targetCount; };
    for (int32_t k = 0; k < targetCount; ++k)
        axis.span[size_t(k)] = uint64_t(bound(k + 1) - bound(k));
    int64_t k = 0;
    for (int32_t i = 0; i < sourceCount; ++i) {
        const int64_t start = i * kAreaUnit;
        while (bound(k + 1) <= start)
            ++k;
        axis.target[size_t(i)] = int32_t(k);
        axis.weight[size_t(i)] = uint32_t(std::min(bound(k + 1), start + kAreaUnit) - start);
    }
    return axis;
}

// Area averaging of a 24-bit image that shrinks in both directions: each
// source channel value is added to the destination pixels its area overlaps,
// weighted by the overlap, first along the row into `columnSums`, then into
// the accumulators of the current and the next destination row; a finished
// destination pixel is its sum divided by its area.
// The quotient sum / area, truncated, exactly: a floating estimate corrected by
// one step either way (the estimate's error is far below one).
inline uint8_t averageOf(uint64_t sum, uint64_t area, double inverseArea) {
    auto q = uint64_t(double(sum) * inverseArea);
    if ((q + 1) * area <= sum)
        ++q;
    else if (q * area > sum)
        --q;
    return uint8_t(q);
}

// `Sum` holds one destination column's share of a source row and the sums of
// the destination rows: 32 bits suffice unless a destination pixel covers more
// than about sixteen source pixels. The image shrinks,
// so every column holds the start of at least one source pixel and each
// source pixel reaches at most the next column: the columns are filled in
// order, each once.
template <class Sum>
void resampleAreaAverage(const RasterImage& image, RasterImage& result, const AreaAxis& columns,
                         const AreaAxis& rows, RowProgress& progress) {
    const int32_t width = image.GetWidth();
    const int32_t height = image.GetHeight();
    const int32_t newWidth = result.GetWidth();
    // Three extra entries take the zero-weighted share of the last column.
    const size_t accumulatorSize = 3 * size_t(newWidth) + 3;
    std::vector<Sum> columnSums(accumulatorSize);
    std::vector<Sum> current(accumulatorSize);
    std::vector<Sum> next(accumulatorSize);
    std::vector<double> inverseColumnSpan(static_cast<size_t>(newWidth));
    for (int32_t k = 0; k < newWidth; ++k)
        inverseColumnSpan[size_t(k)] = 1.0 / double(columns.span[size_t(k)]);
    const int32_t* target = columns.target.data();
    const uint32_t* weight = columns.weight.data();
    int64_t rowEnd = int64_t(rows.span[0]);

    for (int32_t y = 0; y < height; ++y) {
        if (!progress.proceed(y))
            return;
        const uint8_t* in = image.RowPointer(y);
        Sum* sums = columnSums.data();
        // Source pixels go to their column in order, so the column being
        // filled and the share carried into the next one stay in registers.
        int32_t column = 0;
        Sum blue = 0, green = 0, red = 0;
        Sum carriedBlue = 0, carriedGreen = 0, carriedRed = 0;
        for (int32_t x = 0; x < width; ++x, in += 3) {
            if (target[x] != column) {
                sums[3 * size_t(column)] = blue;
                sums[3 * size_t(column) + 1] = green;
                sums[3 * size_t(column) + 2] = red;
                blue = carriedBlue;
                green = carriedGreen;
                red = carriedRed;
                carriedBlue = carriedGreen = carriedRed = 0;
                column = target[x];
            }
            const Sum w0 = weight[x];
            const Sum w1 = Sum(kAreaUnit) - w0;
            blue += in[0] * w0;
            green += in[1] * w0;
            red += in[2] * w0;
            carriedBlue += in[0] * w1;
            carriedGreen += in[1] * w1;
            carriedRed += in[2] * w1;
        }
        sums[3 * size_t(column)] = blue;
        sums[3 * size_t(column) + 1] = green;
        sums[3 * size_t(column) + 2] = red;
        sums[3 * size_t(column) + 3] = carriedBlue;
        sums[3 * size_t(column) + 4] = carriedGreen;
        sums[3 * size_t(column) + 5] = carriedRed;
        const Sum u0 = rows.weight[size_t(y)];
        const Sum u1 = Sum(kAreaUnit) - u0;
        Sum* __restrict now = current.data();
        Sum* __restrict later = next.data();
        const Sum* __restrict shares = sums;
        for (size_t i = 0; i < accumulatorSize; ++i)
            now[i] += shares[i] * u0;
        // A source row that ends on a destination row's edge gives the next nothing.
        if (u1 != 0) {
            for (size_t i = 0; i < accumulatorSize; ++i)
                later[i] += shares[i] * u1;
        }
        // The destination row is complete once this source row reaches its end.
        if ((int64_t(y) + 1) * kAreaUnit >= rowEnd) {
            const int32_t r = rows.target[size_t(y)];
            uint8_t* out = result.RowPointer(r);
            const uint64_t rowSpan = rows.span[size_t(r)];
            const double inverseRowSpan = 1.0 / double(rowSpan);
            for (int32_t k = 0; k < newWidth; ++k) {
                const uint64_t area = columns.span[size_t(k)] * rowSpan;
                const double inverseArea = inverseColumnSpan[size_t(k)] * inverseRowSpan;
                for (size_t c = 3 * size_t(k); c < 3 * size_t(k) + 3; ++c)
                    out[c] = averageOf(now[c], area, inverseArea);
            }
            std::swap(current, next);
            std::fill(next.begin(), next.end(), 0);
            if (r + 1 < result.GetHeight())
                rowEnd += int64_t(rows.span[size_t(r) + 1]);
        }
    }
}

void resampleAreaAverage(const RasterImage& image, RasterImage& result, RowProgress& progress) {
    const AreaAxis columns = areaAxis(image.GetWidth(), result.GetWidth());
    const AreaAxis rows = areaAxis(image.GetHeight(), result.GetHeight());
    // A destination pixel's sum is at most 255 x its area, and a column's or
    // row's share reaches at most one source pixel past its span.
    const uint64_t widest = *std::max_element(columns.span.begin(), columns.span.end());
    const uint64_t tallest = *std::max_element(rows.span.begin(), rows.span.end());
    const uint64_t largestSum = 255 * (widest + uint64_t(kAreaUnit)) * (tallest + uint64_t(kAreaUnit));
    if (widest < (1u << 24) && tallest < (1u << 24) && largestSum <= std::numeric_limits<uint32_t>::max())
        resampleAreaAverage<uint32_t>(image, result, columns, rows, progress);
    else
        resampleAreaAverage<uint64_t>(image, result, columns, rows, progress);
}

}  // namespace

bool RotateWithSize(RasterImage& image, float angle, int32_t& newWidth, int32_t& newHeight,
                    RasterImage* destination) {
    if (!image.HasPixels())
        return false;
    if (!std::isfinite(angle))
        return fail(image, "the rotation angle is not a number");
    const double width = image.GetWidth();
    const double height = image.GetHeight();
    // Degrees to radians with pi / 2 taken as the arc cosine of 0; the minus
    // sign turns a positive angle clockwise on the picture.
    const double radians = -double(angle) * (std::acos(0.0) / 90.0);
    const double c = std::cos(radians);
    const double s = std::sin(radians);

    // The turned corners (floored); the image grows by two pixels beyond them.
    const int64_t cornerX[4] = {0, int64_t(std::floor(width * c)), int64_t(std::floor(-height * s)),
                                int64_t(std::floor((width - 1) * c - height * s))};
    const int64_t cornerY[4] = {0, int64_t(std::floor(width * s)), int64_t(std::floor(height * c)),
                                int64_t(std::floor((width - 1) * s + height * c))};
    const int64_t minX = *std::min_element(cornerX, cornerX + 4);
    const int64_t minY = *std::min_element(cornerY, cornerY + 4);
    const int64_t maxX = *std::max_element(cornerX, cornerX + 4) + 2;
    const int64_t maxY = *std::max_element(cornerY, cornerY + 4) + 2;
    const int64_t sizeX = maxX - minX;
    const int64_t sizeY = maxY - minY;
    if (sizeX > std::numeric_limits<int32_t>::max() || sizeY > std::numeric_limits<int32_t>::max())
        return fail(image, "RasterImage::Create can't allocate memory");

    RasterImage result;
    if (!createLike(result, image, int32_t(sizeX), int32_t(sizeY), image.GetBpp()))
        return fail(image, result.LastErrorText());
    copyPalette(result, image);
    if (image.HasAlpha()) {
        if (!result.MakeAlphaPlane())
            return fail(image, kNoMemory);
        result.ZeroAlpha();
    }
    // What the image answers for a pixel outside itself: its transparent
    // index or colour, else its first pixel.
    const uint8_t outsideIndex = image.ReadIndex(-1, -1);
    const RgbQuad outsideColour = image.ReadColor(-1, -1, true);
    const RotationFrame frame{c, s, minX, minY};
    RowProgress progress(image, sizeY);
    switch (image.GetBpp()) {
        case 1:
            rotatePixels<1>(image, result, frame, outsideIndex, outsideColour, progress);
            break;
        case 4:
            rotatePixels<4>(image, result, frame, outsideIndex, outsideColour, progress);
            break;
        case 8:
            rotatePixels<8>(image, result, frame, outsideIndex, outsideColour, progress);
            break;
        default:
            rotatePixels<24>(image, result, frame, outsideIndex, outsideColour, progress);
            break;
    }
    if (!handOver(image, destination, result))
        return false;
    newWidth = int32_t(sizeX);
    newHeight = int32_t(sizeY);
    return true;
}

bool Rotate(RasterImage& image, float angle, RasterImage* destination) {
    int32_t width = 0;
    int32_t height = 0;
    return RotateWithSize(image, angle, width, height, destination);
}

bool Resample(RasterImage& image, int32_t newWidth, int32_t newHeight, int32_t mode,
              RasterImage* destination) {
    if (!image.HasPixels())
        return false;
    if (newWidth <= 0 || newHeight <= 0)
        return fail(image, "the new width and height must be greater than zero");
    const int32_t width = image.GetWidth();
    const int32_t height = image.GetHeight();
    if (newWidth == width && newHeight == height) {
        if (destination != nullptr && destination != &image)
            return destination->copy(image);
        return true;
    }
    const float xScale = float(width) / float(newWidth);
    const float yScale = float(height) / float(newHeight);
    const int32_t bits = image.GetBpp();

    RasterImage result;
    if (!createLike(result, image, newWidth, newHeight, bits))
        return fail(image, result.LastErrorText());
    copyPalette(result, image);
    const uint8_t* sourceAlpha = image.alphaPlane();
    if (sourceAlpha != nullptr && !result.MakeAlphaPlane())
        return fail(image, kNoMemory);

    // The nearest source column and row of each new one (also the alpha
    // samples of every mode); a product rounded up by single precision never
    // reaches past the last pixel.
    std::vector<int32_t> columns(static_cast<size_t>(newWidth));
    std::vector<int32_t> rows(static_cast<size_t>(newHeight));
    for (int32_t x = 0; x < newWidth; ++x)
        columns[size_t(x)] = clampIndex(int64_t(float(x) * xScale), width);
    for (int32_t y = 0; y < newHeight; ++y)
        rows[size_t(y)] = clampIndex(int64_t(float(y) * yScale), height);

    RowProgress progress(image, newHeight);
    if (mode == kResampleNearest) {
        withDepth(bits, [&]<int Bits>() { resampleNearest<Bits>(image, result, columns, rows, progress); });
    } else if (mode == kResampleBicubic) {
        withDepth(bits, [&]<int Bits>() { resampleBicubic<Bits>(image, result, xScale, yScale, progress); });
    } else if (bits == 24 && newWidth < width && newHeight < height) {
        RowProgress sourceRows(image, height);
        resampleAreaAverage(image, result, sourceRows);
    } else {
        withDepth(bits, [&]<int Bits>() { resampleBilinear<Bits>(image, result, xScale, yScale, progress); });
    }

    if (sourceAlpha != nullptr) {
        uint8_t* resultAlpha = result.alphaPlane();
        for (int32_t y = 0; y < newHeight; ++y) {
            const uint8_t* in = sourceAlpha + size_t(rows[size_t(y)]) * size_t(width);
            uint8_t* out = resultAlpha + size_t(y) * size_t(newWidth);
            for (int32_t x = 0; x < newWidth; ++x)
                out[x] = in[columns[size_t(x)]];
        }
    }
    return handOver(image, destination, result);
}

}  // namespace rendova
