#pragma once

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/raster/BitRow.h"
#include "engine/raster/RasterBitmap.h"
#include "engine/raster/RasterPattern.h"
#include "engine/raster/RasterScreen.h"
#include "engine/raster/RasterTypes.h"

namespace rendova {

// The fast loops of the pixel pipe, for a painter that has no soft mask, no
// group backdrop alpha, no blend routine, no group correction and a colour
// fixed for the whole operation. Under those conditions the pipe's general
// rules reduce to "store the colour" for a source alpha of 255 and to one
// weighted average otherwise; these loops compute exactly that, and tests
// compare them with the general path pixel for pixel.
//
// A run paints columns x0..x1 of one row with one source alpha. Inside a
// non-isolated group backdropRow[x] is the alpha beneath column x (null
// elsewhere).
using SimpleRunFn = void (*)(uint8_t* row, uint8_t* alphaRow, const uint8_t* backdropRow, int x0, int x1,
                             int y, const uint8_t* colour, int aSrc, const RasterScreen* screen);
// An anti-aliased run takes each pixel's source alpha from its coverage
// count (aaAlpha[count], count 0 skipped) out of the four rows of the 1-bit
// buffer, and reports the first and last painted column (first > last when
// nothing was painted).
struct AaRowSet {
    const uint8_t* rows[4];
};
using SimpleAaRunFn = void (*)(uint8_t* row, uint8_t* alphaRow, const uint8_t* backdropRow,
                               const AaRowSet& coverage, int x0, int x1, int y, const uint8_t* colour,
                               const uint8_t* aaAlpha, const RasterScreen* screen, int* first, int* last);

// The pipe's working record for one run of pixels: the source, the alpha
// rules chosen for the operation and running pointers into the target, its
// alpha plane, the soft mask and the group backdrop's alpha plane, advanced
// per pixel. It lives on the stack of one operation of its rasteriser and
// points into that rasteriser's bitmaps; it is neither copied nor kept.
struct SpanPainter {
    SpanPainter() = default;
    SpanPainter(const SpanPainter&) = delete;
    SpanPainter& operator=(const SpanPainter&) = delete;

    int x = 0;
    int y = 0;
    // Asked per pixel into colourBuffer; null when the colour is fixed.
    const RasterPattern* pattern = nullptr;
    // The constant alpha (0 to 1) with a soft mask; 255 x alpha when the
    // shape is used without one.
    double alphaIn = 0;
    int usesShape = 0;
    // floor(255 x alpha + 0.5), used when neither soft mask nor shape applies.
    uint8_t alphaInByte = 0;
    const uint8_t* sourceColour = nullptr;
    uint8_t colourBuffer[3] = {0, 0, 0};
    const uint8_t* groupAlpha = nullptr;
    const uint8_t* softMaskByte = nullptr;
    uint8_t* dest = nullptr;
    // The bit of the current pixel in the 1-bit mode, 128 for the leftmost.
    int destMask = 0;
    uint8_t* destAlpha = nullptr;
    // Coverage of the current pixel, 0 to 1.
    double shape = 1;
    int noTransparency = 0;
    int resultRule = 0;
    // 0 none, 1 one channel, 3 three channels.
    int groupCorrection = 0;

    // Chosen once by initPainter, outside every loop.
    // The soft mask that applies (null when none, or when it does not cover
    // the target), and whether the group backdrop's alpha plane applies.
    const RasterBitmap* softMask = nullptr;
    int useGroupAlpha = 0;
    // Non-zero when the fast loops below give the general rules' result.
    int simple = 0;
    // The run loops, also chosen (non-null) when the only thing that keeps
    // the painter from being simple is the backdrop alpha of a non-isolated
    // group, which they take as well.
    SimpleRunFn simpleRun = nullptr;
    SimpleAaRunFn simpleAaRun = nullptr;
    // The source alpha of an anti-aliased pixel by its coverage count:
    // floor(aaGamma[count] x alphaIn + 0.5), the general rule's own formula.
    uint8_t aaAlpha[17] = {};
};

namespace pipe {

// Eight bytes of a buffer row, whatever their alignment.
inline uint64_t load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Quotients by a byte-sized divisor, as one multiplication instead of a
// division (a few times slower, and the compositing loops do one per
// channel). With m = ceil(2^s / d) = (2^s + e) / d, 0 <= e < d, the product
// v m / 2^s is v / d plus less than v / 2^s, which stays under the distance
// 1 / d from v / d to the next integer while v d < 2^s: then
// floor(v m / 2^s) = floor(v / d) exactly, for every such v.
//
// divideByByte(v, d) = v / d for 0 <= v <= 255 d and 1 <= d <= 255, as in
// the weighted averages of two bytes (v d <= 255 x 255 x 255 < 2^24).
inline constexpr std::array<uint32_t, 256> kByteReciprocals = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t d = 1; d < 256; ++d)
        t[d] = ((uint32_t{1} << 24) + d - 1) / d;
    return t;
}();

inline int divideByByte(int v, int d) {
    return static_cast<int>((static_cast<uint64_t>(v) * kByteReciprocals[d]) >> 24);
}

// v / (255 g), truncated toward zero as C++ divides, for 1 <= g <= 255 and
// |v| <= 255 x 255 x 254 (a colour difference times an alpha times 255 - g):
// |v| x 255 g < 2^40.
inline constexpr std::array<uint64_t, 256> kGroupReciprocals = [] {
    std::array<uint64_t, 256> t{};
    for (uint64_t g = 1; g < 256; ++g)
        t[g] = ((uint64_t{1} << 40) + 255 * g - 1) / (255 * g);
    return t;
}();

inline int divideBy255Times(int v, int g) {
    const int q = static_cast<int>((static_cast<uint64_t>(std::abs(v)) * kGroupReciprocals[g]) >> 40);
    return v < 0 ? -q : q;
}

// Coverage of a 4-bit group of sub-pixels.
constexpr uint8_t kBitCount4[16] = {0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4};

// The number of the 16 sub-pixels of pixel x that the four rows of the
// anti-aliasing buffer cover: four bits per pixel in each row, the high
// nibble of byte x / 2 for an even x, the low one for an odd x.
inline int aaCoverage(const uint8_t* b, int rowSize, int x) {
    const int shift = (x & 1) ? 0 : 4;
    const int byte = x >> 1;
    return kBitCount4[(b[byte] >> shift) & 15] + kBitCount4[(b[rowSize + byte] >> shift) & 15] +
           kBitCount4[(b[2 * rowSize + byte] >> shift) & 15] +
           kBitCount4[(b[3 * rowSize + byte] >> shift) & 15];
}

// A cursor over one row of the target in colour mode Mode: load and store a
// colour (three bytes red, green, blue; the grey modes use the first) and
// step to the next pixel.
template <int Mode>
struct Cursor;

template <>
struct Cursor<rasterMono1> {
    uint8_t* p;
    int mask;
    Cursor(uint8_t* row, int x) : p(row + (x >> 3)), mask(0x80 >> (x & 7)) {}
    void load(uint8_t* c) const { c[0] = (*p & mask) ? 255 : 0; }
    void store(const uint8_t* c, int x, int y, const RasterScreen* screen) {
        if (screen->test(x, y, c[0]))
            *p |= static_cast<uint8_t>(mask);
        else
            *p &= static_cast<uint8_t>(~mask);
    }
    void next() {
        mask >>= 1;
        if (mask == 0) {
            mask = 0x80;
            ++p;
        }
    }
};

template <>
struct Cursor<rasterMono8> {
    uint8_t* p;
    Cursor(uint8_t* row, int x) : p(row + x) {}
    void load(uint8_t* c) const { c[0] = p[0]; }
    void store(const uint8_t* c, int, int, const RasterScreen*) { p[0] = c[0]; }
    void next() { ++p; }
};

template <>
struct Cursor<rasterRGB8> {
    uint8_t* p;
    Cursor(uint8_t* row, int x) : p(row + 3 * static_cast<ptrdiff_t>(x)) {}
    void load(uint8_t* c) const {
        c[0] = p[0];
        c[1] = p[1];
        c[2] = p[2];
    }
    void store(const uint8_t* c, int, int, const RasterScreen*) {
        p[0] = c[0];
        p[1] = c[1];
        p[2] = c[2];
    }
    void next() { p += 3; }
};

template <>
struct Cursor<rasterBGR8> {
    uint8_t* p;
    Cursor(uint8_t* row, int x) : p(row + 3 * static_cast<ptrdiff_t>(x)) {}
    void load(uint8_t* c) const {
        c[0] = p[2];
        c[1] = p[1];
        c[2] = p[0];
    }
    void store(const uint8_t* c, int, int, const RasterScreen*) {
        p[0] = c[2];
        p[1] = c[1];
        p[2] = c[0];
    }
    void next() { p += 3; }
};

// Calls f(i) for each colour channel i of mode Mode, unrolled: the loops
// over one or three channels are not unrolled at the optimisation level we
// build with, and a loop keeps the channels in memory rather than registers.
template <int Mode, typename F>
inline void forChannels(F&& f) {
    f(0);
    if constexpr (Mode >= rasterRGB8) {
        f(1);
        f(2);
    }
}

// One pixel under the simple conditions. The general rules with aDest = 255
// (no alpha plane) give aResult = aSrc + 255 - div255(aSrc x 255) = 255,
// because div255(255 a) = a for every byte a; with aSrc = 255 they give the
// source colour itself whatever aDest is. Inside a non-isolated group
// (Backdrop) the quotient's divisor is the result over the alpha a0 beneath,
// a0 + aResult - div255(a0 x aResult), which is 255 again where aResult is.
template <int Mode, bool HasAlpha, bool Backdrop = false>
inline void paintSimple(Cursor<Mode>& d, uint8_t* alpha, int x, int y, const uint8_t* src, int aSrc,
                        const RasterScreen* screen, const uint8_t* backdrop = nullptr) {
    if (aSrc == 255) {
        d.store(src, x, y, screen);
        if (HasAlpha)
            *alpha = 255;
        return;
    }
    uint8_t out[3] = {0, 0, 0};
    const int a0 = Backdrop ? *backdrop : 0;
    if (HasAlpha && *alpha == 0 && a0 == 0) {
        // Nothing below: aResult is aSrc and the quotient below is the
        // source colour itself, without three divisions per pixel, and the
        // target is not read (on a fresh page, a cache miss each time).
        d.store(aSrc != 0 ? src : out, x, y, screen);
        *alpha = static_cast<uint8_t>(aSrc);
        return;
    }
    uint8_t dc[3];
    d.load(dc);
    if (HasAlpha) {
        const int aDest = *alpha;
        if (aDest == 255) {
            // aResult is 255 (as without an alpha plane): a constant divisor.
            forChannels<Mode>(
                [&](int i) { out[i] = static_cast<uint8_t>(((255 - aSrc) * dc[i] + aSrc * src[i]) / 255); });
            d.store(out, x, y, screen);
            return;
        }
        const int aResult = aSrc + aDest - div255(aSrc * aDest);
        const int divisor = Backdrop ? a0 + aResult - div255(a0 * aResult) : aResult;
        if (divisor != 0) {
            forChannels<Mode>([&](int i) {
                out[i] =
                    static_cast<uint8_t>(divideByByte((divisor - aSrc) * dc[i] + aSrc * src[i], divisor));
            });
        }
        *alpha = static_cast<uint8_t>(aResult);
    } else {
        forChannels<Mode>(
            [&](int i) { out[i] = static_cast<uint8_t>(((255 - aSrc) * dc[i] + aSrc * src[i]) / 255); });
    }
    d.store(out, x, y, screen);
}

// Opaque colour into columns x0..x1: whole bytes where the layout allows.
template <int Mode, bool HasAlpha>
inline void storeRun(uint8_t* row, uint8_t* alphaRow, int x0, int x1, int y, const uint8_t* c,
                     const RasterScreen* screen) {
    const size_t n = static_cast<size_t>(x1 - x0 + 1);
    if constexpr (Mode == rasterMono1) {
        // The screen's answer is the same for every pixel when the grey lies
        // below its smallest or at or above its largest threshold.
        if (c[0] < screen->minValue()) {
            clearBitRange(row, x0, x1);
        } else if (c[0] >= screen->maxValue()) {
            setBitRange(row, x0, x1);
        } else {
            Cursor<Mode> d(row, x0);
            for (int x = x0; x <= x1; ++x, d.next())
                d.store(c, x, y, screen);
        }
    } else if constexpr (Mode == rasterMono8) {
        std::memset(row + x0, c[0], n);
    } else {
        uint8_t* p = row + 3 * static_cast<ptrdiff_t>(x0);
        if (c[0] == c[1] && c[1] == c[2]) {
            std::memset(p, c[0], 3 * n);
        } else {
            const uint8_t b0 = Mode == rasterRGB8 ? c[0] : c[2];
            const uint8_t b2 = Mode == rasterRGB8 ? c[2] : c[0];
            for (size_t i = 0; i < n; ++i, p += 3) {
                p[0] = b0;
                p[1] = c[1];
                p[2] = b2;
            }
        }
    }
    if (HasAlpha)
        std::memset(alphaRow + x0, 255, n);
}

// The colour of a 24-bit pixel as it is stored, its alpha and the alpha
// beneath it, in one word: the whole input of a pixel of a run besides the
// run's fixed colour and alpha.
template <bool HasAlpha, bool Backdrop>
inline uint64_t pixelKey(const uint8_t* p, const uint8_t* alpha, const uint8_t* backdrop) {
    uint64_t key = p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16);
    if (HasAlpha)
        key |= uint64_t{*alpha} << 24;
    if (Backdrop)
        key |= uint64_t{*backdrop} << 32;
    return key;
}

// Colour at one source alpha into columns x0..x1. The result of a pixel
// depends only on its own bytes (and the alpha beneath), and in flat
// artwork neighbours hold the same ones: a 24-bit pixel that repeats its
// left neighbour's input takes that neighbour's result, as the arithmetic
// would give it again.
template <int Mode, bool HasAlpha, bool Backdrop>
inline void blendRun(uint8_t* row, uint8_t* alphaRow, const uint8_t* backdropRow, int x0, int x1, int y,
                     const uint8_t* colour, int aSrc, const RasterScreen* screen) {
    Cursor<Mode> d(row, x0);
    uint8_t* a = HasAlpha ? alphaRow + x0 : nullptr;
    if constexpr (Mode >= rasterRGB8) {
        uint64_t lastKey = ~uint64_t{0};  // no pixel's key has the top bits set
        uint8_t result[4] = {0, 0, 0, 0};
        for (int x = x0; x <= x1; ++x, d.next()) {
            const uint8_t* backdrop = Backdrop ? backdropRow + x : nullptr;
            const uint64_t key = pixelKey<HasAlpha, Backdrop>(d.p, a, backdrop);
            if (key == lastKey) {
                std::memcpy(d.p, result, 3);
                if (HasAlpha)
                    *a = result[3];
            } else {
                paintSimple<Mode, HasAlpha, Backdrop>(d, a, x, y, colour, aSrc, screen, backdrop);
                lastKey = key;
                std::memcpy(result, d.p, 3);
                if (HasAlpha)
                    result[3] = *a;
            }
            if (HasAlpha)
                ++a;
        }
    } else {
        for (int x = x0; x <= x1; ++x, d.next()) {
            paintSimple<Mode, HasAlpha, Backdrop>(d, a, x, y, colour, aSrc, screen,
                                                  Backdrop ? backdropRow + x : nullptr);
            if (HasAlpha)
                ++a;
        }
    }
}

template <int Mode, bool HasAlpha, bool Backdrop>
void simpleRun(uint8_t* row, uint8_t* alphaRow, const uint8_t* backdropRow, int x0, int x1, int y,
               const uint8_t* colour, int aSrc, const RasterScreen* screen) {
    if (aSrc == 255) {
        storeRun<Mode, HasAlpha>(row, alphaRow, x0, x1, y, colour, screen);
        return;
    }
    blendRun<Mode, HasAlpha, Backdrop>(row, alphaRow, backdropRow, x0, x1, y, colour, aSrc, screen);
}

template <int Mode, bool HasAlpha, bool Backdrop>
void simpleAaRun(uint8_t* row, uint8_t* alphaRow, const uint8_t* backdropRow, const AaRowSet& coverage,
                 int x0, int x1, int y, const uint8_t* colour, const uint8_t* aaAlpha,
                 const RasterScreen* screen, int* first, int* last) {
    const uint8_t* b0 = coverage.rows[0];
    const uint8_t* b1 = coverage.rows[1];
    const uint8_t* b2 = coverage.rows[2];
    const uint8_t* b3 = coverage.rows[3];
    const int full = aaAlpha[16];
    int painted0 = x1 + 1, painted1 = x0 - 1;
    int x = x0;
    while (x <= x1) {
        if ((x & 1) == 0 && x < x1) {
            // Two pixels per buffer byte: whole bytes covered on all four
            // sub-rows are runs of full coverage, empty ones are skipped.
            int e = x >> 1;
            const int eEnd = (x1 + 1) >> 1;  // bytes wholly inside x..x1
            while (e + 8 <= eEnd &&
                   (load64(b0 + e) & load64(b1 + e) & load64(b2 + e) & load64(b3 + e)) == ~uint64_t{0})
                e += 8;
            while (e < eEnd && (b0[e] & b1[e] & b2[e] & b3[e]) == 0xff)
                ++e;
            if (e > x >> 1) {
                const int runEnd = 2 * e - 1;
                if (full == 255) {
                    storeRun<Mode, HasAlpha>(row, alphaRow, x, runEnd, y, colour, screen);
                } else {
                    blendRun<Mode, HasAlpha, Backdrop>(row, alphaRow, backdropRow, x, runEnd, y, colour, full,
                                                       screen);
                }
                if (x < painted0)
                    painted0 = x;
                painted1 = runEnd;
                x = runEnd + 1;
                continue;
            }
            // Empty stretches, eight bytes (16 pixels) at a time where they
            // can.
            while (e + 8 <= eEnd && (load64(b0 + e) | load64(b1 + e) | load64(b2 + e) | load64(b3 + e)) == 0)
                e += 8;
            while (e < eEnd && (b0[e] | b1[e] | b2[e] | b3[e]) == 0)
                ++e;
            if (e > x >> 1) {
                x = 2 * e;
                continue;
            }
        }
        const int byte = x >> 1;
        const int shift = (x & 1) ? 0 : 4;
        const int t = kBitCount4[(b0[byte] >> shift) & 15] + kBitCount4[(b1[byte] >> shift) & 15] +
                      kBitCount4[(b2[byte] >> shift) & 15] + kBitCount4[(b3[byte] >> shift) & 15];
        if (t != 0) {
            Cursor<Mode> d(row, x);
            paintSimple<Mode, HasAlpha, Backdrop>(d, HasAlpha ? alphaRow + x : nullptr, x, y, colour,
                                                  aaAlpha[t], screen, Backdrop ? backdropRow + x : nullptr);
            if (x < painted0)
                painted0 = x;
            painted1 = x;
        }
        ++x;
    }
    *first = painted0;
    *last = painted1;
}

// The loops for one colour mode, alpha plane and backdrop, picked once per
// operation.
template <template <int, bool, bool> class Pick>
inline auto selectRun(int mode, bool hasAlpha, bool backdrop) {
    auto forMode = [&]<int Mode>() {
        if (hasAlpha)
            return backdrop ? Pick<Mode, true, true>::fn : Pick<Mode, true, false>::fn;
        return backdrop ? Pick<Mode, false, true>::fn : Pick<Mode, false, false>::fn;
    };
    switch (mode) {
        case rasterMono1:
            return forMode.template operator()<rasterMono1>();
        case rasterMono8:
            return forMode.template operator()<rasterMono8>();
        case rasterRGB8:
            return forMode.template operator()<rasterRGB8>();
        default:
            return forMode.template operator()<rasterBGR8>();
    }
}

template <int Mode, bool HasAlpha, bool Backdrop>
struct PickSimpleRun {
    static constexpr SimpleRunFn fn = simpleRun<Mode, HasAlpha, Backdrop>;
};

template <int Mode, bool HasAlpha, bool Backdrop>
struct PickSimpleAaRun {
    static constexpr SimpleAaRunFn fn = simpleAaRun<Mode, HasAlpha, Backdrop>;
};

inline SimpleRunFn selectSimpleRun(int mode, bool hasAlpha, bool backdrop) {
    return selectRun<PickSimpleRun>(mode, hasAlpha, backdrop);
}

inline SimpleAaRunFn selectSimpleAaRun(int mode, bool hasAlpha, bool backdrop) {
    return selectRun<PickSimpleAaRun>(mode, hasAlpha, backdrop);
}

}  // namespace pipe

}  // namespace rendova
