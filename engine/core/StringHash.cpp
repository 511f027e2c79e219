#include "engine/core/StringHash.h"

#include "engine/core/DynString.h"
#include "engine/core/KeyHash.h"
#include "engine/core/Memory.h"

namespace rendova {

struct StringHash::Entry {
    DynString* key;
    intptr_t value;
    Entry* next;
};

namespace {
constexpr int kInitialBuckets = 7;

uint32_t bucketOf(const DynString* key, const char* text, int bucketCount) {
    uint32_t h = key ? keyHash(key->getCString(), key->getLength()) : keyHash(text);
    return h % static_cast<uint32_t>(bucketCount);
}

// A key matches either a DynString (compared byte for byte, NULs included) or
// a C string.
bool keyEquals(const DynString* entryKey, const DynString* key, const char* text) {
    return key ? entryKey->compare(*key) == 0 : entryKey->compareCStr(text) == 0;
}
}  // namespace

StringHash::StringHash(bool ownsKeys)
    : m_ownsKeys(ownsKeys),
      m_bucketCount(kInitialBuckets),
      m_buckets(static_cast<Entry**>(memAllocArray(kInitialBuckets, sizeof(Entry*)))) {
    for (int i = 0; i < m_bucketCount; ++i)
        m_buckets[i] = nullptr;
}

StringHash::~StringHash() {
    for (int i = 0; i < m_bucketCount; ++i) {
        Entry* entry = m_buckets[i];
        while (entry) {
            Entry* following = entry->next;
            if (m_ownsKeys)
                delete entry->key;
            delete entry;
            entry = following;
        }
    }
    memFree(m_buckets);
}

void StringHash::rehash() {
    int newCount = checkedAdd(checkedMul(m_bucketCount, 2), 1);
    Entry** newBuckets = static_cast<Entry**>(memAllocArray(newCount, sizeof(Entry*)));
    for (int i = 0; i < newCount; ++i)
        newBuckets[i] = nullptr;
    for (int i = 0; i < m_bucketCount; ++i) {
        Entry* entry = m_buckets[i];
        while (entry) {
            Entry* following = entry->next;
            uint32_t b = bucketOf(entry->key, nullptr, newCount);
            entry->next = newBuckets[b];
            newBuckets[b] = entry;
            entry = following;
        }
    }
    memFree(m_buckets);
    m_buckets = newBuckets;
    m_bucketCount = newCount;
}

void StringHash::add(DynString* key, intptr_t value) {
    if (m_entryCount >= m_bucketCount)
        rehash();
    uint32_t b = bucketOf(key, nullptr, m_bucketCount);
    m_buckets[b] = new Entry{key, value, m_buckets[b]};
    ++m_entryCount;
}

StringHash::Entry* StringHash::find(const DynString* key, const char* text) const {
    for (Entry* entry = m_buckets[bucketOf(key, text, m_bucketCount)]; entry; entry = entry->next) {
        if (keyEquals(entry->key, key, text))
            return entry;
    }
    return nullptr;
}

intptr_t StringHash::lookup(const DynString& key) const {
    Entry* entry = find(&key, nullptr);
    return entry ? entry->value : 0;
}

intptr_t StringHash::lookupCStr(const char* text) const {
    Entry* entry = find(nullptr, text);
    return entry ? entry->value : 0;
}

intptr_t StringHash::unlink(const DynString* key, const char* text) {
    Entry** link = &m_buckets[bucketOf(key, text, m_bucketCount)];
    for (; *link; link = &(*link)->next) {
        Entry* entry = *link;
        if (!keyEquals(entry->key, key, text))
            continue;
        *link = entry->next;
        intptr_t value = entry->value;
        if (m_ownsKeys)
            delete entry->key;
        delete entry;
        --m_entryCount;
        return value;
    }
    return 0;
}

intptr_t StringHash::remove(const DynString& key) {
    return unlink(&key, nullptr);
}

intptr_t StringHash::removeCStr(const char* text) {
    return unlink(nullptr, text);
}

void StringHash::startIteration(std::unique_ptr<Iterator>& iterator) const {
    iterator = std::make_unique<Iterator>();
}

int StringHash::next(std::unique_ptr<Iterator>& iterator, DynString** key, intptr_t* value) const {
    if (!iterator)
        return 0;
    Entry* entry = iterator->entry ? iterator->entry->next : nullptr;
    while (!entry) {
        if (++iterator->bucket >= m_bucketCount) {
            iterator.reset();
            return 0;
        }
        entry = m_buckets[iterator->bucket];
    }
    iterator->entry = entry;
    *key = entry->key;
    *value = entry->value;
    return 1;
}

void StringHash::endIteration(std::unique_ptr<Iterator>& iterator) const {
    iterator.reset();
}

}  // namespace rendova
