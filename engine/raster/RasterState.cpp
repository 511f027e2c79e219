#include "engine/raster/RasterState.h"

#include <cstring>

#include "engine/core/Memory.h"

namespace rendova {

RasterState::RasterState(int width, int height, bool vectorAntialias,
                         const HalftoneParameters* screenParams) {
    m_screen = std::make_unique<RasterScreen>(screenParams);
    initDefaults(width, height, vectorAntialias);
}

RasterState::RasterState(int width, int height, bool vectorAntialias, const RasterScreen& screen) {
    m_screen = std::make_unique<RasterScreen>(screen);
    initDefaults(width, height, vectorAntialias);
}

void RasterState::initDefaults(int width, int height, bool vectorAntialias) {
    static const uint8_t kBlack[3] = {0, 0, 0};
    m_strokePattern = std::make_unique<RasterSolidColor>(kBlack);
    m_fillPattern = std::make_unique<RasterSolidColor>(kBlack);
    m_clip = std::make_unique<RasterClip>(0, 0, width - 0.001, height - 0.001, vectorAntialias);
}

RasterState::RasterState(const RasterState& o, int)
    : m_strokePattern(o.m_strokePattern->copy()),
      m_fillPattern(o.m_fillPattern->copy()),
      m_screen(std::make_unique<RasterScreen>(*o.m_screen)),
      m_blendFunction(o.m_blendFunction),
      m_strokeAlpha(o.m_strokeAlpha),
      m_fillAlpha(o.m_fillAlpha),
      m_lineWidth(o.m_lineWidth),
      m_lineCap(o.m_lineCap),
      m_lineJoin(o.m_lineJoin),
      m_miterLimit(o.m_miterLimit),
      m_flatness(o.m_flatness),
      m_lineDashPhase(o.m_lineDashPhase),
      m_strokeAdjust(o.m_strokeAdjust),
      m_clip(std::make_unique<RasterClip>(*o.m_clip)),
      m_softMask(o.m_softMask),
      m_ownsSoftMask(0),
      m_inNonIsolatedGroup(o.m_inNonIsolatedGroup) {
    std::memcpy(m_matrix, o.m_matrix, sizeof m_matrix);
    setLineDash(o.m_lineDash, o.m_lineDashLength, o.m_lineDashPhase);
}

std::unique_ptr<RasterState> RasterState::clone() const {
    return std::unique_ptr<RasterState>(new RasterState(*this, 0));
}

RasterState::~RasterState() {
    // The saved states one by one, however deep the chain has grown: each
    // is let go with its own next already taken from it.
    for (std::unique_ptr<RasterState> next = std::move(m_next); next;)
        next = next->takeNext();
    memFree(m_lineDash);
    if (m_ownsSoftMask)
        delete m_softMask;
}

void RasterState::setMatrix(const double* m) {
    std::memcpy(m_matrix, m, sizeof m_matrix);
}

void RasterState::setLineDash(const double* values, int n, double phase) {
    memFree(m_lineDash);
    m_lineDash = nullptr;
    m_lineDashLength = 0;
    if (n > 0) {
        m_lineDash = static_cast<double*>(memAllocArray(n, static_cast<int>(sizeof(double))));
        std::memcpy(m_lineDash, values, sizeof(double) * static_cast<size_t>(n));
        m_lineDashLength = n;
    }
    m_lineDashPhase = phase;
}

void RasterState::setSoftMask(RasterBitmap* bitmap) {
    if (m_ownsSoftMask && bitmap != m_softMask)
        delete m_softMask;
    m_softMask = bitmap;
    m_ownsSoftMask = 1;
}

}  // namespace rendova
