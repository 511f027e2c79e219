// The transparency slots of the raster output device: transparency groups,
// drawn into a bitmap of their own and then composited onto the target they
// were opened on, and soft masks made from such a group (by its luminosity
// or its alpha) that then modulate everything drawn until they are cleared
// or the state that set them is restored.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/content/ColorSpace.h"
#include "engine/content/GraphicsState.h"
#include "engine/content/PdfFunction.h"
#include "engine/core/ErrorReport.h"
#include "engine/raster/RasterBitmap.h"
#include "engine/raster/RasterOutputDevice.h"
#include "engine/raster/RasterTypes.h"
#include "engine/raster/Rasteriser.h"

namespace rendova {

TransparencyGroupEntry::TransparencyGroupEntry() = default;

// Iteratively, so that a long stack never recurses through the next links.
TransparencyGroupEntry::~TransparencyGroupEntry() {
    std::unique_ptr<TransparencyGroupEntry> rest = std::move(next);
    while (rest)
        rest = std::move(rest->next);
}

namespace {

// A 16.16 component as a byte, rounded; out-of-range components (a colour
// space may overshoot a little) are pulled into 0 .. 1 first.
uint8_t componentByte(int32_t v) {
    const int64_t c = std::clamp<int64_t>(v, 0, 0x10000);
    return static_cast<uint8_t>((c * 255 + 32768) >> 16);
}

// One axis of a group's pixel extent on a target of `size` pixels, from the
// device-space extent lo .. hi of its box: the pixels the box covers some of,
// so a far edge on a pixel boundary leaves the next pixel out. The corner lies
// inside the target (a box at or beyond its far edge gets the last pixel), and
// the extent is cut at the far edge and is at least one pixel, so that the
// group bitmap always lies wholly inside the target.
void groupExtent(double lo, double hi, int size, int& start, int& length) {
    const int64_t last = std::max(size, 1) - 1;
    const int64_t first = std::clamp<int64_t>(static_cast<int64_t>(std::floor(clampCoord(lo))), 0, last);
    const int64_t end = static_cast<int64_t>(std::ceil(clampCoord(hi)));
    int64_t n = end - first;
    if (end > size)
        n = size - first;
    start = static_cast<int>(first);
    length = static_cast<int>(std::max<int64_t>(n, 1));
}

// The luminosity 0 .. 1 of a red, green, blue colour.
double luminosity(const uint8_t* c) {
    return 0.3 * c[0] / 255 + 0.59 * c[1] / 255 + 0.11 * c[2] / 255;
}

// A mask level 0 .. 1 through the transfer function (when there is one) as
// a mask byte. Levels the function sends out of range (or to NaN) end at 0
// or 255.
uint8_t maskLevel(double v, PdfFunction* transfer) {
    if (transfer) {
        double out[PdfFunction::kMaxOutputs] = {};
        transfer->transform(&v, out);
        v = out[0];
    }
    return static_cast<uint8_t>(saturateToInt(v * 255 + 0.5, 0, 255));
}

// A copy of a group bitmap made with the row pad rowPad, pixels and alpha.
std::unique_ptr<RasterBitmap> copyBitmap(const RasterBitmap& source, int rowPad) {
    auto copy = std::make_unique<RasterBitmap>(source.width(), source.height(), rowPad, source.mode(),
                                               source.alpha() != nullptr, source.rowSize() > 0);
    std::memcpy(copy->block(), source.block(), static_cast<size_t>(source.blockSize()));
    if (source.alpha())
        std::memcpy(copy->alpha(), source.alpha(),
                    static_cast<size_t>(source.width()) * static_cast<size_t>(source.height()));
    return copy;
}

}  // namespace

int RasterOutputDevice::getGroupDepth() const {
    int depth = 0;
    for (const TransparencyGroupEntry* e = m_groups.get(); e; e = e->next.get())
        ++depth;
    return depth;
}

void RasterOutputDevice::popGroup() {
    std::unique_ptr<TransparencyGroupEntry> next = std::move(m_groups->next);
    m_groups = std::move(next);
}

void RasterOutputDevice::unwindGroups() {
    while (m_groups) {
        // An open group's saved rasteriser comes back before the group's
        // bitmap goes, so that the device never holds a rasteriser whose
        // bitmap is gone.
        if (m_groups->savedRasteriser) {
            m_rasteriser = std::move(m_groups->savedRasteriser);
            m_target = m_groups->savedTarget;
        }
        popGroup();
    }
}

void RasterOutputDevice::beginTransparencyGroup(GraphicsState* state, const double* box,
                                                ColorSpace* colorSpace, bool isolated, bool knockout,
                                                bool forSoftMask) {
    // The device-space bounding box of the group's box.
    double xMin = 0, yMin = 0, xMax = 0, yMax = 0;
    for (int i = 0; i < 4; ++i) {
        double tx, ty;
        state->transform(box[(i & 1) ? 2 : 0], box[(i & 2) ? 3 : 1], &tx, &ty);
        if (i == 0 || tx < xMin)
            xMin = tx;
        if (i == 0 || tx > xMax)
            xMax = tx;
        if (i == 0 || ty < yMin)
            yMin = ty;
        if (i == 0 || ty > yMax)
            yMax = ty;
    }
    int x, y, w, h;
    groupExtent(xMin, xMax, m_target->width(), x, w);
    groupExtent(yMin, yMax, m_target->height(), y, h);

    // Everything that can throw comes before the device changes.
    auto entry = std::make_unique<TransparencyGroupEntry>();
    entry->x = x;
    entry->y = y;
    entry->isolated = isolated;
    if (colorSpace)
        entry->colorSpace = colorSpace->copy();
    // In the target's colour mode, which inside a Type 3 glyph's cache cell
    // is the cell's and not the page's: compositing and copying work only
    // between bitmaps of one mode.
    entry->bitmap = std::make_unique<RasterBitmap>(w, h, m_rowPadding, m_target->mode(), true, m_topDown);
    auto rasteriser =
        std::make_unique<Rasteriser>(entry->bitmap.get(), m_antialias, *m_rasteriser->getScreen());
    // A soft mask's group is measured against its own backdrop colour,
    // never against the page beneath it, so it starts clear even when it is
    // not isolated (the 1-bit mode, which composites no backdrop, would
    // otherwise read the page's paper as the mask).
    if (isolated || forSoftMask) {
        const uint8_t black[3] = {0, 0, 0};
        rasteriser->clear(black, 0);
    } else {
        // A non-isolated group starts from what lies beneath it. Inside
        // another non-isolated group that is that group over its own
        // backdrop, whose colours the target already holds and whose alpha
        // is gathered here. Inside a knockout group it is that group as it
        // began: its members never meet each other.
        const RasterBitmap* beneath = m_rasteriser->knockoutBackdrop();
        rasteriser->blitBitmap(beneath ? *beneath : *m_target, x, y, 0, 0, w, h);
        if (m_rasteriser->getState()->inNonIsolatedGroup()) {
            entry->backdrop = m_rasteriser->nestedGroupBackdrop(x, y, w, h);
            rasteriser->setInNonIsolatedGroup(entry->backdrop.get(), 0, 0);
        } else {
            rasteriser->setInNonIsolatedGroup(beneath ? beneath : m_target, x, y);
        }
    }
    if (knockout && entry->bitmap->mode() != rasterMono1) {
        entry->knockoutBackdrop = copyBitmap(*entry->bitmap, m_rowPadding);
        rasteriser->setKnockoutBackdrop(entry->knockoutBackdrop.get());
    }
    rasteriser->setStrokeAdjust(m_rasteriser->getState()->strokeAdjust());

    entry->savedTarget = m_target;
    entry->savedRasteriser = std::move(m_rasteriser);
    entry->next = std::move(m_groups);
    m_groups = std::move(entry);
    m_rasteriser = std::move(rasteriser);
    m_target = m_groups->bitmap.get();

    // The group's content draws with the colours and line style in force
    // around it; a new rasteriser alone would start from black and the
    // defaults.
    refreshAllState(state);
    updateBlendMode(state);
    updateFillOpacity(state);
    updateStrokeOpacity(state);
    // A glyph cell records coverage in its ink, whatever the colour in the
    // graphics state; a group inside it paints in that ink too.
    if (m_text.drawingType3Cell()) {
        const RasterState* outer = m_groups->savedRasteriser->getState();
        if (outer->fillPattern())
            m_rasteriser->setFillPattern(outer->fillPattern()->copy());
        if (outer->strokePattern())
            m_rasteriser->setStrokePattern(outer->strokePattern()->copy());
    }

    state->shiftMatrixAndClip(-x, -y);
    const double* m = state->getMatrix();
    updateMatrix(state, m[0], m[1], m[2], m[3], m[4], m[5]);
}

void RasterOutputDevice::endTransparencyGroup(GraphicsState* state) {
    TransparencyGroupEntry* e = m_groups.get();
    if (!e || !e->savedRasteriser) {
        reportError(-1, "end of a transparency group that is not open");
        return;
    }
    // The group's rasteriser goes; its bitmap stays in the entry until the
    // group is painted or becomes a soft mask.
    m_rasteriser = std::move(e->savedRasteriser);
    m_target = e->savedTarget;
    state->shiftMatrixAndClip(e->x, e->y);
    const double* m = state->getMatrix();
    updateMatrix(state, m[0], m[1], m[2], m[3], m[4], m[5]);
}

void RasterOutputDevice::paintTransparencyGroup(GraphicsState*, const double*) {
    TransparencyGroupEntry* e = m_groups.get();
    if (!e || e->savedRasteriser) {
        reportError(-1, "painting a transparency group that has not ended");
        return;
    }
    m_rasteriser->composite(*e->bitmap, 0, 0, e->x, e->y, e->bitmap->width(), e->bitmap->height(), false,
                            !e->isolated);
    popGroup();
}

void RasterOutputDevice::setSoftMask(GraphicsState*, const double*, bool alpha, PdfFunction* transfer,
                                     const ColorValue* backdrop) {
    TransparencyGroupEntry* e = m_groups.get();
    if (!e || e->savedRasteriser) {
        reportError(-1, "soft mask from a transparency group that has not ended");
        return;
    }
    // The transfer function maps one level to one level; any other shape
    // cannot be applied and is left out.
    if (transfer && (transfer->getInputCount() != 1 || transfer->getOutputCount() < 1)) {
        reportError(-1, "soft mask transfer function of %d inputs and %d outputs is left out",
                    transfer->getInputCount(), transfer->getOutputCount());
        transfer = nullptr;
    }
    RasterBitmap& group = *e->bitmap;
    const int mode = group.mode();

    // A luminosity mask sees the group over its backdrop colour. Outside the
    // group's box the mask takes the level of that backdrop (black when the
    // group names no colour space, as the group's own untouched pixels are)
    // and an alpha mask the level of no coverage, both through the transfer
    // function, as inside the box.
    double outsideLevel = 0;
    if (!alpha && mode != rasterMono1 && e->colorSpace && backdrop) {
        uint8_t colour[3];
        if (mode == rasterMono8) {
            ColorComponent g;
            e->colorSpace->getGray(*backdrop, g);
            colour[0] = colour[1] = colour[2] = componentByte(g);
            outsideLevel = colour[0] / 255.0;
        } else {
            RgbColor rgb;
            e->colorSpace->getRgb(*backdrop, rgb);
            colour[0] = componentByte(rgb.r);
            colour[1] = componentByte(rgb.g);
            colour[2] = componentByte(rgb.b);
            outsideLevel = luminosity(colour);
        }
        Rasteriser background(&group, false, *m_rasteriser->getScreen());
        background.compositeBackground(colour);
    }

    // The mask covers the target.
    const int targetWidth = m_target->width();
    const int targetHeight = m_target->height();
    auto mask = std::make_unique<RasterBitmap>(targetWidth, targetHeight, 1, rasterMono8, false, true);
    std::memset(mask->data(), maskLevel(outsideLevel, transfer),
                static_cast<size_t>(mask->rowSize()) * static_cast<size_t>(targetHeight));

    // The group lies inside the target by construction; the cut keeps every
    // write inside the mask whatever the entry says.
    const int64_t columns = std::min<int64_t>(group.width(), int64_t{targetWidth} - e->x);
    int64_t rows = std::min<int64_t>(group.height(), int64_t{targetHeight} - e->y);
    const uint8_t* groupAlpha = group.alpha();
    // An alpha mask is the group's alpha, so that what the group covers
    // lets the masked drawing through. (Every group bitmap has an alpha
    // plane; without one the mask would stay 0.)
    if (alpha && !groupAlpha)
        rows = 0;
    // Byte-valued levels (an alpha, or a grey) go through a table, so that
    // the transfer function runs 256 times rather than once a pixel.
    uint8_t levels[256];
    const bool byteLevels = alpha || mode <= rasterMono8;
    if (byteLevels)
        for (int i = 0; i < 256; ++i)
            levels[i] = maskLevel(i / 255.0, transfer);

    for (int64_t row = 0; row < rows; ++row) {
        uint8_t* out = mask->data() + (e->y + row) * mask->rowSize() + e->x;
        if (alpha) {
            const uint8_t* a = groupAlpha + row * group.width();
            for (int64_t col = 0; col < columns; ++col)
                out[col] = levels[a[col]];
            continue;
        }
        for (int64_t col = 0; col < columns; ++col) {
            uint8_t c[3] = {0, 0, 0};
            group.getPixel(static_cast<int>(col), static_cast<int>(row), c);
            if (byteLevels) {
                out[col] = levels[c[0]];
            } else {
                out[col] = maskLevel(luminosity(c), transfer);
            }
        }
    }
    m_rasteriser->setSoftMask(mask.release());
    popGroup();
}

void RasterOutputDevice::clearSoftMask(GraphicsState*) {
    m_rasteriser->setSoftMask(nullptr);
}

}  // namespace rendova
