#include "engine/core/CodeToCidMap.h"

#include <cstring>

#include "engine/core/CMapText.h"
#include "engine/core/CodeToCidMapCache.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/FileUtils.h"
#include "engine/core/GlobalSettings.h"
#include "engine/core/PsTokenizer.h"
#include "engine/core/RefCounted.h"

namespace rendova {

namespace {

// Codes of CMaps are 1 to 4 bytes long (the format's limit); a longer code
// could not be held by the 32-bit start and end of a range.
constexpr int kMaxCodeBytes = 4;

// Code vectors a map may hold (2 KB each). The largest published CMap (GBK2K,
// whose 4-byte codes span 126 x 10 x 126 three-byte prefixes) needs about
// 160,000; a code space over every 4-byte code would need 16 million.
constexpr int kMaxVectors = 1 << 18;

// Reads a code token "<" 2n hex digits ">" with 1 <= n <= 4 into its value
// and byte count n. False for anything else.
bool readCode(const char* token, int length, unsigned* value, int* bytes) {
    if (length < 4 || (length & 1) || token[0] != '<' || token[length - 1] != '>')
        return false;
    int n = (length - 2) / 2;
    if (n > kMaxCodeBytes)
        return false;
    *bytes = n;
    return cmaptext::readHex(token + 1, length - 2, value);
}

// Whether a code token is too long to be a code (reported separately, so that
// the report says why the range was refused).
bool isOverlongCode(const char* token, int length) {
    return length >= 4 && !(length & 1) && token[0] == '<' && (length - 2) / 2 > kMaxCodeBytes;
}

}  // namespace

CodeToCidMap::CodeToCidMap(const char* collection, const char* name)
    : m_collection(collection), m_name(name), m_vector(new Entry[256]()) {}

CodeToCidMap::CodeToCidMap(const char* collection, const char* name, int wMode)
    : m_collection(collection), m_name(name), m_wMode(wMode) {}

CodeToCidMap::~CodeToCidMap() {
    freeVector(m_vector);
}

CodeToCidMap::Entry* CodeToCidMap::newVector() {
    if (m_vectorCount >= kMaxVectors) {
        if (m_vectorCount++ == kMaxVectors)
            reportError(-1, "CMap '%s': code space too large, the rest is ignored", m_name.getCString());
        return nullptr;
    }
    ++m_vectorCount;
    return new Entry[256]();
}

void CodeToCidMap::freeVector(Entry* vector) {
    if (!vector)
        return;
    // Vectors nest at most kMaxCodeBytes deep, so the recursion is bounded.
    for (int i = 0; i < 256; ++i)
        freeVector(vector[i].vector());
    delete[] vector;
}

RefPtr<CodeToCidMap> CodeToCidMap::parse(CodeToCidMapCache& cache, const char* collection, const char* name) {
    FileHandle file(cache.getSettings().openKeyedDirFile(collection, name));
    if (!file) {
        if (std::strcmp(name, "Identity") == 0 || std::strcmp(name, "Identity-H") == 0)
            return RefPtr<CodeToCidMap>::adopt(new CodeToCidMap(collection, name, 0));
        if (std::strcmp(name, "Identity-V") == 0)
            return RefPtr<CodeToCidMap>::adopt(new CodeToCidMap(collection, name, 1));
        reportError(-1, "Couldn't find the '%s' CMap file for the '%s' collection", name, collection);
        return nullptr;
    }
    auto map = RefPtr<CodeToCidMap>::adopt(new CodeToCidMap(collection, name));
    PsTokenizer tokenizer(&cmaptext::fileGetChar, file.get());
    map->readTokens(cache, tokenizer);
    return map;
}

RefPtr<CodeToCidMap> CodeToCidMap::parseEmbedded(CodeToCidMapCache& cache, const char* collection,
                                                 const char* name, const DynString& text,
                                                 const CodeToCidMap* base, int wMode) {
    auto map = RefPtr<CodeToCidMap>::adopt(new CodeToCidMap(collection, name));
    map->m_wMode = wMode;
    if (base) {
        if (base->m_vector)
            map->copyVector(map->m_vector, base->m_vector);
        else {
            // Identity codes are two bytes, each its own CID.
            map->addCodeSpace(map->m_vector, 0x0000, 0xffff, 2);
            for (unsigned high = 0; high < 256; ++high)
                map->addCidRange(high << 8, (high << 8) | 0xff, 2, static_cast<int>(high << 8));
        }
        map->m_wMode = wMode >= 0 ? wMode : base->m_wMode;
    }
    if (map->m_wMode < 0)
        map->m_wMode = 0;
    cmaptext::TextSource source{text.getCString(), text.getLength(), 0};
    PsTokenizer tokenizer(&cmaptext::TextSource::get, &source);
    map->readTokens(cache, tokenizer);
    return map;
}

// The CID map's side of the CMap reader: code space ranges, CID characters and
// ranges, /WMode, and used CMaps fetched through the cache.
class CodeToCidMap::Filler final : public cmaptext::Sink {
public:
    Filler(CodeToCidMap& map, CodeToCidMapCache& cache) : m_map(map), m_cache(cache) {}

    const Section* sections(int* count) const override {
        static constexpr Section kSections[] = {
            {"begincodespacerange", "endcodespacerange", 2, true},
            {"begincidchar", "endcidchar", 2, false},
            {"begincidrange", "endcidrange", 3, false},
        };
        *count = 3;
        return kSections;
    }

    void useCMap(const char* name) override {
        RefPtr<CodeToCidMap> used = m_cache.getMap(m_map.m_collection.getCString(), name);
        if (used && used->m_vector)
            m_map.copyVector(m_map.m_vector, used->m_vector);
    }

    bool define(const char* key, const char* value) override {
        if (std::strcmp(key, "/WMode") != 0)
            return false;
        m_map.m_wMode = cmaptext::tokenInt(value);
        return true;
    }

    void entry(int section, cmaptext::Entry& entry) override {
        const char* a = entry.token[0];
        const char* b = entry.token[1];
        const int lengthA = entry.length[0];
        const int lengthB = entry.length[1];
        unsigned start = 0;
        unsigned end = 0;
        int bytes = 0;
        int endBytes = 0;
        switch (section) {
            case kCodeSpace:
                if (lengthA != lengthB)
                    return;
                if (isOverlongCode(a, lengthA)) {
                    reportError(-1, "CMap '%s': code space range with codes longer than %d bytes ignored",
                                name(), kMaxCodeBytes);
                    return;
                }
                if (readCode(a, lengthA, &start, &bytes) && readCode(b, lengthB, &end, &endBytes))
                    m_map.addCodeSpace(m_map.m_vector, start, end, bytes);
                return;
            case kCidChar:
                if (!readCode(a, lengthA, &start, &bytes)) {
                    reportError(-1, "CMap '%s': bad code '%s' in a cidchar entry", name(), a);
                    return;
                }
                m_map.addCidRange(start, start, bytes, cmaptext::tokenInt(b));
                return;
            case kCidRange:
                if (lengthA != lengthB || !readCode(a, lengthA, &start, &bytes) ||
                    !readCode(b, lengthB, &end, &endBytes)) {
                    reportError(-1, "CMap '%s': bad codes '%s' '%s' in a cidrange entry", name(), a, b);
                    return;
                }
                m_map.addCidRange(start, end, bytes, cmaptext::tokenInt(entry.token[2]));
                return;
        }
    }

    void unfinished(int section) override {
        if (section == kCodeSpace)
            reportError(-1, "CMap '%s': code space range runs to the end of the file", name());
        else
            reportError(-1, "CMap '%s': unfinished %s entry", name(),
                        section == kCidChar ? "cidchar" : "cidrange");
    }

private:
    enum { kCodeSpace, kCidChar, kCidRange };

    const char* name() const { return m_map.m_name.getCString(); }

    CodeToCidMap& m_map;
    CodeToCidMapCache& m_cache;
};

void CodeToCidMap::readTokens(CodeToCidMapCache& cache, PsTokenizer& tokenizer) {
    Filler filler(*this, cache);
    cmaptext::read(tokenizer, filler);
}

void CodeToCidMap::copyVector(Entry* target, const Entry* source) {
    for (int i = 0; i < 256; ++i) {
        if (Entry* from = source[i].vector()) {
            if (!target[i].vector()) {
                Entry* vector = newVector();
                if (!vector)
                    continue;
                target[i].setVector(vector);
            }
            copyVector(target[i].vector(), from);
        } else if (target[i].vector()) {
            reportError(-1, "CMap '%s': a used CMap gives a CID where this one has longer codes",
                        m_name.getCString());
        } else {
            target[i] = source[i];
        }
    }
}

void CodeToCidMap::addCodeSpace(Entry* vector, unsigned start, unsigned end, int bytes) {
    if (bytes <= 1)
        return;
    int shift = 8 * (bytes - 1);
    unsigned mask = (1u << shift) - 1;
    unsigned first = start >> shift;
    unsigned last = end >> shift;
    for (unsigned v = first; v <= last && v < 256; ++v) {
        if (!vector[v].vector()) {
            Entry* next = newVector();
            if (!next)
                return;
            vector[v].setVector(next);
        }
        addCodeSpace(vector[v].vector(), start & mask, end & mask, bytes - 1);
    }
}

void CodeToCidMap::addCidRange(unsigned start, unsigned end, int bytes, int cid) {
    Entry* vector = m_vector;
    for (int i = bytes - 1; i >= 1; --i) {
        unsigned byte = (start >> (8 * i)) & 0xff;
        if (!vector[byte].vector()) {
            reportError(-1, "CMap '%s': a CID range lies outside the code space", m_name.getCString());
            return;
        }
        vector = vector[byte].vector();
    }
    unsigned first = start & 0xff;
    unsigned last = end & 0xff;
    for (unsigned i = first; i <= last; ++i) {
        if (vector[i].vector()) {
            reportError(-1, "CMap '%s': a CID range ends inside the code space of longer codes",
                        m_name.getCString());
        } else {
            // The CID of a code past the int range wraps, as the file's
            // numbers are meaningless there anyway.
            vector[i].setCid(static_cast<int>(static_cast<unsigned>(cid) + (i - first)));
        }
    }
}

int CodeToCidMap::getCid(const char* bytes, int length, int* used) const {
    if (!m_vector) {
        // Never more bytes than there are: the caller steps past `used`.
        *used = length < 2 ? (length > 0 ? length : 0) : 2;
        if (length < 2)
            return 0;
        return (static_cast<unsigned char>(bytes[0]) << 8) | static_cast<unsigned char>(bytes[1]);
    }
    const Entry* vector = m_vector;
    for (int i = 0; i < length; ++i) {
        const Entry& entry = vector[static_cast<unsigned char>(bytes[i])];
        if (!entry.vector()) {
            *used = i + 1;
            return entry.cid();
        }
        vector = entry.vector();
    }
    *used = length;
    return 0;
}

bool CodeToCidMap::matches(const char* collection, const char* name) const {
    return m_collection.compareCStr(collection) == 0 && m_name.compareCStr(name) == 0;
}

}  // namespace rendova
