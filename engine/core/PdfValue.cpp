#include "engine/core/PdfValue.h"

#include <climits>
#include <cstring>

#include "engine/core/Memory.h"
#include "engine/core/XrefTable.h"

namespace rendova {

namespace {

constexpr const char* kTypeNames[] = {
    "boolean",    "integer", "real",      "string",  "name",  "null", "array",
    "dictionary", "stream",  "reference", "command", "error", "eof",  "none",
};

// Containers grow to 8 slots, then double; the slot count stays a valid
// 32-bit array size.
template <typename Vector>
void growForOneMore(Vector& items, int slotSize) {
    size_t capacity = items.capacity();
    if (items.size() < capacity)
        return;
    size_t grown = capacity == 0 ? 8 : capacity * 2;
    if (grown >= size_t(INT_MAX) / size_t(slotSize))
        throw MemoryException();
    items.reserve(grown);
}

void printString(FILE* file, const DynString* s) {
    std::fputc('(', file);
    for (int i = 0; i < s->getLength(); ++i) {
        unsigned char c = static_cast<unsigned char>(s->getChar(i));
        if (c == '(' || c == ')' || c == '\\') {
            std::fprintf(file, "\\%c", c);
        } else if (c < 0x20 || c >= 0x7f) {
            std::fprintf(file, "\\%03o", c);
        } else {
            std::fputc(c, file);
        }
    }
    std::fputc(')', file);
}

}  // namespace

PdfValue& PdfValue::initArray(XrefTable* xref) {
    return set(kArray).setShared(RefPtr<PdfArray>::adopt(new PdfArray(xref)));
}

PdfValue& PdfValue::initDict(XrefTable* xref) {
    return set(kDict).setShared(RefPtr<PdfDict>::adopt(new PdfDict(xref)));
}

PdfValue& PdfValue::initDictRef(PdfDict* dict) {
    // The reference comes first: this value may hold the dictionary's last
    // other one, which set() lets go.
    RefPtr<PdfDict> shared(dict);
    return set(kDict).setShared(std::move(shared));
}

void PdfValue::copy(PdfValue& out) const {
    if (&out == this)
        return;
    switch (m_kind) {
        case kString:
            out.initString(new DynString(*getString()));
            break;
        case kName:
            out.initName(copyString(getName()));
            break;
        case kCommand:
            out.initCommand(copyString(getCommand()));
            break;
        case kArray:
        case kDict:
        case kStream: {
            // Take the reference before out lets go of what it held: out may
            // hold the last other reference to this very payload.
            RefPtr<RefCounted> shared = m_shared;
            out.free();
            out.m_kind = m_kind;
            out.m_u = m_u;
            out.m_shared = std::move(shared);
            break;
        }
        default:
            out.free();
            out.m_kind = m_kind;
            out.m_u = m_u;
            break;
    }
}

void PdfValue::fetch(XrefTable* xref, PdfValue& out) const {
    if (m_kind == kRef && xref) {
        // Read the reference first: out may be this value.
        int num = m_u.ref.num;
        int gen = m_u.ref.gen;
        xref->fetch(num, gen, out);
    } else {
        copy(out);
    }
}

void PdfValue::free() {
    switch (m_kind) {
        case kString:
            delete getString();
            break;
        case kName:
        case kCommand:
            memFree(m_u.ptr);
            break;
        default:
            break;
    }
    m_shared.reset();
    m_kind = kNone;
}

const char* PdfValue::typeName() const {
    if (m_kind < kBool || m_kind > kNone)
        return "unknown";
    return kTypeNames[m_kind];
}

bool PdfValue::isName(const char* name) const {
    return m_kind == kName && std::strcmp(getName(), name) == 0;
}

bool PdfValue::isCommand(const char* command) const {
    return m_kind == kCommand && std::strcmp(getCommand(), command) == 0;
}

bool PdfValue::isDict(const char* type) const {
    return m_kind == kDict && getDict()->isType(type);
}

PdfDict* PdfValue::getDictOrStreamDict() const {
    if (m_kind == kDict)
        return getDict();
    if (m_kind == kStream) {
        PdfValue* dict = getStream()->getDict();
        if (dict && dict->isDict())
            return dict->getDict();
    }
    return nullptr;
}

PdfValue& PdfValue::dictLookup(const char* key, PdfValue& out) const {
    if (PdfDict* dict = getDictOrStreamDict())
        return dict->lookup(key, out);
    return out.initNull();
}

PdfValue& PdfValue::dictLookupRaw(const char* key, PdfValue& out) const {
    if (PdfDict* dict = getDictOrStreamDict())
        return dict->lookupRaw(key, out);
    return out.initNull();
}

void PdfValue::print(FILE* file) const {
    switch (m_kind) {
        case kBool:
            std::fputs(getBool() ? "true" : "false", file);
            break;
        case kInt:
            std::fprintf(file, "%d", getInt());
            break;
        case kReal:
            std::fprintf(file, "%g", getReal());
            break;
        case kString:
            printString(file, getString());
            break;
        case kName:
            std::fprintf(file, "/%s", getName());
            break;
        case kNull:
            std::fputs("null", file);
            break;
        case kArray: {
            PdfArray* array = getArray();
            std::fputc('[', file);
            for (int i = 0; i < array->getLength(); ++i) {
                if (i > 0)
                    std::fputc(' ', file);
                PdfValue element;
                array->getRaw(i, element).print(file);
            }
            std::fputc(']', file);
            break;
        }
        case kDict: {
            PdfDict* dict = getDict();
            std::fputs("<<", file);
            for (int i = 0; i < dict->getLength(); ++i) {
                std::fprintf(file, " /%s ", dict->keyAt(i));
                PdfValue entry;
                dict->rawValueAt(i, entry).print(file);
            }
            std::fputs(" >>", file);
            break;
        }
        case kStream:
            std::fputs("<stream>", file);
            break;
        case kRef:
            std::fprintf(file, "%d %d R", getRefNum(), getRefGen());
            break;
        case kCommand:
            std::fputs(getCommand(), file);
            break;
        case kError:
            std::fputs("<error>", file);
            break;
        case kEof:
            std::fputs("<EOF>", file);
            break;
        case kNone:
            std::fputs("<none>", file);
            break;
    }
}

void PdfArray::add(PdfValue&& value) {
    growForOneMore(m_elements, int(sizeof(PdfValue)));
    m_elements.push_back(std::move(value));
}

PdfValue& PdfArray::get(int i, PdfValue& out) const {
    if (i < 0 || i >= getLength())
        return out.initNull();
    m_elements[size_t(i)].fetch(m_xref, out);
    return out;
}

PdfValue& PdfArray::getRaw(int i, PdfValue& out) const {
    if (i < 0 || i >= getLength())
        return out.initNull();
    m_elements[size_t(i)].copy(out);
    return out;
}

PdfDict::Entry::~Entry() {
    memFree(key);
}

void PdfDict::add(char* key, PdfValue&& value) {
    growForOneMore(m_entries, int(sizeof(Entry)));
    m_entries.emplace_back(key, std::move(value));
}

const PdfDict::Entry* PdfDict::find(const char* key) const {
    for (const Entry& entry : m_entries) {
        if (std::strcmp(entry.key, key) == 0)
            return &entry;
    }
    return nullptr;
}

PdfValue& PdfDict::lookup(const char* key, PdfValue& out) const {
    const Entry* entry = find(key);
    if (!entry)
        return out.initNull();
    entry->value.fetch(m_xref, out);
    return out;
}

PdfValue& PdfDict::lookupRaw(const char* key, PdfValue& out) const {
    const Entry* entry = find(key);
    if (!entry)
        return out.initNull();
    entry->value.copy(out);
    return out;
}

bool PdfDict::isType(const char* type) const {
    const Entry* entry = find("Type");
    return entry && entry->value.isName(type);
}

PdfValue& PdfDict::rawValueAt(int i, PdfValue& out) const {
    m_entries[size_t(i)].value.copy(out);
    return out;
}

}  // namespace rendova
