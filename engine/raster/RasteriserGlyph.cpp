// Glyph bitmaps: anti-aliased ones (a coverage byte per pixel) and 1-bit ones.
#include <algorithm>
#include <cmath>

#include "engine/raster/RasterModeDispatch.h"
#include "engine/raster/Rasteriser.h"

namespace rendova {

namespace {

// Pulls a 64-bit pixel coordinate into the range that the clip tests take;
// anything that far out lies outside every bitmap.
int saturateCoord(int64_t v) {
    const int64_t limit = static_cast<int64_t>(kMaxGridCoord);
    return static_cast<int>(std::clamp(v, -limit, limit));
}

}  // namespace

int Rasteriser::fillGlyph(double x, double y, const RasterGlyph& glyph) {
    const double* m = m_state->matrix();
    const double xt = m[0] * x + m[2] * y + m[4];
    const double yt = m[1] * x + m[3] * y + m[5];
    drawGlyph(floorToInt(clampCoord(xt)), floorToInt(clampCoord(yt)), glyph);
    return resultOk;
}

void Rasteriser::drawGlyph(int x0, int y0, const RasterGlyph& glyph) {
    const int w = glyph.width, h = glyph.height;
    if (w <= 0 || h <= 0 || !glyph.pixels || bitmapIsEmpty()) {
        m_opClipResult = 1;
        return;
    }
    const int64_t left = int64_t{x0} - glyph.xOffset, top = int64_t{y0} - glyph.yOffset;
    const int bx0 = saturateCoord(left), by0 = saturateCoord(top);
    const int bx1 = saturateCoord(left + w - 1), by1 = saturateCoord(top + h - 1);
    RasterClip& clip = m_state->clip();
    const int clipResult = clip.testRect(bx0, by0, bx1, by1);
    m_opClipResult = clipResult;
    if (clipResult == 1)
        return;

    const bool aa = glyph.antialiased != 0;
    const int rowBytes = aa ? w : (w + 7) >> 3;
    SpanPainter p;
    initPainter(p, bx0, by0, m_state->fillPattern(), nullptr, m_state->fillAlpha(), aa ? 1 : 0, 0);

    if (p.simple && clipResult == 0 && !m_referencePipe) {
        // The source alpha by coverage, by the general rule's own formula
        // (shape = b / 255); 1-bit glyphs use no shape.
        if (aa && m_glyphAlphaFor != p.alphaIn) {
            for (int b = 0; b < 256; ++b)
                m_glyphAlpha[b] = static_cast<uint8_t>(std::floor((b / 255.0) * p.alphaIn + 0.5));
            m_glyphAlphaFor = p.alphaIn;
        }
        const uint8_t* const aSrc = m_glyphAlpha;
        const uint8_t solidAlpha = p.alphaInByte;
        const RasterScreen* screen = m_state->screen();
        const uint8_t* colour = p.sourceColour;
        // Per row, the glyph's covered pixels are found first, so that the
        // loop paints from the first to the last without tracking them.
        auto paintRows = [&]<int Mode, bool HasAlpha, bool Aa>() {
            for (int yy = 0; yy < h; ++yy) {
                const int y = by0 + yy;
                const uint8_t* src = glyph.pixels + static_cast<ptrdiff_t>(yy) * rowBytes;
                auto cover = [src](int xx) -> int {
                    if constexpr (Aa)
                        return src[xx];
                    else
                        return (src[xx >> 3] & (0x80 >> (xx & 7))) ? 255 : 0;
                };
                int first = 0, last = w - 1;
                while (first < w && cover(first) == 0)
                    ++first;
                if (first == w)
                    continue;
                while (cover(last) == 0)
                    --last;
                uint8_t* row = m_bitmap->data() + static_cast<ptrdiff_t>(y) * m_bitmap->rowSize();
                uint8_t* a = HasAlpha ? m_bitmap->alpha() + static_cast<ptrdiff_t>(y) * m_bitmap->width() +
                                            (bx0 + first)
                                      : nullptr;
                pipe::Cursor<Mode> d(row, bx0 + first);
                for (int xx = first; xx <= last; ++xx, d.next()) {
                    const int b = cover(xx);
                    if (b != 0)
                        pipe::paintSimple<Mode, HasAlpha>(d, a, bx0 + xx, y, colour,
                                                          Aa ? aSrc[b] : solidAlpha, screen);
                    if (HasAlpha)
                        ++a;
                }
                extendModifiedX(bx0 + first);
                extendModifiedX(bx0 + last);
                extendModifiedY(y);
            }
        };
        pipe::dispatchMode(m_bitmap->mode(), m_bitmap->alpha() != nullptr, [&]<int Mode, bool HasAlpha>() {
            if (aa)
                paintRows.template operator()<Mode, HasAlpha, true>();
            else
                paintRows.template operator()<Mode, HasAlpha, false>();
        });
        return;
    }

    drawGlyphByPixel(bx0, by0, glyph, p, clipResult);
}

// Pixel by pixel through the general pipe: a glyph that the clip cuts, or
// one the simple pipe cannot paint.
void Rasteriser::drawGlyphByPixel(int bx0, int by0, const RasterGlyph& glyph, SpanPainter& p,
                                  int clipResult) {
    const int w = glyph.width, h = glyph.height;
    const bool aa = glyph.antialiased != 0;
    const int rowBytes = aa ? w : (w + 7) >> 3;
    RasterClip& clip = m_state->clip();
    // The coverage of pixel xx of glyph row src: a byte, or 255 for a set bit.
    auto coverage = [aa](const uint8_t* src, int xx) -> int {
        if (aa)
            return src[xx];
        return (src[xx >> 3] & (0x80 >> (xx & 7))) ? 255 : 0;
    };

    for (int yy = 0; yy < h; ++yy) {
        const int y = by0 + yy;
        const uint8_t* src = glyph.pixels + static_cast<ptrdiff_t>(yy) * rowBytes;
        for (int xx = 0; xx < w; ++xx) {
            const int b = coverage(src, xx);
            if (b == 0)
                continue;
            const int x = bx0 + xx;
            if (clipResult == 2 && !clip.test(x, y))
                continue;
            setPainterXY(p, x, y);
            if (aa)
                p.shape = b / 255.0;
            paintPixel(p);
            extendModifiedX(x);
            extendModifiedY(y);
        }
    }
}

}  // namespace rendova
