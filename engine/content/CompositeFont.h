#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/content/FontObject.h"

namespace rendova {

class CodeToCidMap;
class CodeToUnicodeMap;
class PdfValue;

// The horizontal width of the CIDs first to last.
struct CidWidthRange {
    int first;
    int last;
    double width;
};

// The vertical metrics of the CIDs first to last: the vertical displacement
// and the position vector from the horizontal to the vertical origin.
struct CidVerticalRange {
    int first;
    int last;
    double height;
    double originX;
    double originY;
};

// A composite (Type 0) font with its one CID-keyed descendant: a CMap turns
// the bytes of a string into CIDs, widths and vertical metrics come in
// ranges of CIDs, and a CID-keyed TrueType font may map CIDs to glyphs.
//
// Ownership: the font holds one reference to its CMap and one to its
// Unicode map (indexed by CID). One thread at a time; throws
// MemoryException only.
class CompositeFont : public FontObject {
public:
    CompositeFont(XrefTable* xref, const char* tag, int objectNumber, int generation, const DynString* name,
                  PdfDict* fontDict);
    ~CompositeFont() override;

    int isCidFont() const override { return 1; }
    int getWritingMode() const override;
    int nextChar(const char* bytes, int length, unsigned int* code, unsigned int* unicode, int room,
                 int* unicodeCount, double* dx, double* dy, double* originX, double* originY) const override;

    // The Unicode map (null when there is none).
    RefPtr<CodeToUnicodeMap> getUnicodeMap() const;
    // The CMap's collection ("Registry-Ordering"), or null without a CMap.
    const char* getCollection() const;
    // The CID-to-glyph array of a CID-keyed TrueType font, or null; its
    // length in entries.
    const uint16_t* getCidToGlyph() const { return m_cidToGlyph.empty() ? nullptr : m_cidToGlyph.data(); }
    int getCidToGlyphLength() const { return static_cast<int>(m_cidToGlyph.size()); }
    double getDefaultWidth() const { return m_defaultWidth; }
    // The horizontal width of a CID in text space (its W entry, else the
    // default width).
    double getCidWidth(int cid) const;
    const std::vector<CidWidthRange>& getWidthRanges() const { return m_widths; }
    const std::vector<CidVerticalRange>& getVerticalRanges() const { return m_vertical; }

    // A CIDToGIDMap stream longer than this is cut there: CIDs are 16-bit
    // values in every published collection.
    static constexpr int kMaxCidToGlyphLength = 65536;
    // Embedded CMaps built on embedded CMaps: the format allows a chain, and
    // none in practice goes past one level.
    static constexpr int kMaxEmbeddedCMapDepth = 4;
    // The largest published CMap files are under 1 MB of text.
    static constexpr int kMaxEmbeddedCMapSize = 4 << 20;

private:
    void readCollectionOf(PdfDict* descendant, PdfDict* fontDict);
    void readCidToGlyph(PdfDict* descendant);
    void readWidths(PdfDict* descendant);
    // The CMap of an Encoding stream, or null after a report.
    RefPtr<CodeToCidMap> readEmbeddedCMap(PdfValue& stream, const char* collection, int depth);
    void readVerticalMetrics(PdfDict* descendant);
    // The range holding the CID (binary search by first CID), or null.
    template <typename Range>
    static const Range* findRange(const std::vector<Range>& ranges, int cid);

    RefPtr<CodeToCidMap> m_cMap;
    RefPtr<CodeToUnicodeMap> m_unicodeMap;
    std::unique_ptr<DynString> m_collection;
    double m_defaultWidth = 1.0;
    double m_defaultHeight = -1.0;
    double m_defaultOriginY = 0.88;
    std::vector<CidWidthRange> m_widths;
    std::vector<CidVerticalRange> m_vertical;
    std::vector<uint16_t> m_cidToGlyph;
};

}  // namespace rendova
