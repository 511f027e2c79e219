#pragma once

#include "engine/core/RefCounted.h"

namespace rendova {

class CodeToCidMap;
class GlobalSettings;

// The last four CMaps used, most recently used first. Owned by the settings
// object (which it reads CMap files through) and used only under the
// settings' CMap lock, through GlobalSettings::getCMap; reading a CMap that
// uses another re-enters the cache on the same thread. Holds one reference to
// each map it keeps. Throws MemoryException when memory runs out.
class CodeToCidMapCache {
public:
    static constexpr int kSize = 4;
    // Longest chain of CMaps using one another that is read. The published
    // CMaps nest three deep at most; the limit stops a file that uses itself,
    // directly or through others, from recursing without end.
    static constexpr int kMaxUseDepth = 16;

    explicit CodeToCidMapCache(GlobalSettings& settings);
    ~CodeToCidMapCache();
    CodeToCidMapCache(const CodeToCidMapCache&) = delete;
    CodeToCidMapCache& operator=(const CodeToCidMapCache&) = delete;

    // The map of (collection, name): from the cache (moved to the front), or read (CodeToCidMap::parse) and
    // put in front, dropping the least recently used one. Null when the map
    // cannot be had, or when it is already being read further up the chain
    // of CMaps that use one another (reported).
    RefPtr<CodeToCidMap> getMap(const char* collection, const char* name);

    GlobalSettings& getSettings() const { return m_settings; }

private:
    GlobalSettings& m_settings;
    RefPtr<CodeToCidMap> m_maps[kSize];
    // The names of the maps being read, outermost first.
    const char* m_reading[kMaxUseDepth] = {};
    int m_readingDepth = 0;
};

}  // namespace rendova
