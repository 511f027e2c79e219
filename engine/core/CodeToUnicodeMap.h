#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "engine/core/DynString.h"
#include "engine/core/RefCounted.h"

namespace rendova {

class PsTokenizer;

// The Unicode values of character codes: 8-bit codes of a simple font, or
// CIDs of a composite font. Most codes have one value, kept in an array by
// code (0: none); a code with several values (a ligature, a decomposed
// character) has a multi-value record instead and 0 in the array. Each code
// has at most one record, found through a per-code index, so that a map of
// tens of thousands of multi-value codes builds and looks up in linear time.
//
// Maps come from ToUnicode CMaps (parseCMap, mergeCMap), from a simple font's
// glyph names (make8Bit), and from the CID-to-Unicode and Unicode-to-Unicode
// files that the settings name; those carry a tag (collection or file) under
// which the settings' caches find them.
//
// Ownership: shared by reference count through RefPtr; the last reference
// deletes the map. The count is guarded by a lock of the map's own; the values belong to the thread that
// builds the map and are only read once it is shared. Throws MemoryException when memory runs out; never for
// faulty input, which is reported and skipped.
class CodeToUnicodeMap : public LockedRefCounted {
public:
    // At most this many values are kept for one code.
    static constexpr int kMaxValues = 8;

    struct MultiValue {
        int code;
        uint32_t values[kMaxValues];
        int count;
    };

    // An empty map: no tag, 256 codes without values.
    CodeToUnicodeMap();
    // A map of `length` codes over `values` (copied when `copy` is set, else
    // taken over: memAlloc'd), with the multi-value table `table` (count
    // records of capacity, memAlloc'd, taken over; may be null). `tag` may
    // be null.
    CodeToUnicodeMap(const char* tag, uint32_t* values, int length, bool copy, MultiValue* table, int count,
                     int capacity);
    CodeToUnicodeMap(const CodeToUnicodeMap&) = delete;
    CodeToUnicodeMap& operator=(const CodeToUnicodeMap&) = delete;

    // A map of 256 codes with the given values.
    static RefPtr<CodeToUnicodeMap> make8Bit(const uint32_t values[256]);
    // The map of a CID-to-Unicode file: line n holds the hexadecimal value of
    // CID n. Tagged with the collection. Null (reported) when the file does
    // not open.
    static RefPtr<CodeToUnicodeMap> parseCidToUnicodeFile(const char* fileName, const char* collection);
    // The map of a collection's CID-to-Unicode CMap (the "Adobe-Japan1-UCS2"
    // kind: CIDs as 16-bit codes, Unicode values in bfchar and bfrange
    // sections), read from the open file. Tagged with the collection.
    static RefPtr<CodeToUnicodeMap> parseCidToUnicodeCMap(FILE* file, const char* collection);
    // The map of a Unicode-to-Unicode file: each line a hexadecimal code and
    // 1 to 8 hexadecimal values. Tagged with `tag`. Null (reported) when the
    // file does not open.
    static RefPtr<CodeToUnicodeMap> parseUnicodeToUnicodeFile(const char* fileName, const char* tag);
    // A new map from a ToUnicode CMap's text; codes are codeBits (8 or 16)
    // wide.
    static RefPtr<CodeToUnicodeMap> parseCMap(const DynString& text, int codeBits);
    // Reads a ToUnicode CMap's text into this map: later mappings replace
    // earlier ones.
    void mergeCMap(const DynString& text, int codeBits);

    // Gives the code the values (one: the value array, several: a
    // multi-value record, at most kMaxValues kept).
    void setMapping(int code, const uint32_t* values, int count);
    // Copies up to `room` values of the code into values and returns their
    // number (0 for a code without values).
    int mapToUnicode(int code, uint32_t* values, int room) const;

    // Whether the map has a tag and it equals the given one.
    bool matchesTag(const char* tag) const;
    const DynString* getTag() const { return m_tag.get(); }
    int getLength() const { return m_length; }

private:
    ~CodeToUnicodeMap() override;

    // Fills the map from a ToUnicode CMap's text (the cmaptext reader's
    // sink).
    class Filler;
    // Reads a ToUnicode CMap (or a file it uses, `depth` files down).
    void readCMap(PsTokenizer& tokenizer, int codeBits, int depth);
    // Grows the value array to hold `code` (to a multiple of 256).
    void growFor(int code);
    // code -> the values of hex digits (n of them), the offset added to the
    // last value.
    void addMapping(unsigned code, const char* digits, int n, unsigned offset);
    // The code's multi-value record (code < m_length), made when it has none.
    MultiValue& recordFor(int code);
    // The code's multi-value record, or null.
    const MultiValue* findRecord(int code) const;
    // A code given one value no longer has the values of its record.
    void clearRecord(int code);

    std::unique_ptr<DynString> m_tag;
    uint32_t* m_values = nullptr;
    int m_length = 0;
    MultiValue* m_table = nullptr;
    int m_tableCount = 0;
    int m_tableCapacity = 0;
    // Per code of m_length: 1 + the index of its record in m_table, 0 for
    // none. Made with the first record.
    int* m_recordOf = nullptr;
};

}  // namespace rendova
