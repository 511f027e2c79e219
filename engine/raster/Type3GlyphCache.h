#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace rendova {

// The rendered glyphs of one Type 3 font at one matrix (its linear part: a
// glyph drawn again at the same scale and rotation, anywhere on the page,
// is copied from here instead of running its procedure again). Glyphs are
// kept in sets of 8 entries by code; a set replaces its entries first in,
// first out.
//
// Ownership: owned by the device's Type3GlyphCacheList. One thread at a
// time; construction throws MemoryException.
class Type3GlyphCache {
public:
    static constexpr int kSetSize = 8;
    // A cell larger than this is not cached (the font box that sizes it is
    // the document's): such a cache has no sets, and every glyph of the font
    // is drawn by its procedure.
    static constexpr int64_t kMaxGlyphBytes = 1 << 20;

    // Cell geometry in device pixels: the corner's offset from the glyph
    // origin and the size. antialiased selects 8-bit coverage (else 1 bit a
    // pixel) and so the glyph size.
    Type3GlyphCache(int objectNumber, int generation, double a, double b, double c, double d, int xOffset,
                    int yOffset, int width, int height, int boxValid, int antialiased);
    ~Type3GlyphCache();
    Type3GlyphCache(const Type3GlyphCache&) = delete;
    Type3GlyphCache& operator=(const Type3GlyphCache&) = delete;

    // Whether the cache is for this font at this linear matrix (exact
    // equality).
    bool matches(int objectNumber, int generation, double a, double b, double c, double d) const;

    // The entry holding the code, or -1. A hit changes no age.
    int lookup(unsigned int code) const;
    // Gives the code the oldest entry of its set (valid, age 0), ages the
    // others, and returns that entry; -1 when the cache has no sets.
    int insert(unsigned int code);
    // The pixels of entry i (glyph size bytes).
    uint8_t* entryData(int i) const {
        return m_data.get() + static_cast<size_t>(i) * static_cast<size_t>(m_glyphSize);
    }
    unsigned int entryCode(int i) const { return m_tags[i].code; }
    bool entryValid(int i) const { return (m_tags[i].word & kValid) != 0; }
    int entryAge(int i) const { return m_tags[i].word & kAgeMask; }

    int getObjectNumber() const { return m_objectNumber; }
    int getGeneration() const { return m_generation; }
    int getXOffset() const { return m_xOffset; }
    int getYOffset() const { return m_yOffset; }
    int getWidth() const { return m_width; }
    int getHeight() const { return m_height; }
    int isBoxValid() const { return m_boxValid; }
    int isAntialiased() const { return m_antialiased; }
    int getGlyphSize() const { return m_glyphSize; }
    int getSetCount() const { return m_setCount; }

private:
    struct Tag {
        uint16_t code;
        uint16_t word;  // bit 15 valid, bits 0-14 the age
    };
    static constexpr uint16_t kValid = 0x8000;
    static constexpr uint16_t kAgeMask = 0x7fff;

    int m_objectNumber;
    int m_generation;
    double m_matrix[4];
    int m_xOffset;
    int m_yOffset;
    int m_width;
    int m_height;
    int m_boxValid;
    int m_antialiased;
    int m_glyphSize = 0;
    int m_setCount = 0;
    std::unique_ptr<uint8_t[]> m_data;
    std::unique_ptr<Tag[]> m_tags;
};

// The device's Type 3 caches: at most 8, most recently used first.
class Type3GlyphCacheList {
public:
    static constexpr int kMaxCaches = 8;

    Type3GlyphCacheList() = default;
    ~Type3GlyphCacheList();
    Type3GlyphCacheList(const Type3GlyphCacheList&) = delete;
    Type3GlyphCacheList& operator=(const Type3GlyphCacheList&) = delete;

    // The matching cache, moved to the front; null when none matches.
    Type3GlyphCache* find(int objectNumber, int generation, double a, double b, double c, double d);
    // Puts a new cache in front; when 8 exist, the least recently used one
    // that inUse does not name (the caches of the glyphs being drawn) is
    // deleted first. When all 8 are in use, the new cache is not kept and
    // null is answered: its glyphs are drawn uncached.
    Type3GlyphCache* add(std::unique_ptr<Type3GlyphCache> cache,
                         const std::vector<const Type3GlyphCache*>& inUse = {});
    void clear();
    int getCount() const { return m_count; }
    Type3GlyphCache* get(int i) const { return m_caches[i]; }

private:
    Type3GlyphCache* m_caches[kMaxCaches] = {};
    int m_count = 0;
};

}  // namespace rendova
