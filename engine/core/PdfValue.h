#pragma once

#include <cstdio>
#include <utility>
#include <vector>

#include "engine/core/DataStream.h"
#include "engine/core/DynString.h"
#include "engine/core/RefCounted.h"

namespace rendova {

class PdfArray;
class PdfDict;
class XrefTable;

// The engine's tagged value: every object read from a document and every
// operand of the content interpreter. A value owns its payload: string, name
// and command texts one per value; arrays, dictionaries and streams shared by
// reference count, held through a RefPtr. It is moved, never implicitly
// copied: copy() duplicates texts and adds a reference to shared payloads. free() releases the payload
// and leaves kind none; the destructor frees too, so a value is never leaked.
// One thread at a time; throws MemoryException when memory runs out.
class PdfValue {
public:
    enum Kind : int {
        kBool = 0,
        kInt = 1,
        kReal = 2,
        kString = 3,
        kName = 4,
        kNull = 5,
        kArray = 6,
        kDict = 7,
        kStream = 8,
        kRef = 9,
        kCommand = 10,
        kError = 11,
        kEof = 12,
        kNone = 13,
    };

    PdfValue() = default;
    ~PdfValue() { free(); }
    PdfValue(const PdfValue&) = delete;
    PdfValue& operator=(const PdfValue&) = delete;
    PdfValue(PdfValue&& other) noexcept
        : m_kind(std::exchange(other.m_kind, kNone)), m_u(other.m_u), m_shared(std::move(other.m_shared)) {}
    PdfValue& operator=(PdfValue&& other) noexcept {
        if (this != &other) {
            free();
            m_kind = std::exchange(other.m_kind, kNone);
            m_u = other.m_u;
            m_shared = std::move(other.m_shared);
        }
        return *this;
    }

    // Setters. Each releases what the value held before.
    PdfValue& initBool(bool b) { return set(kBool).setBool(b); }
    PdfValue& initInt(int i) { return set(kInt).setInt(i); }
    PdfValue& initReal(double r) { return set(kReal).setReal(r); }
    // Takes over the string.
    PdfValue& initString(DynString* s) { return set(kString).setPtr(s); }
    // Takes over a memAlloc'd C string (without the slash, escapes decoded).
    PdfValue& initName(char* name) { return set(kName).setPtr(name); }
    PdfValue& initCommand(char* command) { return set(kCommand).setPtr(command); }
    PdfValue& initNull() { return set(kNull); }
    PdfValue& initRef(int num, int gen) {
        set(kRef);
        m_u.ref.num = num;
        m_u.ref.gen = gen;
        return *this;
    }
    PdfValue& initError() { return set(kError); }
    PdfValue& initEof() { return set(kEof); }
    PdfValue& initArray(XrefTable* xref);
    PdfValue& initDict(XrefTable* xref);
    // Shares an existing dictionary: its count rises by one.
    PdfValue& initDictRef(PdfDict* dict);
    // Takes over the caller's reference to the stream.
    PdfValue& initStream(DataStream* stream) { return initStream(RefPtr<DataStream>::adopt(stream)); }
    PdfValue& initStream(RefPtr<DataStream> stream) { return set(kStream).setShared(std::move(stream)); }

    // Writes a copy into out (whatever out held is released first).
    void copy(PdfValue& out) const;
    // A reference resolved through xref when xref is not null, else a copy.
    void fetch(XrefTable* xref, PdfValue& out) const;
    // Releases the payload; kind becomes none. Safe on every kind.
    void free();

    Kind getKind() const { return m_kind; }
    const char* typeName() const;
    // Document syntax, recursively; references print as references.
    void print(FILE* file) const;

    bool isBool() const { return m_kind == kBool; }
    bool isInt() const { return m_kind == kInt; }
    bool isReal() const { return m_kind == kReal; }
    bool isNum() const { return m_kind == kInt || m_kind == kReal; }
    bool isString() const { return m_kind == kString; }
    bool isName() const { return m_kind == kName; }
    bool isName(const char* name) const;
    bool isNull() const { return m_kind == kNull; }
    bool isArray() const { return m_kind == kArray; }
    bool isDict() const { return m_kind == kDict; }
    // A dictionary whose Type entry is the given name.
    bool isDict(const char* type) const;
    bool isStream() const { return m_kind == kStream; }
    bool isRef() const { return m_kind == kRef; }
    bool isCommand() const { return m_kind == kCommand; }
    bool isCommand(const char* command) const;
    bool isError() const { return m_kind == kError; }
    bool isEof() const { return m_kind == kEof; }
    bool isNone() const { return m_kind == kNone; }

    // Getters: the caller has tested the kind.
    bool getBool() const { return m_u.flag != 0; }
    int getInt() const { return m_u.integer; }
    double getReal() const { return m_u.real; }
    double getNum() const { return m_kind == kInt ? double(m_u.integer) : m_u.real; }
    DynString* getString() const { return static_cast<DynString*>(m_u.ptr); }
    const char* getName() const { return static_cast<const char*>(m_u.ptr); }
    const char* getCommand() const { return static_cast<const char*>(m_u.ptr); }
    PdfArray* getArray() const;
    PdfDict* getDict() const;
    DataStream* getStream() const { return static_cast<DataStream*>(m_shared.get()); }
    int getRefNum() const { return m_u.ref.num; }
    int getRefGen() const { return m_u.ref.gen; }

    // For a dictionary, or a stream (its dictionary): PdfDict::lookup and
    // lookupRaw; any other kind gives null.
    PdfValue& dictLookup(const char* key, PdfValue& out) const;
    PdfValue& dictLookupRaw(const char* key, PdfValue& out) const;
    // The dictionary of a dictionary value or of a stream value, else null.
    PdfDict* getDictOrStreamDict() const;

private:
    PdfValue& set(Kind kind) {
        free();
        m_kind = kind;
        return *this;
    }
    PdfValue& setBool(bool b) {
        m_u.flag = b ? 1 : 0;
        return *this;
    }
    PdfValue& setInt(int i) {
        m_u.integer = i;
        return *this;
    }
    PdfValue& setReal(double r) {
        m_u.real = r;
        return *this;
    }
    PdfValue& setPtr(void* p) {
        m_u.ptr = p;
        return *this;
    }
    template <typename T>
    PdfValue& setShared(RefPtr<T> object) {
        m_shared = std::move(object);
        return *this;
    }

    Kind m_kind = kNone;
    union Payload {
        int flag;
        int integer;
        double real;
        void* ptr;
        struct {
            int num;
            int gen;
        } ref;
    } m_u{};
    // The array, dictionary or stream of those kinds; empty for every other.
    RefPtr<RefCounted> m_shared;
};

// An array of values, shared by reference count (1 at construction). It keeps
// a plain pointer to the document's XrefTable for resolving references; the
// table outlives it.
class PdfArray : public RefCounted {
public:
    explicit PdfArray(XrefTable* xref) : m_xref(xref) {}

    // Appends, moving the value in.
    void add(PdfValue&& value);
    // Element i resolved through the xref table; out of range gives null.
    PdfValue& get(int i, PdfValue& out) const;
    // Element i as stored; out of range gives null.
    PdfValue& getRaw(int i, PdfValue& out) const;
    int getLength() const { return static_cast<int>(m_elements.size()); }
    int getCapacity() const { return static_cast<int>(m_elements.capacity()); }
    XrefTable* getXref() const { return m_xref; }

private:
    ~PdfArray() override = default;

    XrefTable* m_xref;
    std::vector<PdfValue> m_elements;
};

// A dictionary: entries in insertion order, found by linear scan (documents'
// dictionaries are small). A second entry with an existing key is stored but
// never found: lookups return the first match. Shared by reference count.
class PdfDict : public RefCounted {
public:
    explicit PdfDict(XrefTable* xref) : m_xref(xref) {}

    // Takes over the memAlloc'd key and the value.
    void add(char* key, PdfValue&& value);
    // The first entry with the key, resolved through the xref table; missing
    // gives null.
    PdfValue& lookup(const char* key, PdfValue& out) const;
    // The first entry with the key as stored; missing gives null.
    PdfValue& lookupRaw(const char* key, PdfValue& out) const;
    // Whether the first Type entry holds, unresolved, the given name.
    bool isType(const char* type) const;
    // Entry i for iteration in insertion order; i lies in 0 .. length - 1.
    const char* keyAt(int i) const { return m_entries[i].key; }
    PdfValue& rawValueAt(int i, PdfValue& out) const;
    int getLength() const { return static_cast<int>(m_entries.size()); }
    int getCapacity() const { return static_cast<int>(m_entries.capacity()); }
    XrefTable* getXref() const { return m_xref; }

private:
    struct Entry {
        char* key;
        PdfValue value;
        Entry(char* k, PdfValue&& v) : key(k), value(std::move(v)) {}
        Entry(Entry&& other) noexcept : key(other.key), value(std::move(other.value)) { other.key = nullptr; }
        Entry(const Entry&) = delete;
        ~Entry();
    };

    ~PdfDict() override = default;
    const Entry* find(const char* key) const;

    XrefTable* m_xref;
    std::vector<Entry> m_entries;
};

inline PdfArray* PdfValue::getArray() const {
    return static_cast<PdfArray*>(m_shared.get());
}
inline PdfDict* PdfValue::getDict() const {
    return static_cast<PdfDict*>(m_shared.get());
}

}  // namespace rendova
