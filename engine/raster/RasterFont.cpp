// The glyph cache of a raster font: sets of 8 entries with ages.
#include "engine/raster/RasterFont.h"

#include <cmath>
#include <cstring>

#include "engine/core/Memory.h"
#include "engine/raster/RasterFontFile.h"
#include "platform/PageMemory.h"

namespace rendova {

RasterFont::RasterFont(RasterFontFileBase* fontFile, const double* matrix, const double* textMatrix,
                       bool antialias)
    : m_fontFile(fontFile), m_antialias(antialias) {
    for (int i = 0; i < 4; ++i) {
        m_matrix[i] = matrix[i];
        m_textMatrix[i] = textMatrix[i];
    }
    const double em = std::sqrt(std::fabs(matrix[0] * matrix[3] - matrix[1] * matrix[2]));
    if (antialias)
        m_subpixelSteps = em < 24 ? 4 : em < 48 ? 2 : 1;
}

void RasterFont::PagesDeleter::operator()(void* pages) const {
    platform::freePages(pages, bytes);
}

RasterFont::~RasterFont() = default;

void RasterFont::initCache() {
    // The cell leaves a pixel of room on each side for the rounding of the
    // glyph's position; computed in 64 bits because the box comes from the
    // font file and the matrix, both the document's.
    const int64_t width = int64_t{m_xMax} - m_xMin + 3;
    const int64_t height = int64_t{m_yMax} - m_yMin + 3;
    const int64_t size = m_antialias ? width * height : height * ((width + 7) >> 3);
    if (width <= 0 || height <= 0 || size > kMaxCachedGlyphBytes) {
        m_cellWidth = m_cellHeight = m_glyphSize = m_setCount = 0;
        return;
    }
    m_cellWidth = static_cast<int>(width);
    m_cellHeight = static_cast<int>(height);
    m_glyphSize = static_cast<int>(size);
    // As many sets as the budget holds, a power of two so that the set is a
    // mask of the key: a page of text asks for each code at up to sixteen
    // sub-pixel positions, and a smaller cache rendered the same glyphs
    // again on every line.
    m_setCount = 1;
    while (m_setCount < kMaxSets && int64_t{m_setCount} * 2 * kSetSize * m_glyphSize <= kCacheBudgetBytes)
        m_setCount *= 2;
    const int entries = m_setCount * kSetSize;
    // A cell is read only after a glyph was copied into it.
    const size_t bytes = static_cast<size_t>(entries) * static_cast<size_t>(m_glyphSize);
    auto* cells = static_cast<uint8_t*>(platform::allocatePages(bytes));
    if (cells == nullptr)
        throw MemoryException();
    m_cacheData = std::unique_ptr<uint8_t[], PagesDeleter>(cells, PagesDeleter{bytes});
    const size_t tagBytes = static_cast<size_t>(entries) * sizeof(Tag);
    auto* tags = static_cast<Tag*>(platform::allocatePages(tagBytes));
    if (tags == nullptr)
        throw MemoryException();
    m_cacheTags = std::unique_ptr<Tag[], PagesDeleter>(tags, PagesDeleter{tagBytes});
    m_cellsUsed = 0;
}

int RasterFont::getGlyph(int code, int xFraction, int yFraction, RasterGlyph* glyph) {
    if (m_subpixelSteps > 1)
        return lookupGlyph(code, xFraction, yFraction, glyph);
    // One rendering at the whole pixel: a position half a pixel or more
    // past it takes the next one, so that the glyph lands on the nearest.
    if (!lookupGlyph(code, 0, 0, glyph))
        return 0;
    if (xFraction >= 2)
        --glyph->xOffset;
    if (yFraction >= 2)
        --glyph->yOffset;
    return 1;
}

int RasterFont::lookupGlyph(int code, int xFraction, int yFraction, RasterGlyph* glyph) {
    if (m_setCount == 0) {
        // Too large to cache: every request renders.
        return makeGlyph(code, xFraction, yFraction, glyph);
    }

    // The fractions in the low bits, so that the renderings of one code
    // spread over sixteen sets instead of crowding one.
    const unsigned key =
        (static_cast<unsigned>(code) << 4) | static_cast<unsigned>(yFraction << 2 | xFraction);
    const int set = static_cast<int>(key & static_cast<unsigned>(m_setCount - 1));
    Tag* tags = &m_cacheTags[static_cast<size_t>(set) * kSetSize];
    uint8_t* const cells = m_cacheData.get();
    const size_t glyphSize = static_cast<size_t>(m_glyphSize);
    for (int j = 0; j < kSetSize; ++j) {
        Tag& t = tags[j];
        if ((t.mru & kValid) && t.code == code && t.xFraction == xFraction && t.yFraction == yFraction) {
            const uint32_t age = t.mru & kAgeMask;
            for (int k = 0; k < kSetSize; ++k)
                if (k != j && (tags[k].mru & kAgeMask) < age)
                    ++tags[k].mru;
            t.mru = kValid;
            glyph->xOffset = t.x;
            glyph->yOffset = t.y;
            glyph->width = t.width;
            glyph->height = t.height;
            glyph->antialiased = m_antialias;
            glyph->pixels = cells + (t.cell - 1) * glyphSize;
            glyph->ownsPixels = 0;
            return 1;
        }
    }

    RasterGlyph made;
    if (!makeGlyph(code, xFraction, yFraction, &made))
        return 0;
    if (made.width > m_cellWidth || made.height > m_cellHeight) {
        *glyph = made;
        return 1;
    }
    // The oldest entry, or the first empty one.
    int oldest = 0;
    for (int j = 1; j < kSetSize; ++j)
        if ((tags[j].mru & kAgeMask) > (tags[oldest].mru & kAgeMask))
            oldest = j;
    Tag& t = tags[oldest];
    t.mru = kValid;
    t.code = code;
    t.xFraction = static_cast<int16_t>(xFraction);
    t.yFraction = static_cast<int16_t>(yFraction);
    t.x = made.xOffset;
    t.y = made.yOffset;
    t.width = made.width;
    t.height = made.height;
    if (t.cell == 0)
        t.cell = ++m_cellsUsed;  // at most one per entry
    uint8_t* slot = cells + (t.cell - 1) * glyphSize;
    const size_t bytes = made.antialiased
                             ? static_cast<size_t>(made.width) * static_cast<size_t>(made.height)
                             : static_cast<size_t>(made.height) * static_cast<size_t>((made.width + 7) >> 3);
    if (bytes)
        std::memcpy(slot, made.pixels, bytes);
    for (int k = 0; k < kSetSize; ++k)
        if (k != oldest)
            ++tags[k].mru;
    if (made.ownsPixels)
        memFree(made.pixels);
    glyph->xOffset = t.x;
    glyph->yOffset = t.y;
    glyph->width = t.width;
    glyph->height = t.height;
    glyph->antialiased = made.antialiased;
    glyph->pixels = slot;
    glyph->ownsPixels = 0;
    return 1;
}

}  // namespace rendova
