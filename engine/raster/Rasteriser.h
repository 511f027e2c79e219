#pragma once

#include <memory>

#include "engine/raster/RasterBitmap.h"
#include "engine/raster/RasterPath.h"
#include "engine/raster/RasterState.h"

namespace rendova {

// Paints into one raster bitmap under a stack of drawing states. This file
// declares the object, its construction and the operations that only read or
// write the current state; painting (fill, stroke, images, glyphs) adds to it.
//
// The bitmap is not owned and must outlive the rasteriser. The rasteriser
// owns every state on its stack and the anti-aliasing buffer. Not
// thread-safe; construction throws MemoryException.
class Rasteriser {
public:
    Rasteriser(RasterBitmap* bitmap, int vectorAntialias, const HalftoneParameters* screenParams);
    // The same with a copy of an existing screen.
    Rasteriser(RasterBitmap* bitmap, int vectorAntialias, const RasterScreen& screen);
    ~Rasteriser();
    Rasteriser(const Rasteriser&) = delete;
    Rasteriser& operator=(const Rasteriser&) = delete;

    RasterBitmap* getBitmap() const { return m_bitmap; }
    RasterState* getState() const { return m_state; }
    RasterScreen* getScreen() const { return m_state->screen(); }
    int vectorAntialias() const { return m_vectorAntialias; }

    void setMatrix(const double* m) { m_state->setMatrix(m); }
    void setStrokePattern(RasterPattern* p) { m_state->setStrokePattern(p); }
    void setFillPattern(RasterPattern* p) { m_state->setFillPattern(p); }
    void setBlendFunction(BlendFunction f) { m_state->setBlendFunction(f); }
    void setStrokeAlpha(double a) { m_state->setStrokeAlpha(a); }
    void setFillAlpha(double a) { m_state->setFillAlpha(a); }
    void setLineWidth(double w) { m_state->setLineWidth(w); }
    void setLineCap(int c) { m_state->setLineCap(c); }
    void setLineJoin(int j) { m_state->setLineJoin(j); }
    void setMiterLimit(double m) { m_state->setMiterLimit(m); }
    // Stores f, or 1 when f < 1.
    void setFlatness(double f) { m_state->setFlatness(f); }
    void setLineDash(const double* values, int n, double phase) { m_state->setLineDash(values, n, phase); }
    void setStrokeAdjust(int flag) { m_state->setStrokeAdjust(flag); }
    // Narrows the current clip to the path under the state's matrix and
    // flatness.
    int clipToPath(const RasterPath& path, int evenOdd);
    void setSoftMask(RasterBitmap* bitmap) { m_state->setSoftMask(bitmap); }
    // Records the enclosing non-isolated group's backdrop (not owned) and this
    // bitmap's offset inside it.
    void setInNonIsolatedGroup(RasterBitmap* backdrop, int x, int y);
    // Pushes a copy of the current state.
    int saveState();
    // resultNothingSaved when only the first state is left.
    int restoreState();

    void resetModifiedBox();
    void extendModifiedX(int x);
    void extendModifiedY(int y);
    int modXMin() const { return m_modXMin; }
    int modYMin() const { return m_modYMin; }
    int modXMax() const { return m_modXMax; }
    int modYMax() const { return m_modYMax; }
    int opClipResult() const { return m_opClipResult; }

private:
    void init();

    RasterBitmap* m_bitmap;
    RasterState* m_state;
    // 1 bit per sub-pixel, 4 x the bitmap's width by 4 rows, top-down.
    std::unique_ptr<RasterBitmap> m_aaBuffer;
    RasterBitmap* m_groupBackdrop = nullptr;
    int m_groupBackdropX = 0;
    int m_groupBackdropY = 0;
    // Coverage of i of 16 sub-pixels to shape: (i / 16) ^ 1.5.
    double m_aaGamma[17];
    int m_modXMin = 0, m_modYMin = 0, m_modXMax = 0, m_modYMax = 0;
    int m_opClipResult = 0;
    int m_vectorAntialias;
};

}  // namespace rendova
