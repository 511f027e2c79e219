#include "engine/core/CodeToUnicodeMap.h"

#include <cstring>

#include "engine/core/CMapText.h"
#include "engine/core/CharClass.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/FileUtils.h"
#include "engine/core/GlobalSettings.h"
#include "engine/core/Memory.h"
#include "engine/core/PsTokenizer.h"

namespace rendova {

namespace {

// A ToUnicode CMap may use a CMap file, which may use another: a file that
// uses itself would otherwise recurse until the stack runs out.
constexpr int kMaxUseDepth = 16;

// Unicode ends at U+10FFFF. A Unicode-to-Unicode file's codes are Unicode
// values, and the value array grows to the highest code: a code beyond
// Unicode would only make the array absurdly large.
constexpr unsigned kMaxUnicode = 0x10FFFF;

// First sizes of the value arrays of the two files, which then double.
constexpr int kCidToUnicodeStart = 32768;
constexpr int kUnicodeToUnicodeStart = 4096;

// The multi-value table starts this large and doubles: growing it a record at
// a time is quadratic where realloc cannot grow in place.
constexpr int kFirstTableCapacity = 16;

// Line buffers of the two files (one CID value a line; a code and up to 8
// values a line).
constexpr int kCidLineSize = 64;
constexpr int kUnicodeLineSize = 256;

// The characters that separate the words of a Unicode-to-Unicode line.
constexpr const char* kSeparators = " \t\r\n";

// A hexadecimal number of 1 to 8 digits after optional blanks, ended by
// anything that is not a digit (as the C runtime's reading of "%x" does).
bool readLeadingHex(const char* text, unsigned* value) {
    while (*text == ' ' || *text == '\t')
        ++text;
    int n = 0;
    while (hexDigitValue(text[n]) >= 0)
        ++n;
    if (n == 0 || n > 8)
        return false;
    return cmaptext::readHex(text, n, value);
}

// A whole word of 1 to 8 hexadecimal digits.
bool readHexWord(const char* word, unsigned* value) {
    int n = static_cast<int>(std::strlen(word));
    return n >= 1 && n <= 8 && cmaptext::readHex(word, n, value);
}

// Whether a token is "<" + 1 to `digits` hex digits + ">", with its value.
// Fewer digits than the codes have (<20> among 2-byte codes) are still the
// code of that value, as other readers take them; `shorter` is set then.
bool readCodeToken(const char* token, int length, int digits, unsigned* code, bool* shorter) {
    const int n = length - 2;
    if (n < 1 || n > digits || !cmaptext::isHexString(token, length) ||
        !cmaptext::readHex(token + 1, n, code))
        return false;
    if (n < digits)
        *shorter = true;
    return true;
}

// Doubles a memAlloc'd array of `size` zero-initialised values until it
// holds index `need`; the new part is zeroed. When growing throws, the array
// stays as it was, still owned by `values`.
void growValues(MemPtr<uint32_t>& values, int* size, int need) {
    int newSize = *size;
    while (newSize <= need)
        newSize = checkedMul(newSize, 2);
    memReallocArray(values, newSize);
    std::memset(values.get() + *size, 0, sizeof(uint32_t) * static_cast<size_t>(newSize - *size));
    *size = newSize;
}

}  // namespace

CodeToUnicodeMap::CodeToUnicodeMap() {
    m_values = static_cast<uint32_t*>(memAllocArray(256, sizeof(uint32_t)));
    std::memset(m_values, 0, 256 * sizeof(uint32_t));
    m_length = 256;
}

CodeToUnicodeMap::CodeToUnicodeMap(const char* tag, uint32_t* values, int length, bool copy,
                                   MultiValue* table, int count, int capacity)
    : m_length(length), m_table(table), m_tableCount(count), m_tableCapacity(capacity) {
    if (copy) {
        m_values = static_cast<uint32_t*>(memAllocArray(length > 0 ? length : 1, sizeof(uint32_t)));
        if (length > 0)
            std::memcpy(m_values, values, sizeof(uint32_t) * static_cast<size_t>(length));
    } else {
        m_values = values;
    }
    if (tag)
        m_tag = std::make_unique<DynString>(tag);
    if (m_tableCount > 0 && m_length > 0) {
        m_recordOf = static_cast<int*>(memAllocArray(m_length, sizeof(int)));
        std::memset(m_recordOf, 0, sizeof(int) * static_cast<size_t>(m_length));
        // A later record of a code replaces an earlier one, as a later line
        // of the file does.
        for (int i = 0; i < m_tableCount; ++i) {
            if (m_table[i].code >= 0 && m_table[i].code < m_length)
                m_recordOf[m_table[i].code] = i + 1;
        }
    }
}

CodeToUnicodeMap::~CodeToUnicodeMap() {
    memFree(m_values);
    memFree(m_table);
    memFree(m_recordOf);
}

RefPtr<CodeToUnicodeMap> CodeToUnicodeMap::make8Bit(const uint32_t values[256]) {
    return RefPtr<CodeToUnicodeMap>::adopt(
        new CodeToUnicodeMap(nullptr, const_cast<uint32_t*>(values), 256, true, nullptr, 0, 0));
}

RefPtr<CodeToUnicodeMap> CodeToUnicodeMap::parseCidToUnicodeFile(const char* fileName,
                                                                 const char* collection) {
    FileHandle file(std::fopen(fileName, "r"));
    if (!file) {
        reportError(-1, "Couldn't open the CID-to-Unicode file '%s' of the '%s' collection", fileName,
                    collection);
        return nullptr;
    }
    int size = kCidToUnicodeStart;
    MemPtr<uint32_t> values(static_cast<uint32_t*>(memAllocArray(size, sizeof(uint32_t))));
    std::memset(values.get(), 0, sizeof(uint32_t) * static_cast<size_t>(size));
    int cid = 0;
    char line[kCidLineSize];
    while (readLine(line, kCidLineSize, file.get())) {
        if (cid >= size)
            growValues(values, &size, cid);
        unsigned value = 0;
        if (readLeadingHex(line, &value)) {
            values.get()[cid] = value;
        } else {
            reportError(-1, "Bad line (%d) in the CID-to-Unicode file '%s'", cid, fileName);
            values.get()[cid] = 0;
        }
        ++cid;
    }
    auto map = RefPtr<CodeToUnicodeMap>::adopt(
        new CodeToUnicodeMap(collection, values.get(), cid, false, nullptr, 0, 0));
    static_cast<void>(values.release());  // the map took the array over
    return map;
}

RefPtr<CodeToUnicodeMap> CodeToUnicodeMap::parseCidToUnicodeCMap(FILE* file, const char* collection) {
    uint32_t none[256] = {};
    auto map =
        RefPtr<CodeToUnicodeMap>::adopt(new CodeToUnicodeMap(collection, none, 256, true, nullptr, 0, 0));
    PsTokenizer tokenizer(&cmaptext::fileGetChar, file);
    map->readCMap(tokenizer, 16, 0);
    return map;
}

RefPtr<CodeToUnicodeMap> CodeToUnicodeMap::parseUnicodeToUnicodeFile(const char* fileName, const char* tag) {
    FileHandle file(std::fopen(fileName, "r"));
    if (!file) {
        reportError(-1, "Couldn't open the Unicode-to-Unicode file '%s'", fileName);
        return nullptr;
    }
    int size = kUnicodeToUnicodeStart;
    MemPtr<uint32_t> values(static_cast<uint32_t*>(memAllocArray(size, sizeof(uint32_t))));
    std::memset(values.get(), 0, sizeof(uint32_t) * static_cast<size_t>(size));
    MemPtr<MultiValue> table;
    int count = 0;
    int capacity = 0;
    int length = 0;
    char line[kUnicodeLineSize];
    int lineNumber = 0;
    while (readLine(line, kUnicodeLineSize, file.get())) {
        ++lineNumber;
        char* save = nullptr;
        char* word = strtok_r(line, kSeparators, &save);
        unsigned code = 0;
        if (!word || !readHexWord(word, &code)) {
            reportError(-1, "Bad code in line %d of the Unicode-to-Unicode file '%s'", lineNumber, fileName);
            continue;
        }
        if (code > kMaxUnicode) {
            reportError(-1, "Code %X beyond Unicode in line %d of the Unicode-to-Unicode file '%s'", code,
                        lineNumber, fileName);
            continue;
        }
        uint32_t read[kMaxValues];
        int n = 0;
        while (n < kMaxValues && (word = strtok_r(nullptr, kSeparators, &save))) {
            unsigned value = 0;
            if (!readHexWord(word, &value)) {
                reportError(-1, "Bad value in line %d of the Unicode-to-Unicode file '%s'", lineNumber,
                            fileName);
                break;
            }
            read[n++] = value;
        }
        if (n == 0) {
            reportError(-1, "No values in line %d of the Unicode-to-Unicode file '%s'", lineNumber, fileName);
            continue;
        }
        int c = static_cast<int>(code);
        if (c >= size)
            growValues(values, &size, c);
        if (n == 1) {
            values.get()[c] = read[0];
        } else {
            if (count == capacity) {
                capacity = capacity > 0 ? checkedMul(capacity, 2) : kFirstTableCapacity;
                memReallocArray(table, capacity);
            }
            MultiValue& record = table.get()[count++];
            record.code = c;
            record.count = n;
            std::memcpy(record.values, read, sizeof(uint32_t) * static_cast<size_t>(n));
            values.get()[c] = 0;
        }
        if (c >= length)
            length = c + 1;
    }
    auto map = RefPtr<CodeToUnicodeMap>::adopt(
        new CodeToUnicodeMap(tag, values.get(), length, false, table.get(), count, capacity));
    // The map took both arrays over.
    static_cast<void>(values.release());
    static_cast<void>(table.release());
    return map;
}

RefPtr<CodeToUnicodeMap> CodeToUnicodeMap::parseCMap(const DynString& text, int codeBits) {
    auto map = RefPtr<CodeToUnicodeMap>::adopt(new CodeToUnicodeMap());
    map->mergeCMap(text, codeBits);
    return map;
}

void CodeToUnicodeMap::mergeCMap(const DynString& text, int codeBits) {
    cmaptext::TextSource source{text.getCString(), text.getLength(), 0};
    PsTokenizer tokenizer(&cmaptext::TextSource::get, &source);
    readCMap(tokenizer, codeBits, 0);
}

// The Unicode map's side of the CMap reader: bfchar and bfrange sections,
// and CMap files used by name from the settings' folders.
class CodeToUnicodeMap::Filler final : public cmaptext::Sink {
public:
    // Codes are written with codeBits / 4 hexadecimal digits: 2 or 4.
    Filler(CodeToUnicodeMap& map, int codeBits, int depth)
        : m_map(map), m_codeBits(codeBits), m_digits(codeBits == 8 ? 2 : 4), m_depth(depth) {}

    const Section* sections(int* count) const override {
        static constexpr Section kSections[] = {
            {"beginbfchar", "endbfchar", 2, false},
            {"beginbfrange", "endbfrange", 3, false},
        };
        *count = 2;
        return kSections;
    }

    void useCMap(const char* name) override {
        if (m_depth + 1 > kMaxUseDepth) {
            reportError(-1, "ToUnicode CMap '%s' not read: CMaps use one another deeper than %d levels", name,
                        kMaxUseDepth);
            return;
        }
        FileHandle file(globalSettings ? globalSettings->openDirListFile(name) : nullptr);
        if (!file) {
            reportError(-1, "Couldn't find the ToUnicode CMap file '%s'", name);
            return;
        }
        PsTokenizer fileTokenizer(&cmaptext::fileGetChar, file.get());
        m_map.readCMap(fileTokenizer, m_codeBits, m_depth + 1);
    }

    bool define(const char*, const char*) override { return false; }

    void entry(int section, cmaptext::Entry& entry) override {
        if (section == kBfChar)
            bfChar(entry);
        else
            bfRange(entry);
    }

    bool readShorterCodes() const { return m_shorter; }

    void unfinished(int section) override {
        reportError(-1, "Unfinished %s entry in a ToUnicode CMap", section == kBfChar ? "bfchar" : "bfrange");
    }

private:
    enum { kBfChar, kBfRange };

    void bfChar(cmaptext::Entry& entry) {
        const char* a = entry.token[0];
        const char* b = entry.token[1];
        unsigned low = 0;
        if (!readCodeToken(a, entry.length[0], m_digits, &low, &m_shorter) ||
            !cmaptext::isHexString(b, entry.length[1])) {
            reportError(-1, "Bad bfchar entry '%s' '%s' in a ToUnicode CMap", a, b);
            return;
        }
        m_map.addMapping(low, b + 1, entry.length[1] - 2, 0);
    }

    void bfRange(cmaptext::Entry& entry) {
        const char* a = entry.token[0];
        const char* b = entry.token[1];
        char* c = entry.token[2];
        int lengthC = entry.length[2];
        unsigned low = 0;
        unsigned high = 0;
        bool codesOk = readCodeToken(a, entry.length[0], m_digits, &low, &m_shorter) &&
                       readCodeToken(b, entry.length[1], m_digits, &high, &m_shorter);
        if (!codesOk)
            reportError(-1, "Bad bfrange codes '%s' '%s' in a ToUnicode CMap", a, b);
        if (std::strcmp(c, "[") == 0) {
            // Each element maps the next code; elements past the high code
            // are read (to stay in step) and dropped. A text that ends inside
            // the array ends the reading.
            unsigned code = low;
            for (;;) {
                if (!entry.tokenizer->getToken(c, cmaptext::kTokenSize, &lengthC))
                    return;
                if (std::strcmp(c, "]") == 0)
                    break;
                if (!cmaptext::isHexString(c, lengthC)) {
                    reportError(-1, "Bad bfrange array element '%s' in a ToUnicode CMap", c);
                } else if (codesOk && code <= high) {
                    m_map.addMapping(code, c + 1, lengthC - 2, 0);
                }
                ++code;
            }
        } else if (!cmaptext::isHexString(c, lengthC)) {
            reportError(-1, "Bad bfrange destination '%s' in a ToUnicode CMap", c);
        } else if (codesOk) {
            for (unsigned code = low; code <= high; ++code)
                m_map.addMapping(code, c + 1, lengthC - 2, code - low);
        }
    }

    CodeToUnicodeMap& m_map;
    // Set by a code written with fewer digits than the codes have.
    bool m_shorter = false;
    const int m_codeBits;
    const int m_digits;
    const int m_depth;
};

void CodeToUnicodeMap::readCMap(PsTokenizer& tokenizer, int codeBits, int depth) {
    Filler filler(*this, codeBits, depth);
    cmaptext::read(tokenizer, filler);
    if (filler.readShorterCodes())
        reportError(-1, "ToUnicode CMap codes shorter than %d bits, read as their values", codeBits);
}

void CodeToUnicodeMap::growFor(int code) {
    if (code < m_length)
        return;
    // Grown to (code + 256) rounded down to a multiple of 256: the next
    // multiple of 256 above the code.
    int newLength = checkedAdd(code, 256) & ~255;
    m_values = static_cast<uint32_t*>(memReallocArray(m_values, newLength, sizeof(uint32_t)));
    std::memset(m_values + m_length, 0, sizeof(uint32_t) * static_cast<size_t>(newLength - m_length));
    if (m_recordOf) {
        m_recordOf = static_cast<int*>(memReallocArray(m_recordOf, newLength, sizeof(int)));
        std::memset(m_recordOf + m_length, 0, sizeof(int) * static_cast<size_t>(newLength - m_length));
    }
    m_length = newLength;
}

void CodeToUnicodeMap::addMapping(unsigned code, const char* digits, int n, unsigned offset) {
    int c = static_cast<int>(code);
    growFor(c);
    if (n <= 4) {
        unsigned value = 0;
        cmaptext::readHex(digits, n, &value);
        m_values[c] = value + offset;
        clearRecord(c);
        return;
    }
    MultiValue& record = recordFor(c);
    m_values[c] = 0;
    int count = 0;
    for (int i = 0; i + 4 <= n && count < kMaxValues; i += 4) {
        unsigned value = 0;
        cmaptext::readHex(digits + i, 4, &value);
        record.values[count++] = value;
    }
    if (count > 0)
        record.values[count - 1] += offset;
    record.count = count;
}

CodeToUnicodeMap::MultiValue& CodeToUnicodeMap::recordFor(int code) {
    if (!m_recordOf) {
        m_recordOf = static_cast<int*>(memAllocArray(m_length, sizeof(int)));
        std::memset(m_recordOf, 0, sizeof(int) * static_cast<size_t>(m_length));
    }
    if (m_recordOf[code] > 0)
        return m_table[m_recordOf[code] - 1];
    if (m_tableCount == m_tableCapacity) {
        int capacity = m_tableCapacity > 0 ? checkedMul(m_tableCapacity, 2) : kFirstTableCapacity;
        m_table = static_cast<MultiValue*>(memReallocArray(m_table, capacity, sizeof(MultiValue)));
        m_tableCapacity = capacity;
    }
    MultiValue& record = m_table[m_tableCount++];
    record.code = code;
    record.count = 0;
    m_recordOf[code] = m_tableCount;
    return record;
}

const CodeToUnicodeMap::MultiValue* CodeToUnicodeMap::findRecord(int code) const {
    if (!m_recordOf || m_recordOf[code] == 0)
        return nullptr;
    return &m_table[m_recordOf[code] - 1];
}

void CodeToUnicodeMap::clearRecord(int code) {
    // The record stays the code's slot (count 0): a code mapped to one value
    // and to several in turn reuses it rather than adding records.
    if (m_recordOf && m_recordOf[code] > 0)
        m_table[m_recordOf[code] - 1].count = 0;
}

void CodeToUnicodeMap::setMapping(int code, const uint32_t* values, int count) {
    if (code < 0 || count <= 0)
        return;
    // A code past the length is never looked up.
    if (code >= m_length)
        return;
    if (count == 1) {
        m_values[code] = values[0];
        clearRecord(code);
        return;
    }
    MultiValue& record = recordFor(code);
    int n = count < kMaxValues ? count : kMaxValues;
    std::memcpy(record.values, values, sizeof(uint32_t) * static_cast<size_t>(n));
    record.count = n;
    m_values[code] = 0;
}

int CodeToUnicodeMap::mapToUnicode(int code, uint32_t* values, int room) const {
    if (code < 0 || code >= m_length || room <= 0)
        return 0;
    if (m_values[code]) {
        values[0] = m_values[code];
        return 1;
    }
    const MultiValue* record = findRecord(code);
    if (!record)
        return 0;
    int n = record->count < room ? record->count : room;
    std::memcpy(values, record->values, sizeof(uint32_t) * static_cast<size_t>(n));
    return n;
}

bool CodeToUnicodeMap::matchesTag(const char* tag) const {
    return m_tag && m_tag->compareCStr(tag) == 0;
}

}  // namespace rendova
