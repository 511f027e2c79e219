// The JPEG 2000 decoder's reconstruction of a tile: code-blocks into the
// sub-bands, dequantisation, the inverse wavelet by lifting (T.800 F.3), the
// inverse component transform (G.2, G.3) and the level shift with clipping.
#include <algorithm>
#include <cmath>
#include <cstdint>
#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include "engine/core/ErrorReport.h"
#include "engine/core/Jpeg2000CodeBlock.h"
#include "engine/core/Jpeg2000Decoder.h"

namespace rendova {

namespace {

// 9/7 lifting constants (T.800 table F.4) and the scaling K.
constexpr float kAlpha = -1.586134342059924f;
constexpr float kBeta = -0.052980118572961f;
constexpr float kGamma = 0.882911075530934f;
constexpr float kDelta = 0.443506852043971f;
constexpr float kK = 1.230174104914001f;
constexpr float kInverseK = 0.812893066115960905f;

// Damaged data can drive any value far outside the sample range, so the sums
// wrap (unsigned) rather than overflow.
inline int32_t wrapAdd(int32_t a, int32_t b) {
    return int32_t(uint32_t(a) + uint32_t(b));
}

// Lines are synthesised G at a time: the columns of a group lie side by
// side in the work buffer (element k of line j at k * G + j), so that the
// column pass reads whole cache lines and the lifting loops vectorise. Rows
// go through with G = 1.

// The symmetric extension by one sample at both ends, which every lifting
// step reads; x[-G .. -1] and x[n * G .. n * G + G - 1] must be writable.
template <int G, typename T>
inline void extend(T* x, int n) {
    for (int j = 0; j < G; ++j) {
        x[j - G] = x[G + j];
        x[n * G + j] = x[(n - 2) * G + j];
    }
}

// The reversible 5/3 synthesis of G lines in place. Element k of a line is a
// low-pass sample when first + k is even.
template <int G>
void synthesize53(int32_t* x, int n, int first) {
    if (n == 1) {
        // A lone odd sample was doubled by the analysis.
        if (first & 1) {
            for (int j = 0; j < G; ++j)
                x[j] /= 2;
        }
        return;
    }
    const int low = first & 1;  // index of the first low-pass sample
    extend<G>(x, n);
    for (int k = low; k < n; k += 2) {
        int32_t* p = x + k * G;
        for (int j = 0; j < G; ++j)
            p[j] = wrapAdd(p[j], -(wrapAdd(wrapAdd(p[j - G], p[j + G]), 2) >> 2));
    }
    extend<G>(x, n);
    for (int k = 1 - low; k < n; k += 2) {
        int32_t* p = x + k * G;
        for (int j = 0; j < G; ++j)
            p[j] = wrapAdd(p[j], wrapAdd(p[j - G], p[j + G]) >> 1);
    }
}

// The irreversible 9/7 synthesis of G lines in place, alike.
template <int G>
void synthesize97(float* x, int n, int first) {
    if (n == 1)
        return;
    const int low = first & 1;
    for (int k = 0; k < n; ++k) {
        const float scale = ((k + low) & 1) ? kInverseK : kK;
        for (int j = 0; j < G; ++j)
            x[k * G + j] *= scale;
    }
    auto lift = [x, n](int start, float factor) {
        extend<G>(x, n);
        for (int k = start; k < n; k += 2) {
            float* p = x + k * G;
            for (int j = 0; j < G; ++j)
                p[j] -= factor * (p[j - G] + p[j + G]);
        }
    };
    lift(low, kDelta);
    lift(1 - low, kGamma);
    lift(low, kBeta);
    lift(1 - low, kAlpha);
}

// Gathers G lines of n samples (G adjacent columns, or one row with G = 1)
// into line, interleaving the low-pass samples, which lie first, with the
// high-pass ones by the parity of the first sample; step is the distance
// between a line's samples.
template <int G, typename T>
void interleave(const T* in, size_t step, int n, int first, T* line) {
    const int lowCount = (n + 1 - (first & 1)) / 2;
    const T* low = in;
    const T* high = in + size_t(lowCount) * step;
    for (int k = 0; k < n; ++k) {
        const T*& from = ((first + k) & 1) == 0 ? low : high;
        for (int j = 0; j < G; ++j)
            line[k * G + j] = from[j];
        from += step;
    }
}

// The same for G rows of n samples, stride apart: element k of row j goes
// to line[k * G + j].
template <int G, typename T>
void interleaveRows(const T* rows, size_t stride, int n, int first, T* line) {
    const int lowCount = (n + 1 - (first & 1)) / 2;
    int low = 0, high = lowCount;
    for (int k = 0; k < n; ++k) {
        const int from = ((first + k) & 1) == 0 ? low++ : high++;
        for (int j = 0; j < G; ++j)
            line[k * G + j] = rows[size_t(j) * stride + size_t(from)];
    }
}

// Work buffer entries for lines of up to n samples: G of them each, and one
// line's worth at both ends for the extension.
constexpr size_t kGroup = 8;
inline size_t workSize(size_t n) {
    return (n + 2) * kGroup;
}

template <typename T>
void inverseLevel(T* data, int stride, int width, int height, int firstX, int firstY, T* work,
                  void (*group)(T*, int, int), void (*single)(T*, int, int)) {
    constexpr int G = int(kGroup);
    if (width > 0) {
        // Rows G at a time too, gathered side by side.
        int y = 0;
        for (; y + G <= height; y += G) {
            T* rows = data + size_t(y) * size_t(stride);
            T* line = work + G;
            interleaveRows<G>(rows, size_t(stride), width, firstX, line);
            group(line, width, firstX);
            for (int k = 0; k < width; ++k)
                for (int j = 0; j < G; ++j)
                    rows[size_t(j) * size_t(stride) + size_t(k)] = line[k * G + j];
        }
        T* line = work + 1;
        for (; y < height; ++y) {
            T* row = data + size_t(y) * size_t(stride);
            interleave<1>(row, 1, width, firstX, line);
            single(line, width, firstX);
            std::copy(line, line + width, row);
        }
    }
    if (height > 0) {
        T* line = work + G;
        int x = 0;
        for (; x + G <= width; x += G) {
            T* columns = data + x;
            interleave<G>(columns, size_t(stride), height, firstY, line);
            group(line, height, firstY);
            for (int y = 0; y < height; ++y)
                std::copy(line + y * G, line + y * G + G, columns + size_t(y) * size_t(stride));
        }
        for (; x < width; ++x) {
            T* column = data + x;
            interleave<1>(column, size_t(stride), height, firstY, work + 1);
            single(work + 1, height, firstY);
            for (int y = 0; y < height; ++y)
                column[size_t(y) * size_t(stride)] = work[1 + y];
        }
    }
}

// What a component's samples come out as: the level shift added to
// unsigned ones, and the range of their precision.
struct SampleRange {
    int64_t shift, low, high;
};

SampleRange sampleRange(bool isSigned, int precision) {
    const int64_t half = int64_t(1) << (precision - 1);
    const int64_t low = isSigned ? -half : 0;
    return {isSigned ? 0 : half, low, low + 2 * half - 1};
}

int32_t clipSample(int64_t v, int64_t low, int64_t high) {
    return int32_t(v < low ? low : v > high ? high : v);
}

int32_t roundSample(float v, int64_t low, int64_t high) {
    // NaN and values out of range go to the nearest limit.
    if (!(v >= float(low)))
        return int32_t(low);
    if (v >= float(high))
        return int32_t(high);
        // Nearest, ties to even. lrint is a call unless math errors are off; the
        // SSE conversion is the same rounding in one instruction (v is within
        // the 32-bit range here).
#if defined(__SSE__)
    return clipSample(_mm_cvtss_si32(_mm_set_ss(v)), low, high);
#else
    return clipSample(int64_t(std::lrint(v)), low, high);
#endif
}

}  // namespace

void Jpeg2000Decoder::decodeBlock(const Tile& tile, TileComponent& comp, const SubBand& band,
                                  const CodeBlock& block, bool reversible) {
    const int width = block.x1 - block.x0;
    const int height = block.y1 - block.y0;
    if (width <= 0 || height <= 0 || block.passes == 0 || block.chunks.empty())
        return;
    const int startPlane = band.bitPlanes - 1 - block.zeroPlanes;
    if (startPlane < 0)
        return;
    // The chunks of a codeword segment from several layers are joined.
    m_blockData.clear();
    m_blockSegments.clear();
    for (const Chunk& chunk : block.chunks) {
        if (m_blockData.size() + chunk.length > size_t(INT32_MAX))
            return;  // the decoders count their segments in ints
        if (m_blockSegments.empty() || m_blockSegments.back().firstPass != chunk.segment)
            m_blockSegments.push_back({nullptr, 0, chunk.segment});
        m_blockSegments.back().length += int(chunk.length);
        m_blockData.insert(m_blockData.end(), tile.data.begin() + chunk.offset,
                           tile.data.begin() + chunk.offset + chunk.length);
    }
    const uint8_t* data = m_blockData.data();
    for (Jpeg2000CodeBlock::Segment& segment : m_blockSegments) {
        segment.data = data;
        data += segment.length;
    }
    m_blockValues.resize(size_t(width) * size_t(height));
    if (!m_codeBlock)
        m_codeBlock = std::make_unique<Jpeg2000CodeBlock>();
    m_codeBlock->decode(m_blockSegments.data(), int(m_blockSegments.size()), width, height, band.orientation,
                        comp.style.blockStyle, startPlane, std::min(block.passes, 3 * (startPlane + 1) - 2),
                        m_blockValues.data());

    const size_t stride = size_t(comp.width());
    const size_t x = size_t(band.offsetX + block.x0 - band.x0);
    const size_t y = size_t(band.offsetY + block.y0 - band.y0);
    const int32_t* in = m_blockValues.data();
    if (reversible) {
        for (int j = 0; j < height; ++j) {
            int32_t* out = comp.samples.data() + (y + size_t(j)) * stride + x;
            for (int i = 0; i < width; ++i) {
                // Halved, rounding toward zero: the magnitude is halved.
                const int32_t v = in[i];
                out[i] = v < 0 ? -(-v >> 1) : v >> 1;
            }
            in += width;
        }
    } else {
        const float step = band.step * 0.5f;
        for (int j = 0; j < height; ++j) {
            float* out = comp.real.data() + (y + size_t(j)) * stride + x;
            for (int i = 0; i < width; ++i)
                out[i] = float(in[i]) * step;
            in += width;
        }
    }
}

void Jpeg2000Decoder::inverseWavelet(TileComponent& comp, bool reversible, std::vector<int32_t>& intLine,
                                     std::vector<float>& realLine) {
    const int stride = comp.width();
    const size_t lineSize = workSize(size_t(std::max(comp.width(), comp.height())));
    for (size_t r = 1; r < comp.resolutions.size(); ++r) {
        const Resolution& res = comp.resolutions[r];
        const int width = res.x1 - res.x0;
        const int height = res.y1 - res.y0;
        if (reversible) {
            intLine.resize(lineSize);
            inverseLevel(comp.samples.data(), stride, width, height, res.x0, res.y0, intLine.data(),
                         synthesize53<int(kGroup)>, synthesize53<1>);
        } else {
            realLine.resize(lineSize);
            inverseLevel(comp.real.data(), stride, width, height, res.x0, res.y0, realLine.data(),
                         synthesize97<int(kGroup)>, synthesize97<1>);
        }
    }
}

namespace {

template <typename Component>
bool hasCodedData(const Component& comp) {
    for (const auto& res : comp.resolutions)
        for (int b = 0; b < res.bandCount; ++b)
            for (const auto& block : res.bands[b].blocks)
                if (block.passes > 0 && !block.chunks.empty())
                    return true;
    return false;
}

}  // namespace

// The inverse component transform of the first three components, with
// their level shift and clipping, in one pass.
void Jpeg2000Decoder::inverseComponentTransform(Tile& tile) {
    TileComponent& c0 = tile.comps[0];
    TileComponent& c1 = tile.comps[1];
    TileComponent& c2 = tile.comps[2];
    const size_t count = size_t(c0.width()) * size_t(c0.height());
    int64_t shift[3], low[3], high[3];
    for (int c = 0; c < 3; ++c) {
        const SampleRange r = sampleRange(m_signed[size_t(c)], m_precision[size_t(c)]);
        shift[c] = r.shift;
        low[c] = r.low;
        high[c] = r.high;
    }
    if (c0.style.wavelet == 1) {
        int32_t* a = c0.samples.data();
        int32_t* b = c1.samples.data();
        int32_t* d = c2.samples.data();
        for (size_t i = 0; i < count; ++i) {
            const int64_t y = a[i], cb = b[i], cr = d[i];
            const int64_t g = y - ((cb + cr) >> 2);
            a[i] = clipSample(cr + g + shift[0], low[0], high[0]);
            b[i] = clipSample(g + shift[1], low[1], high[1]);
            d[i] = clipSample(cb + g + shift[2], low[2], high[2]);
        }
    } else {
        c0.samples.resize(count);
        c1.samples.resize(count);
        c2.samples.resize(count);
        const float* a = c0.real.data();
        const float* b = c1.real.data();
        const float* d = c2.real.data();
        for (size_t i = 0; i < count; ++i) {
            const float y = a[i], cb = b[i], cr = d[i];
            c0.samples[i] = roundSample(y + 1.402f * cr + float(shift[0]), low[0], high[0]);
            c1.samples[i] = roundSample(y - 0.34413f * cb - 0.71414f * cr + float(shift[1]), low[1], high[1]);
            c2.samples[i] = roundSample(y + 1.772f * cb + float(shift[2]), low[2], high[2]);
        }
        c0.real = {};
        c1.real = {};
        c2.real = {};
    }
}

bool Jpeg2000Decoder::decodeTile(Tile& tile) {
    // A component without coded data is all zero coefficients and so one
    // value throughout: it needs no arrays (a small file may declare a
    // large image and send nothing for it).
    std::vector<bool> coded(tile.comps.size());
    for (size_t c = 0; c < tile.comps.size(); ++c)
        coded[c] = hasCodedData(tile.comps[c]);
    if (tile.transform && (coded[0] || coded[1] || coded[2]))
        coded[0] = coded[1] = coded[2] = true;
    for (size_t c = 0; c < tile.comps.size(); ++c) {
        TileComponent& comp = tile.comps[c];
        comp.fill = int32_t(sampleRange(m_signed[c], m_precision[c]).shift);
    }
    std::vector<int32_t> intLine;
    std::vector<float> realLine;
    for (size_t c = 0; c < tile.comps.size(); ++c) {
        TileComponent& comp = tile.comps[c];
        if (!coded[c])
            continue;
        const bool reversible = comp.style.wavelet == 1;
        const size_t count = size_t(std::max(comp.width(), 0)) * size_t(std::max(comp.height(), 0));
        if (reversible)
            comp.samples.assign(count, 0);
        else
            comp.real.assign(count, 0.0f);
        if (count == 0)
            continue;
        for (Resolution& res : comp.resolutions) {
            for (int b = 0; b < res.bandCount; ++b) {
                const SubBand& band = res.bands[b];
                for (const CodeBlock& block : band.blocks)
                    decodeBlock(tile, comp, band, block, reversible);
            }
        }
        inverseWavelet(comp, reversible, intLine, realLine);
    }

    // The component transform, level shift and clipping in one pass.
    const size_t transformed = tile.transform && coded[0] ? 3 : 0;
    if (transformed) {
        inverseComponentTransform(tile);
    }
    for (size_t c = transformed; c < tile.comps.size(); ++c) {
        TileComponent& comp = tile.comps[c];
        if (!coded[c])
            continue;
        const auto [shift, low, high] = sampleRange(m_signed[c], m_precision[c]);
        if (comp.style.wavelet == 1) {
            for (int32_t& v : comp.samples)
                v = clipSample(int64_t(v) + shift, low, high);
        } else {
            comp.samples.resize(comp.real.size());
            for (size_t i = 0; i < comp.real.size(); ++i)
                comp.samples[i] = roundSample(comp.real[i] + float(shift), low, high);
            comp.real = {};
        }
    }
    tile.ok = true;
    return true;
}

}  // namespace rendova
