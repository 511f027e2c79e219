// TrueTypeFontFile::convert: writes a TrueType file that the glyph rasteriser
// can load. A font that needs nothing is written unchanged; otherwise the file
// is rebuilt table by table: missing cmap, name, post and OS/2 tables get
// minimal defaults, a loca table that runs backwards (or holds glyphs too
// short to be glyphs) is rebuilt with the glyf table, horizontal metrics are
// given for every glyph, a cmap whose subtables run past its end is given
// their length, tables that claimed more bytes than the file holds keep
// those it has, and the checksums are made right.

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/content/TrueTypeFontFile.h"

namespace rendova {

namespace {

constexpr uint32_t tagOf(const char* tag) {
    return (static_cast<uint32_t>(static_cast<uint8_t>(tag[0])) << 24) |
           (static_cast<uint32_t>(static_cast<uint8_t>(tag[1])) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(tag[2])) << 8) | static_cast<uint8_t>(tag[3]);
}

// What the head table's checksum adjustment makes the whole file sum to.
constexpr uint32_t kFileChecksumTarget = 0xB1B0AFBA;

// Glyphs shorter than this cannot hold a glyph header and a point; they are
// made empty.
constexpr int kMinGlyphLength = 12;

// The largest glyf table that short (16-bit, halved) loca offsets reach.
constexpr int64_t kMaxShortLocaOffset = 0x1FFFE;

void put16(std::vector<uint8_t>& out, size_t pos, uint32_t value) {
    out[pos] = static_cast<uint8_t>(value >> 8);
    out[pos + 1] = static_cast<uint8_t>(value);
}

void put32(std::vector<uint8_t>& out, size_t pos, uint32_t value) {
    out[pos] = static_cast<uint8_t>(value >> 24);
    out[pos + 1] = static_cast<uint8_t>(value >> 16);
    out[pos + 2] = static_cast<uint8_t>(value >> 8);
    out[pos + 3] = static_cast<uint8_t>(value);
}

void append16(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

void append32(std::vector<uint8_t>& out, uint32_t value) {
    append16(out, value >> 16);
    append16(out, value & 0xffff);
}

// A table of the file written: either bytes of the input or bytes of its own.
struct OutTable {
    uint32_t tag = 0;
    const uint8_t* bytes = nullptr;
    int length = 0;
    std::vector<uint8_t> own;
    uint32_t checksum = 0;
    int offset = 0;

    void useOwn() {
        bytes = own.data();
        length = static_cast<int>(own.size());
    }
};

// A cmap with one format 4 subtable whose one segment (0 to 0xFFFF, delta 0)
// maps every code to the glyph of the same number.
std::vector<uint8_t> defaultCmap() {
    std::vector<uint8_t> t;
    append16(t, 0);       // version
    append16(t, 1);       // one encoding record
    append16(t, 1);       // platform: Macintosh
    append16(t, 0);       // encoding: Roman
    append32(t, 12);      // subtable offset
    append16(t, 4);       // format
    append16(t, 24);      // length
    append16(t, 0);       // language
    append16(t, 2);       // segCountX2
    append16(t, 2);       // searchRange
    append16(t, 0);       // entrySelector
    append16(t, 0);       // rangeShift
    append16(t, 0xFFFF);  // end code
    append16(t, 0);       // reserved
    append16(t, 0);       // start code
    append16(t, 0);       // delta
    append16(t, 0);       // range offset
    return t;
}

std::vector<uint8_t> defaultName() {
    std::vector<uint8_t> t;
    append16(t, 0);  // format
    append16(t, 0);  // count
    append16(t, 6);  // string offset
    append16(t, 0);
    return t;
}

std::vector<uint8_t> defaultPost() {
    std::vector<uint8_t> t(32, 0);
    put32(t, 0, 0x00010000);
    return t;
}

std::vector<uint8_t> defaultOs2() {
    std::vector<uint8_t> t(86, 0);
    put16(t, 0, 1);  // version
    put16(t, 2, 1);  // average character width
    return t;
}

// A name table giving the family, full and PostScript names (Macintosh
// Roman), all three records sharing one string.
std::vector<uint8_t> nameTable(const char* name) {
    size_t length = std::min<size_t>(std::strlen(name), 255);
    std::vector<uint8_t> t;
    append16(t, 0);
    append16(t, 3);
    append16(t, 6 + 3 * 12);
    for (int nameId : {1, 4, 6}) {
        append16(t, 1);  // platform: Macintosh
        append16(t, 0);  // encoding: Roman
        append16(t, 0);  // language: English
        append16(t, static_cast<uint32_t>(nameId));
        append16(t, static_cast<uint32_t>(length));
        append16(t, 0);  // string offset
    }
    t.insert(t.end(), name, name + length);
    return t;
}

// The tables of the file written, in the order added until writeFont sorts
// them.
class OutTables {
public:
    explicit OutTables(std::vector<OutTable> tables) : m_tables(std::move(tables)) {}

    OutTable* find(const char* tag) {
        for (OutTable& o : m_tables) {
            if (o.tag == tagOf(tag))
                return &o;
        }
        return nullptr;
    }
    // Gives a table bytes of its own, adding it when the font has none.
    void addOwn(const char* tag, std::vector<uint8_t> bytes) {
        OutTable* o = find(tag);
        if (!o) {
            m_tables.emplace_back();
            o = &m_tables.back();
            o->tag = tagOf(tag);
        }
        o->own = std::move(bytes);
        o->useOwn();
    }
    std::vector<OutTable>& tables() { return m_tables; }

private:
    std::vector<OutTable> m_tables;
};

// Rebuilds the glyf and loca tables from loca entries (in bytes) that run
// backwards or hold glyphs too short to be glyphs. Glyph lengths come from
// the order of the glyphs' start offsets: a glyph runs to the next start
// (ties in glyph order, so that an empty glyph before its neighbour stays
// empty), the last one to the end of the glyf table. Every copy stays inside
// the glyf table. *longLoca says the offsets' width, and becomes true when
// short ones cannot reach the rebuilt table's end.
void rebuildGlyfAndLoca(const uint8_t* glyf, int64_t glyfLength, const std::vector<int64_t>& entries,
                        bool* longLoca, OutTables& out) {
    const int glyphCount = static_cast<int>(entries.size()) - 1;
    std::vector<int> order(static_cast<size_t>(glyphCount));
    for (int i = 0; i < glyphCount; ++i)
        order[static_cast<size_t>(i)] = i;
    std::stable_sort(order.begin(), order.end(), [&](int x, int y) {
        return entries[static_cast<size_t>(x)] < entries[static_cast<size_t>(y)];
    });
    std::vector<int64_t> starts(static_cast<size_t>(glyphCount), 0);
    std::vector<int64_t> lengths(static_cast<size_t>(glyphCount), 0);
    for (size_t k = 0; k < order.size(); ++k) {
        int glyph = order[k];
        int64_t start = std::min(entries[static_cast<size_t>(glyph)], glyfLength);
        int64_t next = k + 1 < order.size() ? entries[static_cast<size_t>(order[k + 1])] : glyfLength;
        int64_t length = std::min(next, glyfLength) - start;
        starts[static_cast<size_t>(glyph)] = start;
        lengths[static_cast<size_t>(glyph)] = length > 0 ? length : 0;
    }
    std::vector<uint8_t> newGlyf;
    std::vector<int64_t> newEntries(static_cast<size_t>(glyphCount) + 1, 0);
    for (int i = 0; i < glyphCount; ++i) {
        newEntries[static_cast<size_t>(i)] = static_cast<int64_t>(newGlyf.size());
        const uint8_t* bytes = glyf + starts[static_cast<size_t>(i)];
        newGlyf.insert(newGlyf.end(), bytes, bytes + lengths[static_cast<size_t>(i)]);
        newGlyf.resize((newGlyf.size() + 3) & ~static_cast<size_t>(3), 0);
    }
    newEntries[static_cast<size_t>(glyphCount)] = static_cast<int64_t>(newGlyf.size());
    // Short offsets reach 128 KB; a larger rebuilt glyf table switches the
    // font to long offsets rather than wrap them.
    if (!*longLoca && static_cast<int64_t>(newGlyf.size()) > kMaxShortLocaOffset)
        *longLoca = true;
    std::vector<uint8_t> newLoca;
    for (int64_t entry : newEntries) {
        if (*longLoca)
            append32(newLoca, static_cast<uint32_t>(entry));
        else
            append16(newLoca, static_cast<uint32_t>(entry / 2));
    }
    out.addOwn("glyf", std::move(newGlyf));
    out.addOwn("loca", std::move(newLoca));
}

// A cmap with one format 6 subtable (Macintosh Roman) mapping the 256 codes
// to the glyphs of the encoding's names.
std::vector<uint8_t> encodingCmap(const TrueTypeFontFile& font, const char* const* encoding) {
    std::vector<uint8_t> t;
    append16(t, 0);
    append16(t, 1);
    append16(t, 1);  // platform: Macintosh
    append16(t, 0);  // encoding: Roman
    append32(t, 12);
    append16(t, 6);  // format 6: 256 codes from 0
    append16(t, 10 + 2 * 256);
    append16(t, 0);
    append16(t, 0);
    append16(t, 256);
    for (int code = 0; code < 256; ++code)
        append16(t, static_cast<uint32_t>(encoding[code] ? font.mapNameToGid(encoding[code]) : 0));
    return t;
}

// Writes the tables sorted by tag behind their directory, each padded to four
// bytes, with the head table's checksum adjustment made right for the whole.
void writeFont(std::vector<OutTable>& out, TrueTypeFontFile::WriteFunc write, void* data) {
    std::sort(out.begin(), out.end(), [](const OutTable& x, const OutTable& y) { return x.tag < y.tag; });
    OutTable* headOut = nullptr;
    for (OutTable& o : out) {
        if (o.tag == tagOf("head"))
            headOut = &o;
    }

    const int tableCount = static_cast<int>(out.size());
    int64_t offset = 12 + 16 * static_cast<int64_t>(tableCount);
    uint32_t sum = 0;
    for (OutTable& o : out) {
        o.offset = static_cast<int>(offset);
        o.checksum = TrueTypeFontFile::checksum(o.bytes, o.length);
        sum += o.checksum;
        offset += (static_cast<int64_t>(o.length) + 3) & ~static_cast<int64_t>(3);
    }

    int entrySelector = 0;
    while ((2 << entrySelector) <= tableCount)
        ++entrySelector;
    int searchRange = 16 << entrySelector;
    std::vector<uint8_t> directory;
    append32(directory, 0x00010000);
    append16(directory, static_cast<uint32_t>(tableCount));
    append16(directory, static_cast<uint32_t>(searchRange));
    append16(directory, static_cast<uint32_t>(entrySelector));
    append16(directory, static_cast<uint32_t>(16 * tableCount - searchRange));
    for (const OutTable& o : out) {
        append32(directory, o.tag);
        append32(directory, o.checksum);
        append32(directory, static_cast<uint32_t>(o.offset));
        append32(directory, static_cast<uint32_t>(o.length));
    }
    sum += TrueTypeFontFile::checksum(directory.data(), static_cast<int>(directory.size()));
    if (headOut && headOut->own.size() >= 12) {
        put32(headOut->own, 8, kFileChecksumTarget - sum);
        headOut->useOwn();
    }

    static const char kZeros[4] = {0, 0, 0, 0};
    write(data, reinterpret_cast<const char*>(directory.data()), static_cast<int>(directory.size()));
    for (const OutTable& o : out) {
        if (o.length > 0)
            write(data, reinterpret_cast<const char*>(o.bytes), o.length);
        if (int pad = (4 - (o.length & 3)) & 3)
            write(data, kZeros, pad);
    }
}

}  // namespace

bool TrueTypeFontFile::readLocaEntries(std::vector<int64_t>& entries) const {
    const Table* loca = table("loca");
    const int glyphCount = m_glyphCount;
    bool ok = true;
    entries.assign(static_cast<size_t>(glyphCount) + 1, 0);
    bool badLoca = false;
    if (glyphCount > 0) {
        for (int i = 0; i <= glyphCount; ++i)
            entries[static_cast<size_t>(i)] =
                m_longLocaOffsets
                    ? getU32(loca->offset + 4 * static_cast<int64_t>(i), ok)
                    : 2 * static_cast<int64_t>(getU16(loca->offset + 2 * static_cast<int64_t>(i), ok));
        for (int i = 0; i < glyphCount; ++i) {
            int64_t length = entries[static_cast<size_t>(i) + 1] - entries[static_cast<size_t>(i)];
            if (length < 0) {
                badLoca = true;
            } else if (length > 0 && length < kMinGlyphLength) {
                entries[static_cast<size_t>(i)] = entries[static_cast<size_t>(i) + 1];
                badLoca = true;
            }
        }
    }
    return badLoca;
}

int64_t TrueTypeFontFile::cmapLengthNeeded(bool* bad) const {
    const Table* cmap = table("cmap");
    *bad = false;
    int64_t cmapLength = cmap ? cmap->length : 0;
    if (cmap && cmap->length > 0) {
        for (const CmapRecord& record : m_cmaps) {
            int64_t end = record.offset - static_cast<int64_t>(cmap->offset) + record.length;
            if (end > cmapLength) {
                cmapLength = end;
                *bad = true;
            }
        }
        cmapLength = std::min<int64_t>(cmapLength, m_length - static_cast<int64_t>(cmap->offset));
    }
    return cmapLength;
}

std::vector<uint8_t> TrueTypeFontFile::metricsForEveryGlyph(int metricCount) const {
    // Glyphs past the last metric keep the last advance width and take their
    // left side bearing from the table's bearing array; reads stay inside the
    // hmtx table.
    const Table* hmtx = table("hmtx");
    int64_t hmtxEnd = static_cast<int64_t>(hmtx->offset) + hmtx->length;
    auto readInTable = [&](int64_t pos) -> int {
        bool inside = true;
        int value = pos + 2 <= hmtxEnd ? getU16(pos, inside) : 0;
        return inside ? value : 0;
    };
    std::vector<uint8_t> newHmtx;
    int advance = 0;
    for (int i = 0; i < m_glyphCount; ++i) {
        int bearing;
        if (i < metricCount) {
            advance = readInTable(hmtx->offset + 4 * static_cast<int64_t>(i));
            bearing = readInTable(hmtx->offset + 4 * static_cast<int64_t>(i) + 2);
        } else {
            bearing = readInTable(hmtx->offset + 4 * static_cast<int64_t>(metricCount) +
                                  2 * static_cast<int64_t>(i - metricCount));
        }
        append16(newHmtx, static_cast<uint32_t>(advance));
        append16(newHmtx, static_cast<uint32_t>(bearing));
    }
    return newHmtx;
}

void TrueTypeFontFile::convert(WriteFunc write, void* data, const char* name,
                               const char* const* encoding) const {
    if (m_openTypeCff)
        return;
    auto isMissing = [&](const char* tag) {
        const Table* t = table(tag);
        return !t || t->length == 0;
    };
    bool missingCmap = isMissing("cmap");
    bool missingName = isMissing("name");
    bool missingPost = isMissing("post");
    bool missingOs2 = isMissing("OS/2");

    const Table* glyf = table("glyf");
    const Table* hhea = table("hhea");
    const Table* hmtx = table("hmtx");
    const Table* head = table("head");
    const int glyphCount = m_glyphCount;
    bool ok = true;

    // Loca: entries in bytes; the parser checked that they lie in the file.
    std::vector<int64_t> entries;
    const bool badLoca = readLocaEntries(entries);
    // Cmap: a subtable that runs past the table's end makes the table as long
    // as that subtable needs, but never longer than the rest of the file.
    bool badCmap = false;
    const int64_t cmapLength = cmapLengthNeeded(&badCmap);
    // Horizontal metrics: one a glyph.
    int metricCount = 0;
    bool badMetrics = false;
    if (hhea && hmtx && hhea->length >= 36) {
        metricCount = getU16(hhea->offset + 34, ok);
        badMetrics = metricCount < glyphCount;
    }

    if (!missingCmap && !missingName && !missingPost && !missingOs2 && !badLoca && !badCmap && !badMetrics &&
        !m_tablesCut && !name && !encoding) {
        write(data, reinterpret_cast<const char*>(m_buffer), m_length);
        return;
    }

    std::vector<OutTable> copied;
    copied.reserve(m_tables.size() + 4);
    for (const Table& t : m_tables) {
        if (t.length == 0)
            continue;
        OutTable o;
        o.tag = t.tag;
        o.bytes = m_buffer + t.offset;
        o.length = t.length;
        copied.push_back(std::move(o));
    }
    OutTables out(std::move(copied));
    bool longLoca = m_longLocaOffsets;

    if (badLoca)
        rebuildGlyfAndLoca(m_buffer + glyf->offset, glyf->length, entries, &longLoca, out);

    if (encoding)
        out.addOwn("cmap", encodingCmap(*this, encoding));
    else if (missingCmap)
        out.addOwn("cmap", defaultCmap());
    else if (badCmap)
        out.find("cmap")->length = static_cast<int>(cmapLength);
    if (name)
        out.addOwn("name", nameTable(name));
    else if (missingName)
        out.addOwn("name", defaultName());
    if (missingPost)
        out.addOwn("post", defaultPost());
    if (missingOs2)
        out.addOwn("OS/2", defaultOs2());

    if (badMetrics) {
        std::vector<uint8_t> newHhea(m_buffer + hhea->offset, m_buffer + hhea->offset + hhea->length);
        put16(newHhea, 34, static_cast<uint32_t>(glyphCount));
        out.addOwn("hhea", std::move(newHhea));
        out.addOwn("hmtx", metricsForEveryGlyph(metricCount));
    }

    // The head table is always copied: its checksum adjustment (and the loca
    // format, when that changed) is rewritten.
    std::vector<uint8_t> newHead(m_buffer + head->offset, m_buffer + head->offset + head->length);
    if (newHead.size() >= 12)
        put32(newHead, 8, 0);
    if (newHead.size() >= 52)
        put16(newHead, 50, longLoca ? 1 : 0);
    out.addOwn("head", std::move(newHead));

    writeFont(out.tables(), write, data);
}

}  // namespace rendova
