#include "engine/raster/RasterOutputDevice.h"

#include <algorithm>

#include "engine/content/GraphicsState.h"
#include "engine/content/Path.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/GlobalSettings.h"
#include "engine/raster/BlendModes.h"
#include "engine/raster/RasterBitmap.h"
#include "engine/raster/RasterPath.h"
#include "engine/raster/RasterPattern.h"
#include "engine/raster/Rasteriser.h"

namespace rendova {

namespace {

// The settings the device reads. Without a settings object (a device made
// outside a renderer facade, as tests do) the settings' defaults stand.
bool settingsAntialias() {
    return globalSettings ? globalSettings->getAntialias() : true;
}
bool settingsStrokeAdjust() {
    return globalSettings ? globalSettings->getStrokeAdjustment() : true;
}

// A 16.16 colour component as a byte, rounded; components outside 0 .. 1
// (a colour space may overshoot a little) are pulled into range first.
uint8_t componentToByte(int64_t v) {
    v = std::clamp<int64_t>(v, 0, 0x10000);
    return static_cast<uint8_t>((v * 255 + 0x8000) >> 16);
}

bool paintsNothing(const ColorSpace* space) {
    return space && space->paintsNothing();
}

}  // namespace

RasterOutputDevice::RasterOutputDevice(int colourMode, int rowPadding, bool reverseVideo,
                                       const uint8_t* paperColour, bool topDown, bool antialiasRequest)
    : m_colourMode(colourMode),
      m_rowPadding(rowPadding),
      m_topDown(topDown),
      m_antialiasRequest(antialiasRequest),
      m_antialias(antialiasRequest && settingsAntialias() && colourMode != rasterMono1),
      m_reverseVideo(reverseVideo),
      m_paperColour{paperColour[0], paperColour[1], paperColour[2]},
      m_text(colourMode, m_antialias) {
    setHalftoneParameters(72, 72);
    m_bitmap = std::make_unique<RasterBitmap>(1, 1, m_rowPadding, m_colourMode, m_colourMode != rasterMono1,
                                              m_topDown);
    makeRasteriser();
    m_rasteriser->clear(m_paperColour, 0);
}

// Groups left open give the page's rasteriser back first, so that no
// rasteriser outlives the group bitmap it draws into. The members then go in
// the reverse order of their declaration: the text side (glyph caches, then
// fonts), the rasteriser, which draws into the bitmap, then the bitmap.
RasterOutputDevice::~RasterOutputDevice() {
    unwindGroups();
}

void RasterOutputDevice::startDocument(XrefTable* xref) {
    m_xref = xref;
    const bool engineEnabled = globalSettings ? globalSettings->getFontEngineEnabled() : true;
    const bool fontAntialias = globalSettings ? globalSettings->getFontAntialias() : true;
    m_text.startDocument(xref, engineEnabled,
                         m_antialiasRequest && fontAntialias && m_colourMode != rasterMono1);
}

void RasterOutputDevice::setHalftoneParameters(double horizontalDpi, double verticalDpi) {
    HalftoneParameters& p = m_screenParams;
    int kind = 0;
    if (globalSettings) {
        p.size = globalSettings->getHalftoneSize();
        p.dotRadius = globalSettings->getHalftoneDotRadius();
        p.gamma = globalSettings->getHalftoneGamma();
        p.blackLimit = globalSettings->getHalftoneBlackLimit();
        p.whiteLimit = globalSettings->getHalftoneWhiteLimit();
        kind = globalSettings->getHalftoneKind();
    } else {
        p = HalftoneParameters();
        p.size = -1;
        p.dotRadius = -1;
    }
    // Kind 1 asks for the dispersed screen, 2 for the clustered, 3 for the
    // stochastic clustered; unset, the stochastic screen serves high
    // resolutions, where an ordered dither's pattern would show.
    if (kind == 2) {
        p.kind = kScreenClustered;
        if (p.size < 0)
            p.size = 10;
    } else if (kind == 3 || (kind != 1 && horizontalDpi > 299.9 && verticalDpi > 299.9)) {
        p.kind = kScreenStochasticClustered;
        if (p.size < 0)
            p.size = 100;
        if (p.dotRadius < 0)
            p.dotRadius = 2;
    } else {
        p.kind = kScreenDispersed;
        if (p.size < 0)
            p.size = 4;
    }
}

void RasterOutputDevice::makeRasteriser() {
    m_rasteriser = std::make_unique<Rasteriser>(m_bitmap.get(), m_antialias, &m_screenParams);
    m_target = m_bitmap.get();
}

void RasterOutputDevice::startPage(int, GraphicsState* state) {
    int width = 1, height = 1;
    if (state) {
        setHalftoneParameters(state->getHorizontalResolution(), state->getVerticalResolution());
        width = pixelCountFromSize(state->getPageWidth());
        height = pixelCountFromSize(state->getPageHeight());
    }
    if (m_groups) {
        reportError(-1, "page started with %d transparency groups of the last page unfinished",
                    getGroupDepth());
        unwindGroups();
    }
    // What the last page painted, as its rasteriser saw it: anything drawn
    // since endPage is inside the box too.
    bool onlyPaintedBox = m_paperOutsideBox && m_rasteriser && m_rasteriser->getBitmap() == m_bitmap.get();
    m_paperOutsideBox = false;
    int paintedX0 = 0, paintedY0 = 0, paintedX1 = -1, paintedY1 = -1;
    if (onlyPaintedBox) {
        paintedX0 = m_rasteriser->modXMin();
        paintedY0 = m_rasteriser->modYMin();
        paintedX1 = m_rasteriser->modXMax();
        paintedY1 = m_rasteriser->modYMax();
    }
    m_rasteriser.reset();
    try {
        // The same block serves page after page of one size, so that the
        // borrower of the previous page's bitmap is not left with freed
        // memory in the common case and the allocation is saved. The old
        // block goes first, so that two large pages never coexist.
        if (m_bitmap->width() != width || m_bitmap->height() != height) {
            onlyPaintedBox = false;
            m_bitmap.reset();
            m_bitmap = std::make_unique<RasterBitmap>(width, height, m_rowPadding, m_colourMode,
                                                      m_colourMode != rasterMono1, m_topDown);
        }
        makeRasteriser();
    } catch (...) {
        // A page too large for memory: the device stays usable for the
        // next page, with the initial 1 x 1 page of paper.
        m_rasteriser.reset();
        m_bitmap = std::make_unique<RasterBitmap>(1, 1, m_rowPadding, m_colourMode,
                                                  m_colourMode != rasterMono1, m_topDown);
        makeRasteriser();
        m_rasteriser->clear(m_paperColour, 0);
        throw;
    }
    if (state)
        m_rasteriser->setMatrix(state->getMatrix());

    // Black whatever reverse video says: the defaults of the format.
    const uint8_t black[3] = {0, 0, 0};
    m_rasteriser->setStrokePattern(new RasterSolidColor(black));
    m_rasteriser->setFillPattern(new RasterSolidColor(black));
    m_rasteriser->setLineCap(0);
    m_rasteriser->setLineJoin(0);
    m_rasteriser->setLineDash(nullptr, 0, 0);
    m_rasteriser->setMiterLimit(10);
    m_rasteriser->setFlatness(1);
    m_rasteriser->setStrokeAdjust(settingsStrokeAdjust() ? 1 : 0);
    // A reused bitmap is paper with alpha 0 outside what the last page
    // painted; clearing that box alone saves a pass over the whole page.
    // Every painting operation extends the box; a blit does not, but
    // nothing blits onto the page, only into a group's own bitmap.
    if (onlyPaintedBox)
        m_rasteriser->clearRect(m_paperColour, 0, paintedX0, paintedY0, paintedX1, paintedY1);
    else
        m_rasteriser->clear(m_paperColour, 0);
    // From here the box holds what the page paints, which is all that
    // endPage needs to blend over the paper.
    m_rasteriser->resetModifiedBox();
}

void RasterOutputDevice::endPage() {
    if (m_groups) {
        reportError(-1, "page ended with %d transparency groups unfinished", getGroupDepth());
        unwindGroups();
    }
    // Painting left coverage in the alpha plane over a transparent page;
    // the paper shows through where nothing was painted. Outside the box
    // that the page painted the clear's paper stands as it is.
    if (m_colourMode != rasterMono1) {
        Rasteriser& r = *m_rasteriser;
        if (r.getBitmap() != m_bitmap.get()) {
            r.compositeBackground(m_paperColour);
            return;
        }
        r.compositeBackgroundRect(m_paperColour, r.modXMin(), r.modYMin(), r.modXMax(), r.modYMax());
        m_paperOutsideBox = true;
    }
}

void RasterOutputDevice::saveState(GraphicsState*) {
    m_rasteriser->saveState();
}

void RasterOutputDevice::restoreState(GraphicsState*) {
    m_rasteriser->restoreState();
    m_text.setFontChanged();
}

void RasterOutputDevice::refreshAllState(GraphicsState* state) {
    updateLineDash(state);
    updateLineJoin(state);
    updateLineCap(state);
    updateLineWidth(state);
    updateFlatness(state);
    updateMiterLimit(state);
    updateStrokeAdjust(state);
    updateFillColor(state);
    updateStrokeColor(state);
    m_text.setFontChanged();
}

void RasterOutputDevice::updateMatrix(GraphicsState* state, double, double, double, double, double, double) {
    m_rasteriser->setMatrix(state->getMatrix());
}

void RasterOutputDevice::updateLineDash(GraphicsState* state) {
    const double* dash = state->getLineDash();
    const int length = dash ? std::clamp(state->getLineDashLength(), 0, kMaxDashLength) : 0;
    double values[kMaxDashLength];
    for (int i = 0; i < length; ++i)
        values[i] = dash[i] < 0 ? 0 : dash[i];
    // A pattern of total length 0 is left to the stroker, which strokes it
    // solid.
    m_rasteriser->setLineDash(length ? values : nullptr, length, state->getLineDashPhase());
}

void RasterOutputDevice::updateFlatness(GraphicsState* state) {
    m_rasteriser->setFlatness(static_cast<double>(state->getFlatness()));
}

void RasterOutputDevice::updateLineJoin(GraphicsState* state) {
    m_rasteriser->setLineJoin(state->getLineJoin());
}

void RasterOutputDevice::updateLineCap(GraphicsState* state) {
    m_rasteriser->setLineCap(state->getLineCap());
}

void RasterOutputDevice::updateMiterLimit(GraphicsState* state) {
    m_rasteriser->setMiterLimit(state->getMiterLimit());
}

void RasterOutputDevice::updateLineWidth(GraphicsState* state) {
    m_rasteriser->setLineWidth(state->getLineWidth());
}

RasterSolidColor* RasterOutputDevice::makeColorPattern(int32_t gray, int32_t red, int32_t green,
                                                       int32_t blue) const {
    int64_t g = gray, r = red, gr = green, b = blue;
    if (m_reverseVideo) {
        g = 0x10000 - g;
        r = 0x10000 - r;
        gr = 0x10000 - gr;
        b = 0x10000 - b;
    }
    uint8_t colour[3];
    switch (m_colourMode) {
        case rasterMono1:
        case rasterMono8:
            colour[0] = colour[1] = colour[2] = componentToByte(g);
            break;
        case rasterRGB8:
        case rasterBGR8:
            colour[0] = componentToByte(r);
            colour[1] = componentToByte(gr);
            colour[2] = componentToByte(b);
            break;
        default:
            return nullptr;
    }
    return new RasterSolidColor(colour);
}

namespace {

// Grey and RGB of a colour in its space; black without a space.
void colourComponents(const ColorSpace* space, const ColorValue& colour, ColorComponent& gray,
                      RgbColor& rgb) {
    gray = 0;
    rgb = {0, 0, 0};
    if (!space)
        return;
    space->getGray(colour, gray);
    space->getRgb(colour, rgb);
}

}  // namespace

bool RasterOutputDevice::insideD1Glyph() const {
    return !m_type3BoxSeen.empty() && m_type3BoxSeen.back();
}

void RasterOutputDevice::updateFillColor(GraphicsState* state) {
    // A glyph that starts with d1 is a shape only: its colour operators are
    // ignored, and it takes the colour of the text that shows it (in the
    // cache cell, the cell's full-coverage ink).
    if (insideD1Glyph())
        return;
    ColorComponent gray;
    RgbColor rgb;
    colourComponents(state->getFillColorSpace(), state->getFillColor(), gray, rgb);
    if (RasterSolidColor* pattern = makeColorPattern(gray, rgb.r, rgb.g, rgb.b))
        m_rasteriser->setFillPattern(pattern);
}

void RasterOutputDevice::updateStrokeColor(GraphicsState* state) {
    if (insideD1Glyph())
        return;
    ColorComponent gray;
    RgbColor rgb;
    colourComponents(state->getStrokeColorSpace(), state->getStrokeColor(), gray, rgb);
    if (RasterSolidColor* pattern = makeColorPattern(gray, rgb.r, rgb.g, rgb.b))
        m_rasteriser->setStrokePattern(pattern);
}

void RasterOutputDevice::updateBlendMode(GraphicsState* state) {
    const int mode = state->getBlendMode();
    // The state only holds modes that parseBlendMode gave; anything else
    // paints normally.
    m_rasteriser->setBlendFunction(mode >= 0 && mode < 16 ? blendModeTable[mode] : nullptr);
}

void RasterOutputDevice::updateFillOpacity(GraphicsState* state) {
    m_rasteriser->setFillAlpha(state->getFillOpacity());
}

void RasterOutputDevice::updateStrokeOpacity(GraphicsState* state) {
    m_rasteriser->setStrokeAlpha(state->getStrokeOpacity());
}

void RasterOutputDevice::updateFont(GraphicsState*) {
    m_text.setFontChanged();
}

void RasterOutputDevice::drawChar(GraphicsState* state, double x, double y, double, double, double originX,
                                  double originY, unsigned int code, int, const unsigned int*, int) {
    m_text.drawChar(state, m_rasteriser.get(), x, y, originX, originY, code);
}

void RasterOutputDevice::finishTextObject(GraphicsState*) {
    m_text.finishTextObject(m_rasteriser.get());
}

bool RasterOutputDevice::beginType3Char(GraphicsState* state, double, double, double, double,
                                        unsigned int code, const unsigned int*, int) {
    const int depth = m_text.getType3StackDepth();
    const bool cached = m_text.beginType3Char(state, m_rasteriser.get(), code);
    if (m_text.getType3StackDepth() > depth)
        m_type3BoxSeen.push_back(0);
    return cached;
}

void RasterOutputDevice::setType3GlyphBox(GraphicsState* state, double, double, double llx, double lly,
                                          double urx, double ury) {
    // Only the first d1 of a glyph decides whether it is cached: a second
    // one would save the cell's rasteriser over the page's and lose it.
    if (!m_type3BoxSeen.empty()) {
        if (m_type3BoxSeen.back())
            return;
        m_type3BoxSeen.back() = 1;
    }
    m_text.setType3GlyphBox(state, m_rasteriser, m_target, llx, lly, urx, ury);
}

void RasterOutputDevice::endType3Char(GraphicsState* state) {
    const int depth = m_text.getType3StackDepth();
    m_text.endType3Char(state, m_rasteriser, m_target);
    if (m_text.getType3StackDepth() < depth && !m_type3BoxSeen.empty())
        m_type3BoxSeen.pop_back();
}

std::unique_ptr<RasterPath> RasterOutputDevice::convertPath(const Path& path) {
    auto out = std::make_unique<RasterPath>();
    for (int i = 0; i < path.getSubPathCount(); ++i) {
        const SubPath* sub = path.getSubPath(i);
        const int n = sub->getCount();
        if (n <= 0)
            continue;
        out->moveTo(sub->getX(0), sub->getY(0));
        int j = 1;
        while (j < n) {
            if (sub->isCurve(j) && j + 2 < n) {
                out->curveTo(sub->getX(j), sub->getY(j), sub->getX(j + 1), sub->getY(j + 1), sub->getX(j + 2),
                             sub->getY(j + 2));
                j += 3;
            } else {
                out->lineTo(sub->getX(j), sub->getY(j));
                ++j;
            }
        }
        if (sub->isClosed())
            out->close();
    }
    return out;
}

void RasterOutputDevice::stroke(GraphicsState* state) {
    if (paintsNothing(state->getStrokeColorSpace()))
        return;
    std::unique_ptr<RasterPath> path = convertPath(*state->getPath());
    m_rasteriser->stroke(*path);
}

void RasterOutputDevice::fillPath(GraphicsState* state, bool evenOdd) {
    if (paintsNothing(state->getFillColorSpace()))
        return;
    std::unique_ptr<RasterPath> path = convertPath(*state->getPath());
    m_rasteriser->fill(*path, evenOdd);
}

void RasterOutputDevice::fill(GraphicsState* state) {
    fillPath(state, false);
}

void RasterOutputDevice::eoFill(GraphicsState* state) {
    fillPath(state, true);
}

void RasterOutputDevice::clipPath(GraphicsState* state, bool evenOdd) {
    std::unique_ptr<RasterPath> path = convertPath(*state->getPath());
    m_rasteriser->clipToPath(*path, evenOdd);
}

void RasterOutputDevice::clip(GraphicsState* state) {
    clipPath(state, false);
}

void RasterOutputDevice::eoClip(GraphicsState* state) {
    clipPath(state, true);
}

void RasterOutputDevice::clipToStrokeOutline(GraphicsState* state) {
    std::unique_ptr<RasterPath> path = convertPath(*state->getPath());
    std::unique_ptr<RasterPath> outline = m_rasteriser->makeStrokePath(*path, 1);
    m_rasteriser->clipToPath(*outline, false);
}

bool RasterOutputDevice::getAntialias() {
    return m_rasteriser->vectorAntialias();
}

void RasterOutputDevice::setAntialias(bool on) {
    m_rasteriser->setVectorAntialias(on);
}

}  // namespace rendova
