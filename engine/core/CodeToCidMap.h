#pragma once

#include <cstdint>
#include <cstdio>

#include "engine/core/DynString.h"
#include "engine/core/RefCounted.h"

namespace rendova {

class CodeToCidMapCache;
class PsTokenizer;

// A CMap: turns the bytes of a composite font's strings into character
// identifiers (CIDs) and tells the writing mode (0 horizontal, 1 vertical).
// A map read from a CMap file holds a tree of 256-entry vectors, one level a
// code byte; the identity maps have no tree and read every code as two bytes.
//
// Ownership: shared by reference count through RefPtr; fonts and the
// CodeToCidMapCache hold references, and the last one deletes the map. The
// count is guarded by a lock of the map's own, so holders on different
// threads may add and drop references; the rest of the map does not change
// after parse() and may be read from any thread. Throws
// MemoryException when memory runs out; never for a faulty file.
class CodeToCidMap : public LockedRefCounted {
public:
    // The map of (collection, name): the CMap file that the cache's settings
    // find for it, read from the file; without a file, the identity maps by
    // their names; else null, after a report. `usecmap` inside the file
    // fetches the used map through the same cache.
    static RefPtr<CodeToCidMap> parse(CodeToCidMapCache& cache, const char* collection, const char* name);
    // A map embedded in a document: the text of its stream, on top of
    // `base` (the map its UseCMap entry names, may be null) with writing
    // mode `wMode`. A `usecmap` in the text fetches an installed map through
    // the cache. Never cached: the map belongs to one font.
    static RefPtr<CodeToCidMap> parseEmbedded(CodeToCidMapCache& cache, const char* collection,
                                              const char* name, const DynString& text,
                                              const CodeToCidMap* base, int wMode);

    CodeToCidMap(const CodeToCidMap&) = delete;
    CodeToCidMap& operator=(const CodeToCidMap&) = delete;

    const DynString& getCollection() const { return m_collection; }
    const DynString& getCMapName() const { return m_name; }
    int getWMode() const { return m_wMode; }
    bool isIdentity() const { return m_vector == nullptr; }

    // The CID of the code at the start of bytes (length of them), and in
    // *used the number of bytes that the code takes. A code that the bytes
    // end in the middle of gives CID 0 and uses all of them.
    int getCid(const char* bytes, int length, int* used) const;

    bool matches(const char* collection, const char* name) const;

private:
    // One entry of a code vector, in one word: a vector for the next code
    // byte (an even, non-zero pointer), or the CID of the code that ends here
    // (odd: CID << 1 | 1; 0 is CID 0). Large CMaps hold over a hundred
    // thousand vectors, so the entry stays at 8 bytes.
    struct Entry {
        uintptr_t bits;
        Entry* vector() const { return bits && !(bits & 1) ? reinterpret_cast<Entry*>(bits) : nullptr; }
        int cid() const { return static_cast<int>(static_cast<uint32_t>(bits >> 1)); }
        void setVector(Entry* v) { bits = reinterpret_cast<uintptr_t>(v); }
        void setCid(int c) { bits = (static_cast<uintptr_t>(static_cast<uint32_t>(c)) << 1) | 1; }
    };
    static_assert(sizeof(uintptr_t) == 8, "a CID and its tag bit fill a 64-bit entry");

    // A map read from a file (an empty vector tree).
    CodeToCidMap(const char* collection, const char* name);
    // An identity map of the given writing mode.
    CodeToCidMap(const char* collection, const char* name, int wMode);
    ~CodeToCidMap() override;

    // A new zeroed vector, or null (reported once) when the map holds as
    // many as it may.
    Entry* newVector();
    static void freeVector(Entry* vector);

    // Fills the map from a CMap's text (the cmaptext reader's sink).
    class Filler;
    void readTokens(CodeToCidMapCache& cache, PsTokenizer& tokenizer);
    void copyVector(Entry* target, const Entry* source);
    void addCodeSpace(Entry* vector, unsigned start, unsigned end, int bytes);
    void addCidRange(unsigned start, unsigned end, int bytes, int cid);

    DynString m_collection;
    DynString m_name;
    int m_wMode = 0;
    Entry* m_vector = nullptr;  // null for the identity maps
    int m_vectorCount = 0;
};

}  // namespace rendova
