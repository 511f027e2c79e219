#include "engine/raster/Type3GlyphCache.h"

#include <algorithm>

namespace rendova {

Type3GlyphCache::Type3GlyphCache(int objectNumber, int generation, double a, double b, double c, double d,
                                 int xOffset, int yOffset, int width, int height, int boxValid,
                                 int antialiased)
    : m_objectNumber(objectNumber),
      m_generation(generation),
      m_matrix{a, b, c, d},
      m_xOffset(xOffset),
      m_yOffset(yOffset),
      m_width(width),
      m_height(height),
      m_boxValid(boxValid),
      m_antialiased(antialiased) {
    // 64-bit: width and height come from the font's box through the matrix.
    const int64_t w = width, h = height;
    const int64_t size = antialiased ? w * h : h * ((w + 7) >> 3);
    if (w <= 0 || h <= 0 || size > kMaxGlyphBytes)
        return;
    m_glyphSize = static_cast<int>(size);
    m_setCount = m_glyphSize <= 256 ? 8 : m_glyphSize <= 512 ? 4 : m_glyphSize <= 1024 ? 2 : 1;
    const int entries = m_setCount * kSetSize;
    m_data = std::make_unique<uint8_t[]>(static_cast<size_t>(entries) * static_cast<size_t>(m_glyphSize));
    m_tags = std::make_unique<Tag[]>(static_cast<size_t>(entries));
    for (int i = 0; i < entries; ++i)
        m_tags[i] = Tag{0, static_cast<uint16_t>(i % kSetSize)};
}

Type3GlyphCache::~Type3GlyphCache() = default;

bool Type3GlyphCache::matches(int objectNumber, int generation, double a, double b, double c,
                              double d) const {
    return m_objectNumber == objectNumber && m_generation == generation && m_matrix[0] == a &&
           m_matrix[1] == b && m_matrix[2] == c && m_matrix[3] == d;
}

int Type3GlyphCache::lookup(unsigned int code) const {
    if (m_setCount == 0)
        return -1;
    // Tags keep 16 bits of the code, as the glyph's character code is one
    // byte in a Type 3 font.
    const uint16_t key = static_cast<uint16_t>(code);
    const int first = static_cast<int>(code & static_cast<unsigned>(m_setCount - 1)) * kSetSize;
    for (int i = first; i < first + kSetSize; ++i)
        if ((m_tags[i].word & kValid) && m_tags[i].code == key)
            return i;
    return -1;
}

int Type3GlyphCache::insert(unsigned int code) {
    if (m_setCount == 0)
        return -1;
    const int first = static_cast<int>(code & static_cast<unsigned>(m_setCount - 1)) * kSetSize;
    int taken = -1;
    for (int i = first; i < first + kSetSize; ++i) {
        if ((m_tags[i].word & kAgeMask) == kSetSize - 1 && taken < 0) {
            taken = i;
            m_tags[i].code = static_cast<uint16_t>(code);
            m_tags[i].word = kValid;
        } else {
            ++m_tags[i].word;
        }
    }
    return taken;
}

Type3GlyphCacheList::~Type3GlyphCacheList() {
    clear();
}

void Type3GlyphCacheList::clear() {
    for (int i = 0; i < m_count; ++i) {
        delete m_caches[i];
        m_caches[i] = nullptr;
    }
    m_count = 0;
}

Type3GlyphCache* Type3GlyphCacheList::find(int objectNumber, int generation, double a, double b, double c,
                                           double d) {
    for (int i = 0; i < m_count; ++i) {
        if (m_caches[i]->matches(objectNumber, generation, a, b, c, d)) {
            Type3GlyphCache* cache = m_caches[i];
            for (int j = i; j > 0; --j)
                m_caches[j] = m_caches[j - 1];
            m_caches[0] = cache;
            return cache;
        }
    }
    return nullptr;
}

Type3GlyphCache* Type3GlyphCacheList::add(std::unique_ptr<Type3GlyphCache> cache,
                                          const std::vector<const Type3GlyphCache*>& inUse) {
    if (m_count == kMaxCaches) {
        // A glyph procedure may show glyphs of other Type 3 fonts, or of its
        // own at another size: the cache of a glyph still being drawn must
        // outlive them.
        int victim = m_count - 1;
        while (victim >= 0 && std::find(inUse.begin(), inUse.end(), m_caches[victim]) != inUse.end())
            --victim;
        if (victim < 0)
            return nullptr;
        delete m_caches[victim];
        for (int j = victim; j < m_count - 1; ++j)
            m_caches[j] = m_caches[j + 1];
        --m_count;
    }
    for (int j = m_count; j > 0; --j)
        m_caches[j] = m_caches[j - 1];
    m_caches[0] = cache.release();
    ++m_count;
    return m_caches[0];
}

}  // namespace rendova
