// Compositing another bitmap onto the target, blending the target over a
// background colour, and copying rectangles between bitmaps.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/raster/BitRow.h"
#include "engine/raster/RasterModeDispatch.h"
#include "engine/raster/Rasteriser.h"

namespace rendova {

namespace {

// Cuts the w x h rectangle at (xSrc, ySrc) in the source and (xDest, yDest)
// in the target to the part that lies inside both bitmaps; false when
// nothing is left. In 64-bit, so that no offset or size can wrap.
bool cutToBoth(const RasterBitmap& source, const RasterBitmap& target, int& xSrc, int& ySrc, int& xDest,
               int& yDest, int& w, int& h) {
    int64_t xs = xSrc, ys = ySrc, xd = xDest, yd = yDest, ww = w, hh = h;
    auto cutAxis = [](int64_t& s, int64_t& d, int64_t& size, int64_t sourceSize, int64_t targetSize) {
        if (s < 0) {
            d -= s;
            size += s;
            s = 0;
        }
        if (d < 0) {
            s -= d;
            size += d;
            d = 0;
        }
        size = std::min({size, sourceSize - s, targetSize - d});
    };
    cutAxis(xs, xd, ww, source.width(), target.width());
    cutAxis(ys, yd, hh, source.height(), target.height());
    if (ww <= 0 || hh <= 0)
        return false;
    xSrc = static_cast<int>(xs);
    ySrc = static_cast<int>(ys);
    xDest = static_cast<int>(xd);
    yDest = static_cast<int>(yd);
    w = static_cast<int>(ww);
    h = static_cast<int>(hh);
    return true;
}

// The fixed part of a composite that takes the fast rows below, and the
// target's rows of the one being painted.
struct CompositeRows {
    uint8_t aSrc[256];
    uint8_t g[256];
    // With a soft mask the source alpha is floor(shapeAlpha[a] x m + 0.5)
    // for the mask byte m, as the general rule computes it.
    double shapeAlpha[256];
    const RasterBitmap* source = nullptr;
    int xSrc = 0, ySrc = 0, xDest = 0, yDest = 0, w = 0, h = 0;
    const RasterScreen* screen = nullptr;
    uint8_t* row = nullptr;
    uint8_t* alphaRow = nullptr;
    const uint8_t* backdropRow = nullptr;
    // The soft mask's row, indexed by the target's column; null when none.
    const uint8_t* maskRow = nullptr;
};

// One pixel of a non-isolated group (with its own alpha g) composited onto
// its target, without blend routine or soft mask: paintPixel's rules with
// the group correction. Without a target alpha plane the group drew as over
// nothing and needs none; with aSrc 255 the group's alpha is 255 and the
// correction's factor (255 - g) is 0.
template <int Mode, bool HasAlpha, bool Backdrop>
inline void paintCorrected(pipe::Cursor<Mode>& d, uint8_t* alpha, const uint8_t* backdrop, int x, int y,
                           const uint8_t* src, int aSrc, int g, const RasterScreen* screen) {
    if (!HasAlpha || (aSrc == 255 && g == 255)) {
        pipe::paintSimple<Mode, HasAlpha, Backdrop>(d, alpha, x, y, src, aSrc, screen, backdrop);
        return;
    }
    const int aDest = *alpha;
    const int a0 = Backdrop ? *backdrop : 0;
    const int aResult = aSrc + aDest - div255(aSrc * aDest);
    const int divisor = Backdrop ? a0 + aResult - div255(a0 * aResult) : aResult;
    uint8_t dc[3];
    d.load(dc);
    uint8_t out[3] = {0, 0, 0};
    if (aSrc == 0) {
        // The quotient below is the target's own colour, (divisor x c) /
        // divisor, whatever the correction did to the source.
        if (divisor != 0) {
            if (Mode != rasterMono1)
                return;
            pipe::forChannels<Mode>([&](int i) { out[i] = dc[i]; });
        }
        d.store(out, x, y, screen);
        return;
    }
    uint8_t cs[3] = {src[0], src[1], src[2]};
    const int aBackdrop = Backdrop ? a0 + aDest - div255(a0 * aDest) : aDest;
    if (g != 0 && aBackdrop != 0) {
        pipe::forChannels<Mode>([&](int i) {
            const int v = src[i] + pipe::divideBy255Times((src[i] - dc[i]) * aBackdrop * (255 - g), g);
            cs[i] = static_cast<uint8_t>(std::clamp(v, 0, 255));
        });
    }
    if (divisor != 0) {
        pipe::forChannels<Mode>([&](int i) {
            out[i] =
                static_cast<uint8_t>(pipe::divideByByte((divisor - aSrc) * dc[i] + aSrc * cs[i], divisor));
        });
    }
    d.store(out, x, y, screen);
    *alpha = static_cast<uint8_t>(aResult);
}

template <int Mode, bool HasAlpha, bool Backdrop, bool Correct>
inline void compositePixel(const CompositeRows& job, pipe::Cursor<Mode>& d, uint8_t* alpha,
                           const uint8_t* backdrop, int x, int y, const uint8_t* colour, int a) {
    const int aSrc =
        job.maskRow ? static_cast<int>(std::floor(job.shapeAlpha[a] * job.maskRow[x] + 0.5)) : job.aSrc[a];
    if (Correct)
        paintCorrected<Mode, HasAlpha, Backdrop>(d, alpha, backdrop, x, y, colour, aSrc, job.g[a],
                                                 job.screen);
    else
        pipe::paintSimple<Mode, HasAlpha, Backdrop>(d, alpha, x, y, colour, aSrc, job.screen, backdrop);
}

// Row dy of a composite under the fast conditions: the source read in place
// (it has the target's mode), and the group correction when Correct. As in
// the run loops, a 24-bit pixel whose whole input (source colour and alpha,
// target colour and alpha, the alpha beneath) repeats its left neighbour's
// takes that neighbour's result.
template <int Mode, bool HasAlpha, bool Backdrop, bool Correct>
void compositeRow(const CompositeRows& job, int dy) {
    const RasterBitmap& source = *job.source;
    const int y = job.yDest + dy;
    const int ySrc = job.ySrc + dy;
    pipe::Cursor<Mode> s(source.data() + static_cast<ptrdiff_t>(ySrc) * source.rowSize(), job.xSrc);
    const uint8_t* srcAlphaRow =
        source.alpha() ? source.alpha() + static_cast<ptrdiff_t>(ySrc) * source.width() + job.xSrc : nullptr;
    pipe::Cursor<Mode> d(job.row, job.xDest);
    uint8_t colour[3] = {0, 0, 0};
    if constexpr (Mode >= rasterRGB8) {
        uint64_t lastKey = ~uint64_t{0};  // no target key has the top bits set
        uint32_t lastSource = 0;
        uint8_t result[4] = {0, 0, 0, 0};
        // An opaque source pixel takes the target's place, and a clear one
        // leaves it as it is but for the colour of a pixel clear itself (as
        // the general rules' first cases do): a run of either is done at
        // once.
        const bool copyOpaque = !Correct && !job.maskRow;
        for (int dx = 0; dx < job.w; ++dx, d.next(), s.next()) {
            const int x = job.xDest + dx;
            const int a = srcAlphaRow ? srcAlphaRow[dx] : 0;
            if (!Correct && srcAlphaRow && a == 0) {
                int end = dx + 1;
                while (end < job.w && srcAlphaRow[end] == 0)
                    ++end;
                if (HasAlpha) {
                    for (int k = dx; k < end; ++k) {
                        const int xk = job.xDest + k;
                        if (job.alphaRow[xk] == 0 && (!Backdrop || job.backdropRow[xk] == 0))
                            std::memset(d.p + (k - dx) * 3, 0, 3);
                    }
                }
                d.p += (end - dx - 1) * 3;
                s.p += (end - dx - 1) * 3;
                dx = end - 1;
                continue;
            }
            if (copyOpaque && job.aSrc[a] == 255) {
                int end = dx + 1;
                while (end < job.w && job.aSrc[srcAlphaRow ? srcAlphaRow[end] : 0] == 255)
                    ++end;
                std::memcpy(d.p, s.p, size_t(end - dx) * 3);
                if (HasAlpha)
                    std::memset(job.alphaRow + x, 255, size_t(end - dx));
                d.p += (end - dx - 1) * 3;
                s.p += (end - dx - 1) * 3;
                dx = end - 1;
                continue;
            }
            uint8_t* alpha = HasAlpha ? job.alphaRow + x : nullptr;
            const uint8_t* backdrop = Backdrop ? job.backdropRow + x : nullptr;
            const uint64_t key = pipe::pixelKey<HasAlpha, Backdrop>(d.p, alpha, backdrop) |
                                 (job.maskRow ? uint64_t{job.maskRow[x]} << 40 : 0);
            const uint32_t sourceKey = s.p[0] | (uint32_t{s.p[1]} << 8) | (uint32_t{s.p[2]} << 16) |
                                       (static_cast<uint32_t>(a) << 24);
            if (key == lastKey && sourceKey == lastSource) {
                std::memcpy(d.p, result, 3);
                if (HasAlpha)
                    *alpha = result[3];
                continue;
            }
            s.load(colour);
            compositePixel<Mode, HasAlpha, Backdrop, Correct>(job, d, alpha, backdrop, x, y, colour, a);
            lastKey = key;
            lastSource = sourceKey;
            std::memcpy(result, d.p, 3);
            if (HasAlpha)
                result[3] = *alpha;
        }
    } else {
        for (int dx = 0; dx < job.w; ++dx, d.next(), s.next()) {
            const int x = job.xDest + dx;
            s.load(colour);
            compositePixel<Mode, HasAlpha, Backdrop, Correct>(job, d, HasAlpha ? job.alphaRow + x : nullptr,
                                                              Backdrop ? job.backdropRow + x : nullptr, x, y,
                                                              colour, srcAlphaRow ? srcAlphaRow[dx] : 0);
        }
    }
}

}  // namespace

int Rasteriser::composite(const RasterBitmap& source, int xSrc, int ySrc, int xDest, int yDest, int w, int h,
                          bool noClip, bool nonIsolated) {
    if (source.mode() != m_bitmap->mode())
        return resultModeMismatch;
    // The caller's rectangle is cut to both bitmaps: pixels outside either
    // have nothing to read or nowhere to go.
    if (!cutToBoth(source, *m_bitmap, xSrc, ySrc, xDest, yDest, w, h))
        return resultOk;

    RasterClip& clip = m_state->clip();
    // Without clip paths the clip is its rectangle: cutting the rectangle to
    // it leaves pixels that all pass the test. A rectangle wholly inside the
    // clip needs no per-pixel test either.
    if (!noClip && clip.length() == 0) {
        const int x0 = std::max(xDest, clip.xMinI()), y0 = std::max(yDest, clip.yMinI());
        const int x1 = std::min(xDest + w - 1, clip.xMaxI()), y1 = std::min(yDest + h - 1, clip.yMaxI());
        if (x0 > x1 || y0 > y1)
            return resultOk;
        xSrc += x0 - xDest;
        ySrc += y0 - yDest;
        xDest = x0;
        yDest = y0;
        w = x1 - x0 + 1;
        h = y1 - y0 + 1;
    }
    const bool tested =
        !noClip && clip.length() > 0 && clip.testRect(xDest, yDest, xDest + w - 1, yDest + h - 1) != 0;
    // Through an anti-aliased clip each pixel takes the clip's coverage of
    // it as its shape: a bitmap painted without anti-aliasing (the pieces of
    // a shading, which must meet without seams) gets the clip's smooth edge.
    const bool covered = tested && clip.antialias() && m_aaBuffer;
    const uint8_t* sourceAlpha = source.alpha();
    uint8_t colour[3] = {0, 0, 0};
    SpanPainter p;
    initPainter(p, xDest, yDest, nullptr, colour, m_state->fillAlpha(), sourceAlpha || covered ? 1 : 0,
                nonIsolated);

    // The fast rows take everything but a blend routine.
    if (!m_state->blendFunction() && !m_referencePipe) {
        compositeRows(source, xSrc, ySrc, xDest, yDest, w, h, p, colour, tested, covered);
        return resultOk;
    }

    for (int dy = 0; dy < h; ++dy) {
        const int y = yDest + dy;
        const uint8_t* srcAlphaRow =
            sourceAlpha ? sourceAlpha + static_cast<ptrdiff_t>(ySrc + dy) * source.width() + xSrc : nullptr;
        if (covered)
            coverRowByClip(xDest, xDest + w - 1, y);
        setPainterXY(p, xDest, y);
        int first = w, last = -1;
        for (int dx = 0; dx < w; ++dx) {
            const int x = xDest + dx;
            double shape = 1;
            if (covered) {
                const int t = pipe::aaCoverage(m_aaBuffer->data(), m_aaBuffer->rowSize(), x);
                if (t == 0) {
                    skipPixel(p);
                    continue;
                }
                shape = m_aaGamma[t];
            } else if (tested && !clip.test(x, y)) {
                skipPixel(p);
                continue;
            }
            source.getPixel(xSrc + dx, ySrc + dy, colour);
            p.shape = srcAlphaRow ? srcAlphaRow[dx] / 255.0 * shape : shape;
            paintPixel(p);
            first = std::min(first, dx);
            last = dx;
        }
        if (first <= last) {
            extendModifiedX(xDest + first);
            extendModifiedX(xDest + last);
            extendModifiedY(y);
        }
    }
    return resultOk;
}

void Rasteriser::coverRowByClip(int x0, int x1, int y) {
    RasterBitmap& buffer = *m_aaBuffer;
    for (int i = 0; i < 4; ++i)
        setBitRange(buffer.data() + i * buffer.rowSize(), 4 * x0, 4 * x1 + 3);
    m_aaBufferRow = -1;
    m_state->clip().clipSpan(buffer, x0, x1, y);
}

namespace {

// The tables of the fast rows: the source alpha and the group's own alpha g
// by the source's alpha byte a, by the general rules' own formulas (shape =
// a / 255); without a source alpha plane the painter's constant alpha and a
// shape of 1.
void prepareCompositeRows(CompositeRows& job, const RasterBitmap& source, const SpanPainter& p) {
    const uint8_t* sourceAlpha = source.alpha();
    for (int a = 0; a < 256; ++a) {
        job.aSrc[a] =
            sourceAlpha ? static_cast<uint8_t>(std::floor((a / 255.0) * p.alphaIn + 0.5)) : p.alphaInByte;
        job.g[a] = sourceAlpha ? static_cast<uint8_t>(std::floor((a / 255.0) * 255 + 0.5)) : 255;
        job.shapeAlpha[a] = sourceAlpha ? (a / 255.0) * p.alphaIn : p.alphaIn;
    }
    job.source = &source;
}

// Row dy of the job, with the variants of backdrop and group correction
// picked for it.
template <int Mode, bool HasAlpha>
void compositeRowOf(const CompositeRows& job, int dy, bool correct) {
    if (job.backdropRow)
        correct ? compositeRow<Mode, HasAlpha, true, true>(job, dy)
                : compositeRow<Mode, HasAlpha, true, false>(job, dy);
    else
        correct ? compositeRow<Mode, HasAlpha, false, true>(job, dy)
                : compositeRow<Mode, HasAlpha, false, false>(job, dy);
}

}  // namespace

// The variants (colour mode, alpha plane, backdrop, group correction) are
// picked outside the rows.
void Rasteriser::compositeRows(const RasterBitmap& source, int xSrc, int ySrc, int xDest, int yDest, int w,
                               int h, SpanPainter& p, uint8_t* colour, bool tested, bool covered) {
    RasterClip& clip = m_state->clip();
    CompositeRows job;
    prepareCompositeRows(job, source, p);
    job.ySrc = ySrc;
    job.yDest = yDest;
    job.h = h;
    job.screen = m_state->screen();
    const uint8_t* sourceAlpha = source.alpha();
    constexpr int kWhole = 16;  // sub-pixels of a wholly covered pixel
    pipe::dispatchMode(m_bitmap->mode(), m_bitmap->alpha() != nullptr, [&]<int Mode, bool HasAlpha>() {
        for (int dy = 0; dy < h; ++dy) {
            const int y = yDest + dy;
            job.row = m_bitmap->data() + static_cast<ptrdiff_t>(y) * m_bitmap->rowSize();
            job.alphaRow =
                HasAlpha ? m_bitmap->alpha() + static_cast<ptrdiff_t>(y) * m_bitmap->width() : nullptr;
            job.backdropRow = backdropRow(p, y);
            job.maskRow =
                p.softMask ? p.softMask->data() + static_cast<ptrdiff_t>(y) * p.softMask->rowSize() : nullptr;
            if (covered)
                coverRowByClip(xDest, xDest + w - 1, y);
            // The clip's coverage of pixel x, kWhole when it lies inside.
            auto coverage = [&](int x) {
                if (covered)
                    return pipe::aaCoverage(m_aaBuffer->data(), m_aaBuffer->rowSize(), x);
                return !tested || clip.test(x, y) ? kWhole : 0;
            };
            const uint8_t* srcAlphaRow =
                sourceAlpha ? sourceAlpha + static_cast<ptrdiff_t>(ySrc + dy) * source.width() + xSrc
                            : nullptr;
            int first = w, last = -1;
            for (int dx = 0; dx < w;) {
                const int x = xDest + dx;
                const int t = coverage(x);
                if (t == kWhole) {
                    int end = tested ? dx + 1 : w;
                    while (end < w && coverage(xDest + end) == kWhole)
                        ++end;
                    job.xSrc = xSrc + dx;
                    job.xDest = x;
                    job.w = end - dx;
                    compositeRowOf<Mode, HasAlpha>(job, dy, p.groupCorrection);
                    first = std::min(first, dx);
                    last = end - 1;
                    dx = end;
                    continue;
                }
                if (t > 0) {
                    const double shape = covered ? m_aaGamma[t] : 1;
                    setPainterXY(p, x, y);
                    source.getPixel(xSrc + dx, ySrc + dy, colour);
                    p.shape = srcAlphaRow ? srcAlphaRow[dx] / 255.0 * shape : shape;
                    paintPixel(p);
                    first = std::min(first, dx);
                    last = dx;
                }
                ++dx;
            }
            if (first <= last) {
                extendModifiedX(xDest + first);
                extendModifiedX(xDest + last);
                extendModifiedY(y);
            }
        }
    });
}

std::unique_ptr<RasterBitmap> Rasteriser::nestedGroupBackdrop(int x, int y, int w, int h) const {
    auto backdrop = std::make_unique<RasterBitmap>(w, h, 1, rasterMono1, true, true);
    uint8_t* out = backdrop->alpha();
    std::memset(out, 0, static_cast<size_t>(w) * static_cast<size_t>(h));
    // A knockout group's members meet its initial state, not each other.
    const uint8_t* own = m_knockoutBackdrop ? m_knockoutBackdrop->alpha() : m_bitmap->alpha();
    // What lies beneath this bitmap counts only where it covers it at the
    // recorded offset, as in the pipe.
    const RasterBitmap* below = m_groupBackdrop;
    const bool useBelow = m_state->inNonIsolatedGroup() && below && below->alpha() && m_groupBackdropX >= 0 &&
                          m_groupBackdropY >= 0 &&
                          int64_t{m_groupBackdropX} + m_bitmap->width() <= below->width() &&
                          int64_t{m_groupBackdropY} + m_bitmap->height() <= below->height();
    for (int row = 0; row < h; ++row) {
        const int ty = y + row;
        if (ty < 0 || ty >= m_bitmap->height())
            continue;
        uint8_t* o = out + static_cast<ptrdiff_t>(row) * w;
        for (int col = 0; col < w; ++col) {
            const int tx = x + col;
            if (tx < 0 || tx >= m_bitmap->width())
                continue;
            const int a = own ? own[static_cast<ptrdiff_t>(ty) * m_bitmap->width() + tx] : 255;
            const int a0 =
                useBelow ? below->alpha()[static_cast<ptrdiff_t>(ty + m_groupBackdropY) * below->width() +
                                          tx + m_groupBackdropX]
                         : 0;
            o[col] = static_cast<uint8_t>(a0 + a - div255(a0 * a));
        }
    }
    return backdrop;
}

void Rasteriser::compositeBackground(const uint8_t* colour) {
    compositeBackgroundRect(colour, 0, 0, m_bitmap->width() - 1, m_bitmap->height() - 1);
}

void Rasteriser::compositeBackgroundRect(const uint8_t* colour, int x0, int y0, int x1, int y1) {
    uint8_t* alpha = m_bitmap->alpha();
    if (!alpha)
        return;
    const int width = m_bitmap->width();
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    const int xEnd = std::min(x1 + 1, width);
    const int yEnd = std::min(y1 + 1, m_bitmap->height());
    const int mode = m_bitmap->mode();
    // The channel that each stored byte of a 24-bit pixel holds.
    const uint8_t c0 = mode == rasterBGR8 ? colour[2] : colour[0];
    const uint8_t c1 = colour[1];
    const uint8_t c2 = mode == rasterBGR8 ? colour[0] : colour[2];
    for (int y = y0; y < yEnd; ++y) {
        uint8_t* row = m_bitmap->data() + static_cast<ptrdiff_t>(y) * m_bitmap->rowSize();
        uint8_t* a = alpha + static_cast<ptrdiff_t>(y) * width;
        switch (mode) {
            case rasterMono1:
                for (int x = x0; x < xEnd; ++x) {
                    const int mask = 0x80 >> (x & 7);
                    const int bit = (row[x >> 3] & mask) ? 255 : 0;
                    if (div255(bit * a[x] + (255 - a[x]) * colour[0]) >= 128)
                        row[x >> 3] |= static_cast<uint8_t>(mask);
                    else
                        row[x >> 3] &= static_cast<uint8_t>(~mask);
                }
                break;
            case rasterMono8:
                for (int x = x0; x < xEnd; ++x)
                    row[x] = static_cast<uint8_t>(div255(row[x] * a[x] + (255 - a[x]) * colour[0]));
                break;
            default: {
                // Runs of eight opaque pixels keep their colour (div255(255 q)
                // being q) and runs of eight clear ones take the background's
                // (div255(255 c) being c), each run found eight alpha bytes at
                // a time and filled in one go; the rest blend one by one.
                const bool grey = c0 == c1 && c1 == c2;
                int x = x0;
                while (x < xEnd) {
                    while (x + 8 <= xEnd && pipe::load64(a + x) == ~uint64_t{0})
                        x += 8;
                    const int clearFrom = x;
                    while (x + 8 <= xEnd && pipe::load64(a + x) == 0)
                        x += 8;
                    if (x > clearFrom) {
                        uint8_t* q = row + 3 * static_cast<ptrdiff_t>(clearFrom);
                        if (grey) {
                            std::memset(q, c0, 3 * static_cast<size_t>(x - clearFrom));
                        } else {
                            for (int i = clearFrom; i < x; ++i, q += 3) {
                                q[0] = c0;
                                q[1] = c1;
                                q[2] = c2;
                            }
                        }
                        continue;
                    }
                    // A mixed group of eight, or the row's last few pixels.
                    const int end = std::min(xEnd, x + 8);
                    for (; x < end; ++x) {
                        uint8_t* q = row + 3 * static_cast<ptrdiff_t>(x);
                        const int ax = a[x];
                        if (ax == 255)
                            continue;
                        if (ax == 0) {
                            q[0] = c0;
                            q[1] = c1;
                            q[2] = c2;
                            continue;
                        }
                        q[0] = static_cast<uint8_t>(div255(q[0] * ax + (255 - ax) * c0));
                        q[1] = static_cast<uint8_t>(div255(q[1] * ax + (255 - ax) * c1));
                        q[2] = static_cast<uint8_t>(div255(q[2] * ax + (255 - ax) * c2));
                    }
                }
                break;
            }
        }
        // Opaque from now on; row by row while the row is still in cache.
        if (xEnd > x0)
            std::memset(a + x0, 255, static_cast<size_t>(xEnd - x0));
    }
}

int Rasteriser::blitBitmap(const RasterBitmap& source, int xSrc, int ySrc, int xDest, int yDest, int w,
                           int h) {
    if (source.mode() != m_bitmap->mode())
        return resultModeMismatch;
    if (!cutToBoth(source, *m_bitmap, xSrc, ySrc, xDest, yDest, w, h))
        return resultOk;
    const int mode = m_bitmap->mode();
    for (int dy = 0; dy < h; ++dy) {
        const uint8_t* from = source.data() + static_cast<ptrdiff_t>(ySrc + dy) * source.rowSize();
        uint8_t* to = m_bitmap->data() + static_cast<ptrdiff_t>(yDest + dy) * m_bitmap->rowSize();
        switch (mode) {
            case rasterMono1:
                for (int dx = 0; dx < w; ++dx) {
                    const int xs = xSrc + dx, xd = xDest + dx;
                    const int mask = 0x80 >> (xd & 7);
                    if (from[xs >> 3] & (0x80 >> (xs & 7)))
                        to[xd >> 3] |= static_cast<uint8_t>(mask);
                    else
                        to[xd >> 3] &= static_cast<uint8_t>(~mask);
                }
                break;
            case rasterMono8:
                std::memcpy(to + xDest, from + xSrc, static_cast<size_t>(w));
                break;
            default:
                std::memcpy(to + 3 * static_cast<ptrdiff_t>(xDest), from + 3 * static_cast<ptrdiff_t>(xSrc),
                            3 * static_cast<size_t>(w));
                break;
        }
        if (m_bitmap->alpha())
            std::memset(m_bitmap->alpha() + static_cast<ptrdiff_t>(yDest + dy) * m_bitmap->width() + xDest, 0,
                        static_cast<size_t>(w));
    }
    return resultOk;
}

}  // namespace rendova
