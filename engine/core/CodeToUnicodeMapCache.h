#pragma once

#include <memory>

#include "engine/core/RefCounted.h"

namespace rendova {

class CodeToUnicodeMap;

// The last few tagged code-to-Unicode maps used, most recently used first.
// The settings object owns two (collection maps and Unicode-to-Unicode maps)
// and uses them under its general lock; the cache has no lock of its own. It
// holds one reference to each map it keeps. Throws only when memory runs out
// at construction.
class CodeToUnicodeMapCache {
public:
    explicit CodeToUnicodeMapCache(int slots);
    ~CodeToUnicodeMapCache();
    CodeToUnicodeMapCache(const CodeToUnicodeMapCache&) = delete;
    CodeToUnicodeMapCache& operator=(const CodeToUnicodeMapCache&) = delete;

    // The map with the tag, moved to the front; null when the cache has none.
    RefPtr<CodeToUnicodeMap> get(const char* tag);
    // Puts the map in front, dropping the least recently used one.
    void add(RefPtr<CodeToUnicodeMap> map);

private:
    std::unique_ptr<RefPtr<CodeToUnicodeMap>[]> m_maps;
    int m_slots;
};

}  // namespace rendova
