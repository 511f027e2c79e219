#pragma once

#include <cstdint>
#include <cstdlib>

#include "engine/raster/HalftoneParameters.h"

namespace rendova {

// The halftone screen of the 1-bit colour mode: a square matrix of threshold
// bytes tiled over the page; a grey value at or above a pixel's threshold
// sets the pixel's bit (white). Built as a dispersed (ordered dither),
// clustered or stochastic clustered matrix, then adjusted by gamma and the
// black and white limits.
//
// Each rasteriser state owns one screen. Not thread-safe while built; test()
// only reads. The constructors throw MemoryException when memory runs out.
class RasterScreen {
public:
    // The largest matrix side. Sizes come from the configuration file, and the
    // stochastic kind's build time grows with the square of the cell count
    // over the dot area; 256 is well above the sizes any resolution needs
    // (the device asks for at most 100 by default) and keeps the matrix at
    // 64 KB.
    static constexpr int kMaxScreenSize = 256;

    explicit RasterScreen(const HalftoneParameters* params);
    RasterScreen(const RasterScreen& other);
    RasterScreen& operator=(const RasterScreen&) = delete;
    ~RasterScreen();

    // 1 when the grey value passes the threshold at device pixel (x, y).
    int test(int x, int y, int value) const {
        if (value < m_minValue)
            return 0;
        if (value >= m_maxValue)
            return 1;
        // Remainders of truncating division taken as absolute values: the
        // tiling mirrors around 0.
        const int xx = std::abs(x % m_size);
        const int yy = std::abs(y % m_size);
        return value >= m_matrix[yy * m_size + xx] ? 1 : 0;
    }

    int size() const { return m_size; }
    const uint8_t* matrix() const { return m_matrix; }
    int minValue() const { return m_minValue; }
    int maxValue() const { return m_maxValue; }

private:
    void buildDispersed(int i, int j, int value, int delta, int offset);
    void buildClustered();
    void buildStochasticClustered(int radius);
    void adjust(double gamma, double blackLimit, double whiteLimit);

    uint8_t* m_matrix = nullptr;
    int m_size = 0;
    uint8_t m_minValue = 0;
    uint8_t m_maxValue = 0;
};

}  // namespace rendova
