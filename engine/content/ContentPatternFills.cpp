// The sh operator and the fills and strokes with tiling and shading
// patterns: the state around each fill (clip, colour space, matrix,
// anti-aliasing); ShadingFill cuts the shadings themselves.
#include <cmath>
#include <cstring>

#include "engine/content/ContentInterpreter.h"
#include "engine/content/ShadingFill.h"
#include "engine/core/ErrorReport.h"

namespace rendova {

namespace {

// Tiles one pattern fill may run: a step of a point over a page already
// gives half a million cells, each a run of the pattern's content.
constexpr int64_t kMaxTilesPerFill = 1 << 16;

// out = a x b (a applies first).
void multiply(const double* a, const double* b, double* out) {
    const double r[6] = {a[0] * b[0] + a[1] * b[2],        a[0] * b[1] + a[1] * b[3],
                         a[2] * b[0] + a[3] * b[2],        a[2] * b[1] + a[3] * b[3],
                         a[4] * b[0] + a[5] * b[2] + b[4], a[4] * b[1] + a[5] * b[3] + b[5]};
    std::memcpy(out, r, sizeof r);
}

// False for a matrix that has no usable inverse.
bool invert(const double* m, double* out) {
    const double det = m[0] * m[3] - m[1] * m[2];
    if (det == 0 || !std::isfinite(det))
        return false;
    const double r[6] = {m[3] / det,
                         -m[1] / det,
                         -m[2] / det,
                         m[0] / det,
                         (m[2] * m[5] - m[3] * m[4]) / det,
                         (m[1] * m[4] - m[0] * m[5]) / det};
    for (double v : r)
        if (!std::isfinite(v))
            return false;
    std::memcpy(out, r, sizeof r);
    return true;
}

void addRect(Path* path, double x0, double y0, double x1, double y1) {
    path->moveTo(x0, y0);
    path->lineTo(x1, y0);
    path->lineTo(x1, y1);
    path->lineTo(x0, y1);
    path->close();
}

}  // namespace

void ContentInterpreter::clipToShadingBox(const Shading* shading) {
    if (!shading->hasBox())
        return;
    const double* box = shading->getBox();
    m_state->clearPath();
    addRect(m_state->getPath(), box[0], box[1], box[2], box[3]);
    m_state->clip();
    m_device->clip(m_state.get());
    m_state->clearPath();
}

void ContentInterpreter::neutraliseForGroup() {
    if (m_state->getBlendMode() != kBlendNormal) {
        m_state->setBlendMode(kBlendNormal);
        m_device->updateBlendMode(m_state.get());
    }
    if (m_state->getFillOpacity() != 1) {
        m_state->setFillOpacity(1);
        m_device->updateFillOpacity(m_state.get());
    }
    if (m_state->getStrokeOpacity() != 1) {
        m_state->setStrokeOpacity(1);
        m_device->updateStrokeOpacity(m_state.get());
    }
    m_device->clearSoftMask(m_state.get());
    m_state->setSoftMasked(false);
}

void ContentInterpreter::fillShading(Shading* shading) {
    // Neighbouring pieces overlap by a pixel where they meet: painted one
    // by one with transparency (the state's opacity or soft mask, or the
    // partial coverage at a clip's anti-aliased edge), they would darken
    // there, and sub-pixel bands would stack up to full strength. So the
    // pieces go into an isolated group, painted as a whole through the clip
    // with the state's opacity, blend mode and soft mask.
    double box[4];
    m_state->getUserClipBox(&box[0], &box[1], &box[2], &box[3]);
    saveState();
    neutraliseForGroup();
    m_device->beginTransparencyGroup(m_state.get(), box, nullptr, true, false, false);
    // Neighbouring pieces would let the background through their shared
    // edges if each were anti-aliased on its own.
    const bool antialias = m_device->getAntialias();
    if (antialias)
        m_device->setAntialias(false);
    clipToShadingBox(shading);
    const int64_t before = m_shadingBudget;
    ShadingFill(m_state, m_device, &m_shadingBudget, kMaxShadingPieces - kShadingCutPieces).paint(shading);
    // Heavy shadings bring the periodic flush and the abort check closer.
    addOperatorCount(static_cast<int>((before - m_shadingBudget) / 16));
    if (m_shadingBudget <= kMaxShadingPieces - kShadingCutPieces && !m_shadingBudgetReported) {
        m_shadingBudgetReported = true;
        reportError(getPos(), "Shadings on this page need more than %lld pieces; the rest are cut no further",
                    static_cast<long long>(kShadingCutPieces));
    }
    if (antialias)
        m_device->setAntialias(true);
    m_device->endTransparencyGroup(m_state.get());
    restoreState();
    m_device->paintTransparencyGroup(m_state.get(), box);
}

void ContentInterpreter::opShading(PdfValue* args, int) {
    if (!m_device->wantsNonText())
        return;
    std::unique_ptr<Shading> shading = m_resources->lookupShading(args[0].getName());
    if (!shading)
        return;
    const double* m = m_state->getMatrix();
    double inverse[6];
    if (!invert(m, inverse)) {
        reportError(getPos(), "Shading under a singular matrix");
        return;
    }
    std::unique_ptr<Path> path = m_state->getPath()->copy();
    saveState();
    m_state->setFillColorSpace(shading->getColorSpace()->copy());
    m_device->updateFillColorSpace(m_state.get());
    fillShading(shading.get());
    restoreState();
    m_state->setPath(std::move(path));
}

void ContentInterpreter::doPatternFill(bool stroke, bool evenOdd, bool clipped) {
    if (!m_device->wantsNonText())
        return;
    Pattern* pattern = stroke ? m_state->getStrokePattern() : m_state->getFillPattern();
    if (!pattern)
        return;
    if (pattern->getType() == Pattern::kTiling) {
        doTilingPatternFill(static_cast<TilingPattern*>(pattern), stroke, evenOdd, clipped);
    } else if (pattern->getType() == Pattern::kShading) {
        doShadingPatternFill(static_cast<ShadingPattern*>(pattern), stroke, evenOdd, clipped);
    } else {
        reportError(getPos(),
                    stroke ? "Unknown pattern type %d in a pattern stroke"
                           : "Unknown pattern type %d in a pattern fill",
                    pattern->getType());
    }
}

bool ContentInterpreter::paintsPattern(bool stroke) const {
    const ColorSpace* space = stroke ? m_state->getStrokeColorSpace() : m_state->getFillColorSpace();
    const Pattern* pattern = stroke ? m_state->getStrokePattern() : m_state->getFillPattern();
    return space->getKind() == ColorSpace::kPattern && pattern;
}

void ContentInterpreter::paintPatternThroughMask(bool stroke, const double* box,
                                                 const std::function<void()>& drawShape) {
    std::unique_ptr<Path> path = m_state->getPath()->copy();
    saveState();
    // The mask replaces the state's soft mask while the pattern paints; so
    // that the state's own mask, opacity and blend mode still apply, the
    // pattern then paints into an isolated group that they composite.
    const double opacity = stroke ? m_state->getStrokeOpacity() : m_state->getFillOpacity();
    const bool grouped = opacity != 1 || m_state->getBlendMode() != kBlendNormal || m_state->isSoftMasked();
    if (grouped) {
        neutraliseForGroup();
        m_device->beginTransparencyGroup(m_state.get(), box, nullptr, true, false, false);
    }

    // The shape in opaque black; the mask is its alpha.
    const ColorValue black = {};
    saveState();
    m_state->setFillColorSpace(std::make_unique<DeviceGrayColorSpace>());
    m_state->setStrokeColorSpace(std::make_unique<DeviceGrayColorSpace>());
    m_state->setFillColor(black);
    m_state->setStrokeColor(black);
    m_device->beginTransparencyGroup(m_state.get(), box, nullptr, true, false, true);
    drawShape();
    m_device->endTransparencyGroup(m_state.get());
    restoreState();
    // An alpha mask reads no backdrop colour; the device is given black.
    m_device->setSoftMask(m_state.get(), box, true, nullptr, &black);
    m_state->setSoftMasked(true);

    m_state->clearPath();
    addRect(m_state->getPath(), box[0], box[1], box[2], box[3]);
    m_state->clip();
    m_device->clip(m_state.get());
    m_state->clearPath();
    // A tiling pattern's cells, text among them, are not drawn in the
    // render mode of the text being painted.
    m_state->setRenderMode(0);
    m_device->updateRenderMode(m_state.get());
    doPatternFill(stroke, false, true);

    if (grouped) {
        m_device->endTransparencyGroup(m_state.get());
        restoreState();
        // The group holds the pattern at full strength; a stroke's opacity
        // is the stroke's.
        saveState();
        m_state->setFillOpacity(opacity);
        m_device->updateFillOpacity(m_state.get());
        m_device->paintTransparencyGroup(m_state.get(), box);
        restoreState();
    } else {
        restoreState();
    }
    m_state->setPath(std::move(path));
}

void ContentInterpreter::clipToPaintedArea(bool stroke, bool evenOdd) {
    if (stroke) {
        m_state->clipToStroke();
        m_device->clipToStrokeOutline(m_state.get());
    } else {
        m_state->clip();
        if (evenOdd)
            m_device->eoClip(m_state.get());
        else
            m_device->clip(m_state.get());
    }
}

void ContentInterpreter::doShadingPatternFill(ShadingPattern* pattern, bool stroke, bool evenOdd,
                                              bool clipped) {
    // The pattern (and its shading) belongs to the state, which the fill
    // saves and restores: a copy keeps it alive whatever the fill does.
    std::unique_ptr<Pattern> own = pattern->copy();
    ShadingPattern* shadingPattern = static_cast<ShadingPattern*>(own.get());
    Shading* shading = shadingPattern->getShading();

    // M takes the current space to pattern space: P x B x inverse(CTM).
    double inverse[6];
    if (!invert(m_state->getMatrix(), inverse)) {
        reportError(getPos(), "Shading pattern under a singular matrix");
        return;
    }
    double m[6], mInverse[6];
    multiply(shadingPattern->getMatrix(), m_baseMatrix, m);
    multiply(m, inverse, m);
    if (!invert(m, mInverse)) {
        reportError(getPos(), "Shading pattern with a singular matrix");
        return;
    }

    std::unique_ptr<Path> path = m_state->getPath()->copy();
    saveState();
    if (!clipped)
        clipToPaintedArea(stroke, evenOdd);
    m_state->setFillColorSpace(shading->getColorSpace()->copy());
    m_device->updateFillColorSpace(m_state.get());
    if (shading->hasBackground()) {
        // The background covers all that the clip lets through.
        double xMin, yMin, xMax, yMax;
        m_state->getUserClipBox(&xMin, &yMin, &xMax, &yMax);
        m_state->clearPath();
        addRect(m_state->getPath(), xMin, yMin, xMax, yMax);
        m_state->setFillColor(shading->getBackground());
        m_device->updateFillColor(m_state.get());
        m_device->fill(m_state.get());
    }
    m_state->clearPath();
    m_state->concatMatrix(m[0], m[1], m[2], m[3], m[4], m[5]);
    m_device->updateMatrix(m_state.get(), m[0], m[1], m[2], m[3], m[4], m[5]);
    // The shading's box lies in its own space, the pattern space.
    fillShading(shading);
    restoreState();
    m_state->setPath(std::move(path));
}

// The colours a cell paints in (`under`: the pattern colour space's
// underlying space, or null); no pattern stays set, and a fill strokes
// nothing wider than a hairline.
void ContentInterpreter::setTileColours(TilingPattern* tiling, bool stroke, const ColorSpace* under) {
    if (tiling->getPaintType() == 2 && under) {
        // An uncoloured cell paints in the colour given with the pattern.
        const ColorValue color = stroke ? m_state->getStrokeColor() : m_state->getFillColor();
        m_state->setFillColorSpace(under->copy());
        m_state->setStrokeColorSpace(under->copy());
        m_state->setFillColor(color);
        m_state->setStrokeColor(color);
    } else {
        const ColorValue black = {};
        m_state->setFillColorSpace(std::make_unique<DeviceGrayColorSpace>());
        m_state->setStrokeColorSpace(std::make_unique<DeviceGrayColorSpace>());
        m_state->setFillColor(black);
        m_state->setStrokeColor(black);
    }
    m_device->updateFillColorSpace(m_state.get());
    m_device->updateStrokeColorSpace(m_state.get());
    m_state->setFillPattern(nullptr);
    m_state->setStrokePattern(nullptr);
    m_device->updateFillColor(m_state.get());
    m_device->updateStrokeColor(m_state.get());
    if (!stroke) {
        m_state->setLineWidth(0);
        m_device->updateLineWidth(m_state.get());
    }
}

// The tiles that meet the clip box, m taking a tile's pattern space to the
// current space and m1Inverse the device to pattern space.
void ContentInterpreter::drawTiles(TilingPattern* tiling, const double* m, const double* m1Inverse,
                                   double xStep, double yStep) {
    double cx0, cy0, cx1, cy1;
    m_state->getClipBox(&cx0, &cy0, &cx1, &cy1);
    if (cx0 < cx1 && cy0 < cy1) {
        // The clip box in pattern space.
        double xMin = 0, yMin = 0, xMax = 0, yMax = 0;
        for (int k = 0; k < 4; ++k) {
            const double dx = k < 2 ? cx0 : cx1, dy = (k & 1) ? cy1 : cy0;
            const double x = m1Inverse[0] * dx + m1Inverse[2] * dy + m1Inverse[4];
            const double y = m1Inverse[1] * dx + m1Inverse[3] * dy + m1Inverse[5];
            xMin = k == 0 ? x : std::min(xMin, x);
            yMin = k == 0 ? y : std::min(yMin, y);
            xMax = k == 0 ? x : std::max(xMax, x);
            yMax = k == 0 ? y : std::max(yMax, y);
        }
        const double* box = tiling->getBox();
        const double xFirst = std::ceil((xMin - box[2]) / xStep), xLast = std::floor((xMax - box[0]) / xStep);
        const double yFirst = std::ceil((yMin - box[3]) / yStep), yLast = std::floor((yMax - box[1]) / yStep);
        // Indices beyond the int range only come with steps far below the
        // size of the box, which the tile cap refuses anyway.
        constexpr double kIndexLimit = INT32_MAX / 2;
        if (!(xFirst <= xLast && yFirst <= yLast)) {
            // No tile meets the clip.
        } else if (!(std::fabs(xFirst) < kIndexLimit && std::fabs(xLast) < kIndexLimit &&
                     std::fabs(yFirst) < kIndexLimit && std::fabs(yLast) < kIndexLimit)) {
            reportError(getPos(), "Tiling pattern tile indices out of range; no tiles drawn");
        } else {
            const int x0 = static_cast<int>(xFirst), x1 = static_cast<int>(xLast) + 1;
            const int y0 = static_cast<int>(yFirst), y1 = static_cast<int>(yLast) + 1;
            if (m_device->fillsTilingPatterns()) {
                m_device->fillTilingPattern(m_state.get(), tiling->getContent(), tiling->getPaintType(),
                                            tiling->getResourceDict(), m, box, x0, y0, x1, y1, xStep, yStep);
            } else {
                const int64_t tiles = int64_t{x1 - x0} * (y1 - y0);
                if (tiles > kMaxTilesPerFill)
                    reportError(getPos(), "Tiling pattern needs %lld tiles; only the first %lld are drawn",
                                static_cast<long long>(tiles), static_cast<long long>(kMaxTilesPerFill));
                int64_t run = 0;
                bool going = true;
                // A stop asked for by the abort check ends the tiles too.
                for (int yi = y0; yi < y1 && going && !m_aborted; ++yi) {
                    for (int xi = x0; xi < x1 && going && !m_aborted; ++xi) {
                        const double tx = xi * xStep, ty = yi * yStep;
                        const double cell[6] = {m[0],
                                                m[1],
                                                m[2],
                                                m[3],
                                                tx * m[0] + ty * m[2] + m[4],
                                                tx * m[1] + ty * m[3] + m[5]};
                        going = runForm(tiling->getContent(), tiling->getResourceDict(), cell, box, false,
                                        false, nullptr, false, false, false, nullptr, nullptr) &&
                                ++run < kMaxTilesPerFill;
                    }
                }
            }
        }
    }
}

void ContentInterpreter::doTilingPatternFill(TilingPattern* pattern, bool stroke, bool evenOdd,
                                             bool clipped) {
    std::unique_ptr<Pattern> own = pattern->copy();
    TilingPattern* tiling = static_cast<TilingPattern*>(own.get());

    // m1 takes pattern space to the device, M pattern space to the current
    // space.
    double m1[6], m1Inverse[6], ctmInverse[6], m[6];
    multiply(tiling->getMatrix(), m_baseMatrix, m1);
    if (!invert(m1, m1Inverse) || !invert(m_state->getMatrix(), ctmInverse)) {
        reportError(getPos(), "Tiling pattern under a singular matrix; no tiles drawn");
        return;
    }
    multiply(m1, ctmInverse, m);
    const double xStep = std::fabs(tiling->getXStep()), yStep = std::fabs(tiling->getYStep());
    if (!(xStep > 0) || !(yStep > 0) || !std::isfinite(xStep) || !std::isfinite(yStep)) {
        reportError(getPos(), "Tiling pattern with a step of %g by %g; no tiles drawn", tiling->getXStep(),
                    tiling->getYStep());
        return;
    }

    const ColorSpace* space = stroke ? m_state->getStrokeColorSpace() : m_state->getFillColorSpace();
    const ColorSpace* under = space->getKind() == ColorSpace::kPattern
                                  ? static_cast<const PatternColorSpace*>(space)->getUnderlying()
                                  : nullptr;
    std::unique_ptr<Path> path = m_state->getPath()->copy();
    saveState();
    setTileColours(tiling, stroke, under);
    if (!clipped)
        clipToPaintedArea(stroke, evenOdd);
    m_state->clearPath();

    drawTiles(tiling, m, m1Inverse, xStep, yStep);
    restoreState();
    m_state->setPath(std::move(path));
}

}  // namespace rendova
