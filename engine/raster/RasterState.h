#pragma once

#include <memory>

#include "engine/raster/BlendModes.h"
#include "engine/raster/HalftoneParameters.h"
#include "engine/raster/RasterBitmap.h"
#include "engine/raster/RasterClip.h"
#include "engine/raster/RasterPattern.h"
#include "engine/raster/RasterScreen.h"

namespace rendova {

// One entry of the rasteriser's stack of saved drawing states. It owns its
// two patterns, its screen, its dash array, its clip and (when ownsSoftMask
// is set) its soft mask, and `next`, the state saved before it: the stack is
// a chain of owned states. Not thread-safe; construction and clone()
// throw MemoryException when memory runs out.
class RasterState {
public:
    // The defaults, with a screen built from the parameters (null means the
    // default parameters) and a clip of the whole width x height bitmap.
    RasterState(int width, int height, bool vectorAntialias, const HalftoneParameters* screenParams);
    // The same with a copy of an existing screen.
    RasterState(int width, int height, bool vectorAntialias, const RasterScreen& screen);
    ~RasterState();
    RasterState(const RasterState&) = delete;
    RasterState& operator=(const RasterState&) = delete;

    // A copy for saveState: everything copied except that the soft mask is
    // shared and never deleted by the clone, and next is null.
    std::unique_ptr<RasterState> clone() const;

    const double* matrix() const { return m_matrix; }
    RasterPattern* strokePattern() const { return m_strokePattern.get(); }
    RasterPattern* fillPattern() const { return m_fillPattern.get(); }
    RasterScreen* screen() const { return m_screen.get(); }
    BlendFunction blendFunction() const { return m_blendFunction; }
    double strokeAlpha() const { return m_strokeAlpha; }
    double fillAlpha() const { return m_fillAlpha; }
    double lineWidth() const { return m_lineWidth; }
    int lineCap() const { return m_lineCap; }
    int lineJoin() const { return m_lineJoin; }
    double miterLimit() const { return m_miterLimit; }
    double flatness() const { return m_flatness; }
    const double* lineDash() const { return m_lineDash; }
    int lineDashLength() const { return m_lineDashLength; }
    double lineDashPhase() const { return m_lineDashPhase; }
    int strokeAdjust() const { return m_strokeAdjust; }
    RasterClip& clip() const { return *m_clip; }
    RasterBitmap* softMask() const { return m_softMask; }
    int ownsSoftMask() const { return m_ownsSoftMask; }
    int inNonIsolatedGroup() const { return m_inNonIsolatedGroup; }
    RasterState* next() const { return m_next.get(); }

    void setMatrix(const double* m);
    // Delete the old pattern and take ownership of p.
    void setStrokePattern(RasterPattern* p) { m_strokePattern.reset(p); }
    void setFillPattern(RasterPattern* p) { m_fillPattern.reset(p); }
    void setBlendFunction(BlendFunction f) { m_blendFunction = f; }
    void setStrokeAlpha(double a) { m_strokeAlpha = a; }
    void setFillAlpha(double a) { m_fillAlpha = a; }
    void setLineWidth(double w) { m_lineWidth = w; }
    void setLineCap(int c) { m_lineCap = c; }
    void setLineJoin(int j) { m_lineJoin = j; }
    void setMiterLimit(double m) { m_miterLimit = m; }
    // Never below 1 (NaN counts as below).
    void setFlatness(double f) { m_flatness = f >= 1 ? f : 1; }
    // Copies n values; n <= 0 leaves no dash array.
    void setLineDash(const double* values, int n, double phase);
    void setStrokeAdjust(int flag) { m_strokeAdjust = flag; }
    // Deletes the old soft mask when owned, and owns the new one.
    void setSoftMask(RasterBitmap* bitmap);
    void setInNonIsolatedGroup(int flag) { m_inNonIsolatedGroup = flag; }
    void setNext(std::unique_ptr<RasterState> next) { m_next = std::move(next); }
    std::unique_ptr<RasterState> takeNext() { return std::move(m_next); }

private:
    RasterState(const RasterState& other, int);
    void initDefaults(int width, int height, bool vectorAntialias);

    double m_matrix[6] = {1, 0, 0, 1, 0, 0};
    std::unique_ptr<RasterPattern> m_strokePattern;
    std::unique_ptr<RasterPattern> m_fillPattern;
    std::unique_ptr<RasterScreen> m_screen;
    BlendFunction m_blendFunction = nullptr;
    double m_strokeAlpha = 1;
    double m_fillAlpha = 1;
    double m_lineWidth = 0;
    int m_lineCap = 0;
    int m_lineJoin = 0;
    double m_miterLimit = 10;
    double m_flatness = 1;
    double* m_lineDash = nullptr;
    int m_lineDashLength = 0;
    double m_lineDashPhase = 0;
    int m_strokeAdjust = 0;
    std::unique_ptr<RasterClip> m_clip;
    RasterBitmap* m_softMask = nullptr;
    int m_ownsSoftMask = 0;
    int m_inNonIsolatedGroup = 0;
    std::unique_ptr<RasterState> m_next;
};

}  // namespace rendova
