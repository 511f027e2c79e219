// Image masks and sampled images: placement by the image matrix (upright or
// a quarter turn, with shear), box averaging of the source samples onto the
// device pixels, and clipping.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "engine/core/Memory.h"
#include "engine/raster/BitRow.h"
#include "engine/raster/Rasteriser.h"

namespace rendova {

namespace {

// Scaled image sizes are limited to this many times the bitmap's larger
// side (and at least kMinImageScaleLimit): a matrix from a document can ask
// for an image billions of pixels wide, of which a page shows a sliver. An
// image larger than the limit is drawn at the limit's size.
constexpr int64_t kImageScaleFactor = 4;
constexpr int64_t kMinImageScaleLimit = 1024;
// Offsets and shifts stay within this magnitude so that every device
// coordinate computed from them fits an int with room to spare.
constexpr double kMaxImageOffset = kMaxDeviceCoord;

double clampOffset(double v) {
    if (!(v >= -kMaxImageOffset))
        return -kMaxImageOffset;
    return v > kMaxImageOffset ? kMaxImageOffset : v;
}

int truncToInt(double v) {
    return static_cast<int>(clampOffset(v));
}

int floorOffset(double v) {
    return static_cast<int>(std::floor(clampOffset(v)));
}

// The pixel edges of one axis: the first and last device column (or row)
// that the image touches, as floors of its two edges nudged inwards by a
// hundredth of a pixel (or, in glyph mode, the pixels whose centres it
// covers). Inwards, because an edge on a pixel boundary does not touch the
// pixel beyond it: an image aligned with the device grid keeps its own
// pixels and one sample per pixel, and the nudge absorbs the rounding of a
// matrix that only nearly hits the boundary. An image thinner than the
// nudge still touches the pixel holding its first edge.
void pixelEdges(double offset, double scale, bool glyphMode, int& t, int& t2) {
    if (glyphMode) {
        if (scale >= 0) {
            t = floorOffset(offset + 0.5);
            t2 = floorOffset(offset + scale + 0.5) - 1;
        } else {
            t = floorOffset(offset + 0.5) - 1;
            t2 = floorOffset(offset + scale + 0.5);
        }
    } else if (scale >= 0) {
        t = floorOffset(offset + 0.01);
        t2 = std::max(t, floorOffset(offset + scale - 0.01));
    } else {
        t = floorOffset(offset - 0.01);
        t2 = std::min(t, floorOffset(offset + scale + 0.01));
    }
}

// Paints runs of pixels of one colour by the pipe's fast rules
// (SpanPainter.h), for a painter whose simple flag is set, in the colour the
// painter points to. aSrc is the pipe's source alpha for the run.
template <int Mode, bool HasAlpha>
struct SimpleRunWriter {
    static constexpr int kShortRun = 8;

    SimpleRunWriter(RasterBitmap& bitmap, const SpanPainter& p, const RasterScreen* s)
        : data(bitmap.data()),
          rowSize(bitmap.rowSize()),
          alpha(bitmap.alpha()),
          width(bitmap.width()),
          colour(p.sourceColour),
          screen(s) {}

    // Columns xa..xb (xa <= xb) of row y. Inlined into the image loop,
    // where it runs once for every run of pixels.
    __attribute__((always_inline)) void operator()(int xa, int xb, int y, int aSrc) const {
        uint8_t* row = data + static_cast<ptrdiff_t>(y) * rowSize;
        uint8_t* alphaRow = HasAlpha ? alpha + static_cast<ptrdiff_t>(y) * width : nullptr;
        // Long opaque runs as whole stretches of bytes; short ones, as an
        // enlarged image paints, pixel by pixel, which costs less than
        // setting up the stretches.
        if (aSrc == 255 && xb - xa >= kShortRun) {
            pipe::storeRun<Mode, HasAlpha>(row, alphaRow, xa, xb, y, colour, screen);
            return;
        }
        pipe::Cursor<Mode> d(row, xa);
        uint8_t* a = HasAlpha ? alphaRow + xa : nullptr;
        for (int x = xa; x <= xb; ++x) {
            pipe::paintSimple<Mode, HasAlpha>(d, a, x, y, colour, aSrc, screen);
            d.next();
            if (HasAlpha)
                ++a;
        }
    }

    uint8_t* data;
    int rowSize;
    uint8_t* alpha;
    int width;
    const uint8_t* colour;
    const RasterScreen* screen;
};

// The pipe's rounding of a source alpha.
int roundAlpha(double v) {
    return static_cast<int>(std::floor(v + 0.5));
}

// The buffered source rows that one output row averages: rowBytes apart,
// bytesPerPixel a sample (one for masks), with alpha bytes width apart.
struct SourceRows {
    const uint8_t* lines;
    int rowBytes;
    const uint8_t* alphas;
    int width;
    int bytesPerPixel;
    int boxHeight;
    bool isMask;
    bool hasAlpha;
};

// The average of columns col .. col + boxWidth - 1 of the rows into colour
// (images) and alpha; false for a box that paints nothing.
inline bool averageBox(const SourceRows& src, int col, int boxWidth, uint8_t* colour, double& alpha) {
    const int64_t area = int64_t{boxWidth} * src.boxHeight;
    alpha = 1;
    if (src.isMask) {
        // Mask samples are 0 or 1; any other byte counts as set, so that the
        // coverage never exceeds the box.
        int64_t sum = 0;
        for (int r = 0; r < src.boxHeight; ++r) {
            const uint8_t* q = src.lines + static_cast<ptrdiff_t>(r) * src.rowBytes + col;
            for (int c = 0; c < boxWidth; ++c)
                sum += q[c] != 0;
        }
        if (sum == 0)
            return false;
        alpha = sum == area ? 1 : static_cast<double>(sum) / static_cast<double>(area);
        return true;
    }
    const int bpp = src.bytesPerPixel;
    int64_t sums[3] = {0, 0, 0};
    int64_t alphaSum = 0;
    for (int r = 0; r < src.boxHeight; ++r) {
        const uint8_t* q =
            src.lines + static_cast<ptrdiff_t>(r) * src.rowBytes + static_cast<ptrdiff_t>(col) * bpp;
        // The common sample sizes with the components unrolled.
        if (bpp == 3) {
            int64_t s0 = 0, s1 = 0, s2 = 0;
            for (int c = 0; c < boxWidth * 3; c += 3) {
                s0 += q[c];
                s1 += q[c + 1];
                s2 += q[c + 2];
            }
            sums[0] += s0;
            sums[1] += s1;
            sums[2] += s2;
        } else if (bpp == 1) {
            int64_t s0 = 0;
            for (int c = 0; c < boxWidth; ++c)
                s0 += q[c];
            sums[0] += s0;
        } else {
            for (int c = 0; c < boxWidth * bpp; c += bpp) {
                for (int k = 0; k < bpp; ++k)
                    sums[k] += q[c + k];
            }
        }
        if (src.hasAlpha) {
            const uint8_t* qa = src.alphas + static_cast<ptrdiff_t>(r) * src.width + col;
            for (int c = 0; c < boxWidth; ++c)
                alphaSum += qa[c];
        }
    }
    if (src.hasAlpha && alphaSum == 0)
        return false;
    if ((area & (area - 1)) == 0) {
        // A power of two: the reciprocal and the product below are exact,
        // so truncating the product is the shift (and stays within 0..255).
        const int shift = std::countr_zero(static_cast<uint64_t>(area));
        for (int k = 0; k < bpp; ++k)
            colour[k] = static_cast<uint8_t>(sums[k] >> shift);
    } else {
        const double scale = 1.0 / static_cast<double>(area);
        for (int k = 0; k < bpp; ++k)
            colour[k] = static_cast<uint8_t>(saturateToInt(static_cast<double>(sums[k]) * scale, 0, 255));
    }
    if (src.hasAlpha)
        alpha = static_cast<double>(alphaSum) / (255.0 * static_cast<double>(area));
    return true;
}

// The number of the 16 sub-pixels of pixel x that the four rows of the
// anti-aliasing buffer cover: four bits per pixel in each row, the high
// nibble of byte x / 2 for an even x, the low one for an odd x.
inline int aaCoverage(const uint8_t* b, int rowSize, int x) {
    const int shift = (x & 1) ? 0 : 4;
    const int byte = x >> 1;
    return pipe::kBitCount4[(b[byte] >> shift) & 15] + pipe::kBitCount4[(b[rowSize + byte] >> shift) & 15] +
           pipe::kBitCount4[(b[2 * rowSize + byte] >> shift) & 15] +
           pipe::kBitCount4[(b[3 * rowSize + byte] >> shift) & 15];
}

// aaCoverage of pixels xa..xb into coverage[x]: stretches of sixteen pixels
// (eight bytes of each row) wholly covered or wholly empty at a time.
void aaRowCoverage(const RasterBitmap& buffer, int xa, int xb, uint8_t* coverage) {
    const uint8_t* b = buffer.data();
    const int rs = buffer.rowSize();
    int x = xa;
    while (x <= xb) {
        if ((x & 1) == 0 && x + 15 <= xb) {
            const int e = x >> 1;
            const uint64_t r0 = pipe::load64(b + e), r1 = pipe::load64(b + rs + e);
            const uint64_t r2 = pipe::load64(b + 2 * rs + e), r3 = pipe::load64(b + 3 * rs + e);
            if ((r0 & r1 & r2 & r3) == ~uint64_t{0}) {
                std::memset(coverage + x, 16, 16);
                x += 16;
                continue;
            }
            if ((r0 | r1 | r2 | r3) == 0) {
                std::memset(coverage + x, 0, 16);
                x += 16;
                continue;
            }
        }
        coverage[x] = static_cast<uint8_t>(aaCoverage(b, rs, x));
        ++x;
    }
}

struct FreeOnExit {
    void* block;
    ~FreeOnExit() { memFree(block); }
};

}  // namespace

int Rasteriser::fillImageMask(RasterImageSource source, void* userData, int width, int height,
                              const double* matrix, int glyphMode) {
    return drawImageCommon(source, userData, rasterMono8, 0, width, height, matrix, glyphMode, true);
}

int Rasteriser::drawImage(RasterImageSource source, void* userData, int sourceMode, int sourceHasAlpha,
                          int width, int height, const double* matrix) {
    return drawImageCommon(source, userData, sourceMode, sourceHasAlpha, width, height, matrix, 0, false);
}

namespace {

// The visible part of an image too large to scale whole, as an image of its
// own: virtual column k is source column columnOf[k], virtual row k source
// row rowOf[k] (non-decreasing, so the source is still read in order).
struct VisiblePart {
    RasterImageSource source;
    void* userData;
    int bytesPerPixel;
    int width;
    std::vector<int> columnOf, rowOf;
    std::vector<uint8_t> line, alpha;
    int nextVirtualRow = 0;
    int sourceRowsRead = 0;
    bool haveAlpha;

    static int get(void* data, uint8_t* out, uint8_t* outAlpha) {
        auto* part = static_cast<VisiblePart*>(data);
        if (part->nextVirtualRow >= int(part->rowOf.size()))
            return 0;
        const int want = part->rowOf[size_t(part->nextVirtualRow++)];
        while (part->sourceRowsRead <= want) {
            if (!part->source(part->userData, part->line.data(),
                              part->haveAlpha ? part->alpha.data() : nullptr)) {
                std::fill(part->line.begin(), part->line.end(), 0);
                std::fill(part->alpha.begin(), part->alpha.end(), 0);
            }
            ++part->sourceRowsRead;
        }
        const int n = part->bytesPerPixel;
        for (size_t k = 0; k < part->columnOf.size(); ++k) {
            const int c = part->columnOf[k];
            std::memcpy(out + k * size_t(n), part->line.data() + size_t(c) * size_t(n), size_t(n));
            if (outAlpha)
                outAlpha[k] = part->alpha[size_t(c)];
        }
        return 1;
    }
};

// One axis of an axis-aligned image: device extent from `offset` over
// `scale` (either sign) holding `count` source pixels, seen through device
// pixels lo..hi. Fills `map` with the source index of each virtual pixel, in
// source order, and gives the virtual offset and scale. Magnified, a virtual
// pixel is a device pixel; reduced, it is a whole source pixel.
bool visibleAxis(double offset, double scale, int count, int lo, int hi, std::vector<int>& map,
                 double& newOffset, double& newScale) {
    const double a = std::min(offset, offset + scale), b = std::max(offset, offset + scale);
    const int d0 = std::max(lo, int(std::floor(std::max(a, double(lo) - 1)))),
              d1 = std::min(hi, int(std::ceil(std::min(b, double(hi) + 2))) - 1);
    if (d0 > d1)
        return false;
    auto sourceAt = [&](double device) {
        const double t = std::floor((device - offset) / scale * count);
        return int(std::clamp(t, 0.0, double(count - 1)));
    };
    map.clear();
    if (std::fabs(scale) >= count) {
        for (int k = 0; k <= d1 - d0; ++k) {
            const int device = scale > 0 ? d0 + k : d1 - k;
            map.push_back(sourceAt(device + 0.5));
        }
        newScale = scale > 0 ? d1 + 1 - d0 : -(d1 + 1 - d0);
        newOffset = scale > 0 ? d0 : d1 + 1;
    } else {
        int first = sourceAt(scale > 0 ? d0 : d1 + 1), last = sourceAt(scale > 0 ? d1 + 1 : d0);
        if (first > last)
            std::swap(first, last);
        for (int c = first; c <= last; ++c)
            map.push_back(c);
        newScale = scale * (last - first + 1) / count;
        newOffset = offset + scale * first / count;
    }
    return true;
}

// An image matrix whose determinant is smaller than this maps the image onto
// less than a millionth of a square pixel: it is taken as singular.
constexpr double kMinImageDeterminant = 0.000001;

}  // namespace

int Rasteriser::drawImageCommon(RasterImageSource source, void* userData, int sourceMode, int sourceHasAlpha,
                                int width, int height, const double* m, int glyphMode, bool isMask) {
    // 1. A singular matrix (or one that is not finite) places the image
    // nowhere.
    for (int i = 0; i < 6; ++i) {
        if (!std::isfinite(m[i]))
            return resultSingularMatrix;
    }
    if (!(std::fabs(m[0] * m[3] - m[1] * m[2]) >= kMinImageDeterminant))
        return resultSingularMatrix;
    const int mode = m_bitmap->mode();
    if (!isMask) {
        const int wanted = mode == rasterMono1 ? rasterMono8 : mode;
        if (sourceMode != wanted)
            return resultModeMismatch;
    }
    if (width <= 0 || height <= 0 || bitmapIsEmpty())
        return resultOk;
    const bool hasAlpha = !isMask && sourceHasAlpha;

    // 2. Upright, or turned by a quarter.
    const bool upright = std::fabs(m[0]) >= std::fabs(m[1]);
    double xScale, yScale, xShear, yShear;
    if (upright) {
        xScale = m[0];
        yScale = m[3] - m[1] * m[2] / m[0];
        xShear = m[1] / m[0];
        yShear = m[2] / yScale;
    } else {
        xScale = -m[1];
        yScale = m[2] - m[0] * m[3] / m[1];
        xShear = -m[0] / m[1];
        yShear = -m[3] / yScale;
    }
    if (!std::isfinite(xShear) || !std::isfinite(yShear) || !std::isfinite(yScale))
        return resultSingularMatrix;

    // 3. Pixel edges and scaled sizes, limited (see kImageScaleFactor).
    // Upright, image columns run along device x from m4 and rows along
    // device y from m5. Turned, rows run along x from m4 (yScale is their
    // extent there) and columns along y from m5, against xScale: each axis
    // takes its edges from the extent that it really covers.
    int tx, tx2, ty, ty2;
    int64_t columns, rows;
    if (upright) {
        pixelEdges(m[4], xScale, glyphMode != 0, tx, tx2);
        pixelEdges(m[5], yScale, glyphMode != 0, ty, ty2);
        columns = std::abs(int64_t{tx2} - tx) + 1;
        rows = std::abs(int64_t{ty2} - ty) + 1;
    } else {
        pixelEdges(m[4], yScale, glyphMode != 0, tx, tx2);
        pixelEdges(m[5], -xScale, glyphMode != 0, ty, ty2);
        columns = std::abs(int64_t{ty2} - ty) + 1;
        rows = std::abs(int64_t{tx2} - tx) + 1;
    }
    const int64_t limit =
        std::max(kMinImageScaleLimit, kImageScaleFactor * std::max(m_bitmap->width(), m_bitmap->height()));
    if ((columns > limit || rows > limit) && m[1] == 0 && m[2] == 0) {
        // Scaled whole, the image would be squeezed into the limit from its
        // off-page corner: only the part inside the clip is drawn, at its
        // own scale, and the work is bounded by that part.
        const RasterClip& visible = m_state->clip();
        VisiblePart part{source, userData, 0, width, {}, {}, {}, {}, 0, 0, false};
        double sub[6] = {0, 0, 0, 0, 0, 0};
        if (!visibleAxis(m[4], m[0], width, visible.xMinI(), visible.xMaxI(), part.columnOf, sub[4],
                         sub[0]) ||
            !visibleAxis(m[5], m[3], height, visible.yMinI(), visible.yMaxI(), part.rowOf, sub[5], sub[3])) {
            m_opClipResult = 1;
            return resultOk;
        }
        part.bytesPerPixel = isMask || (sourceMode != rasterRGB8 && sourceMode != rasterBGR8) ? 1 : 3;
        part.haveAlpha = !isMask && sourceHasAlpha;
        part.line.assign(size_t(checkedMul(width, part.bytesPerPixel)), 0);
        part.alpha.assign(size_t(width), 0);
        return drawImageCommon(&VisiblePart::get, &part, sourceMode, sourceHasAlpha,
                               int(part.columnOf.size()), int(part.rowOf.size()), sub, glyphMode, isMask);
    }
    const int scaledWidth = static_cast<int>(std::min(columns, limit));
    const int scaledHeight = static_cast<int>(std::min(rows, limit));
    const int xSign = xScale >= 0 ? 1 : -1;
    const int ySign = yScale >= 0 ? 1 : -1;
    const double pBias = xSign * xShear < 0 ? 0.999 : 0;

    // The device pixel of output pixel (i, j) by the placement rule.
    auto rowShift = [&](int i) { return floorOffset(i * ySign * yShear + 0.5); };
    auto place = [&](int i, int j, int& x, int& y) {
        const int s = rowShift(i);
        const double p = s * xShear + i * ySign + pBias + j * xSign * xShear;
        if (upright) {
            x = tx + s + j * xSign;
            y = ty + truncToInt(p);
        } else {
            x = tx + truncToInt(p);
            y = ty - (s + j * xSign);
        }
    };

    // 4. The box of the four corners decides the clipping.
    int boxX0 = INT32_MAX, boxY0 = INT32_MAX, boxX1 = INT32_MIN, boxY1 = INT32_MIN;
    for (int corner = 0; corner < 4; ++corner) {
        int x, y;
        place(corner & 1 ? scaledHeight - 1 : 0, corner & 2 ? scaledWidth - 1 : 0, x, y);
        boxX0 = std::min(boxX0, x);
        boxX1 = std::max(boxX1, x);
        boxY0 = std::min(boxY0, y);
        boxY1 = std::max(boxY1, y);
    }
    RasterClip& clip = m_state->clip();
    const int clipResult = clip.testRect(boxX0, boxY0, boxX1, boxY1);
    m_opClipResult = clipResult;
    if (clipResult == 1)
        return resultOk;

    // 5. Source rows: up to (height / scaledHeight + 1) at a time.
    const int bytesPerPixel = isMask || (sourceMode != rasterRGB8 && sourceMode != rasterBGR8) ? 1 : 3;
    const int rowBytes = checkedMul(width, bytesPerPixel);
    const int bufferRows = height / scaledHeight + 1;
    const int lineSize = checkedMul(bufferRows, rowBytes);
    FreeOnExit lines{memAlloc(lineSize)};
    std::memset(lines.block, 0, static_cast<size_t>(lineSize));
    FreeOnExit alphas{nullptr};
    if (hasAlpha) {
        const int alphaSize = checkedMul(bufferRows, width);
        alphas.block = memAlloc(alphaSize);
        std::memset(alphas.block, 0, static_cast<size_t>(alphaSize));
    }
    uint8_t* lineBuf = static_cast<uint8_t*>(lines.block);
    uint8_t* alphaBuf = static_cast<uint8_t*>(alphas.block);
    // A source that runs out of rows early leaves them empty.
    auto readRows = [&](int count) {
        for (int r = 0; r < count && r < bufferRows; ++r) {
            uint8_t* line = lineBuf + static_cast<ptrdiff_t>(r) * rowBytes;
            uint8_t* alphaLine = hasAlpha ? alphaBuf + static_cast<ptrdiff_t>(r) * width : nullptr;
            if (!source(userData, line, alphaLine)) {
                std::memset(line, 0, static_cast<size_t>(rowBytes));
                if (alphaLine)
                    std::memset(alphaLine, 0, static_cast<size_t>(width));
            }
        }
    };

    // 8. The painter: masks always use the shape; images when they have
    // alpha or when an anti-aliased clip cuts them.
    const bool aaClip = m_vectorAntialias && clipResult == 2;
    const int usesShape = isMask || hasAlpha || aaClip ? 1 : 0;
    uint8_t pixelColour[3] = {0, 0, 0};
    SpanPainter painter;
    initPainter(painter, 0, 0, isMask ? m_state->fillPattern() : nullptr, pixelColour, m_state->fillAlpha(),
                usesShape, 0);
    m_aaBufferRow = -1;
    const int clipX0 = clip.xMinI(), clipX1 = clip.xMaxI(), clipY0 = clip.yMinI(), clipY1 = clip.yMaxI();

    const int yp = height / scaledHeight, yq = height % scaledHeight;
    const int xp = width / scaledWidth, xq = width % scaledWidth;

    // The shape of a pixel by its coverage in the anti-aliased clip (16 of
    // 16 sub-pixels: 1, as for any pixel outside such a clip).
    double coverageShape[17];
    for (int t = 0; t <= 16; ++t)
        coverageShape[t] = aaClip ? m_aaGamma[t] : 1;

    // The source columns of each output column, from the same running
    // remainder as the rows: the first one and how many (0 past the last
    // source column, where nothing is drawn).
    FreeOnExit columnBlock{memAlloc(checkedMul(checkedMul(scaledWidth, 3), static_cast<int>(sizeof(int))))};
    int* const firstColumn = static_cast<int*>(columnBlock.block);
    int* const columnCount = firstColumn + scaledWidth;
    // The last output column of the stretch of columns with the same
    // source columns as column j: an enlarged image repeats each.
    int* const sameBoxEnd = columnCount + scaledWidth;
    {
        int xt = 0;
        int column = 0;
        for (int j = 0; j < scaledWidth; ++j) {
            int colStep = xp;
            xt += xq;
            if (xt >= scaledWidth) {
                xt -= scaledWidth;
                ++colStep;
            }
            firstColumn[j] = column;
            columnCount[j] = column < width ? std::max(1, std::min(colStep, width - column)) : 0;
            column += colStep;
        }
        sameBoxEnd[scaledWidth - 1] = scaledWidth - 1;
        for (int j = scaledWidth - 2; j >= 0; --j) {
            const bool same = firstColumn[j + 1] == firstColumn[j] && columnCount[j + 1] == columnCount[j];
            sameBoxEnd[j] = same ? sameBoxEnd[j + 1] : j;
        }
    }
    // The coverage of each pixel of a device row that the clip cuts.
    FreeOnExit coverageBlock{clipResult == 2 ? memAlloc(m_bitmap->width()) : nullptr};
    uint8_t* const rowCoverage = static_cast<uint8_t*>(coverageBlock.block);
    auto loadAaRow = [&](int y) {
        if (y != m_aaBufferRow) {
            const size_t rowSize = static_cast<size_t>(m_aaBuffer->rowSize());
            std::memset(m_aaBuffer->data(), 0xff, 4 * rowSize);
            int x0 = 0, x1 = m_bitmap->width() - 1;
            clip.clipSpan(*m_aaBuffer, x0, x1, y);
            m_aaBufferRow = y;
        }
    };

    // Upright without horizontal shear, each output row lies on one device
    // row as a run of consecutive pixels. The reference pipe takes every
    // pixel through the general placement loop, for tests to compare.
    const bool straightRows = upright && xShear == 0 && !m_referencePipe;

    // Every output pixel in order, row by row: its device pixel, clip, box
    // average and paint. writeRun(xa, xb, y, boxAlpha, coverage) paints
    // pixels xa..xb of row y in pixelColour, the shape being boxAlpha x
    // coverageShape[coverage].
    auto drawPixels = [&](auto&& writeRun) {
        SourceRows src{lineBuf, rowBytes, alphaBuf, width, isMask ? 1 : bytesPerPixel, 1, isMask, hasAlpha};
        int yt = 0;
        int prevRowStep = 0;
        for (int i = 0; i < scaledHeight; ++i) {
            int rowStep = yp;
            yt += yq;
            if (yt >= scaledHeight) {
                yt -= scaledHeight;
                ++rowStep;
            }
            if (yp >= 1)
                readRows(rowStep);
            else
                readRows(i == 0 ? 1 : prevRowStep);
            prevRowStep = rowStep;
            src.boxHeight = std::max(1, std::min(rowStep, bufferRows));
            // A box of one sample is that sample. (The reference pipe
            // averages every box of every pixel, as a test's yardstick.)
            const bool singleSamples = src.boxHeight == 1 && !isMask && !m_referencePipe;

            const int s = rowShift(i);
            int rowClip = clipResult;
            if (clipResult == 2 && upright &&
                truncToInt(s * xShear) == truncToInt((s + (scaledWidth - 1) * xSign) * xShear)) {
                const int y = ty + i * ySign + truncToInt(s * xShear);
                const int xa = tx + s, xb = tx + s + (scaledWidth - 1) * xSign;
                rowClip = clip.testSpan(std::min(xa, xb), std::max(xa, xb), y);
                if (rowClip == 1)
                    continue;
            }

            // The box of the last pixel averaged in this row: an enlarged
            // image repeats each source column over several pixels, and the
            // rows in the buffer stay the same along the row.
            int boxCol = -1, boxCols = 0;
            bool boxPaints = false;
            double boxAlpha = 1;
            int paintedX0 = INT32_MAX, paintedX1 = INT32_MIN, paintedY0 = INT32_MAX, paintedY1 = INT32_MIN;
            // Output columns ja..jb (all of one box) at device pixels from x
            // on, stepping by xSign.
            auto paintRun = [&](int ja, int jb, int x, int y, int coverage) __attribute__((always_inline)) {
                const int col = firstColumn[ja];
                const int boxWidth = columnCount[ja];
                if (boxWidth == 0)
                    return;
                if (col != boxCol || boxWidth != boxCols || m_referencePipe) {
                    boxCol = col;
                    boxCols = boxWidth;
                    if (singleSamples && boxWidth == 1) {
                        // averageBox's sums of one sample, times 1.0.
                        const uint8_t* q = lineBuf + static_cast<ptrdiff_t>(col) * bytesPerPixel;
                        for (int k = 0; k < bytesPerPixel; ++k)
                            pixelColour[k] = q[k];
                        boxAlpha = hasAlpha ? alphaBuf[col] / 255.0 : 1;
                        boxPaints = !hasAlpha || alphaBuf[col] != 0;
                    } else {
                        boxPaints = averageBox(src, col, boxWidth, pixelColour, boxAlpha);
                    }
                }
                if (!boxPaints)
                    return;
                const int xEnd = x + (jb - ja) * xSign;
                const int xa = std::min(x, xEnd), xb = std::max(x, xEnd);
                writeRun(xa, xb, y, boxAlpha, coverage);
                paintedX0 = std::min(paintedX0, xa);
                paintedX1 = std::max(paintedX1, xb);
                paintedY0 = std::min(paintedY0, y);
                paintedY1 = std::max(paintedY1, y);
            };

            const double p0 = s * xShear + i * ySign + pBias;
            if (straightRows) {
                // The same pixels as the loop below: y is fixed, x steps by
                // one, and only the columns inside the clip rectangle pass.
                // Neighbours of one box and one coverage are painted as a
                // run.
                const int y = ty + truncToInt(p0);
                if (y < clipY0 || y > clipY1)
                    continue;
                const int x0 = tx + s;
                const int jLo = std::max(0, xSign > 0 ? clipX0 - x0 : x0 - clipX1);
                const int jHi = std::min(scaledWidth - 1, xSign > 0 ? clipX1 - x0 : x0 - clipX0);
                if (jLo > jHi)
                    continue;
                const uint8_t* coverage = nullptr;
                if (rowClip != 0) {
                    const int xa = std::min(x0 + jLo * xSign, x0 + jHi * xSign);
                    const int xb = std::max(x0 + jLo * xSign, x0 + jHi * xSign);
                    if (aaClip) {
                        loadAaRow(y);
                        aaRowCoverage(*m_aaBuffer, xa, xb, rowCoverage);
                    } else {
                        for (int x = xa; x <= xb; ++x)
                            rowCoverage[x] = clip.test(x, y) ? 16 : 0;
                    }
                    coverage = rowCoverage;
                }
                for (int j = jLo; j <= jHi;) {
                    const int x = x0 + j * xSign;
                    // Pixels that the clip hides are passed over together.
                    if (coverage && coverage[x] == 0) {
                        do
                            ++j;
                        while (j <= jHi && coverage[x0 + j * xSign] == 0);
                        continue;
                    }
                    int jEnd = std::min(sameBoxEnd[j], jHi);
                    // Boxes of one opaque sample that repeat its colour
                    // paint with it as one run: a flat area of a picture
                    // drawn at about its own size.
                    if (singleSamples && !hasAlpha && columnCount[j] == 1) {
                        const uint8_t* q = lineBuf + static_cast<ptrdiff_t>(firstColumn[j]) * bytesPerPixel;
                        while (jEnd < jHi && columnCount[jEnd + 1] == 1 &&
                               std::memcmp(
                                   lineBuf + static_cast<ptrdiff_t>(firstColumn[jEnd + 1]) * bytesPerPixel, q,
                                   static_cast<size_t>(bytesPerPixel)) == 0)
                            jEnd = std::min(sameBoxEnd[jEnd + 1], jHi);
                    }
                    int t = 16;
                    if (coverage) {
                        t = coverage[x];
                        for (int k = j + 1; k <= jEnd; ++k) {
                            if (coverage[x0 + k * xSign] != t) {
                                jEnd = k - 1;
                                break;
                            }
                        }
                    }
                    if (t != 0)
                        paintRun(j, jEnd, x, y, t);
                    j = jEnd + 1;
                }
            } else {
                double p = p0;
                for (int j = 0; j < scaledWidth; ++j, p += xSign * xShear) {
                    int x, y;
                    if (upright) {
                        x = tx + s + j * xSign;
                        y = ty + truncToInt(p);
                    } else {
                        x = tx + truncToInt(p);
                        y = ty - (s + j * xSign);
                    }
                    // Inside the clip rectangle (and so the bitmap) first; a
                    // pixel that the corner box misjudged by rounding is
                    // tested like any partly clipped one.
                    if (x < clipX0 || x > clipX1 || y < clipY0 || y > clipY1)
                        continue;
                    int t = 16;
                    if (rowClip != 0) {
                        if (aaClip) {
                            loadAaRow(y);
                            t = aaCoverage(m_aaBuffer->data(), m_aaBuffer->rowSize(), x);
                            if (t == 0)
                                continue;
                        } else if (!clip.test(x, y)) {
                            continue;
                        }
                    }
                    paintRun(j, j, x, y, t);
                }
            }
            if (paintedX0 <= paintedX1) {
                extendModifiedX(paintedX0);
                extendModifiedX(paintedX1);
                extendModifiedY(paintedY0);
                extendModifiedY(paintedY1);
            }
        }
    };

    if (painter.simple && !m_referencePipe) {
        // The pipe's fast rules (SpanPainter.h). The source alpha of a whole
        // box, by coverage, is computed once.
        int wholeBoxAlpha[17];
        for (int t = 0; t <= 16; ++t)
            wholeBoxAlpha[t] = roundAlpha(coverageShape[t] * painter.alphaIn);
        auto paintWith = [&](const auto& writer) {
            drawPixels([&](int xa, int xb, int y, double boxAlpha, int coverage) {
                const int aSrc = !painter.usesShape ? painter.alphaInByte
                                 : boxAlpha == 1
                                     ? wholeBoxAlpha[coverage]
                                     : roundAlpha(boxAlpha * coverageShape[coverage] * painter.alphaIn);
                writer(xa, xb, y, aSrc);
            });
        };
        const bool bitmapAlpha = m_bitmap->alpha() != nullptr;
        const RasterScreen* screen = getScreen();
        switch (mode) {
            case rasterMono1:
                bitmapAlpha ? paintWith(SimpleRunWriter<rasterMono1, true>(*m_bitmap, painter, screen))
                            : paintWith(SimpleRunWriter<rasterMono1, false>(*m_bitmap, painter, screen));
                break;
            case rasterMono8:
                bitmapAlpha ? paintWith(SimpleRunWriter<rasterMono8, true>(*m_bitmap, painter, screen))
                            : paintWith(SimpleRunWriter<rasterMono8, false>(*m_bitmap, painter, screen));
                break;
            case rasterRGB8:
                bitmapAlpha ? paintWith(SimpleRunWriter<rasterRGB8, true>(*m_bitmap, painter, screen))
                            : paintWith(SimpleRunWriter<rasterRGB8, false>(*m_bitmap, painter, screen));
                break;
            default:
                bitmapAlpha ? paintWith(SimpleRunWriter<rasterBGR8, true>(*m_bitmap, painter, screen))
                            : paintWith(SimpleRunWriter<rasterBGR8, false>(*m_bitmap, painter, screen));
                break;
        }
    } else {
        drawPixels([&](int xa, int xb, int y, double boxAlpha, int coverage) {
            setPainterXY(painter, xa, y);
            painter.shape = boxAlpha * coverageShape[coverage];
            for (int x = xa; x <= xb; ++x)
                paintPixel(painter);
        });
    }
    return resultOk;
}

}  // namespace rendova
