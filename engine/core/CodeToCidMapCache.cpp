#include "engine/core/CodeToCidMapCache.h"

#include <cstring>

#include "engine/core/CodeToCidMap.h"
#include "engine/core/ErrorReport.h"

namespace rendova {

CodeToCidMapCache::CodeToCidMapCache(GlobalSettings& settings) : m_settings(settings) {}

CodeToCidMapCache::~CodeToCidMapCache() {
    for (CodeToCidMap* map : m_maps) {
        if (map)
            map->release();
    }
}

CodeToCidMap* CodeToCidMapCache::getMap(const char* collection, const char* name) {
    for (int i = 0; i < kSize; ++i) {
        CodeToCidMap* map = m_maps[i];
        if (map && map->matches(collection, name)) {
            for (int j = i; j > 0; --j)
                m_maps[j] = m_maps[j - 1];
            m_maps[0] = map;
            map->addRef();
            return map;
        }
    }

    for (int i = 0; i < m_readingDepth; ++i) {
        if (std::strcmp(m_reading[i], name) == 0) {
            reportError(-1, "CMap '%s' (collection '%s') uses itself", name, collection);
            return nullptr;
        }
    }
    if (m_readingDepth == kMaxUseDepth) {
        reportError(-1, "CMap '%s' (collection '%s') not read: CMaps use one another deeper than %d levels",
                    name, collection, kMaxUseDepth);
        return nullptr;
    }
    m_reading[m_readingDepth++] = name;
    CodeToCidMap* map;
    try {
        map = CodeToCidMap::parse(*this, collection, name);
    } catch (...) {
        --m_readingDepth;
        throw;
    }
    --m_readingDepth;
    if (!map)
        return nullptr;

    if (m_maps[kSize - 1])
        m_maps[kSize - 1]->release();
    for (int j = kSize - 1; j > 0; --j)
        m_maps[j] = m_maps[j - 1];
    m_maps[0] = map;
    map->addRef();
    return map;
}

}  // namespace rendova
