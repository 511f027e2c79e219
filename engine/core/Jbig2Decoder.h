#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/core/ArithDecoder.h"
#include "engine/core/DataStream.h"
#include "engine/core/Jbig2Bitmap.h"
#include "engine/core/Jbig2HuffmanTable.h"
#include "engine/core/PdfValue.h"

namespace rendova {

// What one decode may spend. Work is a floor and so much for every byte
// read so far, so that a hostile stream is bounded by its own size. A
// region as large as the page still decodes however few bytes code it,
// because what is counted is the work done: a run of white pixels, or a
// row that repeats the one above, is one step, and real content comes
// with the bytes that code it. The fuzz targets pass less, so that each
// of their runs stays short.
struct Jbig2Limits {
    // Twice a letter page at 600 dpi, which dictionaries read before the
    // page information may use.
    int64_t workFloor = int64_t(1) << 26;
    // A text instance or a symbol takes a few hundred units for each
    // byte that codes it; a halftone cell less.
    int64_t workPerByte = 1 << 10;
    // Decisions after the arithmetic data has run out. The 32 or so bits
    // then left in the decoder code at most 2^15 decisions each (the
    // smallest probability is 2^-15), about a million in all; more come
    // from no data.
    int64_t blindDecisions = int64_t(1) << 22;
};

// Decodes the JBIG2Decode filter: the segments of the globals stream, then
// those of its own stream, make one page bitmap, which it hands out row by
// row with 0 as black.
//
// Holds a reference to its source (see DecoderStream) and one to the globals
// stream through its copy of the parameter; owns the page, every segment and
// all statistics. Everything is decoded in reset(). A defective segment is
// reported and dropped, and reading goes on at the next segment by the data
// length its header gives. One thread at a time; never throws on bad data
// (MemoryException only when memory runs out).
class Jbig2Decoder final : public DecoderStream {
public:
    Jbig2Decoder(RefPtr<DataStream> source, const PdfValue& globals,
                 const Jbig2Limits& limits = Jbig2Limits());

    int getKind() override { return kJbig2Kind; }
    void reset() override;
    void close() override;
    int getChar() override { return m_read < m_end ? (*m_read++ ^ 0xFF) : -1; }
    int peekChar() override { return m_read < m_end ? (*m_read ^ 0xFF) : -1; }
    int getBlock(uint8_t* buffer, int size) override;
    std::unique_ptr<DynString> getPrintFilter(int, const char*) override { return nullptr; }
    bool isBinary(bool) override { return source()->isBinary(true); }

protected:
    ~Jbig2Decoder() override;

private:
    using SegmentList = std::vector<std::unique_ptr<Jbig2Segment>>;
    using Table = Jbig2HuffmanTable;

    struct SegmentHeader {
        uint32_t number = 0;
        int type = 0;
        std::vector<uint32_t> refs;
        uint32_t dataLength = 0;
        int64_t position = 0;
        // Bytes of the header (retention flags of the long form aside).
        size_t headerBytes = 0;
    };
    // The data of the segment being decoded, and readers over it.
    struct Data {
        const uint8_t* bytes = nullptr;
        size_t size = 0;
    };
    struct RegionInfo {
        int64_t width, height, x, y;
        int op;
    };
    struct TextParams {
        bool huffman = false, refine = false, transposed = false;
        int logStrips = 0, refCorner = 0, op = 0, defaultPixel = 0, dsOffset = 0, refTemplate = 0;
        int64_t width = 0, height = 0, instances = 0;
        int refAt[4] = {0, 0, 0, 0};
        const Table* fs = nullptr;
        const Table* ds = nullptr;
        const Table* dt = nullptr;
        const Table* rdw = nullptr;
        const Table* rdh = nullptr;
        const Table* rdx = nullptr;
        const Table* rdy = nullptr;
        const Table* rsize = nullptr;
        // Huffman symbol ids: a table, or codes of a fixed length.
        const Table* symbolCodes = nullptr;
        int symbolCodeLength = 0;
    };

    void readSegments(DataStream* stream, SegmentList& list);
    bool readHeader(DataStream* stream, SegmentHeader& header, bool& atEnd);
    bool readData(DataStream* stream, const SegmentHeader& header, std::vector<uint8_t>& out);
    bool readUnknownLengthData(DataStream* stream, std::vector<uint8_t>& out);
    // False when reading must stop.
    bool decodeSegment(const SegmentHeader& header, Data data, SegmentList& list);

    void readPageInfo(Data data);
    void readGenericRegion(const SegmentHeader& h, Data data, bool immediate, SegmentList& list);
    void readRefinementRegion(const SegmentHeader& h, Data data, bool immediate, SegmentList& list);
    void readTextRegion(const SegmentHeader& h, Data data, bool immediate, SegmentList& list);
    bool readSymbolDict(const SegmentHeader& h, Data data, SegmentList& list);
    // readSymbolDict's steps (Jbig2Symbols.cpp says what they share).
    struct SymbolDictRun;
    bool symbolDictInteger(SymbolDictRun& run, const Table* table, ArithDecoderStats* stats, int64_t* value);
    bool gatherSymbolInputs(const SegmentHeader& h, SymbolDictRun& run,
                            std::vector<const Jbig2HuffmanTable*>& tables, Jbig2SymbolDict*& lastInput);
    // One height class: its symbols, or its collective bitmap cut into them.
    bool decodeHeightClass(SymbolDictRun& run);
    // A refinement/aggregate symbol; false when its instance count has no code.
    bool decodeAggregateSymbol(SymbolDictRun& run, int width, int height,
                               std::unique_ptr<Jbig2Bitmap>& symbol);
    bool readCollectiveBitmap(SymbolDictRun& run, int64_t classFirst, int64_t totalWidth);
    void exportSymbols(SymbolDictRun& run, Jbig2SymbolDict& dict);
    void readPatternDict(const SegmentHeader& h, Data data, SegmentList& list);
    void readHalftoneRegion(const SegmentHeader& h, Data data, bool immediate, SegmentList& list);
    // A halftone grid's gray values (gw x gh, row by row) from their bit
    // planes, coded from `pos` of the data; skipped cells read 0.
    std::vector<uint32_t> decodeGrayValues(Data data, size_t pos, bool mmr, int templ, int gw, int gh,
                                           const Jbig2Bitmap* skip, int bitsPerPixel);
    void readCodeTable(const SegmentHeader& h, Data data, SegmentList& list);
    bool readRegionInfo(Data data, RegionInfo& info);
    bool ensurePageHeight(int64_t bottom);
    void placeRegion(uint32_t number, const RegionInfo& info, std::unique_ptr<Jbig2Bitmap> bitmap,
                     bool immediate, SegmentList& list);

    std::unique_ptr<Jbig2Bitmap> decodeGeneric(bool mmr, int width, int height, int templ, bool tpgdOn,
                                               const Jbig2Bitmap* skip, const int* at,
                                               Jbig2BitReader* mmrReader);
    std::unique_ptr<Jbig2Bitmap> decodeRefinement(int width, int height, int templ, bool tpgrOn,
                                                  const Jbig2Bitmap& reference, int64_t dx, int64_t dy,
                                                  const int* at);
    void decodeMmr(Jbig2Bitmap& bitmap, Jbig2BitReader& reader);
    std::unique_ptr<Jbig2Bitmap> decodeText(const TextParams& p,
                                            const std::vector<const Jbig2Bitmap*>& symbols,
                                            Jbig2BitReader* reader, Data data);
    // decodeText's steps: one instance's symbol id (false, reported, on a bad
    // code), and the placing of its symbol at strip position t and current
    // position curs, which moves past it (false when the work bound is
    // reached).
    bool readTextSymbolId(const TextParams& p, Jbig2BitReader* reader, int64_t* id);
    // The refinement of an instance's symbol, its deltas read through
    // `integer` (decodeText's reader of one number); false when a Huffman
    // code failed.
    template <class Integer>
    bool refineTextSymbol(const TextParams& p, const Jbig2Bitmap* symbol, Jbig2BitReader* reader, Data data,
                          Integer& integer, const bool& failed, std::unique_ptr<Jbig2Bitmap>& refined);
    bool placeTextSymbol(const TextParams& p, const Jbig2Bitmap* symbol, int64_t t, int64_t& curs,
                         Jbig2Bitmap& region);
    bool readSymbolCodeTable(Jbig2BitReader& reader, size_t symbolCount, Table& out);

    Jbig2Segment* findSegment(uint32_t number);
    void removeSegment(uint32_t number);
    void resetGenericStats(int templ, const ArithDecoderStats* prev);
    void resetRefinementStats(int templ, const ArithDecoderStats* prev);
    void resetIntStats(int symbolCodeLength);
    void startArith(Data data, size_t offset, size_t length);
    // Counts decoding work (decisions or pixels decoded, 32 pixels combined,
    // symbol instances placed) against what the stream may ask for, which
    // grows with its bytes; false (reported once) past it.
    bool spend(int64_t units);
    // Counts the bytes of a bitmap about to be made (besides the page)
    // against an allowance that grows with the page and the bytes; false (reported once) past the allowance
    // or when the size is out of range.
    bool reserveBitmap(int64_t width, int64_t height);
    bool reserveBitmapBytes(int64_t bytes);
    // The page's bytes; 0 before there is a page.
    int64_t pageBytes() const;
    // Counts decisions made after the arithmetic data ran out; true (reported
    // once) when there are more than the data left in the decoder can code.
    bool pastData(int64_t decisions);

    const Jbig2Limits m_limits;
    PdfValue m_globals;
    int64_t m_pageWidth = 0;
    int64_t m_pageHeight = 0;
    int64_t m_currentPageHeight = 0;
    int m_pageDefaultPixel = 0;
    int m_pageDefaultOp = 0;
    bool m_pageStriped = false;
    std::unique_ptr<Jbig2Bitmap> m_page;
    SegmentList m_pageSegments;
    SegmentList m_globalSegments;
    const uint8_t* m_read = nullptr;
    const uint8_t* m_end = nullptr;
    int64_t m_position = 0;
    int64_t m_work = 0;
    bool m_workReported = false;
    // Segment bytes read so far, of the globals and the stream.
    int64_t m_bytesRead = 0;
    int64_t m_bitmapBytes = 0;
    bool m_bitmapReported = false;
    int64_t m_blindDecisions = 0;
    bool m_blindReported = false;

    ArithDecoder m_arith;
    RefPtr<DataStream> m_arithSource;
    std::unique_ptr<ArithDecoderStats> m_genericStats;
    std::unique_ptr<ArithDecoderStats> m_refinementStats;
    std::unique_ptr<ArithDecoderStats> m_iadh, m_iadw, m_iaex, m_iaai, m_iadt, m_iait, m_iafs, m_iads,
        m_iardx, m_iardy, m_iardw, m_iardh, m_iari, m_iaid;
};

}  // namespace rendova
