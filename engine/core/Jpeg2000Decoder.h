#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/core/DataStream.h"
#include "engine/core/Jpeg2000CodeBlock.h"

namespace rendova {

// Decoder of the JPXDecode filter: a JP2/JPX box file or a bare JPEG 2000
// codestream (ITU-T T.800). The whole image is decoded on reset(): the
// boxes, the main and tile-part headers, the packets of every tile, the
// code-blocks (Annex D coding passes over the MQ decoder), dequantisation,
// the inverse 5/3 or 9/7 wavelet, the component transform and the level
// shift. It then hands out the samples, the components of a pixel together,
// rows from top to bottom, each sample at its component's precision; every
// row starts on a byte boundary, as the image line reader expects.
//
// Each resolution level must be one precinct, code-blocks must not use the
// arithmetic bypass or terminate every pass, and a palette is not applied:
// such data is reported and reads as empty rather than as wrong samples.
//
// Holds a reference to its source (DecoderStream) and owns every tile. One
// thread at a time. Never throws on bad data: a defect in the headers gives
// an empty stream, damaged packet data keeps what was decoded before it; both
// are reported through reportError. Throws MemoryException when a buffer
// cannot be had.
class Jpeg2000Decoder final : public DecoderStream {
public:
    explicit Jpeg2000Decoder(RefPtr<DataStream> source);

    int getKind() override { return kJpeg2000Kind; }
    void reset() override;
    // Frees the tables and every tile, then closes the source.
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
    std::unique_ptr<DynString> getPrintFilter(int, const char*) override { return nullptr; }
    bool isBinary(bool) override { return source()->isBinary(true); }
    // Bits per component and colour mode (1 grey, 2 RGB, 3 CMYK) from the
    // image header and colour boxes, else from the codestream.
    void getImageFormatInfo(int& bitsPerComponent, int& colorMode) override;

    // Components of one image: T.800 allows 16384; PDF colour needs at most
    // a few, and each costs a full tile-component array.
    static constexpr int kMaxComponents = 256;
    // Tiles of one image: each tile has its own component and code-block
    // records, so a grid of 1-pixel tiles must not become millions of them.
    static constexpr int64_t kMaxTiles = 65536;
    // Samples of all tile-components together (4 bytes each, 8 while an
    // irreversible tile is transformed): 512 MB holds a 600 dpi A4 colour
    // page; a larger declared image is refused instead of allocated.
    static constexpr int64_t kMaxSamples = int64_t(1) << 27;
    // Decomposition levels: T.800 allows 32; beyond 32 the resolution sizes
    // of a 32-bit grid are all one sample.
    static constexpr int kMaxLevels = 32;
    // Sample precision: samples, level shifts and magnitudes are 32-bit.
    static constexpr int kMaxPrecision = 31;
    // Magnitude bit planes of a code-block: the decoder keeps one bit below
    // the last plane for the reconstruction point, in a 32-bit value.
    static constexpr int kMaxBitPlanes = 30;

    // Per-component parameters of COD/COC and QCD/QCC.
    struct CodingStyle {
        int levels = 0;
        int blockWidthExp = 6;  // code-block size exponents, + 2 already applied
        int blockHeightExp = 6;
        int blockStyle = 0;
        int wavelet = 0;  // 0 irreversible 9/7, 1 reversible 5/3
        // Per resolution: precinct exponents, x in the low nibble.
        uint8_t precincts[kMaxLevels + 1] = {};
    };
    struct Quantization {
        int style = 0;
        int guardBits = 1;
        int stepCount = 0;
        uint16_t steps[3 * kMaxLevels + 1] = {};
    };

protected:
    ~Jpeg2000Decoder() override;

private:
    // A code-block's share of one packet body: a range of the tile data.
    struct Segment {
        uint32_t offset;
        uint32_t length;
    };
    struct CodeBlock {
        int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // sub-band coordinates
        bool included = false;
        int zeroPlanes = 0;
        int passes = 0;
        int lengthBits = 3;  // Lblock
        std::vector<Segment> segments;
    };
    // T.800 B.10.2: a quad tree over the code-blocks of a sub-band, each
    // node the minimum of its children, coded top-down.
    struct TagTree {
        struct Node {
            int value;  // kUnknown until decoded
            int low;    // lower bound found so far
        };
        int width = 0;
        int height = 0;
        std::vector<Node> nodes;
        // First node of each level, leaves first.
        std::vector<int> levelStart;
        std::vector<int> levelWidth;
        void build(int w, int h);
    };
    struct SubBand {
        int orientation = 0;  // 0 LL, 1 HL, 2 LH, 3 HH
        int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
        int offsetX = 0, offsetY = 0;  // where it lies in the component array
        int blockWidthExp = 0, blockHeightExp = 0;
        int blocksWide = 0, blocksHigh = 0;
        int bitPlanes = 0;  // Mb
        float step = 1.0f;  // irreversible quantisation step
        std::vector<CodeBlock> blocks;
        TagTree inclusion;
        TagTree zeroPlanes;
    };
    struct Resolution {
        int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
        int bandCount = 0;
        SubBand bands[3];
    };
    struct TileComponent {
        int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
        CodingStyle style;
        Quantization quant;
        bool styleFromTile = false;  // a tile COC has set style
        bool quantFromTile = false;  // a tile QCC has set quant
        std::vector<Resolution> resolutions;
        // Final samples after decoding, row-major; empty when every sample
        // is fill.
        std::vector<int32_t> samples;
        int32_t fill = 0;
        // Irreversible coefficients while the tile is transformed.
        std::vector<float> real;
        int width() const { return x1 - x0; }
        int height() const { return y1 - y0; }
    };
    struct Tile {
        bool seen = false;
        bool ok = false;
        int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
        int progression = 0;
        int layers = 1;
        int transform = 0;  // multiple-component transform flag
        bool sop = false;
        bool eph = false;
        std::vector<TileComponent> comps;
        // The bodies of its tile-parts, concatenated.
        std::vector<uint8_t> data;
    };

    // Reads the input; false (reported) when nothing can be decoded.
    bool decode();
    // --- boxes and headers (Jpeg2000Decoder.cpp) ---
    bool readBoxes(uint32_t begin, uint32_t end, int depth);
    bool readBoxHeader(uint32_t pos, uint32_t end, uint32_t& type, uint32_t& dataBegin, uint32_t& dataEnd);
    bool readImageHeaderBox(const uint8_t* p, uint32_t dataLength);
    bool readChannelsBox(const uint8_t* p, uint32_t dataLength);
    bool readColourBox(uint32_t begin, uint32_t end);
    bool readPaletteBox(uint32_t begin, uint32_t end);
    bool readCodestream(uint32_t begin, uint32_t end);
    bool readHeaderSegments(uint32_t& pos, uint32_t end, Tile* tile);
    bool readSiz(uint32_t pos, uint32_t end);
    bool readCod(uint32_t pos, uint32_t end, Tile* tile);
    bool readCoc(uint32_t pos, uint32_t end, Tile* tile);
    bool readQcd(uint32_t pos, uint32_t end, Tile* tile);
    bool readQcc(uint32_t pos, uint32_t end, Tile* tile);
    bool readStyleParameters(uint32_t& pos, uint32_t end, bool precinctsGiven, CodingStyle& style);
    bool readQuantParameters(uint32_t pos, uint32_t end, Quantization& quant);
    bool readTilePart(uint32_t& pos, uint32_t end);
    void startTile(Tile& tile, int index);
    bool checkTileParameters(const Tile& tile);

    // --- packets (Jpeg2000Packets.cpp) ---
    bool setUpTile(Tile& tile);
    // setUpTile's steps: one sub-band of resolution r of component c (its
    // area, step size and code-block size; false, reported, past the bit
    // planes we decode), and its partition into code-blocks.
    bool setUpSubBand(const TileComponent& comp, int c, int r, int b, int ppx, int ppy, SubBand& band);
    static void partitionCodeBlocks(SubBand& band);
    void readPackets(Tile& tile);
    bool readPacket(Tile& tile, TileComponent& comp, int resolution, int layer, uint32_t& pos);

    // --- code-blocks and transforms (Jpeg2000Transform.cpp) ---
    bool decodeTile(Tile& tile);
    void inverseComponentTransform(Tile& tile);
    void decodeBlock(const Tile& tile, TileComponent& comp, const SubBand& band, const CodeBlock& block,
                     bool reversible);
    static void inverseWavelet(TileComponent& comp, bool reversible, std::vector<int32_t>& intLine,
                               std::vector<float>& realLine);

    // --- output ---
    bool nextLine();
    void freeAll();

    // Input: the whole source, read once per reset.
    std::vector<uint8_t> m_input;
    bool m_failed = false;

    // Image header box.
    int m_boxComponents = 0;
    int m_boxBits = 0;
    int m_boxWidth = 0;
    int m_boxHeight = 0;
    bool m_haveImageHeader = false;
    std::vector<int> m_componentBits;  // bits-per-component byte per component
    // Colour box (colr).
    int m_colourMethod = 0;
    int m_colourPrecedence = 0;
    int m_colourApprox = 0;
    int m_colourSpace = 0;
    int m_lab[7] = {};
    bool m_haveColour = false;
    bool m_havePalette = false;
    // Channel definitions: the components that carry opacity.
    std::vector<bool> m_opacity;

    // Image and tile grid (SIZ).
    bool m_haveSiz = false;
    bool m_haveCod = false;
    bool m_haveQcd = false;
    uint32_t m_xSize = 0, m_ySize = 0, m_xOffset = 0, m_yOffset = 0;
    uint32_t m_tileWidth = 0, m_tileHeight = 0, m_tileXOffset = 0, m_tileYOffset = 0;
    int m_componentCount = 0;
    int m_tilesAcross = 0, m_tilesDown = 0;
    std::vector<bool> m_signed;
    std::vector<int> m_precision;
    std::vector<int> m_xSep, m_ySep;
    // Main header defaults.
    int m_progression = 0;
    int m_layers = 1;
    int m_transform = 0;
    bool m_sop = false;
    bool m_eph = false;
    std::vector<CodingStyle> m_styles;
    std::vector<Quantization> m_quants;
    // Components whose main-header COC or QCC outranks COD or QCD.
    std::vector<bool> m_cocSeen;
    std::vector<bool> m_qccSeen;
    std::vector<Tile> m_tiles;

    // Output.
    std::vector<int> m_outComponents;  // components handed out, in order
    int m_outBits = 0;                 // total bits of one pixel
    int m_row = 0;                     // next row, from 0
    int m_rows = 0;
    std::vector<uint8_t> m_line;
    // What m_line holds: the tile row, each component's sample row and the
    // length, for rows that repeat it.
    bool m_lineBuilt = false;
    int m_builtTileRow = 0;
    std::vector<int> m_builtRows;
    size_t m_builtLength = 0;
    uint8_t* m_linePos = nullptr;
    uint8_t* m_lineEnd = nullptr;
    // Code-block decoding, reused from block to block.
    std::unique_ptr<Jpeg2000CodeBlock> m_codeBlock;
    std::vector<uint8_t> m_blockData;
    std::vector<int32_t> m_blockValues;

    // Per output column: the tile column and per component the sample index.
    std::vector<int> m_columnTile;
    std::vector<std::vector<int>> m_columnIndex;
};

}  // namespace rendova
