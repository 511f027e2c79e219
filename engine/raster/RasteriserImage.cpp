// Image masks and sampled images: box averaging of the source samples onto
// the device pixels that ImagePlacement.h finds, clipping, and the pipe.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "engine/core/Memory.h"
#include "engine/raster/BitRow.h"
#include "engine/raster/ImagePlacement.h"
#include "engine/raster/Rasteriser.h"

namespace rendova {

namespace {

// Scaled image sizes are limited to this many times the bitmap's larger
// side (and at least kMinImageScaleLimit): a matrix from a document can ask
// for an image billions of pixels wide, of which a page shows a sliver. An
// image larger than the limit is drawn at the limit's size.
constexpr int64_t kImageScaleFactor = 4;
constexpr int64_t kMinImageScaleLimit = 1024;
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

// pipe::aaCoverage of pixels xa..xb into coverage[x]: stretches of sixteen pixels
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
        coverage[x] = static_cast<uint8_t>(pipe::aaCoverage(b, rs, x));
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

// An image matrix whose determinant is smaller than this maps the image onto
// less than a millionth of a square pixel: it is taken as singular.
constexpr double kMinImageDeterminant = 0.000001;

// How many of `count` source pixels each of `scaled` output pixels takes:
// count / scaled, and one more whenever the running remainder reaches
// scaled, so that the steps add up to count. Reduced, output pixel j
// averages the source pixels under its box; enlarged, it repeats the source
// pixel under its centre, (j + 1/2) count / scaled (counted in halves):
// taken at its left edge, every source pixel would land up to a device
// pixel late, and the cells of a code or a chart drawn as a small image
// would come out uneven.
struct RunningStep {
    int whole;
    int64_t rest, scaled, remainder;

    RunningStep(int count, int scaledCount)
        : whole(count / scaledCount),
          rest(2 * int64_t{count % scaledCount}),
          scaled(2 * int64_t{scaledCount}),
          remainder(whole == 0 ? count : 0) {}

    int next() {
        int step = whole;
        remainder += rest;
        if (remainder >= scaled) {
            remainder -= scaled;
            ++step;
        }
        return step;
    }
};

// The box of the last pixel averaged in one output row, and the device
// pixels that the row painted: an enlarged image repeats each source column
// over several pixels, and the rows in the buffer stay the same along the
// row.
struct RowBoxes {
    const SourceRows& src;
    const int* firstColumn;
    const int* columnCount;
    uint8_t* colour;
    // A box of one sample is that sample. (The reference pipe averages
    // every box of every pixel, as a test's yardstick.)
    bool singleSamples;
    bool reference;
    int boxCol = -1, boxCols = 0;
    bool boxPaints = false;
    double boxAlpha = 1;
    int paintedX0 = INT32_MAX, paintedX1 = INT32_MIN, paintedY0 = INT32_MAX, paintedY1 = INT32_MIN;

    // Output columns ja..jb (all of one box) at device pixels from x on,
    // stepping by xSign.
    template <typename WriteRun>
    __attribute__((always_inline)) void paintRun(int ja, int jb, int x, int xSign, int y, int coverage,
                                                 const WriteRun& writeRun) {
        const int col = firstColumn[ja];
        const int boxWidth = columnCount[ja];
        if (boxWidth == 0)
            return;
        if (col != boxCol || boxWidth != boxCols || reference) {
            boxCol = col;
            boxCols = boxWidth;
            if (singleSamples && boxWidth == 1) {
                // averageBox's sums of one sample, times 1.0.
                const uint8_t* q = src.lines + static_cast<ptrdiff_t>(col) * src.bytesPerPixel;
                for (int k = 0; k < src.bytesPerPixel; ++k)
                    colour[k] = q[k];
                boxAlpha = src.hasAlpha ? src.alphas[col] / 255.0 : 1;
                boxPaints = !src.hasAlpha || src.alphas[col] != 0;
            } else {
                boxPaints = averageBox(src, col, boxWidth, colour, boxAlpha);
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
    }
};

}  // namespace

// One image on its way through the pipe, once its placement and clip are
// known: the buffered source rows, the source columns of each output column,
// the painter, and the loop over every output pixel. It lives on
// drawImageCommon's stack and owns its buffers; the rasteriser outlives it.
class Rasteriser::ImageDraw {
public:
    ImageDraw(Rasteriser& r, const ImagePlacement& place, int clipResult, RasterImageSource source,
              void* userData, int sourceMode, bool hasAlpha, bool isMask, int width, int height);
    // Every output pixel, by the pipe's fast rules where the painter allows.
    void paint();

private:
    void readRows(int count);
    void buildColumns();
    void loadAaRow(int y) {
        if (y != m_r.m_aaBufferRow)
            fillAaRow(y);
    }
    void fillAaRow(int y);
    int rowClipResult(int i, int s) const;
    template <typename WriteRun>
    void drawPixels(const WriteRun& writeRun);
    template <typename WriteRun>
    void drawStraightRow(const ImagePlacement& pl, RowBoxes& boxes, int s, double p0, int rowClip,
                         const WriteRun& writeRun);
    template <typename WriteRun>
    void drawShearedRow(const ImagePlacement& pl, RowBoxes& boxes, int s, double p0, int rowClip,
                        const WriteRun& writeRun);
    template <typename Writer>
    void paintWith(const Writer& writer);

    Rasteriser& m_r;
    const ImagePlacement& m_place;
    RasterClip& m_clip;
    const int m_clipResult;
    const RasterImageSource m_source;
    void* const m_userData;
    const bool m_hasAlpha, m_isMask;
    const int m_width, m_height;
    const int m_bytesPerPixel, m_rowBytes, m_bufferRows;
    // How many of the buffer's rows the source delivered.
    int m_presentRows = 0;
    FreeOnExit m_lineBlock{nullptr}, m_alphaBlock{nullptr}, m_columnBlock{nullptr}, m_coverageBlock{nullptr};
    uint8_t* m_lines = nullptr;
    uint8_t* m_alphas = nullptr;
    // The source columns of each output column: the first one and how many
    // (0 past the last source column, where nothing is drawn); and the last
    // output column of the stretch of columns with the same source columns
    // as column j, as an enlarged image repeats each.
    int* m_firstColumn = nullptr;
    int* m_columnCount = nullptr;
    int* m_sameBoxEnd = nullptr;
    // The coverage of each pixel of a device row that the clip cuts.
    uint8_t* m_rowCoverage = nullptr;
    const bool m_aaClip;
    uint8_t m_pixelColour[3] = {0, 0, 0};
    SpanPainter m_painter;
    // The shape of a pixel by its coverage in the anti-aliased clip (16 of
    // 16 sub-pixels: 1, as for any pixel outside such a clip).
    double m_coverageShape[17];
    // Upright without horizontal shear, each output row lies on one device
    // row as a run of consecutive pixels. The reference pipe takes every
    // pixel through the general placement loop, for tests to compare.
    const bool m_straightRows;
};

Rasteriser::ImageDraw::ImageDraw(Rasteriser& r, const ImagePlacement& place, int clipResult,
                                 RasterImageSource source, void* userData, int sourceMode, bool hasAlpha,
                                 bool isMask, int width, int height)
    : m_r(r),
      m_place(place),
      m_clip(r.m_state->clip()),
      m_clipResult(clipResult),
      m_source(source),
      m_userData(userData),
      m_hasAlpha(hasAlpha),
      m_isMask(isMask),
      m_width(width),
      m_height(height),
      m_bytesPerPixel(sourceBytesPerPixel(sourceMode, isMask)),
      m_rowBytes(checkedMul(width, m_bytesPerPixel)),
      // Source rows: up to (height / scaledHeight + 1) at a time.
      m_bufferRows(height / place.scaledHeight + 1),
      m_aaClip(r.m_vectorAntialias && clipResult == 2),
      m_straightRows(place.upright && place.xShear == 0 && !r.m_referencePipe) {
    const int lineSize = checkedMul(m_bufferRows, m_rowBytes);
    m_lineBlock.block = memAlloc(lineSize);
    std::memset(m_lineBlock.block, 0, static_cast<size_t>(lineSize));
    if (hasAlpha) {
        const int alphaSize = checkedMul(m_bufferRows, width);
        m_alphaBlock.block = memAlloc(alphaSize);
        std::memset(m_alphaBlock.block, 0, static_cast<size_t>(alphaSize));
    }
    m_lines = static_cast<uint8_t*>(m_lineBlock.block);
    m_alphas = static_cast<uint8_t*>(m_alphaBlock.block);

    // Masks always use the shape; images when they have alpha or when an
    // anti-aliased clip cuts them.
    const int usesShape = isMask || hasAlpha || m_aaClip ? 1 : 0;
    r.initPainter(m_painter, 0, 0, isMask ? r.m_state->fillPattern() : nullptr, m_pixelColour,
                  r.m_state->fillAlpha(), usesShape, 0);
    r.m_aaBufferRow = -1;
    for (int t = 0; t <= 16; ++t)
        m_coverageShape[t] = m_aaClip ? r.m_aaGamma[t] : 1;
    buildColumns();
    if (clipResult == 2) {
        m_coverageBlock.block = memAlloc(r.m_bitmap->width());
        m_rowCoverage = static_cast<uint8_t*>(m_coverageBlock.block);
    }
}

// Rows that the source does not have (past the end of its data) are left
// out: the rows it delivered are packed at the buffer's start, and an output
// row whose source rows are all missing paints nothing. A call for no rows
// keeps the buffer, and its count, for an enlarged image's next output row.
void Rasteriser::ImageDraw::readRows(int count) {
    if (count <= 0)
        return;
    int present = 0;
    for (int r = 0; r < count && r < m_bufferRows; ++r) {
        uint8_t* line = m_lines + static_cast<ptrdiff_t>(present) * m_rowBytes;
        uint8_t* alphaLine = m_hasAlpha ? m_alphas + static_cast<ptrdiff_t>(present) * m_width : nullptr;
        if (m_source(m_userData, line, alphaLine))
            ++present;
    }
    m_presentRows = present;
}

// The source columns of each output column come from the same running
// remainder as the rows.
void Rasteriser::ImageDraw::buildColumns() {
    const int scaledWidth = m_place.scaledWidth;
    m_columnBlock.block = memAlloc(checkedMul(checkedMul(scaledWidth, 3), static_cast<int>(sizeof(int))));
    m_firstColumn = static_cast<int*>(m_columnBlock.block);
    m_columnCount = m_firstColumn + scaledWidth;
    m_sameBoxEnd = m_columnCount + scaledWidth;
    RunningStep columnSteps(m_width, scaledWidth);
    int column = 0;
    for (int j = 0; j < scaledWidth; ++j) {
        const int colStep = columnSteps.next();
        m_firstColumn[j] = column;
        m_columnCount[j] = column < m_width ? std::max(1, std::min(colStep, m_width - column)) : 0;
        column += colStep;
    }
    m_sameBoxEnd[scaledWidth - 1] = scaledWidth - 1;
    for (int j = scaledWidth - 2; j >= 0; --j) {
        const bool same =
            m_firstColumn[j + 1] == m_firstColumn[j] && m_columnCount[j + 1] == m_columnCount[j];
        m_sameBoxEnd[j] = same ? m_sameBoxEnd[j + 1] : j;
    }
}

void Rasteriser::ImageDraw::fillAaRow(int y) {
    RasterBitmap& buffer = *m_r.m_aaBuffer;
    std::memset(buffer.data(), 0xff, 4 * static_cast<size_t>(buffer.rowSize()));
    int x0 = 0, x1 = m_r.m_bitmap->width() - 1;
    m_clip.clipSpan(buffer, x0, x1, y);
    m_r.m_aaBufferRow = y;
}

// The clip result of output row i with shift s: an upright row whose two
// ends fall on one device row is tested as a span, so that a row wholly
// outside the clip is skipped and one wholly inside skips the pixel tests.
int Rasteriser::ImageDraw::rowClipResult(int i, int s) const {
    const ImagePlacement& pl = m_place;
    if (m_clipResult == 2 && pl.upright &&
        truncOffset(s * pl.xShear) == truncOffset((s + (pl.scaledWidth - 1) * pl.xSign) * pl.xShear)) {
        const int y = pl.ty + i * pl.ySign + truncOffset(s * pl.xShear);
        const int xa = pl.tx + s, xb = pl.tx + s + (pl.scaledWidth - 1) * pl.xSign;
        return m_clip.testSpan(std::min(xa, xb), std::max(xa, xb), y);
    }
    return m_clipResult;
}

// Every output pixel in order, row by row: its device pixel, clip, box
// average and paint. writeRun(xa, xb, y, boxAlpha, coverage) paints pixels
// xa..xb of row y in m_pixelColour, the shape being boxAlpha x
// m_coverageShape[coverage].
template <typename WriteRun>
void Rasteriser::ImageDraw::drawPixels(const WriteRun& writeRun) {
    // A copy, so that the placement stays in registers across the stores.
    const ImagePlacement pl = m_place;
    const int scaledHeight = pl.scaledHeight;
    RunningStep rowSteps(m_height, scaledHeight);
    SourceRows src{m_lines, m_rowBytes, m_alphas,  m_width, m_isMask ? 1 : m_bytesPerPixel,
                   1,       m_isMask,   m_hasAlpha};
    int prevRowStep = 0;
    for (int i = 0; i < scaledHeight; ++i) {
        const int rowStep = rowSteps.next();
        if (rowSteps.whole >= 1)
            readRows(rowStep);
        else
            readRows(i == 0 ? 1 : prevRowStep);
        prevRowStep = rowStep;
        if (m_presentRows == 0)
            continue;
        src.boxHeight = std::max(1, std::min({rowStep, m_bufferRows, m_presentRows}));

        const int s = pl.rowShift(i);
        const int rowClip = rowClipResult(i, s);
        if (rowClip == 1)
            continue;
        const bool singleSamples = src.boxHeight == 1 && !m_isMask && !m_r.m_referencePipe;
        RowBoxes boxes{src,           m_firstColumn, m_columnCount,
                       m_pixelColour, singleSamples, m_r.m_referencePipe != 0};
        const double p0 = s * pl.xShear + i * pl.ySign + pl.pBias;
        if (m_straightRows)
            drawStraightRow(pl, boxes, s, p0, rowClip, writeRun);
        else
            drawShearedRow(pl, boxes, s, p0, rowClip, writeRun);
        if (boxes.paintedX0 <= boxes.paintedX1) {
            m_r.extendModifiedX(boxes.paintedX0);
            m_r.extendModifiedX(boxes.paintedX1);
            m_r.extendModifiedY(boxes.paintedY0);
            m_r.extendModifiedY(boxes.paintedY1);
        }
    }
}

// The same pixels as drawShearedRow: y is fixed, x steps by one, and only the
// columns inside the clip rectangle pass. Neighbours of one box and one
// coverage are painted as a run.
template <typename WriteRun>
__attribute__((always_inline)) inline void Rasteriser::ImageDraw::drawStraightRow(const ImagePlacement& pl,
                                                                                  RowBoxes& boxes, int s,
                                                                                  double p0, int rowClip,
                                                                                  const WriteRun& writeRun) {
    const int xSign = pl.xSign;
    const int y = pl.ty + truncOffset(p0);
    if (y < m_clip.yMinI() || y > m_clip.yMaxI())
        return;
    const int x0 = pl.tx + s;
    const int clipX0 = m_clip.xMinI(), clipX1 = m_clip.xMaxI();
    const int jLo = std::max(0, xSign > 0 ? clipX0 - x0 : x0 - clipX1);
    const int jHi = std::min(pl.scaledWidth - 1, xSign > 0 ? clipX1 - x0 : x0 - clipX0);
    if (jLo > jHi)
        return;
    const uint8_t* coverage = nullptr;
    if (rowClip != 0) {
        const int xa = std::min(x0 + jLo * xSign, x0 + jHi * xSign);
        const int xb = std::max(x0 + jLo * xSign, x0 + jHi * xSign);
        if (m_aaClip) {
            loadAaRow(y);
            aaRowCoverage(*m_r.m_aaBuffer, xa, xb, m_rowCoverage);
        } else {
            for (int x = xa; x <= xb; ++x)
                m_rowCoverage[x] = m_clip.test(x, y) ? 16 : 0;
        }
        coverage = m_rowCoverage;
    }
    const int* const sameBoxEnd = m_sameBoxEnd;
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
        // Boxes of one opaque sample that repeat its colour paint with it as
        // one run: a flat area of a picture drawn at about its own size.
        if (boxes.singleSamples && !boxes.src.hasAlpha && boxes.columnCount[j] == 1) {
            const uint8_t* const lines = boxes.src.lines;
            const int bpp = boxes.src.bytesPerPixel;
            const uint8_t* q = lines + static_cast<ptrdiff_t>(boxes.firstColumn[j]) * bpp;
            while (jEnd < jHi && boxes.columnCount[jEnd + 1] == 1 &&
                   std::memcmp(lines + static_cast<ptrdiff_t>(boxes.firstColumn[jEnd + 1]) * bpp, q,
                               static_cast<size_t>(bpp)) == 0)
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
            boxes.paintRun(j, jEnd, x, xSign, y, t, writeRun);
        j = jEnd + 1;
    }
}

// Pixel by pixel along the row's running position.
template <typename WriteRun>
__attribute__((always_inline)) inline void Rasteriser::ImageDraw::drawShearedRow(const ImagePlacement& pl,
                                                                                 RowBoxes& boxes, int s,
                                                                                 double p0, int rowClip,
                                                                                 const WriteRun& writeRun) {
    const double pStep = pl.xSign * pl.xShear;
    const int clipX0 = m_clip.xMinI(), clipX1 = m_clip.xMaxI(), clipY0 = m_clip.yMinI(),
              clipY1 = m_clip.yMaxI();
    double p = p0;
    for (int j = 0; j < pl.scaledWidth; ++j, p += pStep) {
        int x, y;
        pl.pixelAt(s, j, p, x, y);
        // Inside the clip rectangle (and so the bitmap) first; a pixel that
        // the corner box misjudged by rounding is tested like any partly
        // clipped one.
        if (x < clipX0 || x > clipX1 || y < clipY0 || y > clipY1)
            continue;
        int t = 16;
        if (rowClip != 0) {
            if (m_aaClip) {
                loadAaRow(y);
                t = pipe::aaCoverage(m_r.m_aaBuffer->data(), m_r.m_aaBuffer->rowSize(), x);
                if (t == 0)
                    continue;
            } else if (!m_clip.test(x, y)) {
                continue;
            }
        }
        boxes.paintRun(j, j, x, pl.xSign, y, t, writeRun);
    }
}

// The pipe's fast rules (SpanPainter.h). The source alpha of a whole box,
// by coverage, is computed once.
template <typename Writer>
void Rasteriser::ImageDraw::paintWith(const Writer& writer) {
    const SpanPainter& painter = m_painter;
    int wholeBoxAlpha[17];
    for (int t = 0; t <= 16; ++t)
        wholeBoxAlpha[t] = roundAlpha(m_coverageShape[t] * painter.alphaIn);
    drawPixels([&](int xa, int xb, int y, double boxAlpha, int coverage) {
        const int aSrc = !painter.usesShape ? painter.alphaInByte
                         : boxAlpha == 1    ? wholeBoxAlpha[coverage]
                                         : roundAlpha(boxAlpha * m_coverageShape[coverage] * painter.alphaIn);
        writer(xa, xb, y, aSrc);
    });
}

void Rasteriser::ImageDraw::paint() {
    if (!m_painter.simple || m_r.m_referencePipe) {
        drawPixels([&](int xa, int xb, int y, double boxAlpha, int coverage) {
            m_r.setPainterXY(m_painter, xa, y);
            m_painter.shape = boxAlpha * m_coverageShape[coverage];
            for (int x = xa; x <= xb; ++x)
                m_r.paintPixel(m_painter);
        });
        return;
    }
    RasterBitmap& bitmap = *m_r.m_bitmap;
    const bool bitmapAlpha = bitmap.alpha() != nullptr;
    const RasterScreen* screen = m_r.getScreen();
    switch (bitmap.mode()) {
        case rasterMono1:
            bitmapAlpha ? paintWith(SimpleRunWriter<rasterMono1, true>(bitmap, m_painter, screen))
                        : paintWith(SimpleRunWriter<rasterMono1, false>(bitmap, m_painter, screen));
            break;
        case rasterMono8:
            bitmapAlpha ? paintWith(SimpleRunWriter<rasterMono8, true>(bitmap, m_painter, screen))
                        : paintWith(SimpleRunWriter<rasterMono8, false>(bitmap, m_painter, screen));
            break;
        case rasterRGB8:
            bitmapAlpha ? paintWith(SimpleRunWriter<rasterRGB8, true>(bitmap, m_painter, screen))
                        : paintWith(SimpleRunWriter<rasterRGB8, false>(bitmap, m_painter, screen));
            break;
        default:
            bitmapAlpha ? paintWith(SimpleRunWriter<rasterBGR8, true>(bitmap, m_painter, screen))
                        : paintWith(SimpleRunWriter<rasterBGR8, false>(bitmap, m_painter, screen));
            break;
    }
}

int Rasteriser::drawImageCommon(RasterImageSource source, void* userData, int sourceMode, int sourceHasAlpha,
                                int width, int height, const double* m, int glyphMode, bool isMask) {
    // A singular matrix (or one that is not finite) places the image nowhere.
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
    ImageAxes axes;
    if (!splitImageMatrix(m, axes))
        return resultSingularMatrix;

    // Scaled sizes are limited (see kImageScaleFactor).
    const ImageEdges edges = imageEdges(m, axes, glyphMode != 0);
    const int64_t limit =
        std::max(kMinImageScaleLimit, kImageScaleFactor * std::max(m_bitmap->width(), m_bitmap->height()));
    if ((edges.columns > limit || edges.rows > limit) && m[1] == 0 && m[2] == 0) {
        // Scaled whole, the image would be squeezed into the limit from its
        // off-page corner: only the part inside the clip is drawn, at its
        // own scale, and the work is bounded by that part.
        VisiblePart part{source, userData, 0, width, {}, {}, {}, {}, 0, 0, false};
        double sub[6] = {0, 0, 0, 0, 0, 0};
        if (!part.crop(m, height, sourceMode, sourceHasAlpha, isMask, m_state->clip(), sub)) {
            m_opClipResult = 1;
            return resultOk;
        }
        return drawImageCommon(&VisiblePart::get, &part, sourceMode, sourceHasAlpha,
                               int(part.columnOf.size()), int(part.rowOf.size()), sub, glyphMode, isMask);
    }
    const ImagePlacement place(axes, edges, static_cast<int>(std::min(edges.columns, limit)),
                               static_cast<int>(std::min(edges.rows, limit)));
    const int clipResult = place.testCorners(m_state->clip());
    m_opClipResult = clipResult;
    if (clipResult == 1)
        return resultOk;
    ImageDraw draw(*this, place, clipResult, source, userData, sourceMode, !isMask && sourceHasAlpha, isMask,
                   width, height);
    draw.paint();
    return resultOk;
}

}  // namespace rendova
