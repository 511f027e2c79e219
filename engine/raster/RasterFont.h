#pragma once

#include <cstdint>
#include <memory>

#include "engine/core/RefCounted.h"
#include "engine/raster/RasterGlyph.h"

namespace rendova {

class RasterFontFileBase;
class RasterPath;

// One font file at one matrix: glyph bitmaps by character code, kept in a
// cache of sets of 8 entries with ages (the oldest of a set is replaced), and
// glyph outlines. Anti-aliased fonts whose em is below 48 pixels keep
// sub-pixel x positions apart in the cache.
//
// Ownership: owned by the RasterFontCache; holds one reference to its font
// file. Glyphs answered from the cache point into it and stay valid until
// the next getGlyph. One thread at a time; throws MemoryException only.
class RasterFont {
public:
    virtual ~RasterFont();
    RasterFont(const RasterFont&) = delete;
    RasterFont& operator=(const RasterFont&) = delete;

    // The glyph of a code at a sub-pixel position (quarters of a pixel):
    // from the cache, else made and cached. 0 when the font has no bitmap
    // for it. A glyph too large for the cache is answered owning its pixels.
    // A font without sub-pixel renderings (not anti-aliased, or an em of 48
    // pixels or more) answers its one rendering placed at the nearest whole
    // pixel.
    virtual int getGlyph(int code, int xFraction, int yFraction, RasterGlyph* glyph);
    // Renders a glyph; the pixels are owned by the glyph. 0 on failure.
    virtual int makeGlyph(int code, int xFraction, int yFraction, RasterGlyph* glyph) = 0;
    // The glyph's outline in text space scaled by the font size (the
    // user-space shape of the glyph at the origin), or null.
    virtual std::unique_ptr<RasterPath> getGlyphPath(int code) = 0;
    // False when the font gives outlines only (a size too large for glyph
    // bitmaps): its glyphs are then filled as paths.
    virtual bool hasBitmaps() const { return true; }
    // The positions across a pixel that glyphs are set at, each glyph at the
    // nearest: quarters for an em below 24 pixels, halves below 48, whole
    // pixels above (and without anti-aliasing), as the peers set them.
    int subpixelSteps() const { return m_subpixelSteps; }

    RasterFontFileBase* getFontFile() const { return m_fontFile.get(); }
    const double* getMatrix() const { return m_matrix; }
    const double* getTextMatrix() const { return m_textMatrix; }
    bool getAntialias() const { return m_antialias; }
    void getGlyphBox(int* xMin, int* yMin, int* xMax, int* yMax) const {
        *xMin = m_xMin;
        *yMin = m_yMin;
        *xMax = m_xMax;
        *yMax = m_yMax;
    }
    // The cache's geometry: 0 sets when glyphs of this font are too large
    // to cache.
    int getCellWidth() const { return m_cellWidth; }
    int getCellHeight() const { return m_cellHeight; }
    int getGlyphSize() const { return m_glyphSize; }
    int getSetCount() const { return m_setCount; }

    static constexpr int kSetSize = 8;
    // The glyph bytes one font may keep: the device keeps 16 fonts, so at
    // most 32 MiB of glyphs (touched only as glyphs arrive), kept from page to
    // page of a document: at 300 dpi a smaller budget rendered glyphs again.
    static constexpr int64_t kCacheBudgetBytes = 2048 << 10;
    // Sets beyond this gain nothing: a font seldom has more codes in use.
    static constexpr int kMaxSets = 1024;
    // A glyph cell larger than this is not cached: a font box that a
    // document makes absurd would otherwise allocate without bound, and the
    // glyphs of such a font are drawn uncached instead.
    static constexpr int64_t kMaxCachedGlyphBytes = 1 << 20;

protected:
    // Takes one reference to the font file.
    RasterFont(RasterFontFileBase* fontFile, const double* matrix, const double* textMatrix, bool antialias);
    // Sizes the cache from the glyph box (set by the subclass before).
    void initCache();

    RefPtr<RasterFontFileBase> m_fontFile;
    double m_matrix[4];
    double m_textMatrix[4];
    bool m_antialias;
    int m_subpixelSteps = 1;
    int m_xMin = 0, m_yMin = 0, m_xMax = 0, m_yMax = 0;

private:
    // The glyph at exactly these fractions, from the cache or made.
    int lookupGlyph(int code, int xFraction, int yFraction, RasterGlyph* glyph);

    // All zero is an empty entry, so that the tags, like the cells, come
    // zero-filled from the system and only the sets in use are touched.
    struct Tag {
        int code;
        int16_t xFraction;
        int16_t yFraction;
        // Bit 31: valid; low 31 bits: the age within the set. The empty
        // entries of a set share the highest age, above every valid one.
        uint32_t mru;
        int x, y, width, height;
        // One more than the entry's cell in m_cacheData, given when the
        // entry is first filled and kept when its glyph is replaced; 0 before.
        uint32_t cell;
    };
    static constexpr uint32_t kValid = 0x80000000u;
    static constexpr uint32_t kAgeMask = 0x7fffffffu;

    int m_cellWidth = 0;
    int m_cellHeight = 0;
    int m_glyphSize = 0;
    int m_setCount = 0;
    // The tags and the cells come in whole pages from the system (see
    // PageMemory.h), so that the budget is touched only as glyphs arrive and
    // goes back whole.
    struct PagesDeleter {
        size_t bytes;
        void operator()(void* pages) const;
    };
    std::unique_ptr<uint8_t[], PagesDeleter> m_cacheData;
    std::unique_ptr<Tag[], PagesDeleter> m_cacheTags;
    // Cells are handed out in order of first use, so that the glyphs of a
    // document fill few pages of the budget, not one page per set.
    uint32_t m_cellsUsed = 0;
};

}  // namespace rendova
