// Image masks and sampled images: placement by the image matrix (upright or
// a quarter turn, with shear), box averaging of the source samples onto the
// device pixels, and clipping.
#include <algorithm>
#include <cmath>
#include <cstring>

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

struct FreeOnExit {
    void* block;
    ~FreeOnExit() { memFree(block); }
};

}  // namespace

int Rasteriser::fillImageMask(RasterImageSource source, void* userData, int width, int height,
                              const double* matrix, int glyphMode) {
    return drawImageCommon(source, userData, rasterMono8, 0, width, height, matrix, glyphMode, true);
}

int Rasteriser::drawImage(RasterImageSource source, void* userData, int sourceMode, int sourceHasAlpha, int width,
                          int height, const double* matrix) {
    return drawImageCommon(source, userData, sourceMode, sourceHasAlpha, width, height, matrix, 0, false);
}

int Rasteriser::drawImageCommon(RasterImageSource source, void* userData, int sourceMode, int sourceHasAlpha,
                                int width, int height, const double* m, int glyphMode, bool isMask) {
    // 1. A singular matrix (or one that is not finite) places the image
    // nowhere.
    for (int i = 0; i < 6; ++i) {
        if (!std::isfinite(m[i]))
            return resultSingularMatrix;
    }
    if (!(std::fabs(m[0] * m[3] - m[1] * m[2]) >= 0.000001))
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
        const int boxHeight = std::max(1, std::min(rowStep, bufferRows));

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

        double p = s * xShear + i * ySign + pBias;
        int xt = 0;
        int column = 0;
        for (int j = 0; j < scaledWidth; ++j, p += xSign * xShear) {
            int colStep = xp;
            xt += xq;
            if (xt >= scaledWidth) {
                xt -= scaledWidth;
                ++colStep;
            }
            const int col = column;
            column += colStep;

            int x, y;
            if (upright) {
                x = tx + s + j * xSign;
                y = ty + truncToInt(p);
            } else {
                x = tx + truncToInt(p);
                y = ty - (s + j * xSign);
            }
            // Inside the clip rectangle (and so the bitmap) first; a pixel
            // that the corner box misjudged by rounding is tested like any
            // partly clipped one.
            const bool inRect = x >= clipX0 && x <= clipX1 && y >= clipY0 && y <= clipY1;
            if (!inRect)
                continue;
            double aaShape = 1;
            if (rowClip != 0) {
                if (aaClip) {
                    if (y != m_aaBufferRow) {
                        const size_t rowSize = static_cast<size_t>(m_aaBuffer->rowSize());
                        std::memset(m_aaBuffer->data(), 0xff, 4 * rowSize);
                        int x0 = 0, x1 = m_bitmap->width() - 1;
                        clip.clipSpan(*m_aaBuffer, x0, x1, y);
                        m_aaBufferRow = y;
                    }
                    const uint8_t* b = m_aaBuffer->data();
                    const int rs = m_aaBuffer->rowSize();
                    const int shift = (x & 1) ? 0 : 4;
                    const int byte = x >> 1;
                    const int t = pipe::kBitCount4[(b[byte] >> shift) & 15] +
                                  pipe::kBitCount4[(b[rs + byte] >> shift) & 15] +
                                  pipe::kBitCount4[(b[2 * rs + byte] >> shift) & 15] +
                                  pipe::kBitCount4[(b[3 * rs + byte] >> shift) & 15];
                    if (t == 0)
                        continue;
                    aaShape = m_aaGamma[t];
                } else if (!clip.test(x, y)) {
                    continue;
                }
            }

            // 7. The box average.
            const int boxWidth = std::max(1, std::min(colStep, width - col));
            if (col >= width)
                continue;
            const int64_t area = int64_t{boxWidth} * boxHeight;
            double alpha = 1;
            if (isMask) {
                // Mask samples are 0 or 1; any other byte counts as set, so
                // that the coverage never exceeds the box.
                int64_t sum = 0;
                for (int r = 0; r < boxHeight; ++r) {
                    const uint8_t* q = lineBuf + static_cast<ptrdiff_t>(r) * rowBytes + col;
                    for (int c = 0; c < boxWidth; ++c)
                        sum += q[c] != 0;
                }
                if (sum == 0)
                    continue;
                alpha = sum == area ? 1 : static_cast<double>(sum) / static_cast<double>(area);
            } else {
                int64_t sums[3] = {0, 0, 0};
                int64_t alphaSum = 0;
                for (int r = 0; r < boxHeight; ++r) {
                    const uint8_t* q = lineBuf + static_cast<ptrdiff_t>(r) * rowBytes +
                                       static_cast<ptrdiff_t>(col) * bytesPerPixel;
                    for (int c = 0; c < boxWidth * bytesPerPixel; c += bytesPerPixel) {
                        for (int k = 0; k < bytesPerPixel; ++k)
                            sums[k] += q[c + k];
                    }
                    if (hasAlpha) {
                        const uint8_t* qa = alphaBuf + static_cast<ptrdiff_t>(r) * width + col;
                        for (int c = 0; c < boxWidth; ++c)
                            alphaSum += qa[c];
                    }
                }
                if (hasAlpha && alphaSum == 0)
                    continue;
                const double scale = 1.0 / static_cast<double>(area);
                for (int k = 0; k < bytesPerPixel; ++k)
                    pixelColour[k] = static_cast<uint8_t>(saturateToInt(static_cast<double>(sums[k]) * scale, 0, 255));
                if (hasAlpha)
                    alpha = static_cast<double>(alphaSum) / (255.0 * static_cast<double>(area));
            }

            setPainterXY(painter, x, y);
            painter.shape = alpha * aaShape;
            paintPixel(painter);
            extendModifiedX(x);
            extendModifiedY(y);
        }
    }
    return resultOk;
}

}  // namespace rendova
