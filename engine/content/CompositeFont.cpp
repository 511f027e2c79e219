// Composite fonts: the descendant CID font, its collection, CMap, Unicode
// map, CID-to-glyph map and the width and vertical metric ranges.
#include "engine/content/CompositeFont.h"

#include <algorithm>
#include <cstring>

#include "engine/core/CodeToCidMap.h"
#include "engine/core/CodeToUnicodeMap.h"
#include "engine/core/DataStream.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/GlobalSettings.h"
#include "engine/core/PdfValue.h"

namespace rendova {

namespace {

// Collections whose CIDs need no CID-to-Unicode file: the identity
// collection (no meaning of its own) and the one whose CIDs are Unicode.
constexpr const char* kIdentityCollection = "Adobe-Identity";
constexpr const char* kUnicodeCollection = "Adobe-UCS";

// Walks a W or W2 array of groups of n numbers: "c [g1 g2 ...]" gives CIDs
// c, c + 1, ... a group each, "first last g" one group for the range. Each
// group goes to emit(first, last, values) in thousandths of text space; an
// entry that is not of either form, or a group holding something other than
// numbers, is reported with `what` and skipped.
template <typename Emit>
void readCidMetrics(const PdfArray* a, int n, const char* what, Emit emit) {
    double values[3];
    const auto readGroup = [&](const PdfArray* from, int at) {
        for (int j = 0; j < n; ++j) {
            PdfValue v;
            if (!from->get(at + j, v).isNum())
                return false;
            values[j] = v.getNum() * 0.001;
        }
        return true;
    };
    int i = 0;
    while (i + 1 < a->getLength()) {
        PdfValue e0, e1;
        a->get(i, e0);
        a->get(i + 1, e1);
        if (e0.isInt() && e1.isArray()) {
            const PdfArray* list = e1.getArray();
            int64_t cid = e0.getInt();
            for (int k = 0; k + n <= list->getLength() && cid <= INT32_MAX; k += n, ++cid) {
                if (readGroup(list, k))
                    emit(static_cast<int>(cid), static_cast<int>(cid), values);
                else
                    reportError(-1, "%s", what);
            }
            i += 2;
            continue;
        }
        if (i + 1 + n < a->getLength() && e0.isInt() && e1.isInt() && readGroup(a, i + 2)) {
            emit(e0.getInt(), e1.getInt(), values);
            i += 2 + n;
            continue;
        }
        reportError(-1, "%s", what);
        ++i;
    }
}

// "Registry-Ordering" of the dictionary's CIDSystemInfo; null when it has
// none or it lacks either string.
std::unique_ptr<DynString> readCollection(PdfDict* dict) {
    PdfValue info, registry, ordering;
    if (!dict || !dict->lookup("CIDSystemInfo", info).isDict() ||
        !info.getDict()->lookup("Registry", registry).isString() ||
        !info.getDict()->lookup("Ordering", ordering).isString())
        return nullptr;
    auto collection = std::make_unique<DynString>(*registry.getString());
    collection->appendChar('-');
    collection->append(*ordering.getString());
    return collection;
}

// Whether the descendant's descriptor holds its program as a TrueType file.
bool hasTrueTypeProgram(PdfDict* descendant) {
    PdfValue descriptor, file;
    return descendant->lookup("FontDescriptor", descriptor).isDict() &&
           !descriptor.getDict()->lookupRaw("FontFile", file).isRef() &&
           descriptor.getDict()->lookupRaw("FontFile2", file).isRef();
}

}  // namespace

CompositeFont::CompositeFont(XrefTable* xref, const char* tag, int objectNumber, int generation,
                             const DynString* name, PdfDict* fontDict)
    : FontObject(tag, objectNumber, generation, name, kFontUnknown) {
    PdfValue descendants, descendant, v;
    if (!fontDict->lookup("DescendantFonts", descendants).isArray() ||
        !descendants.getArray()->get(0, descendant).isDict()) {
        reportError(-1, "Missing DescendantFonts entry in Type 0 font");
        return;
    }
    PdfDict* desc = descendant.getDict();
    desc->lookup("Subtype", v);
    if (v.isName("CIDFontType0")) {
        m_fontType = kFontCidType0;
    } else if (v.isName("CIDFontType2")) {
        m_fontType = kFontCidType2;
    } else {
        // Producers write /Type1 or /TrueType here, or nothing; the strings
        // are CIDs all the same, so the font program decides the kind.
        m_fontType = hasTrueTypeProgram(desc) ? kFontCidType2 : kFontCidType0;
        reportError(-1, "Unknown Type 0 descendant font type '%s', read as %s",
                    v.isName() ? v.getName() : "???",
                    m_fontType == kFontCidType2 ? "CIDFontType2" : "CIDFontType0");
    }

    readDescriptor(xref, desc);
    findExternalFile();

    readCollectionOf(desc, fontDict);
    const char* collection = m_collection->getCString();

    m_unicodeMap = readToUnicode(fontDict, 16, nullptr);
    if (!m_unicodeMap && std::strcmp(collection, kIdentityCollection) != 0 &&
        std::strcmp(collection, kUnicodeCollection) != 0) {
        m_unicodeMap = globalSettings ? globalSettings->getCidToUnicodeMap(collection) : nullptr;
        if (!m_unicodeMap)
            reportError(-1, "Unknown character collection '%s'", collection);
    }
    RefPtr<CodeToUnicodeMap> remap =
        (m_name && globalSettings) ? globalSettings->getUnicodeToUnicodeMap(m_name->getCString()) : nullptr;
    if (remap) {
        if (m_unicodeMap) {
            // The values are remapped into a copy: a map from the settings'
            // cache is shared with every other font of its collection.
            const int length = m_unicodeMap->getLength();
            std::vector<uint32_t> none(static_cast<size_t>(length > 0 ? length : 1), 0);
            auto mapped = RefPtr<CodeToUnicodeMap>::adopt(
                new CodeToUnicodeMap(nullptr, none.data(), length, true, nullptr, 0, 0));
            for (int cid = 0; cid < length; ++cid) {
                uint32_t u[CodeToUnicodeMap::kMaxValues], r[CodeToUnicodeMap::kMaxValues];
                const int n = m_unicodeMap->mapToUnicode(cid, u, CodeToUnicodeMap::kMaxValues);
                if (n == 0)
                    continue;
                const int m = remap->mapToUnicode(static_cast<int>(u[0]), r, CodeToUnicodeMap::kMaxValues);
                if (m > 0) {
                    mapped->setMapping(cid, r, m);
                } else {
                    mapped->setMapping(cid, u, n);
                }
            }
            m_unicodeMap = std::move(mapped);
        } else {
            m_unicodeMap = std::move(remap);
        }
    }

    PdfValue encoding;
    fontDict->lookup("Encoding", encoding);
    if (encoding.isName()) {
        m_cMap = globalSettings ? globalSettings->getCMap(collection, encoding.getName()) : nullptr;
        if (!m_cMap) {
            reportError(-1, "Unknown CMap '%s' for character collection '%s'", encoding.getName(),
                        collection);
            return;
        }
    } else if (encoding.isStream()) {
        m_cMap = readEmbeddedCMap(encoding, collection, 0);
        if (!m_cMap)
            return;
    } else {
        reportError(-1, "Missing or invalid Encoding entry in Type 0 font");
        return;
    }

    if (m_fontType == kFontCidType2)
        readCidToGlyph(desc);
    readWidths(desc);
    readVerticalMetrics(desc);
    m_ok = true;
}

// The collection of the descendant's CIDSystemInfo; without one, that of an
// embedded CMap, and without either the codes can only be CIDs as they
// stand (Identity).
void CompositeFont::readCollectionOf(PdfDict* descendant, PdfDict* fontDict) {
    m_collection = readCollection(descendant);
    if (!m_collection) {
        PdfValue encoding;
        PdfValue* cMapDict =
            fontDict->lookup("Encoding", encoding).isStream() ? encoding.getStream()->getDict() : nullptr;
        if (cMapDict && cMapDict->isDict())
            m_collection = readCollection(cMapDict->getDict());
        if (!m_collection)
            m_collection = std::make_unique<DynString>(kIdentityCollection);
        reportError(-1, "Missing CIDSystemInfo dictionary in Type 0 descendant font; taken as '%s'",
                    m_collection->getCString());
    }
}

RefPtr<CodeToCidMap> CompositeFont::readEmbeddedCMap(PdfValue& stream, const char* collection, int depth) {
    if (!globalSettings)
        return nullptr;
    PdfValue* dictValue = stream.getStream()->getDict();
    if (!dictValue || !dictValue->isDict())
        return nullptr;
    PdfDict* dict = dictValue->getDict();
    PdfValue name;
    const char* cMapName = dict->lookup("CMapName", name).isName() ? name.getName() : "embedded";

    // The map this one is built on: an installed CMap by name, or another
    // embedded one, nested at most a few levels (a stream may name itself).
    RefPtr<CodeToCidMap> base;
    PdfValue use;
    dict->lookup("UseCMap", use);
    if (use.isName()) {
        base = globalSettings->getCMap(collection, use.getName());
    } else if (use.isStream()) {
        if (depth < kMaxEmbeddedCMapDepth)
            base = readEmbeddedCMap(use, collection, depth + 1);
        else
            reportError(-1, "Embedded CMap '%s' uses CMaps nested deeper than %d levels", cMapName,
                        kMaxEmbeddedCMapDepth);
    }
    PdfValue mode;
    const int wMode = dict->lookup("WMode", mode).isInt() ? (mode.getInt() == 1 ? 1 : 0) : -1;

    DynString text;
    DataStream* s = stream.getStream();
    s->reset();
    for (int c; (c = s->getChar()) != -1;) {
        if (text.getLength() >= kMaxEmbeddedCMapSize) {
            reportError(-1, "Embedded CMap '%s' is longer than %d bytes; the rest is ignored", cMapName,
                        kMaxEmbeddedCMapSize);
            break;
        }
        text.appendChar(static_cast<char>(c));
    }
    s->close();
    return globalSettings->parseEmbeddedCMap(collection, cMapName, text, base.get(), wMode);
}

CompositeFont::~CompositeFont() = default;

void CompositeFont::readCidToGlyph(PdfDict* descendant) {
    PdfValue map;
    descendant->lookup("CIDToGIDMap", map);
    if (map.isStream()) {
        DataStream* s = map.getStream();
        m_cidToGlyph.reserve(64);
        s->reset();
        for (int c1; (c1 = s->getChar()) != -1;) {
            const int c2 = s->getChar();
            if (c2 == -1)
                break;
            if (static_cast<int>(m_cidToGlyph.size()) >= kMaxCidToGlyphLength) {
                reportError(-1, "CIDToGIDMap is longer than %d entries", kMaxCidToGlyphLength);
                break;
            }
            m_cidToGlyph.push_back(static_cast<uint16_t>((c1 << 8) | c2));
        }
        s->close();
    } else if (map.isName()) {
        if (!map.isName("Identity"))
            reportError(-1, "Invalid CIDToGIDMap entry in CID font");
    } else if (!map.isNull()) {
        reportError(-1, "Invalid CIDToGIDMap entry in CID font");
    }
}

void CompositeFont::readWidths(PdfDict* descendant) {
    PdfValue v;
    if (descendant->lookup("DW", v).isInt())
        m_defaultWidth = v.getInt() * 0.001;

    PdfValue widths;
    if (!descendant->lookup("W", widths).isArray())
        return;
    readCidMetrics(widths.getArray(), 1, "Bad widths array in Type 0 font",
                   [this](int first, int last, const double* w) {
                       m_widths.push_back({first, last, w[0]});
                   });
    std::stable_sort(m_widths.begin(), m_widths.end(),
                     [](const CidWidthRange& x, const CidWidthRange& y) { return x.first < y.first; });
}

void CompositeFont::readVerticalMetrics(PdfDict* descendant) {
    PdfValue v;
    if (descendant->lookup("DW2", v).isArray() && v.getArray()->getLength() == 2) {
        PdfValue y, h;
        v.getArray()->get(0, y);
        v.getArray()->get(1, h);
        if (y.isNum() && h.isNum()) {
            m_defaultOriginY = y.getNum() * 0.001;
            m_defaultHeight = h.getNum() * 0.001;
        }
    }

    PdfValue metrics;
    if (!descendant->lookup("W2", metrics).isArray())
        return;
    readCidMetrics(metrics.getArray(), 3, "Bad vertical widths array in Type 0 font",
                   [this](int first, int last, const double* m) {
                       m_vertical.push_back({first, last, m[0], m[1], m[2]});
                   });
    std::stable_sort(m_vertical.begin(), m_vertical.end(),
                     [](const CidVerticalRange& x, const CidVerticalRange& y) { return x.first < y.first; });
}

template <typename Range>
const Range* CompositeFont::findRange(const std::vector<Range>& ranges, int cid) {
    if (ranges.empty() || cid < ranges[0].first)
        return nullptr;
    size_t lo = 0, hi = ranges.size();
    while (hi - lo > 1) {
        const size_t mid = (lo + hi) / 2;
        if (cid < ranges[mid].first) {
            hi = mid;
        } else {
            lo = mid;
        }
    }
    return ranges[lo].last >= cid ? &ranges[lo] : nullptr;
}

double CompositeFont::getCidWidth(int cid) const {
    const CidWidthRange* r = findRange(m_widths, cid);
    return r ? r->width : m_defaultWidth;
}

int CompositeFont::getWritingMode() const {
    return m_cMap ? m_cMap->getWMode() : 0;
}

RefPtr<CodeToUnicodeMap> CompositeFont::getUnicodeMap() const {
    return m_unicodeMap;
}

const char* CompositeFont::getCollection() const {
    return m_cMap ? m_cMap->getCollection().getCString() : nullptr;
}

int CompositeFont::nextChar(const char* bytes, int length, unsigned int* code, unsigned int* unicode,
                            int room, int* unicodeCount, double* dx, double* dy, double* originX,
                            double* originY) const {
    *dx = *dy = *originX = *originY = 0;
    *unicodeCount = 0;
    if (!m_cMap) {
        *code = 0;
        return 1;
    }
    int used = 1;
    const int cid = m_cMap->getCid(bytes, length, &used);
    if (used < 1)
        used = 1;
    *code = static_cast<unsigned int>(cid);
    if (m_unicodeMap)
        *unicodeCount = m_unicodeMap->mapToUnicode(cid, unicode, room);
    if (m_cMap->getWMode() == 0) {
        const CidWidthRange* r = findRange(m_widths, cid);
        *dx = r ? r->width : m_defaultWidth;
    } else {
        const CidVerticalRange* r = findRange(m_vertical, cid);
        *dy = r ? r->height : m_defaultHeight;
        *originX = r ? r->originX : m_defaultWidth / 2;
        *originY = r ? r->originY : m_defaultOriginY;
    }
    return used;
}

}  // namespace rendova
