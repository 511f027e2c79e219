#include "engine/raster/Rasteriser.h"

#include <cmath>

#include "engine/core/Memory.h"

namespace rendova {

Rasteriser::Rasteriser(RasterBitmap* bitmap, bool vectorAntialias, const HalftoneParameters* screenParams)
    : m_bitmap(bitmap),
      m_state(
          std::make_unique<RasterState>(bitmap->width(), bitmap->height(), vectorAntialias, screenParams)),
      m_vectorAntialias(vectorAntialias) {
    init();
}

Rasteriser::Rasteriser(RasterBitmap* bitmap, bool vectorAntialias, const RasterScreen& screen)
    : m_bitmap(bitmap),
      m_state(std::make_unique<RasterState>(bitmap->width(), bitmap->height(), vectorAntialias, screen)),
      m_vectorAntialias(vectorAntialias) {
    init();
}

void Rasteriser::init() {
    if (m_vectorAntialias) {
        // checkedMul: four sub-columns per pixel must still fit an int.
        m_aaBuffer =
            std::make_unique<RasterBitmap>(checkedMul(m_bitmap->width(), 4), 4, 1, rasterMono1, false, true);
        for (int i = 0; i <= 16; ++i)
            m_aaGamma[i] = std::pow(i * 0.0625, 1.5);
    } else {
        for (double& g : m_aaGamma)
            g = 0;
    }
    resetModifiedBox();
    m_opClipResult = 0;
}

Rasteriser::~Rasteriser() = default;

int Rasteriser::clipToPath(const RasterPath& path, bool evenOdd) {
    return m_state->clip().clipToPath(path, m_state->matrix(), m_state->flatness(), evenOdd);
}

void Rasteriser::setInNonIsolatedGroup(const RasterBitmap* backdrop, int x, int y) {
    m_groupBackdrop = backdrop;
    m_groupBackdropX = x;
    m_groupBackdropY = y;
    m_state->setInNonIsolatedGroup(1);
}

void Rasteriser::setKnockoutBackdrop(const RasterBitmap* initial) {
    if (initial && (initial->width() != m_bitmap->width() || initial->height() != m_bitmap->height() ||
                    initial->rowSize() != m_bitmap->rowSize() || initial->mode() != m_bitmap->mode() ||
                    !initial->alpha() || !m_bitmap->alpha() || m_bitmap->mode() == rasterMono1))
        initial = nullptr;
    m_knockoutBackdrop = initial;
    if (initial)
        m_referencePipe = 1;
}

int Rasteriser::saveState() {
    std::unique_ptr<RasterState> saved = m_state->clone();
    saved->setNext(std::move(m_state));
    m_state = std::move(saved);
    return resultOk;
}

int Rasteriser::restoreState() {
    if (!m_state->next())
        return resultNothingSaved;
    m_state = m_state->takeNext();
    return resultOk;
}

void Rasteriser::resetModifiedBox() {
    m_modXMin = m_bitmap->width();
    m_modYMin = m_bitmap->height();
    m_modXMax = -1;
    m_modYMax = -1;
}

void Rasteriser::extendModifiedX(int x) {
    if (x < m_modXMin)
        m_modXMin = x;
    if (x > m_modXMax)
        m_modXMax = x;
}

void Rasteriser::extendModifiedY(int y) {
    if (y < m_modYMin)
        m_modYMin = y;
    if (y > m_modYMax)
        m_modYMax = y;
}

}  // namespace rendova
