// The JPEG 2000 decoder's tile geometry and packets: resolutions, sub-bands,
// code-blocks and precincts of each tile-component, tag trees and packet
// headers (T.800 B.5 to B.10). The order of the packets is followed in
// Jpeg2000Progression.cpp.
#include <algorithm>
#include <climits>
#include <cmath>

#include "base/Numeric.h"
#include "engine/core/BigEndian.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/Jpeg2000Decoder.h"

namespace rendova {

namespace {

constexpr int kUnknown = INT_MAX;
constexpr int kMarkerSop = 0xFF91;
constexpr int kMarkerEph = 0xFF92;
// Lblock grows by one per increment bit; lengths are read into 32 bits.
constexpr int kMaxLengthBits = 32;

// ceil(a / 2^n) and floor(a / 2^n) for any sign of a, n up to 32.
int64_t ceilShift(int64_t a, int n) {
    return -((-a) >> n);
}
int64_t floorShift(int64_t a, int n) {
    return a >> n;
}

int floorLog2(int v) {
    int n = 0;
    while (v > 1) {
        v >>= 1;
        ++n;
    }
    return n;
}

}  // namespace

// Packet header bits: after a 0xFF byte the next byte holds only 7 bits.
struct Jpeg2000Decoder::HeaderBits {
    const uint8_t* data;
    uint32_t pos;
    uint32_t end;
    uint32_t byte = 0;
    int count = 0;
    bool lastWasFF = false;
    bool failed = false;

    int bit() {
        if (count == 0) {
            if (pos >= end) {
                failed = true;
                return 0;
            }
            byte = data[pos++];
            count = lastWasFF ? 7 : 8;
            lastWasFF = byte == 0xFF;
        }
        --count;
        return int(byte >> count) & 1;
    }
    uint32_t bits(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i)
            v = v << 1 | uint32_t(bit());
        return v;
    }
    // The header ends on a byte boundary; a final 0xFF is followed by a
    // stuffed byte.
    void align() {
        count = 0;
        if (lastWasFF && pos < end)
            ++pos;
        lastWasFF = false;
    }
};

void Jpeg2000Decoder::TagTree::build(int w, int h) {
    width = w;
    height = h;
    int64_t total = 0;
    for (int64_t lw = w, lh = h;; lw = (lw + 1) / 2, lh = (lh + 1) / 2) {
        total += lw * lh;
        if (lw <= 1 && lh <= 1)
            break;
    }
    nodes.assign(size_t(total), Node{kUnknown, 0});
}

bool Jpeg2000Decoder::setUpSubBand(const TileComponent& comp, int c, int r, int b, int ppx, int ppy,
                                   SubBand& band) {
    const CodingStyle& s = comp.style;
    const Quantization& q = comp.quant;
    const bool reversible = s.wavelet == 1;
    const int level = r == 0 ? s.levels : s.levels - r + 1;  // nb
    const Resolution* lower = r == 0 ? nullptr : &comp.resolutions[size_t(r - 1)];
    band.orientation = r == 0 ? 0 : b + 1;
    const int xob = band.orientation & 1;
    const int yob = band.orientation >> 1;
    const int64_t shiftX = level == 0 ? 0 : (int64_t(xob) << (level - 1));
    const int64_t shiftY = level == 0 ? 0 : (int64_t(yob) << (level - 1));
    band.x0 = int(ceilShift(comp.x0 - shiftX, level));
    band.y0 = int(ceilShift(comp.y0 - shiftY, level));
    band.x1 = int(ceilShift(comp.x1 - shiftX, level));
    band.y1 = int(ceilShift(comp.y1 - shiftY, level));
    band.offsetX = xob ? lower->x1 - lower->x0 : 0;
    band.offsetY = yob ? lower->y1 - lower->y0 : 0;
    const int stepIndex = r == 0 ? 0 : 3 * (r - 1) + 1 + b;
    const uint16_t step = q.steps[q.style == 1 ? 0 : stepIndex];
    int exponent = step >> 11;
    if (q.style == 1)
        exponent = exponent - s.levels + level;
    band.bitPlanes = std::max(q.guardBits + exponent - 1, 0);
    if (band.bitPlanes > kMaxBitPlanes) {
        reportError(getPos(), "JPX sub-band of %d bit planes", band.bitPlanes);
        return false;
    }
    // The nominal range of the band grows by one bit per high-pass
    // direction.
    const int gain = xob + yob;
    const int rangeBits = m_precision[size_t(c)] + gain;
    band.step = reversible ? 1.0f : float(std::ldexp(1.0 + (step & 0x7FF) / 2048.0, rangeBits - exponent));
    int xcb = s.blockWidthExp, ycb = s.blockHeightExp;
    xcb = std::max(std::min(xcb, ppx - (r > 0 ? 1 : 0)), 0);
    ycb = std::max(std::min(ycb, ppy - (r > 0 ? 1 : 0)), 0);
    band.blockWidthExp = xcb;
    band.blockHeightExp = ycb;
    return true;
}

bool Jpeg2000Decoder::partitionCodeBlocks(SubBand& band, int64_t& budget) {
    const int xcb = band.blockWidthExp, ycb = band.blockHeightExp;
    band.blocks.clear();
    band.blocksWide = band.blocksHigh = 0;
    if (band.x1 <= band.x0 || band.y1 <= band.y0)
        return true;
    const int bx0 = int(floorShift(band.x0, xcb));
    const int by0 = int(floorShift(band.y0, ycb));
    const int64_t wide = ceilShift(band.x1, xcb) - bx0;
    const int64_t high = ceilShift(band.y1, ycb) - by0;
    budget -= wide * high;
    if (budget < 0)
        return false;
    band.firstBlockX = bx0;
    band.firstBlockY = by0;
    band.blocksWide = int(wide);
    band.blocksHigh = int(high);
    band.blocks.resize(size_t(band.blocksWide) * size_t(band.blocksHigh));
    for (int j = 0; j < band.blocksHigh; ++j) {
        for (int i = 0; i < band.blocksWide; ++i) {
            CodeBlock& block = band.blocks[size_t(j) * size_t(band.blocksWide) + size_t(i)];
            block.x0 = std::max(int((int64_t(bx0) + i) << xcb), band.x0);
            block.y0 = std::max(int((int64_t(by0) + j) << ycb), band.y0);
            block.x1 = int(std::min<int64_t>((int64_t(bx0) + i + 1) << xcb, band.x1));
            block.y1 = int(std::min<int64_t>((int64_t(by0) + j + 1) << ycb, band.y1));
        }
    }
    return true;
}

// The precincts of a resolution (T.800 B.6): a grid of 2^ppx x 2^ppy
// anchored at 0, and in each sub-band of a higher resolution a grid of half
// that size, with the code-blocks that each cell holds.
void Jpeg2000Decoder::partitionPrecincts(Resolution& res, int r) {
    const int ppx = res.precinctWidthExp, ppy = res.precinctHeightExp;
    const int bandX = r == 0 ? ppx : ppx - 1;
    const int bandY = r == 0 ? ppy : ppy - 1;
    const int64_t firstX = floorShift(res.x0, ppx);
    const int64_t firstY = floorShift(res.y0, ppy);
    res.precincts.assign(size_t(res.precinctsWide) * size_t(res.precinctsHigh), Precinct());
    for (int j = 0; j < res.precinctsHigh; ++j) {
        for (int i = 0; i < res.precinctsWide; ++i) {
            Precinct& precinct = res.precincts[size_t(j) * size_t(res.precinctsWide) + size_t(i)];
            for (int b = 0; b < res.bandCount; ++b) {
                const SubBand& band = res.bands[b];
                PrecinctBand& part = precinct.bands[b];
                if (band.blocksWide == 0 || band.blocksHigh == 0)
                    continue;
                const int64_t x0 = std::max<int64_t>((firstX + i) << bandX, band.x0);
                const int64_t y0 = std::max<int64_t>((firstY + j) << bandY, band.y0);
                const int64_t x1 = std::min<int64_t>((firstX + i + 1) << bandX, band.x1);
                const int64_t y1 = std::min<int64_t>((firstY + j + 1) << bandY, band.y1);
                if (x1 <= x0 || y1 <= y0)
                    continue;
                part.blockX = int(floorShift(x0, band.blockWidthExp)) - band.firstBlockX;
                part.blockY = int(floorShift(y0, band.blockHeightExp)) - band.firstBlockY;
                part.blocksWide = int(ceilShift(x1, band.blockWidthExp)) - band.firstBlockX - part.blockX;
                part.blocksHigh = int(ceilShift(y1, band.blockHeightExp)) - band.firstBlockY - part.blockY;
                part.inclusion.build(part.blocksWide, part.blocksHigh);
                part.zeroPlanes.build(part.blocksWide, part.blocksHigh);
            }
        }
    }
}

bool Jpeg2000Decoder::setUpResolution(TileComponent& comp, int c, int r, int64_t& blockBudget,
                                      int64_t& precinctBudget) {
    const CodingStyle& s = comp.style;
    Resolution& res = comp.resolutions[size_t(r)];
    const int n = s.levels - r;
    res.x0 = int(ceilShift(comp.x0, n));
    res.y0 = int(ceilShift(comp.y0, n));
    res.x1 = int(ceilShift(comp.x1, n));
    res.y1 = int(ceilShift(comp.y1, n));
    const int ppx = s.precincts[r] & 15;
    const int ppy = s.precincts[r] >> 4;
    // A sub-band precinct is half the resolution's: a precinct of one
    // sample is allowed in the lowest resolution only.
    if (r > 0 && (ppx == 0 || ppy == 0)) {
        reportError(getPos(), "JPX precinct of one sample above the lowest resolution");
        return false;
    }
    res.precinctWidthExp = ppx;
    res.precinctHeightExp = ppy;
    res.bandCount = r == 0 ? 1 : 3;
    for (int b = 0; b < res.bandCount; ++b) {
        if (!setUpSubBand(comp, c, r, b, ppx, ppy, res.bands[b]))
            return false;
        if (!partitionCodeBlocks(res.bands[b], blockBudget))
            break;
    }
    if (res.x1 > res.x0 && res.y1 > res.y0) {
        const int64_t wide = ceilShift(res.x1, ppx) - floorShift(res.x0, ppx);
        const int64_t high = ceilShift(res.y1, ppy) - floorShift(res.y0, ppy);
        precinctBudget -= wide * high;
        if (precinctBudget >= 0) {
            res.precinctsWide = int(wide);
            res.precinctsHigh = int(high);
        }
    }
    if (blockBudget < 0 || precinctBudget < 0) {
        reportError(getPos(), "JPX tile of too many code-blocks or precincts");
        return false;
    }
    partitionPrecincts(res, r);
    return true;
}

void Jpeg2000Decoder::setUpComponentBounds(Tile& tile) {
    for (int c = 0; c < m_componentCount; ++c) {
        TileComponent& comp = tile.comps[size_t(c)];
        const uint32_t xs = uint32_t(m_xSep[size_t(c)]), ys = uint32_t(m_ySep[size_t(c)]);
        comp.x0 = int(ceilDiv(uint32_t(tile.x0), xs));
        comp.y0 = int(ceilDiv(uint32_t(tile.y0), ys));
        comp.x1 = int(ceilDiv(uint32_t(tile.x1), xs));
        comp.y1 = int(ceilDiv(uint32_t(tile.y1), ys));
    }
}

bool Jpeg2000Decoder::setUpTile(Tile& tile) {
    setUpComponentBounds(tile);
    int64_t blockBudget = kMaxCodeBlocks;
    int64_t precinctBudget = kMaxPrecincts;
    for (int c = 0; c < m_componentCount; ++c) {
        TileComponent& comp = tile.comps[size_t(c)];
        const CodingStyle& s = comp.style;
        const Quantization& q = comp.quant;
        const int needed = q.style == 1 ? 1 : 3 * s.levels + 1;
        if (q.stepCount < needed) {
            reportError(getPos(), "JPX quantisation: %d step sizes for %d levels", q.stepCount, s.levels);
            return false;
        }
        comp.resolutions.assign(size_t(s.levels + 1), Resolution());
        for (int r = 0; r <= s.levels; ++r) {
            if (!setUpResolution(comp, c, r, blockBudget, precinctBudget))
                return false;
        }
    }
    if (tile.transform != 0) {
        if (m_componentCount < 3) {
            reportError(getPos(), "JPX component transform over fewer than three components");
            return false;
        }
        for (int c = 1; c < 3; ++c) {
            const TileComponent& a = tile.comps[0];
            const TileComponent& b = tile.comps[size_t(c)];
            if (a.x0 != b.x0 || a.x1 != b.x1 || a.y0 != b.y0 || a.y1 != b.y1 ||
                a.style.wavelet != b.style.wavelet) {
                reportError(getPos(), "JPX component transform over components of different sizes");
                return false;
            }
        }
    }
    return true;
}

namespace {

// Whether the leaf (x, y) of the tree has a value below threshold, decoding
// the nodes on its path as far as that needs (T.800 B.10.2).
template <typename Tree, typename Bits>
bool tagValueBelow(Tree& tree, int x, int y, int threshold, Bits& in) {
    // Leaves first, a level of half the size (rounded up) above each; 2^31
    // leaves make at most 33 levels.
    int path[34];
    int depth = 0;
    for (int64_t start = 0, w = tree.width, h = tree.height;; x >>= 1, y >>= 1) {
        path[depth++] = int(start + int64_t(y) * w + x);
        if (w <= 1 && h <= 1)
            break;
        start += w * h;
        w = (w + 1) / 2;
        h = (h + 1) / 2;
    }
    int low = 0;
    for (int i = depth - 1; i >= 0; --i) {
        auto& node = tree.nodes[size_t(path[i])];
        if (low > node.low)
            node.low = low;
        else
            low = node.low;
        while (low < threshold && low < node.value) {
            if (in.bit())
                node.value = low;
            else
                ++low;
            if (in.failed)
                return false;
        }
        node.low = low;
    }
    return tree.nodes[size_t(path[0])].value < threshold;
}

// Coding passes added by a packet (T.800 table B.4).
template <typename Bits>
int readPassCount(Bits& in) {
    if (!in.bit())
        return 1;
    if (!in.bit())
        return 2;
    const int two = int(in.bits(2));
    if (two != 3)
        return 3 + two;
    const int five = int(in.bits(5));
    if (five != 31)
        return 6 + five;
    return 37 + int(in.bits(7));
}

}  // namespace

// One code-block's entries of a packet header (T.800 B.10.4 to B.10.7):
// inclusion, the missing bit planes at its first inclusion, the number of
// passes, the Lblock increment and a length for each codeword segment that
// the passes reach into. Their data follows the header: the shares are kept
// in m_contributions. False (reported) for values past what we decode.
bool Jpeg2000Decoder::readBlockHeader(HeaderBits& in, PrecinctBand& part, CodeBlock& block, int i, int j,
                                      int layer, int style) {
    const bool first = !block.included;
    const bool included = first ? tagValueBelow(part.inclusion, i, j, layer + 1, in) : in.bit() != 0;
    if (in.failed || !included)
        return true;
    if (first) {
        // The number of missing bit planes, decoded threshold by threshold;
        // no more planes than a band has.
        int threshold = 1;
        while (!tagValueBelow(part.zeroPlanes, i, j, threshold, in) && !in.failed &&
               threshold <= kMaxBitPlanes + 1)
            ++threshold;
        if (threshold > kMaxBitPlanes + 1) {
            reportError(getPos(), "JPX code-block with too many missing bit planes");
            return false;
        }
        block.zeroPlanes = part.zeroPlanes.nodes[size_t(j) * size_t(part.blocksWide) + size_t(i)].value;
        block.included = true;
    }
    const int passes = readPassCount(in);
    while (in.bit() && !in.failed) {
        if (++block.lengthBits > kMaxLengthBits) {
            reportError(getPos(), "JPX code-block length of too many bits");
            return false;
        }
    }
    for (int pass = block.passes, left = passes; left > 0 && !in.failed;) {
        const int take =
            int(std::min<int64_t>(left, int64_t(Jpeg2000CodeBlock::segmentEnd(pass, style)) - pass));
        const int bits = block.lengthBits + floorLog2(take);
        if (bits > kMaxLengthBits) {
            reportError(getPos(), "JPX code-block length of too many bits");
            return false;
        }
        m_contributions.push_back(
            {&block, in.bits(bits), Jpeg2000CodeBlock::segmentStart(pass, style), take});
        pass += take;
        left -= take;
    }
    return true;
}

bool Jpeg2000Decoder::readPacket(Tile& tile, const PrecinctPlace& place, int layer, PacketCursor& cursor) {
    TileComponent& comp = tile.comps[size_t(place.component)];
    Resolution& res = comp.resolutions[size_t(place.resolution)];
    Precinct& precinct = res.precincts[size_t(place.precinct)];
    const uint8_t* data = tile.data.data();
    const uint32_t end = uint32_t(tile.data.size());
    uint32_t& body = cursor.body;
    if (tile.sop && end - body >= 6 && readBigEndian16(data + body) == uint32_t(kMarkerSop))
        body += 6;
    // Packed headers come from their own data; the bodies stay in place.
    const bool packed = tile.packedHeaders;
    const uint8_t* headerData = packed ? tile.headers.data() : data;
    const uint32_t headerEnd = packed ? uint32_t(tile.headers.size()) : end;
    uint32_t& header = packed ? cursor.header : body;
    HeaderBits in{headerData, header, headerEnd};
    m_contributions.clear();
    if (in.bit()) {
        for (int b = 0; b < res.bandCount && !in.failed; ++b) {
            SubBand& band = res.bands[b];
            PrecinctBand& part = precinct.bands[b];
            for (int j = 0; j < part.blocksHigh && !in.failed; ++j) {
                CodeBlock* row = band.blocks.data() + size_t(part.blockY + j) * size_t(band.blocksWide);
                for (int i = 0; i < part.blocksWide && !in.failed; ++i) {
                    if (!readBlockHeader(in, part, row[part.blockX + i], i, j, layer, comp.style.blockStyle))
                        return false;
                }
            }
        }
    }
    in.align();
    if (in.failed) {
        reportError(getPos(), "JPX packet header cut short");
        return false;
    }
    header = in.pos;
    if (tile.eph && headerEnd - header >= 2 && readBigEndian16(headerData + header) == uint32_t(kMarkerEph))
        header += 2;
    ++precinct.layersRead;
    for (const Contribution& part : m_contributions) {
        if (part.length > end - body) {
            // Data cut short inside a body. The MQ decoder decodes the
            // bytes that arrived and then settles on the likelier symbols,
            // which keeps the passes past them small; raw passes past their
            // bytes would read 1-bits, each a significant coefficient, so
            // they are left out.
            reportError(getPos(), "JPX code-block data cut short");
            if (!Jpeg2000CodeBlock::isRawPass(part.segment, comp.style.blockStyle)) {
                part.block->chunks.push_back({body, end - body, part.segment});
                part.block->passes += part.passes;
            }
            return false;
        }
        part.block->chunks.push_back({body, part.length, part.segment});
        part.block->passes += part.passes;
        body += part.length;
    }
    return true;
}

}  // namespace rendova
