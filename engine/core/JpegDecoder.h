#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

#include "engine/core/DataStream.h"

namespace rendova {

// Decoder of the DCTDecode filter: JPEG data (ITU-T T.81) with Huffman
// coding, sequential (baseline and extended, 8-bit) or progressive, with one
// to four components. It hands out 8-bit samples, the components of a pixel
// together, rows from top to bottom, after the inverse transform, the
// upsampling by replication and the colour transform that the data or the
// ColorTransform parameter asks for. This is the engine's own decoder; the
// image library's JPEG codec is not used here.
//
// A sequential frame whose first scan holds every component is decoded one
// MCU row at a time into row buffers, so large baseline images need no full
// frame. Progressive data and sequential data in several scans are decoded
// into per-component coefficient frames first; the inverse transform then
// runs one MCU row at a time as the samples are read.
//
// Holds a reference to its source (DecoderStream) and owns its buffers. One
// thread at a time. Never throws on bad data: a defect in the headers gives
// an empty stream, a defect in the entropy-coded data ends the data there
// (sequential) or ends the scans (buffered frames are delivered as far as
// they were filled); both are reported through reportError. Throws
// MemoryException only when a buffer cannot be had.
class JpegDecoder final : public DecoderStream {
public:
    // colorTransform: -1 decides from the data, 0 never transforms, any other
    // value transforms three- and four-component data. An Adobe segment's
    // transform flag replaces it.
    JpegDecoder(RefPtr<DataStream> source, int colorTransform);

    int getKind() override { return kDctKind; }
    // Reads the headers up to the first scan; progressive or multi-scan data
    // is decoded in full here.
    void reset() override;
    // Frees the row and coefficient buffers, then closes the source.
    void close() override;
    int getChar() override {
        if (m_linePos == m_lineEnd && !nextLine())
            return -1;
        return *m_linePos++;
    }
    int peekChar() override {
        if (m_linePos == m_lineEnd && !nextLine())
            return -1;
        return *m_linePos;
    }
    int getBlock(uint8_t* buffer, int size) override;
    std::unique_ptr<DynString> getPrintFilter(int level, const char* indent) override;
    bool isBinary(bool) override { return source()->isBinary(true); }

    // The most samples (width x height x components, each rounded up to whole
    // MCUs) of a frame that is decoded in full. Its coefficients take two
    // bytes a sample: 512 MB at the limit, which holds a 600 dpi A3 colour
    // scan; a larger declared size is refused instead of allocated.
    static constexpr int64_t kMaxFrameSamples = int64_t(1) << 28;
    // Every scan of a buffered frame passes over the frame's blocks, so a
    // small file of many empty scans would run for minutes: the scans of a
    // frame are capped so that their passes stay within this many samples
    // (32 passes over the largest frame; progressive files use about ten),
    // and at kMaxScans, far above any encoder's script, for small frames.
    static constexpr int64_t kScanWorkBudget = int64_t(1) << 33;
    static constexpr int kMinScanLimit = 32;
    static constexpr int kMaxScans = 1000;
    // The scans a frame of this many samples may have.
    static int maxScans(int64_t frameSamples);

protected:
    ~JpegDecoder() override;

private:
    // Natural (row-major) index of each zig-zag position (T.81 figure A.6).
    static constexpr uint8_t kZigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                            12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                            35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                            58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

    // One component of the frame.
    struct Component {
        int id = 0;
        int h = 1;  // sampling factors, 1 to 4
        int v = 1;
        int quantIndex = 0;
        int prevDc = 0;
        int dcTable = 0;  // Huffman tables of the current scan
        int acTable = 0;
        bool inScan = false;
        // Blocks across and down, whole MCUs.
        int blocksWide = 0;
        int blocksHigh = 0;
        // Blocks that a scan of this component alone covers (T.81 A.2.2).
        int scanBlocksWide = 0;
        int scanBlocksHigh = 0;
        // Coefficients of a fully decoded frame: 64 per block, natural
        // order, quantised (null in the streaming mode).
        int16_t* coefs = nullptr;
        // 8 x v rows of one MCU row of samples, rowStride bytes each.
        uint8_t* rows = nullptr;
        int rowStride = 0;
    };

    // A Huffman table in the canonical form of T.81 Annex C, with a lookup
    // of the codes up to kLookupBits long.
    static constexpr int kLookupBits = 9;
    struct HuffmanTable {
        bool defined = false;
        // Per code length 1 to 16 (index 0 unused).
        uint16_t firstIndex[17] = {};
        int firstCode[17] = {};
        uint16_t count[17] = {};
        uint8_t symbols[256] = {};
        // Indexed by the next kLookupBits bits: symbol | length << 8, or 0
        // when the code is longer.
        uint16_t lookup[1 << kLookupBits] = {};
        // For AC tables, by the same bits: an AC term whose code and
        // magnitude both fit them, as value << 16 | run << 8 | bits used,
        // or 0.
        int32_t fastAc[1 << kLookupBits] = {};
    };

    enum class HeaderResult { kScan, kEnd, kFailure };

    // --- headers (JpegDecoder.cpp) ---
    int readByte();
    int read16();
    // The next marker code, after a pending one; -1 at the end of the input.
    int readMarker();
    // Reads segments up to the next scan header or the end of the image.
    HeaderResult readHeaders();
    bool readFrameHeader(bool progressive);
    bool readHuffmanTables();
    bool readQuantTables();
    bool readRestartInterval();
    bool readScanHeader();
    void readAdobeSegment();
    void skipSegment();
    bool setUpFrame();
    void freeBuffers();

    // --- output (JpegDecoder.cpp) ---
    bool nextLine();
    // Fills the row buffers with MCU row m_mcuRow; false when the data ended.
    bool fillMcuRow();
    void idctMcuRowFromFrame();
    void buildLine(int rowInMcu);
    // Whether every component's samples for the row equal those for the row
    // before it (rowInMcu >= 1) in the row buffers.
    bool sameSourceRows(int rowInMcu) const;
    void readEndOfImage();

    // --- entropy-coded data (JpegDecoderScans.cpp) ---
    void resetBits();
    void fillBits();
    int getBits(int n) {
        if (m_bitCount < n)
            fillBits();
        const int value = int(m_bitBuffer >> (64 - n));
        m_bitBuffer <<= n;
        m_bitCount -= n;
        return value;
    }
    int getBit() { return getBits(1); }
    // A magnitude of s bits extended to its signed value (T.81 F.2.2.1).
    int receiveExtend(int s) {
        const int value = getBits(s);
        // A leading 0 bit marks a negative value (EXTEND).
        return value < (1 << (s - 1)) ? value - (1 << s) + 1 : value;
    }
    // The next symbol, or -1 (reported) for a code that the table lacks.
    // Codes up to kLookupBits long, nearly all of them, take one look-up
    // here; longer ones are searched out of line.
    int decodeSymbol(const HuffmanTable& table) {
        if (m_bitCount < 16)
            fillBits();
        const uint16_t entry = table.lookup[m_bitBuffer >> (64 - kLookupBits)];
        if (!entry)
            return decodeLongSymbol(table);
        const int length = entry >> 8;
        m_bitBuffer <<= length;
        m_bitCount -= length;
        return entry & 0xFF;
    }
    int decodeLongSymbol(const HuffmanTable& table);
    // Whether padding past a marker or the end of the input was consumed.
    bool ranPastData() const { return m_bitCount < m_padBits; }
    bool startScan();
    bool processRestart();
    // The next DC difference added to the component's prediction; false at
    // the end of the data or on a bad magnitude category.
    bool decodeDcDifference(Component& c, const HuffmanTable& table);
    // The zig-zag position of the last coefficient written (0 when only the
    // DC term was), or -1 when the data ended. Writes only those positions,
    // so a block cleared before stays cleared elsewhere.
    int decodeSequentialBlock(Component& c, const HuffmanTable& dc, const HuffmanTable& ac, int16_t* block);
    bool decodeDcFirst(Component& c, int16_t* block);
    bool decodeDcRefine(int16_t* block);
    bool decodeAcFirst(Component& c, int16_t* block);
    bool decodeAcRefine(Component& c, int16_t* block);
    bool decodeBlock(Component& c, int16_t* block);
    // Decodes the current scan into the coefficient frames.
    bool decodeBufferedScan();
    // Decodes MCU row m_mcuRow of a streamed scan into the row buffers.
    bool decodeStreamedMcuRow();
    void decodeAllScans();

    // Inverse transform of one block into 8 rows of samples (JpegIdct.cpp).
    static void idctBlock(const int16_t* coefs, const uint16_t* quant, uint8_t* out, int stride);
    // The one sample of a block whose AC terms are all zero: the row pass's
    // DC shortcut followed by the column pass's, as the full transform
    // computes it.
    static uint8_t flatBlockSample(int dc, int quant) {
        const int64_t row = (2896 * (int64_t(dc) * quant) + 256) >> 9;
        return clampSample(128 + ((2896 * row + 65536) >> 17));
    }
    // A sample from a value that may lie anywhere: damaged data can drive the
    // inverse transform and the colour transform far outside 0-255, so the
    // clamp is numeric rather than a lookup in a table of fixed size.
    static uint8_t clampSample(int64_t v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }
    static void fillFlatBlock(uint8_t sample, uint8_t* out, int stride) {
        // Eight bytes a row in one store (the same as memset of 8 bytes).
        const uint64_t pattern = sample * uint64_t{0x0101010101010101};
        const ptrdiff_t s = stride;
        std::memcpy(out, &pattern, 8);
        std::memcpy(out + s, &pattern, 8);
        std::memcpy(out + 2 * s, &pattern, 8);
        std::memcpy(out + 3 * s, &pattern, 8);
        std::memcpy(out + 4 * s, &pattern, 8);
        std::memcpy(out + 5 * s, &pattern, 8);
        std::memcpy(out + 6 * s, &pattern, 8);
        std::memcpy(out + 7 * s, &pattern, 8);
    }

    // Frame.
    bool m_progressive = false;
    bool m_interleaved = false;
    bool m_frameRead = false;
    bool m_buffered = false;
    int m_width = 0;
    int m_height = 0;
    int m_maxH = 1;
    int m_maxV = 1;
    int m_mcuWidth = 8;
    int m_mcuHeight = 8;
    int m_mcusPerLine = 0;
    int m_mcusPerColumn = 0;
    int m_bufferWidth = 0;
    int m_bufferHeight = 0;
    Component m_components[4];
    int m_componentCount = 0;

    // Current scan.
    int m_scanCount = 0;
    int m_scanOrder[4] = {};
    int m_spectralStart = 0;
    int m_spectralEnd = 63;
    int m_approxHigh = 0;
    int m_approxLow = 0;

    int m_colorTransform;
    bool m_transformDecided = false;
    bool m_adobe = false;
    int m_adobeTransform = 0;
    int m_restartInterval = 0;

    uint16_t m_quant[4][64] = {};
    bool m_quantDefined[4] = {};
    HuffmanTable m_dcTables[4];
    HuffmanTable m_acTables[4];

    // Reading state.
    int m_mcuRow = 0;        // next MCU row to fill
    int m_outputRow = 0;     // next image row to hand out
    int m_restartsLeft = 0;  // MCUs before the next restart marker
    int m_nextRestart = 0;   // expected restart marker, 0xD0 to 0xD7
    int m_eobRun = 0;
    bool m_dataEnded = false;
    uint64_t m_bitBuffer = 0;  // next bits, most significant first
    int m_bitCount = 0;
    int m_padBits = 0;  // zero bits added after the data stopped
    bool m_inputStopped = false;
    int m_pendingMarker = -1;  // marker code read by the bit reader

    // Output.
    uint8_t* m_line = nullptr;
    uint8_t* m_linePos = nullptr;
    uint8_t* m_lineEnd = nullptr;
    // Per component, the row-buffer column of each pixel.
    int* m_columnIndex[4] = {};
};

}  // namespace rendova
