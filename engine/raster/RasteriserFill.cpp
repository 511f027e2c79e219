// Clearing and filling paths.
#include <algorithm>
#include <cstring>

#include "engine/raster/FlatPath.h"
#include "engine/raster/RasterScanner.h"
#include "engine/raster/Rasteriser.h"

namespace rendova {

void Rasteriser::clear(const uint8_t* colour, uint8_t alpha) {
    const int width = m_bitmap->width();
    const int height = m_bitmap->height();
    if (width <= 0 || height <= 0)
        return;
    const int rowSize = m_bitmap->rowSize();
    const size_t rowBytes = static_cast<size_t>(rowSize < 0 ? -rowSize : rowSize);
    // The rows lie together in the block whatever their direction; the
    // lowest address is row 0 for top-down rows and the last row otherwise.
    uint8_t* lowest =
        rowSize < 0 ? m_bitmap->data() + static_cast<ptrdiff_t>(rowSize) * (height - 1) : m_bitmap->data();
    const size_t total = rowBytes * static_cast<size_t>(height);
    switch (m_bitmap->mode()) {
        case rasterMono1:
            std::memset(lowest, colour[0] >= 128 ? 0xff : 0, total);
            break;
        case rasterMono8:
            std::memset(lowest, colour[0], total);
            break;
        default:
            if (colour[0] == colour[1] && colour[1] == colour[2])
                std::memset(lowest, colour[0], total);
            else
                fillColourRect(colour, 0, 0, width - 1, height - 1);  // padding bytes left as they are
            break;
    }
    if (m_bitmap->alpha())
        std::memset(m_bitmap->alpha(), alpha, static_cast<size_t>(width) * static_cast<size_t>(height));
    extendModifiedX(0);
    extendModifiedY(0);
    extendModifiedX(width - 1);
    extendModifiedY(height - 1);
}

void Rasteriser::clearRect(const uint8_t* colour, uint8_t alpha, int x0, int y0, int x1, int y1) {
    if (m_bitmap->mode() == rasterMono1) {
        clear(colour, alpha);
        return;
    }
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, m_bitmap->width() - 1);
    y1 = std::min(y1, m_bitmap->height() - 1);
    if (x0 > x1 || y0 > y1)
        return;
    fillColourRect(colour, x0, y0, x1, y1);
    if (uint8_t* a = m_bitmap->alpha()) {
        for (int y = y0; y <= y1; ++y)
            std::memset(a + static_cast<ptrdiff_t>(y) * m_bitmap->width() + x0, alpha,
                        static_cast<size_t>(x1 - x0 + 1));
    }
    extendModifiedX(x0);
    extendModifiedY(y0);
    extendModifiedX(x1);
    extendModifiedY(y1);
}

void Rasteriser::fillColourRect(const uint8_t* colour, int x0, int y0, int x1, int y1) {
    const int mode = m_bitmap->mode();
    const int bytesPerPixel = mode == rasterMono8 ? 1 : 3;
    const size_t runBytes = static_cast<size_t>(x1 - x0 + 1) * static_cast<size_t>(bytesPerPixel);
    const bool grey = mode == rasterMono8 || (colour[0] == colour[1] && colour[1] == colour[2]);
    const uint8_t b0 = mode == rasterBGR8 ? colour[2] : colour[0];
    const uint8_t b2 = mode == rasterBGR8 ? colour[0] : colour[2];
    for (int y = y0; y <= y1; ++y) {
        uint8_t* p = m_bitmap->data() + static_cast<ptrdiff_t>(y) * m_bitmap->rowSize() +
                     static_cast<ptrdiff_t>(x0) * bytesPerPixel;
        if (grey) {
            std::memset(p, colour[0], runBytes);
            continue;
        }
        for (int x = x0; x <= x1; ++x, p += 3) {
            p[0] = b0;
            p[1] = colour[1];
            p[2] = b2;
        }
    }
}

int Rasteriser::fill(const RasterPath& path, bool evenOdd) {
    return fillWithPattern(path, evenOdd, m_state->fillPattern(), m_state->fillAlpha());
}

int Rasteriser::fillWithPattern(const RasterPath& path, bool evenOdd, const RasterPattern* pattern,
                                double alpha) {
    if (path.length() == 0)
        return resultEmptyPath;
    if (bitmapIsEmpty()) {
        m_opClipResult = 1;
        return resultOk;
    }

    FlatPath flat(path, m_state->matrix(), m_state->flatness(), true);
    if (m_vectorAntialias)
        flat.scaleForAntialias();
    flat.sortSegments();
    RasterScanner scanner(&flat, evenOdd);

    int xMin, yMin, xMax, yMax;
    if (m_vectorAntialias) {
        scanner.getBBox(xMin, yMin, xMax, yMax);
    } else {
        xMin = scanner.xMin();
        yMin = scanner.yMin();
        xMax = scanner.xMax();
        yMax = scanner.yMax();
    }
    RasterClip& clip = m_state->clip();
    const int clipResult = clip.testRect(xMin, yMin, xMax, yMax);
    m_opClipResult = clipResult;
    if (clipResult == 1)
        return resultOk;

    yMin = std::max(yMin, clip.yMinI());
    yMax = std::min(yMax, clip.yMaxI());
    SpanPainter painter;
    initPainter(painter, 0, yMin, pattern, nullptr, alpha, m_vectorAntialias, 0);

    // The clip rectangle lies inside the bitmap, so cutting every span to it
    // keeps each write inside whatever the scanner's rounding did; for a box
    // wholly inside the clip the cut changes nothing.
    const int clipX0 = clip.xMinI(), clipX1 = clip.xMaxI();
    if (m_vectorAntialias) {
        for (int y = yMin; y <= yMax; ++y) {
            int x0, x1;
            scanner.renderAaLine(*m_aaBuffer, x0, x1, y);
            if (clipResult != 0)
                clip.clipSpan(*m_aaBuffer, x0, x1, y);
            paintAaSpan(painter, std::max(x0, clipX0), std::min(x1, clipX1), y);
        }
    } else {
        for (int y = yMin; y <= yMax; ++y) {
            int x0, x1;
            while (scanner.getNextSpan(y, x0, x1)) {
                x0 = std::max(x0, clipX0);
                x1 = std::min(x1, clipX1);
                if (x0 > x1)
                    continue;
                // Cut to the clip rectangle, a span passes every pixel test
                // when there is no clip path.
                if (clipResult == 0 || clip.length() == 0 || clip.testSpan(x0, x1, y) == 0)
                    paintSpan(painter, x0, x1, y);
                else
                    paintSpanClipped(painter, x0, x1, y);
            }
        }
    }
    return resultOk;
}

}  // namespace rendova
