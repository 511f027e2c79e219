#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/content/FontFileReader.h"

namespace rendova {

class StringHash;

// A TrueType or OpenType font file (the first font of a collection): its
// table directory, the lookup of its cmap subtables, the glyph names of its
// post table, the CID-to-glyph array of an OpenType file's CFF table, and a
// writer (convert) that re-emits the font as a clean TrueType file for the
// glyph rasteriser, repairing what would stop the rasteriser from loading it.
//
// Ownership: the caller owns the object, the object the file's bytes. One
// thread at a time; throws MemoryException when memory runs out, never for a
// faulty file (fromFile then gives null).
class TrueTypeFontFile : public FontFileReader {
public:
    // The writer that convert hands its output to, block by block.
    using WriteFunc = void (*)(void* data, const char* bytes, int count);

    // A table of the directory. Offsets and lengths are checked against the
    // file at parsing: a table is cut to the bytes the file holds.
    struct Table {
        uint32_t tag;
        uint32_t checksum;
        int offset;
        int length;
    };

    // A cmap subtable: its ids, its absolute offset in the file, its format
    // and the length that it declares.
    struct CmapRecord {
        int platformId;
        int encodingId;
        int offset;
        int format;
        int64_t length;
    };

    // Reads the whole file and parses it; null when it does not read or
    // parse.
    static std::unique_ptr<TrueTypeFontFile> fromFile(const char* fileName);
    // The same over bytes in memory, which are copied.
    static std::unique_ptr<TrueTypeFontFile> fromBuffer(const uint8_t* buffer, int length);
    ~TrueTypeFontFile() override;

    int getCmapCount() const { return static_cast<int>(m_cmaps.size()); }
    // The ids and format of subtable i (0 when i is out of range).
    int getCmapPlatformId(int i) const;
    int getCmapEncodingId(int i) const;
    int getCmapFormat(int i) const;
    // The glyph index of a code in cmap subtable i: formats 0, 4 and 6; 0
    // when the code has none, i is out of range or the subtable is faulty.
    int lookupGlyphId(int i, int code) const;

    // The glyph index of a post-table glyph name (the first glyph of that
    // name); 0 when unknown or when the font has no usable post table.
    int mapNameToGid(const char* name) const;

    // For an OpenType file with a CFF table: the CFF font's CID-to-glyph
    // array (CffFontFile::buildCidToGlyphMap); otherwise null, length 0.
    std::unique_ptr<uint16_t[]> buildCidToGlyphMap(int* length) const;

    // Writes the font as a TrueType file through write(data, bytes, count):
    // unchanged when nothing needs repair (a table cut to the file's end
    // does) and neither a name nor an encoding is given; else rebuilt
    // (TrueTypeConvert.cpp). Nothing is written for
    // an OpenType file with a CFF table. With a name, the name table carries
    // it; with an encoding (256 glyph names), the cmap maps its codes
    // (Macintosh Roman ids) to the post-table glyphs of those names.
    void convert(WriteFunc write, void* data, const char* name, const char* const* encoding) const;

    // The sum of the big-endian 32-bit words of bytes, a final partial word
    // padded with zero bytes.
    static uint32_t checksum(const uint8_t* bytes, int length);

    // The index of the directory record of a 4-byte tag, or -1.
    int findTable(const char* tag) const;
    const std::vector<Table>& getTables() const { return m_tables; }

    bool isOpenTypeCff() const { return m_openTypeCff; }
    int getGlyphCount() const { return m_glyphCount; }
    bool hasLongLocaOffsets() const { return m_longLocaOffsets; }
    void getFontBox(int* xMin, int* yMin, int* xMax, int* yMax) const;

private:
    TrueTypeFontFile(const uint8_t* buffer, int length, uint8_t* owned);

    bool parse();
    void readCmaps();
    void readPostTable();
    int lookupFormat4(const CmapRecord& cmap, int code) const;
    // The table's record for a tag, or null.
    const Table* table(const char* tag) const;
    // Steps of convert (TrueTypeConvert.cpp). The loca entries in bytes,
    // glyphs too short to be glyphs made empty; true when they need a rebuilt
    // glyf table.
    bool readLocaEntries(std::vector<int64_t>& entries) const;
    // The cmap table's length that its subtables need, within the file; *bad
    // when that is more than its directory gives.
    int64_t cmapLengthNeeded(bool* bad) const;
    // An hmtx table with a metric for every glyph.
    std::vector<uint8_t> metricsForEveryGlyph(int metricCount) const;

    bool m_ok = true;
    std::vector<Table> m_tables;
    std::vector<CmapRecord> m_cmaps;
    int m_glyphCount = 0;
    bool m_longLocaOffsets = false;
    int m_xMin = 0;
    int m_yMin = 0;
    int m_xMax = 0;
    int m_yMax = 0;
    std::unique_ptr<StringHash> m_nameToGlyph;
    bool m_openTypeCff = false;
    // A table of the directory claimed bytes past the end of the file.
    bool m_tablesCut = false;
};

}  // namespace rendova
