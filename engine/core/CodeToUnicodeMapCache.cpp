#include "engine/core/CodeToUnicodeMapCache.h"

#include <utility>

#include "engine/core/CodeToUnicodeMap.h"

namespace rendova {

CodeToUnicodeMapCache::CodeToUnicodeMapCache(int slots)
    : m_maps(std::make_unique<RefPtr<CodeToUnicodeMap>[]>(static_cast<size_t>(slots > 0 ? slots : 1))),
      m_slots(slots > 0 ? slots : 1) {}

CodeToUnicodeMapCache::~CodeToUnicodeMapCache() = default;

RefPtr<CodeToUnicodeMap> CodeToUnicodeMapCache::get(const char* tag) {
    for (int i = 0; i < m_slots; ++i) {
        if (m_maps[i] && m_maps[i]->matchesTag(tag)) {
            RefPtr<CodeToUnicodeMap> map = std::move(m_maps[i]);
            for (int j = i; j > 0; --j)
                m_maps[j] = std::move(m_maps[j - 1]);
            m_maps[0] = map;
            return map;
        }
    }
    return nullptr;
}

void CodeToUnicodeMapCache::add(RefPtr<CodeToUnicodeMap> map) {
    for (int j = m_slots - 1; j > 0; --j)
        m_maps[j] = std::move(m_maps[j - 1]);
    m_maps[0] = std::move(map);
}

}  // namespace rendova
