#include "engine/core/CodeToUnicodeMapCache.h"

#include "engine/core/CodeToUnicodeMap.h"

namespace rendova {

CodeToUnicodeMapCache::CodeToUnicodeMapCache(int slots)
    : m_maps(new CodeToUnicodeMap*[slots > 0 ? slots : 1]()), m_slots(slots > 0 ? slots : 1) {}

CodeToUnicodeMapCache::~CodeToUnicodeMapCache() {
    for (int i = 0; i < m_slots; ++i) {
        if (m_maps[i])
            m_maps[i]->release();
    }
    delete[] m_maps;
}

CodeToUnicodeMap* CodeToUnicodeMapCache::get(const char* tag) {
    for (int i = 0; i < m_slots; ++i) {
        CodeToUnicodeMap* map = m_maps[i];
        if (map && map->matchesTag(tag)) {
            for (int j = i; j > 0; --j)
                m_maps[j] = m_maps[j - 1];
            m_maps[0] = map;
            map->addRef();
            return map;
        }
    }
    return nullptr;
}

void CodeToUnicodeMapCache::add(CodeToUnicodeMap* map) {
    if (m_maps[m_slots - 1])
        m_maps[m_slots - 1]->release();
    for (int j = m_slots - 1; j > 0; --j)
        m_maps[j] = m_maps[j - 1];
    m_maps[0] = map;
    map->addRef();
}

}  // namespace rendova
