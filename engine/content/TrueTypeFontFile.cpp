#include "engine/content/TrueTypeFontFile.h"

#include <algorithm>
#include <cstring>

#include "engine/content/CffFontFile.h"
#include "engine/content/FontFileTables.h"
#include "engine/core/DynString.h"
#include "engine/core/Memory.h"
#include "engine/core/StringHash.h"

namespace rendova {

namespace {

constexpr uint32_t tagOf(const char* tag) {
    return (static_cast<uint32_t>(static_cast<uint8_t>(tag[0])) << 24) |
           (static_cast<uint32_t>(static_cast<uint8_t>(tag[1])) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(tag[2])) << 8) | static_cast<uint8_t>(tag[3]);
}

// Versions of the post table that name glyphs.
constexpr uint32_t kPostVersion1 = 0x00010000;
constexpr uint32_t kPostVersion2 = 0x00020000;
constexpr uint32_t kPostVersion25 = 0x00025000;

}  // namespace

TrueTypeFontFile::TrueTypeFontFile(const uint8_t* buffer, int length, uint8_t* owned)
    : FontFileReader(buffer, length, owned) {}

TrueTypeFontFile::~TrueTypeFontFile() = default;

std::unique_ptr<TrueTypeFontFile> TrueTypeFontFile::fromFile(const char* fileName) {
    int length = 0;
    uint8_t* buffer = readWholeFile(fileName, &length);
    if (!buffer)
        return nullptr;
    std::unique_ptr<TrueTypeFontFile> font(new TrueTypeFontFile(buffer, length, buffer));
    if (!font->parse())
        return nullptr;
    return font;
}

std::unique_ptr<TrueTypeFontFile> TrueTypeFontFile::fromBuffer(const uint8_t* buffer, int length) {
    if (length < 0)
        return nullptr;
    auto* copy = static_cast<uint8_t*>(memAlloc(length > 0 ? length : 1));
    if (length > 0)
        std::memcpy(copy, buffer, static_cast<size_t>(length));
    std::unique_ptr<TrueTypeFontFile> font(new TrueTypeFontFile(copy, length, copy));
    if (!font->parse())
        return nullptr;
    return font;
}

const TrueTypeFontFile::Table* TrueTypeFontFile::table(const char* tag) const {
    int i = findTable(tag);
    return i < 0 ? nullptr : &m_tables[static_cast<size_t>(i)];
}

int TrueTypeFontFile::findTable(const char* tag) const {
    uint32_t wanted = tagOf(tag);
    for (size_t i = 0; i < m_tables.size(); ++i) {
        if (m_tables[i].tag == wanted)
            return static_cast<int>(i);
    }
    return -1;
}

void TrueTypeFontFile::getFontBox(int* xMin, int* yMin, int* xMax, int* yMax) const {
    *xMin = m_xMin;
    *yMin = m_yMin;
    *xMax = m_xMax;
    *yMax = m_yMax;
}

bool TrueTypeFontFile::parse() {
    // A collection is read as its first font, whose table directory the
    // collection header points to.
    int64_t base = 0;
    uint32_t version = getU32(0, m_ok);
    if (version == tagOf("ttcf")) {
        base = getU32(12, m_ok);
        version = getU32(base, m_ok);
    }
    if (!m_ok)
        return false;
    m_openTypeCff = version == tagOf("OTTO");

    int tableCount = getU16(base + 4, m_ok);
    if (!m_ok)
        return false;
    m_tables.reserve(static_cast<size_t>(tableCount));
    for (int i = 0; i < tableCount; ++i) {
        int64_t record = base + 12 + 16 * static_cast<int64_t>(i);
        Table t;
        t.tag = getU32(record, m_ok);
        t.checksum = getU32(record + 4, m_ok);
        const int64_t offset = getU32(record + 8, m_ok);
        const int64_t length = getU32(record + 12, m_ok);
        if (!m_ok)
            return false;
        // A table that claims more bytes than the file holds keeps those it
        // has (none when it starts past the end); the rewrite for the glyph
        // rasteriser then gives the directory the lengths that are there.
        t.offset = static_cast<int>(std::min<int64_t>(offset, m_length));
        t.length = static_cast<int>(std::min<int64_t>(length, m_length - t.offset));
        if (t.length != length)
            m_tablesCut = true;
        m_tables.push_back(t);
    }

    // Every font needs head and maxp (read below) and the horizontal header;
    // TrueType outlines need loca and glyf, CFF outlines the CFF table.
    for (const char* tag : {"head", "hhea", "maxp"}) {
        if (!table(tag))
            return false;
    }
    if (m_openTypeCff ? !table("CFF ") : (!table("loca") || !table("glyf")))
        return false;

    readCmaps();
    if (!m_ok)
        return false;

    const Table* maxp = table("maxp");
    const Table* head = table("head");
    m_glyphCount = getU16(maxp->offset + 4, m_ok);
    m_xMin = getS16(head->offset + 36, m_ok);
    m_yMin = getS16(head->offset + 38, m_ok);
    m_xMax = getS16(head->offset + 40, m_ok);
    m_yMax = getS16(head->offset + 42, m_ok);
    m_longLocaOffsets = getS16(head->offset + 50, m_ok) != 0;
    if (!m_ok)
        return false;

    if (!m_openTypeCff) {
        // A loca table shorter than the glyph count says cuts the count to
        // what it holds.
        const Table* loca = table("loca");
        const Table* glyf = table("glyf");
        int entrySize = m_longLocaOffsets ? 4 : 2;
        if (static_cast<int64_t>(loca->length) < static_cast<int64_t>(m_glyphCount + 1) * entrySize) {
            m_glyphCount = loca->length / entrySize - 1;
            if (m_glyphCount < 0)
                m_glyphCount = 0;
        }
        for (int i = 0; i <= m_glyphCount && m_glyphCount > 0; ++i) {
            int64_t entry = m_longLocaOffsets ? getU32(loca->offset + 4 * static_cast<int64_t>(i), m_ok)
                                              : 2 * static_cast<int64_t>(getU16(loca->offset + 2 * i, m_ok));
            if (!m_ok || glyf->offset + entry > m_length)
                return false;
        }
    }

    readPostTable();
    return m_ok;
}

void TrueTypeFontFile::readCmaps() {
    const Table* cmap = table("cmap");
    if (!cmap)
        return;
    int count = getU16(cmap->offset + 2, m_ok);
    for (int i = 0; i < count && m_ok; ++i) {
        int64_t record = cmap->offset + 4 + 8 * static_cast<int64_t>(i);
        CmapRecord r;
        r.platformId = getU16(record, m_ok);
        r.encodingId = getU16(record + 2, m_ok);
        int64_t offset = static_cast<int64_t>(cmap->offset) + getU32(record + 4, m_ok);
        r.format = getU16(offset, m_ok);
        // Formats 8 and above declare a 32-bit length (format 14 right after
        // the format, the others after a reserved word).
        if (r.format == 14)
            r.length = getU32(offset + 2, m_ok);
        else if (r.format >= 8)
            r.length = getU32(offset + 4, m_ok);
        else
            r.length = getU16(offset + 2, m_ok);
        if (!m_ok)
            return;
        r.offset = static_cast<int>(offset);
        m_cmaps.push_back(r);
    }
}

void TrueTypeFontFile::readPostTable() {
    const Table* post = table("post");
    if (!post)
        return;
    bool ok = true;
    uint32_t version = getU32(post->offset, ok);
    // Each glyph's name as a pointer and length into the file or into the
    // standard names; filled, then entered last glyph first so that a name
    // that several glyphs carry finds the first of them.
    struct Name {
        const char* text;
        int length;
    };
    std::vector<Name> names;

    if (version == kPostVersion1) {
        int n = m_glyphCount < kMacGlyphNameCount ? m_glyphCount : kMacGlyphNameCount;
        for (int i = 0; i < n; ++i)
            names.push_back({kMacGlyphNames[i], static_cast<int>(std::strlen(kMacGlyphNames[i]))});
    } else if (version == kPostVersion2) {
        int fileCount = getU16(post->offset + 32, ok);
        int n = fileCount < m_glyphCount ? fileCount : m_glyphCount;
        int64_t indices = post->offset + 34;
        // The strings follow the whole index array; their starts are found
        // by walking them in order, once.
        std::vector<int64_t> starts;
        int64_t walk = indices + 2 * static_cast<int64_t>(fileCount);
        for (int i = 0; i < n && ok; ++i) {
            int index = getU16(indices + 2 * i, ok);
            if (index < kMacGlyphNameCount) {
                names.push_back(
                    {kMacGlyphNames[index], static_cast<int>(std::strlen(kMacGlyphNames[index]))});
                continue;
            }
            size_t k = static_cast<size_t>(index - kMacGlyphNameCount);
            while (ok && starts.size() <= k) {
                int length = getByte(walk, ok);
                if (!checkRange(walk + 1, length))
                    ok = false;
                starts.push_back(walk);
                walk += 1 + length;
            }
            if (!ok)
                break;
            int64_t start = starts[k];
            names.push_back({reinterpret_cast<const char*>(m_buffer + start + 1), m_buffer[start]});
        }
    } else if (version == kPostVersion25) {
        int fileCount = getU16(post->offset + 32, ok);
        int n = fileCount < m_glyphCount ? fileCount : m_glyphCount;
        for (int i = 0; i < n && ok; ++i) {
            int offset = static_cast<int8_t>(getByte(post->offset + 34 + i, ok));
            int index = i + offset;
            if (index >= 0 && index < kMacGlyphNameCount)
                names.push_back(
                    {kMacGlyphNames[index], static_cast<int>(std::strlen(kMacGlyphNames[index]))});
            else
                names.push_back({nullptr, 0});
        }
    } else {
        return;
    }
    if (!ok)
        return;

    auto hash = std::make_unique<StringHash>(true);
    for (int glyph = static_cast<int>(names.size()) - 1; glyph >= 0; --glyph) {
        const Name& name = names[static_cast<size_t>(glyph)];
        if (!name.text)
            continue;
        auto key = std::make_unique<DynString>(name.text, name.length);
        hash->add(key.get(), glyph);
        key.release();
    }
    m_nameToGlyph = std::move(hash);
}

int TrueTypeFontFile::getCmapPlatformId(int i) const {
    return i >= 0 && i < getCmapCount() ? m_cmaps[static_cast<size_t>(i)].platformId : 0;
}

int TrueTypeFontFile::getCmapEncodingId(int i) const {
    return i >= 0 && i < getCmapCount() ? m_cmaps[static_cast<size_t>(i)].encodingId : 0;
}

int TrueTypeFontFile::getCmapFormat(int i) const {
    return i >= 0 && i < getCmapCount() ? m_cmaps[static_cast<size_t>(i)].format : 0;
}

int TrueTypeFontFile::lookupGlyphId(int i, int code) const {
    if (i < 0 || i >= getCmapCount() || code < 0)
        return 0;
    const CmapRecord& cmap = m_cmaps[static_cast<size_t>(i)];
    bool ok = true;
    int glyph = 0;
    switch (cmap.format) {
        case 0:
            if (code < cmap.length - 6)
                glyph = getByte(cmap.offset + 6 + static_cast<int64_t>(code), ok);
            break;
        case 4:
            glyph = lookupFormat4(cmap, code);
            break;
        case 6: {
            int first = getU16(cmap.offset + 6, ok);
            int count = getU16(cmap.offset + 8, ok);
            if (code >= first && code < first + count)
                glyph = getU16(cmap.offset + 10 + 2 * static_cast<int64_t>(code - first), ok);
            break;
        }
        default:
            break;
    }
    return ok ? glyph : 0;
}

int TrueTypeFontFile::lookupFormat4(const CmapRecord& cmap, int code) const {
    bool ok = true;
    int64_t pos = cmap.offset;
    int segCountX2 = getU16(pos + 6, ok);
    int segCount = segCountX2 / 2;
    if (!ok || segCount == 0)
        return 0;
    int64_t ends = pos + 14;
    int64_t starts = ends + segCountX2 + 2;
    int64_t deltas = starts + segCountX2;
    int64_t rangeOffsets = deltas + segCountX2;
    if (getU16(ends + 2 * static_cast<int64_t>(segCount - 1), ok) < code || !ok)
        return 0;
    // Binary search for the first segment whose end code is at least the
    // code.
    int hi = segCount - 1;
    int lo = -1;
    while (hi - lo > 1) {
        int mid = (hi + lo) / 2;
        if (getU16(ends + 2 * static_cast<int64_t>(mid), ok) < code)
            lo = mid;
        else
            hi = mid;
    }
    int start = getU16(starts + 2 * static_cast<int64_t>(hi), ok);
    if (!ok || code < start)
        return 0;
    int delta = getU16(deltas + 2 * static_cast<int64_t>(hi), ok);
    int rangeOffset = getU16(rangeOffsets + 2 * static_cast<int64_t>(hi), ok);
    if (!ok)
        return 0;
    if (rangeOffset == 0)
        return (code + delta) & 0xffff;
    // The glyph array entry, addressed from the range offset word itself; it
    // must lie within the cmap table.
    int64_t entry =
        rangeOffsets + 2 * static_cast<int64_t>(hi) + rangeOffset + 2 * static_cast<int64_t>(code - start);
    const Table* cmapTable = table("cmap");
    if (!cmapTable || entry < cmapTable->offset ||
        entry + 2 > static_cast<int64_t>(cmapTable->offset) + cmapTable->length)
        return 0;
    int glyph = getU16(entry, ok);
    if (!ok)
        return 0;
    return glyph ? (glyph + delta) & 0xffff : 0;
}

int TrueTypeFontFile::mapNameToGid(const char* name) const {
    if (!m_nameToGlyph || !name)
        return 0;
    return static_cast<int>(m_nameToGlyph->lookupCStr(name));
}

std::unique_ptr<uint16_t[]> TrueTypeFontFile::buildCidToGlyphMap(int* length) const {
    *length = 0;
    const Table* cff = m_openTypeCff ? table("CFF ") : nullptr;
    if (!cff || !checkRange(cff->offset, cff->length))
        return nullptr;
    std::unique_ptr<CffFontFile> font = CffFontFile::fromBuffer(m_buffer + cff->offset, cff->length);
    return font ? font->buildCidToGlyphMap(length) : nullptr;
}

uint32_t TrueTypeFontFile::checksum(const uint8_t* bytes, int length) {
    uint32_t sum = 0;
    int i = 0;
    for (; i + 4 <= length; i += 4)
        sum += (static_cast<uint32_t>(bytes[i]) << 24) | (static_cast<uint32_t>(bytes[i + 1]) << 16) |
               (static_cast<uint32_t>(bytes[i + 2]) << 8) | bytes[i + 3];
    if (i < length) {
        uint32_t word = 0;
        for (int shift = 24; i < length; ++i, shift -= 8)
            word |= static_cast<uint32_t>(bytes[i]) << shift;
        sum += word;
    }
    return sum;
}

}  // namespace rendova
