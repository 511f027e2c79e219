// Glyphs by render mode, the text clip, and Type 3 glyphs with their cache.
#include "engine/raster/RasterDeviceText.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/content/CompositeFont.h"
#include "engine/content/FontObject.h"
#include "engine/content/GraphicsState.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/SaturatingCast.h"
#include "engine/raster/RasterBitmap.h"
#include "engine/raster/RasterFont.h"
#include "engine/raster/RasterFontCache.h"
#include "engine/raster/RasterFontFile.h"
#include "engine/raster/RasterPath.h"
#include "engine/raster/RasterPattern.h"
#include "engine/raster/Rasteriser.h"

namespace rendova {

namespace {

// The box around four transformed corners: xMin, yMin, xMax, yMax.
void transformedBox(const double* m, double llx, double lly, double urx, double ury, double* box) {
    const double xs[2] = {llx, urx}, ys[2] = {lly, ury};
    for (int i = 0; i < 4; ++i) {
        const double x = xs[i >> 1], y = ys[i & 1];
        const double tx = m[0] * x + m[2] * y + m[4], ty = m[1] * x + m[3] * y + m[5];
        if (i == 0) {
            box[0] = box[2] = tx;
            box[1] = box[3] = ty;
        } else {
            box[0] = std::min(box[0], tx);
            box[1] = std::min(box[1], ty);
            box[2] = std::max(box[2], tx);
            box[3] = std::max(box[3], ty);
        }
    }
}

bool paintsNothing(const ColorSpace* space) {
    return space && space->paintsNothing();
}

}  // namespace

RasterDeviceText::RasterDeviceText(int colourMode, bool antialias)
    : m_colourMode(colourMode), m_antialias(antialias) {}

RasterDeviceText::~RasterDeviceText() {
    // Caches first, then the fonts, as the device's destructor orders them.
    m_type3Caches.clear();
    m_fontCache.reset();
}

void RasterDeviceText::startDocument(XrefTable* xref, bool engineEnabled, bool glyphAntialias) {
    m_xref = xref;
    m_currentFont = nullptr;
    m_fontChanged = true;
    m_fontCache.reset();
    m_fontCache = std::make_unique<RasterFontCache>(engineEnabled, glyphAntialias);
    m_type3Caches.clear();
}

RasterFont* RasterDeviceText::fontFittedTo(GraphicsState* state, const double* ctm, unsigned int code) {
    // Scales this close to 1 draw as they are; a glyph far narrower or wider
    // than its width (an "l" in a cell of a whole em) would be distorted
    // past reading by fitting, and is drawn as it is, from the cell's start.
    constexpr double kFitTolerance = 0.005;
    constexpr double kMaxFit = 1.5;
    RasterFont* current = m_currentFont;
    FontObject* font = state->getFont();
    if (!current || !font || !current->getFontFile()->fitsWidths() || !font->isCidFont() ||
        font->getWritingMode() != 0)
        return current;
    RasterFontFileBase* file = current->getFontFile();
    const double advance = file->glyphAdvance(static_cast<int>(code));
    const double width = static_cast<const CompositeFont*>(font)->getCidWidth(static_cast<int>(code));
    const double scale = advance > 0 && width > 0 ? width / advance : 1;
    if (std::fabs(scale - 1) <= kFitTolerance || scale > kMaxFit || scale < 1 / kMaxFit)
        return current;
    const double* t = current->getTextMatrix();
    const double base[4] = {t[0], t[1], t[2], t[3]};
    const double scaled[4] = {t[0] * scale, t[1] * scale, t[2], t[3]};
    RasterFont* fitted = m_fontCache->makeFont(file, scaled, ctm);
    // Back in front, the current font is not the next to be dropped, and
    // the fitted one (second) outlives this glyph.
    m_currentFont = m_fontCache->makeFont(file, base, ctm);
    return fitted;
}

void RasterDeviceText::drawChar(GraphicsState* state, Rasteriser* rasteriser, double x, double y,
                                double originX, double originY, unsigned int code) {
    const int mode = state->getRenderMode();
    if (mode == 3)
        return;
    if (mode & 4)
        m_textClipPending = true;
    if (m_fontChanged)
        loadFont(state, rasteriser->getState()->matrix());
    RasterFont* font = fontFittedTo(state, rasteriser->getState()->matrix(), code);
    if (!font)
        return;
    x -= originX;
    y -= originY;
    const int glyph = static_cast<int>(code);

    if (!(mode & 1) && !paintsNothing(state->getFillColorSpace())) {
        if (font->hasBitmaps()) {
            rasteriser->fillChar(x, y, glyph, *font);
        } else if (std::unique_ptr<RasterPath> path = font->getGlyphPath(glyph)) {
            // Too large for a glyph bitmap: the outline is filled instead.
            path->offset(x, y);
            rasteriser->fill(*path, false);
        }
    }
    if (((mode & 3) == 1 || (mode & 3) == 2) && !paintsNothing(state->getStrokeColorSpace())) {
        if (std::unique_ptr<RasterPath> path = font->getGlyphPath(glyph)) {
            path->offset(x, y);
            rasteriser->stroke(*path);
        }
    }
    if (mode & 4) {
        if (std::unique_ptr<RasterPath> path = font->getGlyphPath(glyph)) {
            path->offset(x, y);
            if (m_textClip) {
                m_textClip->append(*path);
            } else {
                m_textClip = std::move(path);
            }
        }
    }
}

void RasterDeviceText::finishTextObject(Rasteriser* rasteriser) {
    const bool pending = m_textClipPending;
    m_textClipPending = false;
    if (!m_textClip) {
        if (pending) {
            RasterPath nothing;
            nothing.moveTo(0, 0);
            nothing.lineTo(0, 0);
            nothing.close();
            rasteriser->clipToPath(nothing, false);
        }
        return;
    }
    rasteriser->clipToPath(*m_textClip, false);
    m_textClip.reset();
}

bool RasterDeviceText::beginType3Char(GraphicsState* state, Rasteriser* rasteriser, unsigned int code) {
    FontObject* font = state->getFont();
    if (!font)
        return false;
    const double* m = state->getMatrix();
    Type3GlyphCache* cache =
        m_type3Caches.find(font->getObjectNumber(), font->getGeneration(), m[0], m[1], m[2], m[3]);
    if (!cache) {
        const double* b = font->getBoundingBox();
        const bool boxValid = b[0] != 0 || b[1] != 0 || b[2] != 0 || b[3] != 0;
        double box[4];
        if (boxValid) {
            transformedBox(m, b[0], b[1], b[2], b[3], box);
        } else {
            // Without a font box, a cell that holds most glyphs of text
            // sizes; glyphs that leave it are drawn uncached.
            box[0] = m[4] - 5;
            box[1] = m[5] - 30;
            box[2] = m[4] + 25;
            box[3] = m[5] + 15;
        }
        const int xOffset = saturateToInt(std::floor(box[0] - m[4]));
        const int yOffset = saturateToInt(std::floor(box[1] - m[5]));
        const int64_t width =
            int64_t{saturateToInt(std::ceil(box[2]))} - saturateToInt(std::floor(box[0])) + 3;
        const int64_t height =
            int64_t{saturateToInt(std::ceil(box[3]))} - saturateToInt(std::floor(box[1])) + 3;
        // A cell beyond the int range is no cell: the cache gets none and
        // draws every glyph of the font directly.
        const int w = width > 0 && width <= INT32_MAX ? static_cast<int>(width) : 0;
        const int h = height > 0 && height <= INT32_MAX ? static_cast<int>(height) : 0;
        std::vector<const Type3GlyphCache*> inUse;
        for (const Type3StackEntry& e : m_type3Stack)
            inUse.push_back(e.cache);
        cache = m_type3Caches.add(std::make_unique<Type3GlyphCache>(
                                      font->getObjectNumber(), font->getGeneration(), m[0], m[1], m[2], m[3],
                                      xOffset, yOffset, w, h, boxValid ? 1 : 0, m_colourMode != 0),
                                  inUse);
    }
    const int entry = cache ? cache->lookup(code) : -1;
    if (entry >= 0) {
        drawCachedType3Glyph(rasteriser, *cache, entry);
        return true;
    }
    Type3StackEntry e;
    e.code = code;
    e.cache = cache;
    m_type3Stack.push_back(std::move(e));
    return false;
}

void RasterDeviceText::drawCachedType3Glyph(Rasteriser* rasteriser, const Type3GlyphCache& cache, int entry) {
    RasterGlyph glyph;
    glyph.xOffset = -cache.getXOffset();
    glyph.yOffset = -cache.getYOffset();
    glyph.width = cache.getWidth();
    glyph.height = cache.getHeight();
    glyph.antialiased = m_colourMode != 0;
    glyph.pixels = cache.entryData(entry);
    glyph.ownsPixels = 0;
    rasteriser->fillGlyph(0, 0, glyph);
}

void RasterDeviceText::setType3GlyphBox(GraphicsState* state, std::unique_ptr<Rasteriser>& rasteriser,
                                        RasterBitmap*& target, double llx, double lly, double urx,
                                        double ury) {
    if (m_type3Stack.empty())
        return;
    Type3StackEntry& top = m_type3Stack.back();
    Type3GlyphCache* cache = top.cache;
    const double* m = state->getMatrix();
    double box[4];
    transformedBox(m, llx, lly, urx, ury, box);
    const double tx = m[4], ty = m[5];
    const bool fits = cache && cache->getSetCount() > 0 && cache->getXOffset() <= box[0] - tx &&
                      cache->getYOffset() <= box[1] - ty &&
                      cache->getXOffset() + cache->getWidth() >= box[2] - tx &&
                      cache->getYOffset() + cache->getHeight() >= box[3] - ty;
    if (!fits) {
        if (cache && cache->isBoxValid())
            reportError(-1, "Bad bounding box in Type 3 glyph");
        return;
    }

    top.entry = cache->insert(top.code);
    top.savedTarget = target;
    top.savedRasteriser = std::move(rasteriser);
    top.savedTx = tx;
    top.savedTy = ty;
    const bool aa = m_colourMode != 0;
    top.glyphBitmap = std::make_unique<RasterBitmap>(cache->getWidth(), cache->getHeight(), 1,
                                                     aa ? rasterMono8 : rasterMono1, false, true);
    target = top.glyphBitmap.get();
    rasteriser = std::make_unique<Rasteriser>(target, aa && m_antialias, *top.savedRasteriser->getScreen());
    const uint8_t clearColour[3] = {0, 0, 0};
    rasteriser->clear(clearColour, 0);
    // Full coverage, in the grey that the glyph bitmap stores (in the 1-bit
    // mode a set bit, which the halftone gives for the top grey).
    const uint8_t ink[3] = {255, 255, 255};
    rasteriser->setFillPattern(new RasterSolidColor(ink));
    rasteriser->setStrokePattern(new RasterSolidColor(ink));
    state->setMatrix(m[0], m[1], m[2], m[3], -cache->getXOffset(), -cache->getYOffset());
    rasteriser->setMatrix(state->getMatrix());
}

void RasterDeviceText::endType3Char(GraphicsState* state, std::unique_ptr<Rasteriser>& rasteriser,
                                    RasterBitmap*& target) {
    if (m_type3Stack.empty())
        return;
    Type3StackEntry& top = m_type3Stack.back();
    if (top.entry >= 0 && top.savedRasteriser) {
        Type3GlyphCache* cache = top.cache;
        // Rows of the cell bitmap are packed (padding 1, top-down), as the
        // cache keeps them.
        std::memcpy(cache->entryData(top.entry), top.glyphBitmap->data(),
                    static_cast<size_t>(cache->getGlyphSize()));
        rasteriser = std::move(top.savedRasteriser);
        target = top.savedTarget;
        top.glyphBitmap.reset();
        const double* m = state->getMatrix();
        state->setMatrix(m[0], m[1], m[2], m[3], top.savedTx, top.savedTy);
        rasteriser->setMatrix(state->getMatrix());
        drawCachedType3Glyph(rasteriser.get(), *cache, top.entry);
    }
    m_type3Stack.pop_back();
}

}  // namespace rendova
