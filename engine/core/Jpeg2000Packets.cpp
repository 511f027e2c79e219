// The JPEG 2000 decoder's tile geometry and packets: resolutions, sub-bands
// and code-blocks of each tile-component, tag trees and packet headers
// (T.800 B.5 to B.10), in the five progression orders.
#include <algorithm>
#include <climits>
#include <cmath>

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

// Packet header bits: after a 0xFF byte the next byte holds only 7 bits.
struct HeaderBits {
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

}  // namespace

void Jpeg2000Decoder::TagTree::build(int w, int h) {
    width = w;
    height = h;
    levelStart.clear();
    levelWidth.clear();
    int total = 0;
    int lw = w, lh = h;
    for (;;) {
        levelStart.push_back(total);
        levelWidth.push_back(lw);
        total += lw * lh;
        if (lw <= 1 && lh <= 1)
            break;
        lw = (lw + 1) / 2;
        lh = (lh + 1) / 2;
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
    partitionCodeBlocks(band);
    return true;
}

void Jpeg2000Decoder::partitionCodeBlocks(SubBand& band) {
    const int xcb = band.blockWidthExp, ycb = band.blockHeightExp;
    band.blocks.clear();
    band.blocksWide = band.blocksHigh = 0;
    if (band.x1 <= band.x0 || band.y1 <= band.y0) {
        band.inclusion.build(0, 0);
        band.zeroPlanes.build(0, 0);
        return;
    }
    const int bx0 = int(floorShift(band.x0, xcb));
    const int by0 = int(floorShift(band.y0, ycb));
    band.blocksWide = int(ceilShift(band.x1, xcb)) - bx0;
    band.blocksHigh = int(ceilShift(band.y1, ycb)) - by0;
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
    band.inclusion.build(band.blocksWide, band.blocksHigh);
    band.zeroPlanes.build(band.blocksWide, band.blocksHigh);
}

bool Jpeg2000Decoder::setUpTile(Tile& tile) {
    const bool mct = tile.transform != 0;
    for (int c = 0; c < m_componentCount; ++c) {
        TileComponent& comp = tile.comps[size_t(c)];
        const CodingStyle& s = comp.style;
        const Quantization& q = comp.quant;
        if (s.blockStyle & ~Jpeg2000CodeBlock::kDecodedStyles) {
            reportError(getPos(), "JPX code-block style 0x%02x is not supported", s.blockStyle);
            return false;
        }
        const int needed = q.style == 1 ? 1 : 3 * s.levels + 1;
        if (q.stepCount < needed) {
            reportError(getPos(), "JPX quantisation: %d step sizes for %d levels", q.stepCount, s.levels);
            return false;
        }
        const uint32_t xs = uint32_t(m_xSep[size_t(c)]), ys = uint32_t(m_ySep[size_t(c)]);
        comp.x0 = int((uint64_t(tile.x0) + xs - 1) / xs);
        comp.y0 = int((uint64_t(tile.y0) + ys - 1) / ys);
        comp.x1 = int((uint64_t(tile.x1) + xs - 1) / xs);
        comp.y1 = int((uint64_t(tile.y1) + ys - 1) / ys);
        comp.resolutions.assign(size_t(s.levels + 1), Resolution());
        for (int r = 0; r <= s.levels; ++r) {
            Resolution& res = comp.resolutions[size_t(r)];
            const int n = s.levels - r;
            res.x0 = int(ceilShift(comp.x0, n));
            res.y0 = int(ceilShift(comp.y0, n));
            res.x1 = int(ceilShift(comp.x1, n));
            res.y1 = int(ceilShift(comp.y1, n));
            const int ppx = s.precincts[r] & 15;
            const int ppy = s.precincts[r] >> 4;
            if (res.x1 > res.x0 && res.y1 > res.y0 &&
                (ceilShift(res.x1, ppx) - floorShift(res.x0, ppx) > 1 ||
                 ceilShift(res.y1, ppy) - floorShift(res.y0, ppy) > 1)) {
                reportError(getPos(), "JPX resolution of several precincts is not supported");
                return false;
            }
            res.bandCount = r == 0 ? 1 : 3;
            for (int b = 0; b < res.bandCount; ++b) {
                if (!setUpSubBand(comp, c, r, b, ppx, ppy, res.bands[b]))
                    return false;
            }
        }
    }
    if (mct) {
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
template <typename Tree>
bool tagValueBelow(Tree& tree, int x, int y, int threshold, HeaderBits& in) {
    int path[40];
    int depth = 0;
    for (size_t level = 0; level < tree.levelStart.size(); ++level) {
        path[depth++] = tree.levelStart[level] + (y >> level) * tree.levelWidth[level] + (x >> level);
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
int readPassCount(HeaderBits& in) {
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

bool Jpeg2000Decoder::readPacket(Tile& tile, TileComponent& comp, int resolution, int layer, uint32_t& pos) {
    Resolution& res = comp.resolutions[size_t(resolution)];
    const uint8_t* data = tile.data.data();
    const uint32_t end = uint32_t(tile.data.size());
    if (tile.sop && end - pos >= 6 && (uint32_t(data[pos]) << 8 | data[pos + 1]) == uint32_t(kMarkerSop))
        pos += 6;
    HeaderBits in{data, pos, end};
    struct Contribution {
        CodeBlock* block;
        uint32_t length;
        int passes;
    };
    std::vector<Contribution> contributions;
    if (in.bit()) {
        for (int b = 0; b < res.bandCount && !in.failed; ++b) {
            SubBand& band = res.bands[b];
            for (int j = 0; j < band.blocksHigh && !in.failed; ++j) {
                for (int i = 0; i < band.blocksWide && !in.failed; ++i) {
                    CodeBlock& block = band.blocks[size_t(j) * size_t(band.blocksWide) + size_t(i)];
                    const bool first = !block.included;
                    const bool included =
                        first ? tagValueBelow(band.inclusion, i, j, layer + 1, in) : in.bit() != 0;
                    if (in.failed || !included)
                        continue;
                    if (first) {
                        // The number of missing bit planes, decoded threshold by
                        // threshold; no more planes than a band has.
                        int threshold = 1;
                        while (!tagValueBelow(band.zeroPlanes, i, j, threshold, in) && !in.failed &&
                               threshold <= kMaxBitPlanes + 1)
                            ++threshold;
                        if (threshold > kMaxBitPlanes + 1) {
                            reportError(getPos(), "JPX code-block with too many missing bit planes");
                            return false;
                        }
                        block.zeroPlanes =
                            band.zeroPlanes.nodes[size_t(j) * size_t(band.blocksWide) + size_t(i)].value;
                        block.included = true;
                    }
                    const int passes = readPassCount(in);
                    while (in.bit() && !in.failed) {
                        if (++block.lengthBits > kMaxLengthBits) {
                            reportError(getPos(), "JPX code-block length of too many bits");
                            return false;
                        }
                    }
                    const int bits = block.lengthBits + floorLog2(passes);
                    if (bits > kMaxLengthBits) {
                        reportError(getPos(), "JPX code-block length of too many bits");
                        return false;
                    }
                    const uint32_t length = in.bits(bits);
                    contributions.push_back({&block, length, passes});
                }
            }
        }
    }
    in.align();
    if (in.failed) {
        reportError(getPos(), "JPX packet header cut short");
        return false;
    }
    pos = in.pos;
    if (tile.eph && end - pos >= 2 && (uint32_t(data[pos]) << 8 | data[pos + 1]) == uint32_t(kMarkerEph))
        pos += 2;
    for (const Contribution& part : contributions) {
        if (part.length > end - pos) {
            reportError(getPos(), "JPX code-block data cut short");
            return false;
        }
        if (part.length > 0)
            part.block->segments.push_back({pos, part.length});
        part.block->passes += part.passes;
        pos += part.length;
    }
    return true;
}

void Jpeg2000Decoder::readPackets(Tile& tile) {
    // The packets: one per component, resolution and layer (each resolution
    // is one precinct). An empty resolution has no precinct and so no
    // packet; leaving those out first keeps the loops to real packets, each
    // of which takes at least a byte.
    struct Place {
        int component;
        int resolution;
    };
    std::vector<Place> byResolution;  // resolution, then component
    int maxResolutions = 0;
    for (const TileComponent& comp : tile.comps)
        maxResolutions = std::max(maxResolutions, comp.style.levels + 1);
    for (int r = 0; r < maxResolutions; ++r) {
        for (int c = 0; c < m_componentCount; ++c) {
            const TileComponent& comp = tile.comps[size_t(c)];
            if (r > comp.style.levels)
                continue;
            const Resolution& res = comp.resolutions[size_t(r)];
            if (res.x1 > res.x0 && res.y1 > res.y0)
                byResolution.push_back({c, r});
        }
    }
    if (byResolution.empty())
        return;
    std::vector<Place> byComponent = byResolution;  // component, then resolution
    std::stable_sort(byComponent.begin(), byComponent.end(),
                     [](const Place& a, const Place& b) { return a.component < b.component; });

    const int layers = tile.layers;
    uint32_t pos = 0;
    bool stopped = false;
    auto packet = [&](const Place& place, int layer) {
        if (stopped)
            return;
        if (pos >= tile.data.size()) {
            // Data cut short: the packets that arrived are decoded.
            reportError(getPos(), "JPX tile data ends before its last packet");
            stopped = true;
            return;
        }
        if (!readPacket(tile, tile.comps[size_t(place.component)], place.resolution, layer, pos))
            stopped = true;
    };
    switch (tile.progression) {
        case 0:  // layer, resolution, component, position
            for (int l = 0; l < layers && !stopped; ++l)
                for (const Place& place : byResolution)
                    packet(place, l);
            break;
        case 1:  // resolution, layer, component, position
            for (size_t first = 0; first < byResolution.size() && !stopped;) {
                size_t last = first;
                while (last < byResolution.size() &&
                       byResolution[last].resolution == byResolution[first].resolution)
                    ++last;
                for (int l = 0; l < layers && !stopped; ++l)
                    for (size_t i = first; i < last; ++i)
                        packet(byResolution[i], l);
                first = last;
            }
            break;
        case 2:  // resolution, position, component, layer
            for (const Place& place : byResolution)
                for (int l = 0; l < layers && !stopped; ++l)
                    packet(place, l);
            break;
        default:  // position, component, resolution, layer (and CPRL alike)
            for (const Place& place : byComponent)
                for (int l = 0; l < layers && !stopped; ++l)
                    packet(place, l);
            break;
    }
}

}  // namespace rendova
