#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "engine/core/DataStream.h"
#include "engine/core/Jpeg2000CodeBlock.h"

namespace rendova {

// Decoder of the JPXDecode filter: a JP2/JPX box file or a bare JPEG 2000
// codestream (ITU-T T.800). The whole image is decoded on reset(): the
// boxes, the main and tile-part headers (with progression changes and packed
// packet headers), the packets of every tile in its progression over the
// precincts, the code-blocks (Annex D coding passes over the MQ decoder, in
// every code-block style), dequantisation, the inverse 5/3 or 9/7 wavelet,
// the component transform and the level shift. A palette is applied unless
// the image dictionary gives a colour space, which then maps the indices.
// It hands out the samples, the components of a pixel together, rows from
// top to bottom, each sample at its component's precision; every row starts
// on a byte boundary, as the image line reader expects.
//
// Holds a reference to its source (DecoderStream) and owns every tile. One
// thread at a time. Never throws on bad data: a defect in the headers gives
// an empty stream, damaged or missing packet data keeps what was decoded
// before it; both are reported through reportError. Throws MemoryException
// when a buffer cannot be had.
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
    // Code-blocks and precincts of one tile: the tile's records are built
    // before its packets are read; a 1-sample precinct grid over a large
    // declared image must not become a record per sample. 2^21 blocks are
    // 8 x 8 blocks over the largest image allowed; 2^18 precincts are
    // 64 x 64 precincts over it.
    static constexpr int64_t kMaxCodeBlocks = int64_t(1) << 21;
    static constexpr int64_t kMaxPrecincts = int64_t(1) << 18;
    // Progression changes of one POC list: a marker segment holds at most
    // (65535 - 2) / 7 of them, and a tile takes one list.
    static constexpr int kMaxProgressionChanges = 9362;

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
    // One progression of a POC marker: resolutions [resStart, resEnd) of
    // components [compStart, compEnd), layers [0, layerEnd), in the order.
    struct ProgressionChange {
        int resStart = 0, compStart = 0, layerEnd = 0, resEnd = 0, compEnd = 0, order = 0;
    };

protected:
    ~Jpeg2000Decoder() override;

private:
    // A code-block's share of one packet body, within one codeword segment:
    // a range of the tile data.
    struct Chunk {
        uint32_t offset;
        uint32_t length;
        int segment;  // the first coding pass of its codeword segment
    };
    struct CodeBlock {
        int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // sub-band coordinates
        bool included = false;
        int zeroPlanes = 0;
        int passes = 0;
        int lengthBits = 3;  // Lblock
        std::vector<Chunk> chunks;
    };
    // T.800 B.10.2: a quad tree over the code-blocks of a precinct's share
    // of a sub-band, each node the minimum of its children, coded top-down.
    // Levels lie leaves first, each half the size (rounded up) of the one
    // below it.
    struct TagTree {
        struct Node {
            int value;  // kUnknown until decoded
            int low;    // lower bound found so far
        };
        int width = 0;
        int height = 0;
        std::vector<Node> nodes;
        void build(int w, int h);
    };
    struct SubBand {
        int orientation = 0;  // 0 LL, 1 HL, 2 LH, 3 HH
        int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
        int offsetX = 0, offsetY = 0;  // where it lies in the component array
        int blockWidthExp = 0, blockHeightExp = 0;
        int firstBlockX = 0, firstBlockY = 0;  // block grid index of blocks[0]
        int blocksWide = 0, blocksHigh = 0;
        int bitPlanes = 0;  // Mb
        float step = 1.0f;  // irreversible quantisation step
        std::vector<CodeBlock> blocks;
    };
    // A precinct's code-blocks in one sub-band: a rectangle of the band's
    // block grid, with the tag trees of its packets.
    struct PrecinctBand {
        int blockX = 0, blockY = 0;  // first block, relative to blocks[0]
        int blocksWide = 0, blocksHigh = 0;
        TagTree inclusion;
        TagTree zeroPlanes;
    };
    struct Precinct {
        int layersRead = 0;
        PrecinctBand bands[3];
    };
    struct Resolution {
        int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
        int bandCount = 0;
        SubBand bands[3];
        int precinctWidthExp = 15, precinctHeightExp = 15;
        int precinctsWide = 0, precinctsHigh = 0;
        std::vector<Precinct> precincts;
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
        // Progression changes of its tile-part headers, in order.
        std::vector<ProgressionChange> changes;
        // The bodies of its tile-parts, concatenated.
        std::vector<uint8_t> data;
        // Packet headers packed into PPM or PPT segments, concatenated;
        // packedHeaders says that the packets carry none themselves.
        bool packedHeaders = false;
        std::vector<uint8_t> headers;
    };
    // Where the next packet's header and body are read.
    struct PacketCursor {
        uint32_t body = 0;
        uint32_t header = 0;
    };
    // A code-block's share of the packet being read: its length, the
    // codeword segment and the passes.
    struct Contribution {
        CodeBlock* block;
        uint32_t length;
        int segment;
        int passes;
    };
    struct HeaderBits;
    // A precinct in the packet order: its component, resolution and index,
    // and the point of the reference grid at which the position-driven
    // progressions reach it (T.800 B.12.1.3 to B.12.1.5).
    struct PrecinctPlace {
        int component;
        int resolution;
        int precinct;
        int64_t x, y;
    };

    // Reads the input; false (reported) when nothing can be decoded.
    bool decode();
    // Decodes every tile in turn, freeing its packet records after it.
    // Whether the tiles that have data cover at least half of the image.
    bool mostTilesPresent();
    bool decodeTiles();
    // --- boxes (Jpeg2000Boxes.cpp) ---
    bool readBoxes(uint32_t begin, uint32_t end, int depth);
    bool readBoxHeader(uint32_t pos, uint32_t end, uint32_t& type, uint32_t& dataBegin, uint32_t& dataEnd);
    bool readImageHeaderBox(const uint8_t* p, uint32_t dataLength);
    bool readChannelsBox(const uint8_t* p, uint32_t dataLength);
    bool readColourBox(uint32_t begin, uint32_t end);
    bool readPaletteBox(uint32_t begin, uint32_t end);
    bool readMappingBox(const uint8_t* p, uint32_t dataLength);
    // Whether the image dictionary names a colour space, which then takes
    // the palette indices in place of the palette's colours.
    bool imageGivesColourSpace();
    // Replaces the decoded components by the channels of the component
    // mapping, looking the indices up in the palette; false (reported)
    // when the mapping names what the image does not have.
    bool applyPalette();

    // --- codestream headers (Jpeg2000Headers.cpp) ---
    bool readCodestream(uint32_t begin, uint32_t end);
    bool readHeaderSegments(uint32_t& pos, uint32_t end, Tile* tile);
    bool readMarkerSegment(int marker, uint32_t body, uint32_t end, Tile* tile);
    bool readSiz(uint32_t pos, uint32_t end);
    bool readCod(uint32_t pos, uint32_t end, Tile* tile);
    bool readCoc(uint32_t pos, uint32_t end, Tile* tile);
    bool readQcd(uint32_t pos, uint32_t end, Tile* tile);
    bool readQcc(uint32_t pos, uint32_t end, Tile* tile);
    bool readStyleParameters(uint32_t& pos, uint32_t end, bool precinctsGiven, CodingStyle& style);
    bool readQuantParameters(uint32_t pos, uint32_t end, Quantization& quant);
    bool readPoc(uint32_t pos, uint32_t end, Tile* tile);
    // PPM in the main header (tile null) or PPT in a tile-part header.
    bool readPackedHeaders(uint32_t pos, uint32_t end, Tile* tile);
    // Cuts the PPM data into the packet headers of each tile-part.
    bool splitMainPackedHeaders();
    bool readTilePart(uint32_t& pos, uint32_t end);
    void startTile(Tile& tile, int index);

    // --- tile geometry and packets (Jpeg2000Packets.cpp) ---
    bool setUpTile(Tile& tile);
    // setUpTile's steps: one resolution of component c, one of its sub-bands
    // (area, step size and code-block size; false, reported, past the bit
    // planes we decode), the band's code-blocks, and the precincts with
    // their share of each band. The budgets count down the code-blocks and
    // precincts left to the tile; false when they run out.
    bool setUpResolution(TileComponent& comp, int c, int r, int64_t& blockBudget, int64_t& precinctBudget);
    bool setUpSubBand(const TileComponent& comp, int c, int r, int b, int ppx, int ppy, SubBand& band);
    static bool partitionCodeBlocks(SubBand& band, int64_t& budget);
    // The tile-components' areas, which is all that a tile without data
    // needs.
    void setUpComponentBounds(Tile& tile);
    static void partitionPrecincts(Resolution& res, int r);
    bool readPacket(Tile& tile, const PrecinctPlace& place, int layer, PacketCursor& cursor);
    bool readBlockHeader(HeaderBits& in, PrecinctBand& part, CodeBlock& block, int i, int j, int layer,
                         int style);

    // --- progression (Jpeg2000Progression.cpp) ---
    void readPackets(Tile& tile);
    std::vector<PrecinctPlace> precinctPlaces(const Tile& tile) const;
    // The packets of one progression; false once the data has ended.
    bool readProgression(Tile& tile, std::vector<PrecinctPlace> places, const ProgressionChange& change,
                         PacketCursor& cursor);

    // --- code-blocks and transforms (Jpeg2000Transform.cpp) ---
    bool decodeTile(Tile& tile);
    void inverseComponentTransform(Tile& tile);
    void decodeBlock(const Tile& tile, TileComponent& comp, const SubBand& band, const CodeBlock& block,
                     bool reversible);
    static void inverseWavelet(TileComponent& comp, bool reversible, std::vector<int32_t>& intLine,
                               std::vector<float>& realLine);

    // --- output ---
    bool prepareOutput();
    bool nextLine();
    void freeAll();

    // Input: the whole source, read once per reset.
    std::vector<uint8_t> m_input;

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
    // Palette (pclr): entries x columns values, and each column's depth
    // byte (bits - 1, bit 7 for signed).
    bool m_havePalette = false;
    int m_paletteEntries = 0;
    std::vector<int> m_paletteDepths;
    std::vector<int32_t> m_paletteValues;
    // Component mapping (cmap): per channel, its component and, for a
    // palette channel, the palette column (-1 for a direct channel).
    struct ChannelMapping {
        int component;
        int column;
    };
    std::vector<ChannelMapping> m_mappings;
    bool m_haveMapping = false;
    // Channel definitions: the channels that carry opacity.
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
    std::vector<ProgressionChange> m_changes;
    // PPM: the packet headers of every tile-part, concatenated, and where
    // each tile-part's lie; tile-parts take them in codestream order.
    bool m_havePpm = false;
    std::vector<uint8_t> m_packedMain;
    std::vector<std::pair<uint32_t, uint32_t>> m_packedParts;
    size_t m_tilePartsRead = 0;
    // Precincts visited by the progressions so far (a bound on the work).
    int64_t m_progressionVisits = 0;
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
    std::vector<Jpeg2000CodeBlock::Segment> m_blockSegments;
    std::vector<Contribution> m_contributions;
    std::vector<int32_t> m_blockValues;

    // Per output column: the tile column and per component the sample index.
    std::vector<int> m_columnTile;
    std::vector<std::vector<int>> m_columnIndex;
};

}  // namespace rendova
