#pragma once

#include <cstdint>
#include <memory>

namespace rendova {

class DynString;

// A hash table from DynString keys to one pointer-sized word (a pointer or an
// integer, as the caller uses it), with chained buckets. It starts with 7
// buckets and rehashes to 2n + 1 when the entries reach one per bucket.
//
// add never looks for an existing key: a second add of an equal key adds a
// second entry, which lookups find first (new entries go to the head of their
// chain). When `ownsKeys` is set the table takes the keys given to add (made
// with new) and deletes each with its entry; values are never freed. One
// thread at a time; throws MemoryException (or std::bad_alloc) when memory
// runs out.
class StringHash {
    struct Entry;

public:
    // The position of an iteration: a bucket index (-1 before the first) and
    // an entry of that bucket's chain.
    struct Iterator {
        int bucket = -1;
        Entry* entry = nullptr;
    };

    explicit StringHash(bool ownsKeys);
    ~StringHash();
    StringHash(const StringHash&) = delete;
    StringHash& operator=(const StringHash&) = delete;

    void add(DynString* key, intptr_t value);
    // The value of the newest entry with an equal key, or 0 (null) when none.
    intptr_t lookup(const DynString& key) const;
    intptr_t lookupCStr(const char* text) const;
    // Unlinks the newest entry with an equal key, deletes it (and its key
    // when owned) and returns its value, or 0 (null) when none.
    intptr_t remove(const DynString& key);
    intptr_t removeCStr(const char* text);

    // Iteration over every entry, in bucket order. startIteration makes a
    // fresh iterator; next returns 1 with the next entry's key and value, or
    // 0 at the end, having deleted the iterator and set it to null;
    // endIteration deletes an iterator before its end. The iterator is held
    // by unique_ptr, so one left in scope is deleted as well. The table must
    // not change while an iteration runs.
    void startIteration(std::unique_ptr<Iterator>& iterator) const;
    int next(std::unique_ptr<Iterator>& iterator, DynString** key, intptr_t* value) const;
    void endIteration(std::unique_ptr<Iterator>& iterator) const;

    int getLength() const { return m_entryCount; }
    int getBucketCount() const { return m_bucketCount; }

private:
    Entry* find(const DynString* key, const char* text) const;
    intptr_t unlink(const DynString* key, const char* text);
    void rehash();

    bool m_ownsKeys;
    int m_bucketCount;
    int m_entryCount = 0;
    Entry** m_buckets;
};

// The typed face of a StringHash whose values are all T*: the one place where
// a pointer becomes the table's word and back, so that callers never cast.
// Values are never freed, as in StringHash; the owner deletes them.
template <typename T>
class PtrStringHash {
public:
    using Iterator = StringHash::Iterator;

    explicit PtrStringHash(bool ownsKeys) : m_table(ownsKeys) {}

    void add(DynString* key, T* value) { m_table.add(key, reinterpret_cast<intptr_t>(value)); }
    T* lookup(const DynString& key) const { return fromWord(m_table.lookup(key)); }
    T* lookupCStr(const char* text) const { return fromWord(m_table.lookupCStr(text)); }
    T* remove(const DynString& key) { return fromWord(m_table.remove(key)); }
    T* removeCStr(const char* text) { return fromWord(m_table.removeCStr(text)); }

    void startIteration(std::unique_ptr<Iterator>& iterator) const { m_table.startIteration(iterator); }
    bool next(std::unique_ptr<Iterator>& iterator, DynString** key, T** value) const {
        intptr_t word = 0;
        const bool more = m_table.next(iterator, key, &word);
        *value = fromWord(word);
        return more;
    }
    void endIteration(std::unique_ptr<Iterator>& iterator) const { m_table.endIteration(iterator); }

    int getLength() const { return m_table.getLength(); }

private:
    static T* fromWord(intptr_t word) { return reinterpret_cast<T*>(word); }

    StringHash m_table;
};

}  // namespace rendova
