// The pixel pipe: every pixel that the rasteriser paints goes through
// paintPixel's rules, or through the fast loops of SpanPainter.h where those
// give the same result.
#include <algorithm>
#include <cmath>

#include "engine/raster/Rasteriser.h"

namespace rendova {

namespace {

// The colour of the pixel at dest (destMask its bit in the 1-bit mode), red,
// green, blue (grey modes use the first byte).
void loadPixel(const uint8_t* dest, int destMask, int mode, uint8_t* c) {
    switch (mode) {
        case rasterMono1:
            c[0] = (*dest & destMask) ? 255 : 0;
            break;
        case rasterMono8:
            c[0] = dest[0];
            break;
        case rasterRGB8:
            c[0] = dest[0];
            c[1] = dest[1];
            c[2] = dest[2];
            break;
        default:
            c[0] = dest[2];
            c[1] = dest[1];
            c[2] = dest[0];
            break;
    }
}

// The colour of the pixel under a painter.
void loadDest(const SpanPainter& p, int mode, uint8_t* c) {
    loadPixel(p.dest, p.destMask, mode, c);
}

void storeDest(SpanPainter& p, int mode, const uint8_t* c, const RasterScreen* screen) {
    switch (mode) {
        case rasterMono1:
            if (screen->test(p.x, p.y, c[0]))
                *p.dest |= static_cast<uint8_t>(p.destMask);
            else
                *p.dest &= static_cast<uint8_t>(~p.destMask);
            break;
        case rasterMono8:
            p.dest[0] = c[0];
            break;
        case rasterRGB8:
            p.dest[0] = c[0];
            p.dest[1] = c[1];
            p.dest[2] = c[2];
            break;
        default:
            p.dest[0] = c[2];
            p.dest[1] = c[1];
            p.dest[2] = c[0];
            break;
    }
}

int roundToByte(double v) {
    return static_cast<int>(std::floor(v + 0.5));
}

// The alpha of a over b: a + b - a b.
int over(int a, int b) {
    return a + b - div255(a * b);
}

// A non-isolated group's pixels hold the group composited over its
// backdrop, which is what lies beneath it here. Before the group is
// composited the backdrop's share comes out again, or it would count twice:
// with the group's own alpha g and the backdrop's alpha a0,
// C = Cn + (Cn - C0) (a0 / g - a0). a0 is the alpha that the group's content
// was composited against, none when the target has no alpha plane (the
// group then drew as over nothing). The sum is clamped to a byte: a
// correction past 0 or 255 means the colour is saturated there, and
// wrapping it would paint the opposite colour.
const uint8_t* correctForBackdrop(const SpanPainter& p, const uint8_t* cSrc, const uint8_t* cDest,
                                  int aBackdrop, uint8_t* corrected) {
    const int g = roundToByte(p.shape * 255);
    const int a0 = p.destAlpha ? aBackdrop : 0;
    corrected[0] = cSrc[0];
    corrected[1] = cSrc[1];
    corrected[2] = cSrc[2];
    if (g != 0 && a0 != 0) {
        for (int i = 0; i < p.groupCorrection; ++i) {
            const int v = cSrc[i] + ((cSrc[i] - cDest[i]) * a0 * (255 - g)) / (255 * g);
            corrected[i] = static_cast<uint8_t>(std::clamp(v, 0, 255));
        }
    }
    return corrected;
}

// The source's alpha at the current pixel: the constant alpha, times the
// shape when it is used, times the soft mask when one applies.
int sourceAlpha(const SpanPainter& p) {
    if (p.softMaskByte) {
        const int m = *p.softMaskByte;
        return p.usesShape ? roundToByte(p.shape * p.alphaIn * m) : roundToByte(p.alphaIn * m);
    }
    return p.usesShape ? roundToByte(p.shape * p.alphaIn) : p.alphaInByte;
}

// The alphas that weigh the colours of one pixel: the source's, what lies
// beneath the target (the backdrop over it in a non-isolated group), and
// the divisor, the result over that backdrop.
struct PixelAlphas {
    int aSrc;
    int aBackdrop;
    int alphaI;
};

// The result colour by the painter's rule: 0 and 1 mix source and blend by
// the target's alpha (no transparency: three channels, one), 2 and 3 weigh
// source and target (one channel, three), 4 and 5 weigh the blend in too
// (one, three). Channels a rule leaves out are 0.
void resultColour(int rule, const PixelAlphas& a, int aDest, const uint8_t* cSrc, const uint8_t* cDest,
                  const uint8_t* cBlend, uint8_t* out) {
    int c[3] = {0, 0, 0};
    switch (rule) {
        case 0:
        case 1: {
            const int n = rule == 0 ? 3 : 1;
            for (int i = 0; i < n; ++i)
                c[i] = div255((255 - aDest) * cSrc[i] + aDest * cBlend[i]);
            break;
        }
        case 2:
        case 3: {
            const int n = rule == 3 ? 3 : 1;
            if (a.alphaI != 0) {
                for (int i = 0; i < n; ++i)
                    c[i] = ((a.alphaI - a.aSrc) * cDest[i] + a.aSrc * cSrc[i]) / a.alphaI;
            }
            break;
        }
        default: {
            const int n = rule == 5 ? 3 : 1;
            if (a.alphaI != 0) {
                for (int i = 0; i < n; ++i)
                    c[i] = ((a.alphaI - a.aSrc) * cDest[i] +
                            (a.aSrc * ((255 - a.aBackdrop) * cSrc[i] + a.aBackdrop * cBlend[i])) / 255) /
                           a.alphaI;
            }
            break;
        }
    }
    for (int i = 0; i < 3; ++i)
        out[i] = static_cast<uint8_t>(c[i]);
}

// The general rules for one pixel: the source colour with alpha aSrc over
// the target's colour and alpha aDest (inside a non-isolated group, over
// everything beneath: the group's own pixels over its backdrop). The colour
// goes to out; the new alpha of the target is returned. An opaque pixel is
// painted without transparency.
int compositePixel(const SpanPainter& p, int mode, BlendFunction blend, const uint8_t* cSrc,
                   const uint8_t* cDest, int aDest, int aSrc, bool opaque, uint8_t* out) {
    const int aBackdrop = p.groupAlpha ? over(*p.groupAlpha, aDest) : aDest;
    uint8_t corrected[3];
    if (p.groupCorrection)
        cSrc = correctForBackdrop(p, cSrc, cDest, aBackdrop, corrected);
    uint8_t cBlend[3] = {0, 0, 0};
    if (blend)
        blend(cSrc, cDest, cBlend, mode);
    int aResult = 255, alphaI = 255;
    if (!opaque) {
        aResult = over(aSrc, aDest);
        alphaI = p.groupAlpha ? over(*p.groupAlpha, aResult) : aResult;
    }
    resultColour(p.resultRule, {aSrc, aBackdrop, alphaI}, aDest, cSrc, cDest, cBlend, out);
    return aResult;
}

}  // namespace

void Rasteriser::initPainter(SpanPainter& p, int x, int y, const RasterPattern* pattern,
                             const uint8_t* colour, double alpha, int usesShape, int groupCorrection) {
    const int mode = m_bitmap->mode();
    // Alphas come from the graphics state, where the format limits them to
    // 0..1; anything else (NaN included) is pulled into that range so that
    // every alpha product stays a byte.
    if (!(alpha >= 0))
        alpha = 0;
    if (alpha > 1)
        alpha = 1;

    // The soft mask applies only when it covers the target: it is made at
    // the target's size, and a mask of another size is ignored rather than
    // read out of its bounds.
    const RasterBitmap* mask = m_state->softMask();
    if (mask && (mask->mode() != rasterMono8 || mask->width() < m_bitmap->width() ||
                 mask->height() < m_bitmap->height()))
        mask = nullptr;
    p.softMask = mask;
    // The backdrop's alpha applies when this bitmap lies inside it at its
    // recorded offset.
    const RasterBitmap* backdrop = m_groupBackdrop;
    p.useGroupAlpha = m_state->inNonIsolatedGroup() && backdrop && backdrop->alpha() &&
                      m_groupBackdropX >= 0 && m_groupBackdropY >= 0 &&
                      int64_t{m_groupBackdropX} + m_bitmap->width() <= backdrop->width() &&
                      int64_t{m_groupBackdropY} + m_bitmap->height() <= backdrop->height();

    setPainterXY(p, x, y);

    p.pattern = nullptr;
    if (!pattern) {
        p.sourceColour = colour;
    } else if (pattern->isStatic()) {
        pattern->getColor(x, y, p.colourBuffer);
        p.sourceColour = p.colourBuffer;
    } else {
        p.pattern = pattern;
        p.sourceColour = p.colourBuffer;
    }

    p.usesShape = usesShape;
    p.shape = 1;
    p.alphaIn = alpha;
    p.alphaInByte = static_cast<uint8_t>(roundToByte(255 * alpha));
    if (!mask && usesShape)
        p.alphaIn = 255 * alpha;

    p.noTransparency =
        alpha == 1 && !mask && !usesShape && !m_state->inNonIsolatedGroup() && !m_knockoutBackdrop;
    const BlendFunction blend = m_state->blendFunction();
    static const int kRules[3][4] = {{1, 1, 0, 0}, {4, 4, 5, 5}, {2, 2, 3, 3}};
    const int ruleSet = p.noTransparency ? 0 : (blend ? 1 : 2);
    p.resultRule = kRules[ruleSet][mode];
    p.groupCorrection = groupCorrection ? rasterModeComponents(mode) : 0;

    // The fast loops compute the general rules for a fixed colour without a
    // soft mask, backdrop alpha, blend routine or group correction.
    const bool runs = !p.pattern && !mask && !blend && !p.groupCorrection;
    p.simple = runs && !p.useGroupAlpha;
    p.simpleRun = nullptr;
    p.simpleAaRun = nullptr;
    if (runs) {
        const bool hasAlpha = m_bitmap->alpha() != nullptr;
        p.simpleRun = pipe::selectSimpleRun(mode, hasAlpha, p.useGroupAlpha);
        p.simpleAaRun = pipe::selectSimpleAaRun(mode, hasAlpha, p.useGroupAlpha);
        if (usesShape && m_vectorAntialias) {
            // Fills and glyphs mostly come one after another at one alpha:
            // the table of the last alpha is kept.
            if (p.alphaIn != m_aaAlphaFor) {
                for (int t = 0; t <= 16; ++t)
                    m_aaAlphaTable[t] = static_cast<uint8_t>(roundToByte(m_aaGamma[t] * p.alphaIn));
                m_aaAlphaFor = p.alphaIn;
            }
            std::memcpy(p.aaAlpha, m_aaAlphaTable, sizeof p.aaAlpha);
        }
    }
}

void Rasteriser::setPainterXY(SpanPainter& p, int x, int y) {
    p.x = x;
    p.y = y;
    uint8_t* row = m_bitmap->data() + static_cast<ptrdiff_t>(y) * m_bitmap->rowSize();
    switch (m_bitmap->mode()) {
        case rasterMono1:
            p.dest = row + (x >> 3);
            p.destMask = 0x80 >> (x & 7);
            break;
        case rasterMono8:
            p.dest = row + x;
            break;
        default:
            p.dest = row + 3 * static_cast<ptrdiff_t>(x);
            break;
    }
    uint8_t* alpha = m_bitmap->alpha();
    p.destAlpha = alpha ? alpha + static_cast<ptrdiff_t>(y) * m_bitmap->width() + x : nullptr;
    p.softMaskByte =
        p.softMask ? p.softMask->data() + static_cast<ptrdiff_t>(p.softMask->rowSize()) * y + x : nullptr;
    p.groupAlpha = p.useGroupAlpha
                       ? m_groupBackdrop->alpha() +
                             static_cast<ptrdiff_t>(y + m_groupBackdropY) * m_groupBackdrop->width() +
                             (x + m_groupBackdropX)
                       : nullptr;
}

const uint8_t* Rasteriser::backdropRow(const SpanPainter& p, int y) const {
    if (!p.useGroupAlpha)
        return nullptr;
    return m_groupBackdrop->alpha() +
           static_cast<ptrdiff_t>(y + m_groupBackdropY) * m_groupBackdrop->width() + m_groupBackdropX;
}

void Rasteriser::skipPixel(SpanPainter& p) {
    ++p.x;
    switch (m_bitmap->mode()) {
        case rasterMono1:
            p.destMask >>= 1;
            if (p.destMask == 0) {
                p.destMask = 0x80;
                ++p.dest;
            }
            break;
        case rasterMono8:
            ++p.dest;
            break;
        default:
            p.dest += 3;
            break;
    }
    if (p.destAlpha)
        ++p.destAlpha;
    if (p.softMaskByte)
        ++p.softMaskByte;
    if (p.groupAlpha)
        ++p.groupAlpha;
}

void Rasteriser::paintPixel(SpanPainter& p) {
    const int mode = m_bitmap->mode();
    const RasterScreen* screen = m_state->screen();
    const BlendFunction blend = m_state->blendFunction();
    if (p.pattern)
        p.pattern->getColor(p.x, p.y, p.colourBuffer);
    const uint8_t* cSrc = p.sourceColour;

    if (p.noTransparency && !blend) {
        storeDest(p, mode, cSrc, screen);
        if (p.destAlpha)
            *p.destAlpha = 255;
        skipPixel(p);
        return;
    }

    if (m_knockoutBackdrop && !p.softMask) {
        paintKnockoutPixel(p);
        return;
    }

    uint8_t cDest[3] = {0, 0, 0};
    loadDest(p, mode, cDest);
    const int aDest = p.destAlpha ? *p.destAlpha : 255;
    uint8_t out[3];
    const int aResult =
        compositePixel(p, mode, blend, cSrc, cDest, aDest, sourceAlpha(p), p.noTransparency, out);
    storeDest(p, mode, out, screen);
    if (p.destAlpha)
        *p.destAlpha = static_cast<uint8_t>(aResult);
    skipPixel(p);
}

// The object meets the group's initial state: the pixel there takes the
// place of the target's in the general rules, the object's alpha leaves its
// shape out, and the result replaces the target's pixel by that shape
// (an anti-aliased edge's coverage mixes the two). An object drawn through
// a soft mask composites with the group's content as in any group, as the
// peers draw it: where its mask is clear it leaves what lies there.
void Rasteriser::paintKnockoutPixel(SpanPainter& p) {
    const int mode = m_bitmap->mode();
    const BlendFunction blend = m_state->blendFunction();
    const uint8_t* cSrc = p.sourceColour;

    uint8_t cCurrent[3] = {0, 0, 0};
    loadDest(p, mode, cCurrent);
    const int aCurrent = *p.destAlpha;
    uint8_t cDest[3] = {0, 0, 0};
    loadPixel(m_knockoutBackdrop->data() + (p.dest - m_bitmap->data()), p.destMask, mode, cDest);
    const int aDest = m_knockoutBackdrop->alpha()[p.destAlpha - m_bitmap->alpha()];

    // The object's alpha leaves its shape out: the shape mixes below.
    const double shape = p.usesShape ? p.shape : 1;
    p.shape = 1;
    const int aSrc = sourceAlpha(p);
    p.shape = shape;
    uint8_t out[3];
    const int aResult = compositePixel(p, mode, blend, cSrc, cDest, aDest, aSrc, false, out);

    // A non-isolated group's colours are already over its backdrop and mix
    // as they are; an isolated group's mix weighed by their alphas.
    const int s = std::clamp(roundToByte(shape * 255), 0, 255);
    const bool weighed = !m_state->inNonIsolatedGroup();
    const int wCurrent = weighed ? (255 - s) * aCurrent : (255 - s) * 255;
    const int wResult = weighed ? s * aResult : s * 255;
    if (wCurrent + wResult != 0) {
        for (int i = 0; i < 3; ++i)
            out[i] =
                static_cast<uint8_t>((wCurrent * cCurrent[i] + wResult * out[i] + (wCurrent + wResult) / 2) /
                                     (wCurrent + wResult));
    }
    storeDest(p, mode, out, m_state->screen());
    *p.destAlpha = static_cast<uint8_t>(div255((255 - s) * aCurrent + s * aResult));
    skipPixel(p);
}

void Rasteriser::drawPixel(SpanPainter& p, int x, int y, int noClip) {
    if (!noClip && !m_state->clip().test(x, y))
        return;
    setPainterXY(p, x, y);
    paintPixel(p);
    extendModifiedX(x);
    extendModifiedY(y);
}

void Rasteriser::paintSpan(SpanPainter& p, int x0, int x1, int y) {
    if (x0 > x1)
        return;
    if (p.simpleRun && !m_referencePipe) {
        const int aSrc = p.usesShape ? roundToByte(p.shape * p.alphaIn) : p.alphaInByte;
        uint8_t* row = m_bitmap->data() + static_cast<ptrdiff_t>(y) * m_bitmap->rowSize();
        uint8_t* alphaRow =
            m_bitmap->alpha() ? m_bitmap->alpha() + static_cast<ptrdiff_t>(y) * m_bitmap->width() : nullptr;
        p.simpleRun(row, alphaRow, backdropRow(p, y), x0, x1, y, p.sourceColour, aSrc, m_state->screen());
    } else {
        setPainterXY(p, x0, y);
        for (int x = x0; x <= x1; ++x)
            paintPixel(p);
    }
    extendModifiedX(x0);
    extendModifiedX(x1);
    extendModifiedY(y);
}

void Rasteriser::paintSpanClipped(SpanPainter& p, int x0, int x1, int y) {
    if (x0 > x1)
        return;
    RasterClip& clip = m_state->clip();
    setPainterXY(p, x0, y);
    int first = x1 + 1, last = x0 - 1;
    for (int x = x0; x <= x1; ++x) {
        if (clip.test(x, y)) {
            paintPixel(p);
            if (x < first)
                first = x;
            last = x;
        } else {
            skipPixel(p);
        }
    }
    if (first <= last) {
        extendModifiedX(first);
        extendModifiedX(last);
        extendModifiedY(y);
    }
}

void Rasteriser::paintAaSpan(SpanPainter& p, int x0, int x1, int y) {
    if (x0 > x1)
        return;
    const uint8_t* buffer = m_aaBuffer->data();
    const int bufferRow = m_aaBuffer->rowSize();
    int first = x1 + 1, last = x0 - 1;
    if (p.simpleAaRun && !m_referencePipe) {
        const AaRowSet coverage = {
            {buffer, buffer + bufferRow, buffer + 2 * bufferRow, buffer + 3 * bufferRow}};
        uint8_t* row = m_bitmap->data() + static_cast<ptrdiff_t>(y) * m_bitmap->rowSize();
        uint8_t* alphaRow =
            m_bitmap->alpha() ? m_bitmap->alpha() + static_cast<ptrdiff_t>(y) * m_bitmap->width() : nullptr;
        p.simpleAaRun(row, alphaRow, backdropRow(p, y), coverage, x0, x1, y, p.sourceColour, p.aaAlpha,
                      m_state->screen(), &first, &last);
    } else {
        setPainterXY(p, x0, y);
        for (int x = x0; x <= x1; ++x) {
            // Four bits per pixel in each of the four sub-rows: the high
            // nibble of byte x / 2 for an even x, the low one for an odd x.
            const int byte = x >> 1;
            const int shift = (x & 1) ? 0 : 4;
            const int t = pipe::kBitCount4[(buffer[byte] >> shift) & 15] +
                          pipe::kBitCount4[(buffer[bufferRow + byte] >> shift) & 15] +
                          pipe::kBitCount4[(buffer[2 * bufferRow + byte] >> shift) & 15] +
                          pipe::kBitCount4[(buffer[3 * bufferRow + byte] >> shift) & 15];
            if (t == 0) {
                skipPixel(p);
                continue;
            }
            p.shape = m_aaGamma[t];
            paintPixel(p);
            if (x < first)
                first = x;
            last = x;
        }
    }
    if (first <= last) {
        extendModifiedX(first);
        extendModifiedX(last);
        extendModifiedY(y);
    }
}

}  // namespace rendova
