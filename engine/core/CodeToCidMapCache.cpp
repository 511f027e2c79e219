#include "engine/core/CodeToCidMapCache.h"

#include <cstring>
#include <utility>

#include "engine/core/CodeToCidMap.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/ScopeExit.h"

namespace rendova {

CodeToCidMapCache::CodeToCidMapCache(GlobalSettings& settings) : m_settings(settings) {}

CodeToCidMapCache::~CodeToCidMapCache() = default;

RefPtr<CodeToCidMap> CodeToCidMapCache::getMap(const char* collection, const char* name) {
    for (int i = 0; i < kSize; ++i) {
        if (m_maps[i] && m_maps[i]->matches(collection, name)) {
            RefPtr<CodeToCidMap> map = std::move(m_maps[i]);
            for (int j = i; j > 0; --j)
                m_maps[j] = std::move(m_maps[j - 1]);
            m_maps[0] = map;
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
    RefPtr<CodeToCidMap> map;
    {
        m_reading[m_readingDepth++] = name;
        // The name leaves the chain however the read ends, a throw included.
        ScopeExit leave([this] { --m_readingDepth; });
        map = CodeToCidMap::parse(*this, collection, name);
    }
    if (!map)
        return nullptr;

    for (int j = kSize - 1; j > 0; --j)
        m_maps[j] = std::move(m_maps[j - 1]);
    m_maps[0] = map;
    return map;
}

}  // namespace rendova
