// The JPEG 2000 decoder's codestream: the main header, tile-part headers and
// the gathering of each tile's packet data (T.800 Annex A).
#include <algorithm>
#include <cstring>

#include "base/Numeric.h"
#include "engine/core/BigEndian.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/Jpeg2000Decoder.h"

namespace rendova {

namespace {

constexpr int kMarkerSoc = 0xFF4F;
constexpr int kMarkerSot = 0xFF90;
constexpr int kMarkerSod = 0xFF93;
constexpr int kMarkerEoc = 0xFFD9;
constexpr int kMarkerSiz = 0xFF51;
constexpr int kMarkerCod = 0xFF52;
constexpr int kMarkerCoc = 0xFF53;
constexpr int kMarkerTlm = 0xFF55;
constexpr int kMarkerPlm = 0xFF57;
constexpr int kMarkerPlt = 0xFF58;
constexpr int kMarkerQcd = 0xFF5C;
constexpr int kMarkerQcc = 0xFF5D;
constexpr int kMarkerRgn = 0xFF5E;
constexpr int kMarkerPoc = 0xFF5F;
constexpr int kMarkerPpm = 0xFF60;
constexpr int kMarkerPpt = 0xFF61;
constexpr int kMarkerCrg = 0xFF63;
constexpr int kMarkerCom = 0xFF64;

// Whether a marker has no length field.
bool isBareMarker(int marker) {
    return (marker >= 0xFF30 && marker <= 0xFF3F) || marker == kMarkerSoc || marker == 0xFF91 ||
           marker == kMarkerSod || marker == kMarkerEoc;
}

// The next marker at or after pos: 0xFF fill bytes and stray 0x00 after a
// 0xFF are passed over. -1 at the end.
int nextMarker(const uint8_t* data, uint32_t& pos, uint32_t end) {
    while (pos < end) {
        if (data[pos] != 0xFF) {
            ++pos;
            continue;
        }
        while (pos < end && data[pos] == 0xFF)
            ++pos;
        if (pos == end)
            return -1;
        const int code = data[pos++];
        if (code != 0)
            return 0xFF00 | code;
    }
    return -1;
}

}  // namespace

// The marker segments of the main header (tile null), up to its first SOT,
// or of one tile-part header, up to its SOD; pos is left just past that
// marker.
bool Jpeg2000Decoder::readHeaderSegments(uint32_t& pos, uint32_t end, Tile* tile) {
    const uint8_t* data = m_input.data();
    const bool mainHeader = tile == nullptr;
    for (;;) {
        const int marker = nextMarker(data, pos, end);
        if (marker == -1 || (mainHeader && marker == kMarkerEoc)) {
            reportError(getPos(),
                        mainHeader ? "JPX codestream without tiles" : "JPX tile-part header without SOD");
            return false;
        }
        if (marker == (mainHeader ? kMarkerSot : kMarkerSod))
            return true;
        if (isBareMarker(marker))
            continue;
        if (end - pos < 2 || readBigEndian16(data + pos) < 2 || readBigEndian16(data + pos) > end - pos) {
            reportError(getPos(), "JPX marker segment cut short");
            return false;
        }
        const uint32_t segmentEnd = pos + readBigEndian16(data + pos);
        if (!readMarkerSegment(marker, pos + 2, segmentEnd, tile))
            return false;
        pos = segmentEnd;
    }
}

// One marker segment of a header. The two headers take the same segments
// but for SIZ (main only) and the packet-header and length markers each has
// of its own.
bool Jpeg2000Decoder::readMarkerSegment(int marker, uint32_t body, uint32_t end, Tile* tile) {
    const bool mainHeader = tile == nullptr;
    switch (marker) {
        case kMarkerSiz:
            if (mainHeader)
                return readSiz(body, end);
            break;
        case kMarkerCod:
            return readCod(body, end, tile);
        case kMarkerCoc:
            return readCoc(body, end, tile);
        case kMarkerQcd:
            return readQcd(body, end, tile);
        case kMarkerQcc:
            return readQcc(body, end, tile);
        case kMarkerPoc:
            return readPoc(body, end, tile);
        case kMarkerPpm:
        case kMarkerPpt:
            if ((marker == kMarkerPpm) == mainHeader)
                return readPackedHeaders(body, end, tile);
            break;
        case kMarkerRgn:
            reportError(getPos(), "JPX region of interest ignored");
            return true;
        case kMarkerCom:
            return true;
        case kMarkerTlm:
        case kMarkerPlm:
        case kMarkerCrg:
            if (mainHeader)
                return true;  // lengths and registration: nothing the samples need
            break;
        case kMarkerPlt:
            if (!mainHeader)
                return true;
            break;
        default:
            break;
    }
    reportError(getPos(), "JPX unknown marker 0x%04x in %s", marker,
                mainHeader ? "the main header" : "a tile-part header");
    return true;
}

bool Jpeg2000Decoder::readCodestream(uint32_t begin, uint32_t end) {
    const uint8_t* data = m_input.data();
    uint32_t pos = begin;
    if (!readHeaderSegments(pos, end, nullptr))
        return false;
    if (!m_haveSiz || !m_haveCod || !m_haveQcd) {
        reportError(getPos(), "JPX tile before the %s marker",
                    !m_haveSiz   ? "SIZ"
                    : !m_haveCod ? "COD"
                                 : "QCD");
        return false;
    }
    if (m_havePpm && !splitMainPackedHeaders())
        return false;
    // pos is just past an SOT marker. A tile-part that cannot be read ends
    // the codestream; the tiles before it are kept (none read is no image).
    for (int read = 0;; ++read) {
        if (!readTilePart(pos, end))
            return read > 0;
        const int marker = nextMarker(data, pos, end);
        if (marker == kMarkerSot)
            continue;
        if (marker != kMarkerEoc)
            reportError(getPos(), "JPX codestream does not end with EOC");
        break;
    }
    return true;
}

bool Jpeg2000Decoder::readSiz(uint32_t pos, uint32_t end) {
    const uint8_t* p = m_input.data() + pos;
    if (m_haveSiz) {
        reportError(getPos(), "JPX second SIZ marker");
        return false;
    }
    if (end - pos < 36) {
        reportError(getPos(), "JPX SIZ marker cut short");
        return false;
    }
    m_xSize = readBigEndian32(p + 2);
    m_ySize = readBigEndian32(p + 6);
    m_xOffset = readBigEndian32(p + 10);
    m_yOffset = readBigEndian32(p + 14);
    m_tileWidth = readBigEndian32(p + 18);
    m_tileHeight = readBigEndian32(p + 22);
    m_tileXOffset = readBigEndian32(p + 26);
    m_tileYOffset = readBigEndian32(p + 30);
    const uint32_t count = readBigEndian16(p + 34);
    if (m_xSize <= m_xOffset || m_ySize <= m_yOffset || m_tileWidth == 0 || m_tileHeight == 0 ||
        m_tileXOffset > m_xOffset || m_tileYOffset > m_yOffset ||
        uint64_t(m_tileXOffset) + m_tileWidth <= m_xOffset ||
        uint64_t(m_tileYOffset) + m_tileHeight <= m_yOffset || m_xSize > uint32_t(INT32_MAX) ||
        m_ySize > uint32_t(INT32_MAX)) {
        reportError(getPos(), "JPX SIZ marker: bad image or tile size");
        return false;
    }
    if (count == 0 || count > uint32_t(kMaxComponents)) {
        reportError(getPos(), "JPX SIZ marker: bad component count %u", count);
        return false;
    }
    if (end - pos < 36 + 3 * count) {
        reportError(getPos(), "JPX SIZ marker cut short");
        return false;
    }
    if (m_haveImageHeader && uint32_t(m_boxComponents) != count) {
        reportError(getPos(), "JPX SIZ component count differs from the image header's");
        return false;
    }
    // A codestream of another size than its file's header says is not that
    // file's image: its rows would be drawn as garbage (or a tall image
    // decoded for nothing).
    if (m_haveImageHeader &&
        (int64_t(m_xSize) - m_xOffset != m_boxWidth || int64_t(m_ySize) - m_yOffset != m_boxHeight)) {
        reportError(getPos(), "JPX SIZ image size %ux%u differs from the image header's %dx%d",
                    m_xSize - m_xOffset, m_ySize - m_yOffset, m_boxWidth, m_boxHeight);
        return false;
    }
    const uint64_t across = (uint64_t(m_xSize) - m_tileXOffset + m_tileWidth - 1) / m_tileWidth;
    const uint64_t down = (uint64_t(m_ySize) - m_tileYOffset + m_tileHeight - 1) / m_tileHeight;
    if (across * down > uint64_t(kMaxTiles)) {
        reportError(getPos(), "JPX SIZ marker: too many tiles");
        return false;
    }
    m_tilesAcross = int(across);
    m_tilesDown = int(down);
    m_componentCount = int(count);
    m_signed.assign(count, false);
    m_precision.assign(count, 0);
    m_xSep.assign(count, 1);
    m_ySep.assign(count, 1);
    int64_t samples = 0;
    for (uint32_t c = 0; c < count; ++c) {
        const uint8_t* q = p + 36 + 3 * c;
        m_signed[c] = (q[0] & 0x80) != 0;
        m_precision[c] = (q[0] & 0x7F) + 1;
        m_xSep[c] = q[1];
        m_ySep[c] = q[2];
        if (m_precision[c] > kMaxPrecision || m_xSep[c] == 0 || m_ySep[c] == 0) {
            reportError(getPos(), "JPX SIZ marker: bad precision or separation of component %u", c);
            return false;
        }
        // Tiles partition the image, so their components together hold
        // about as many samples as the image's components (one more per
        // tile edge at most).
        const int64_t w = int64_t(ceilDiv(m_xSize, uint32_t(m_xSep[c]))) -
                          ceilDiv(m_xOffset, uint32_t(m_xSep[c])) + int64_t(across);
        const int64_t h = int64_t(ceilDiv(m_ySize, uint32_t(m_ySep[c]))) -
                          ceilDiv(m_yOffset, uint32_t(m_ySep[c])) + int64_t(down);
        samples += w * h;
        if (samples > kMaxSamples) {
            reportError(getPos(), "JPX image too large");
            return false;
        }
    }
    // The output keeps a row of the full width for every component, which
    // sample separation does not make smaller.
    if (int64_t(m_xSize - m_xOffset) * count > kMaxSamples) {
        reportError(getPos(), "JPX image too wide");
        return false;
    }
    m_styles.assign(count, CodingStyle());
    m_quants.assign(count, Quantization());
    m_cocSeen.assign(count, false);
    m_qccSeen.assign(count, false);
    m_tiles.clear();
    m_tiles.resize(size_t(across * down));
    m_haveSiz = true;
    return true;
}

bool Jpeg2000Decoder::readStyleParameters(uint32_t& pos, uint32_t end, bool precinctsGiven,
                                          CodingStyle& style) {
    const uint8_t* p = m_input.data() + pos;
    if (end - pos < 5) {
        reportError(getPos(), "JPX coding style marker cut short");
        return false;
    }
    CodingStyle s;
    s.levels = p[0];
    s.blockWidthExp = p[1] + 2;
    s.blockHeightExp = p[2] + 2;
    s.blockStyle = p[3];
    s.wavelet = p[4];
    if (s.levels > kMaxLevels || s.blockWidthExp > 10 || s.blockHeightExp > 10 ||
        s.blockWidthExp + s.blockHeightExp > 12 || s.wavelet > 1) {
        reportError(getPos(), "JPX coding style: bad levels, code-block size or wavelet");
        return false;
    }
    // The two high style bits name block coders of later parts of the
    // standard, whose data these passes would read as noise.
    if (s.blockStyle & ~0x3F) {
        reportError(getPos(), "JPX code-block style 0x%02x is not decoded", s.blockStyle);
        return false;
    }
    pos += 5;
    for (int r = 0; r <= s.levels; ++r) {
        if (!precinctsGiven) {
            s.precincts[r] = 0xFF;  // 2^15 each way
            continue;
        }
        if (pos >= end) {
            reportError(getPos(), "JPX coding style marker cut short");
            return false;
        }
        s.precincts[r] = m_input[pos++];
    }
    style = s;
    return true;
}

bool Jpeg2000Decoder::readCod(uint32_t pos, uint32_t end, Tile* tile) {
    if (!m_haveSiz) {
        reportError(getPos(), "JPX COD marker before SIZ");
        return false;
    }
    if (end - pos < 5) {
        reportError(getPos(), "JPX COD marker cut short");
        return false;
    }
    const uint8_t* p = m_input.data() + pos;
    const int flags = p[0];
    const int progression = p[1];
    const int layers = int(readBigEndian16(p + 2));
    const int transform = p[4];
    if (progression > 4 || layers == 0) {
        reportError(getPos(), "JPX COD marker: bad progression order or layer count");
        return false;
    }
    pos += 5;
    CodingStyle style;
    if (!readStyleParameters(pos, end, (flags & 1) != 0, style))
        return false;
    if (tile) {
        tile->progression = progression;
        tile->layers = layers;
        tile->transform = transform;
        tile->sop = (flags & 2) != 0;
        tile->eph = (flags & 4) != 0;
        for (TileComponent& comp : tile->comps) {
            if (!comp.styleFromTile)
                comp.style = style;
        }
    } else {
        m_progression = progression;
        m_layers = layers;
        m_transform = transform;
        m_sop = (flags & 2) != 0;
        m_eph = (flags & 4) != 0;
        for (int c = 0; c < m_componentCount; ++c) {
            if (!m_cocSeen[size_t(c)])
                m_styles[size_t(c)] = style;
        }
        m_haveCod = true;
    }
    return true;
}

namespace {

// The component index of COC and QCC: one byte for up to 256 components.
bool readComponentIndex(const uint8_t* data, uint32_t& pos, uint32_t end, int componentCount, int& index) {
    const uint32_t bytes = componentCount > 256 ? 2 : 1;
    if (end - pos < bytes)
        return false;
    index = int(bytes == 2 ? readBigEndian16(data + pos) : data[pos]);
    pos += bytes;
    return index < componentCount;
}

}  // namespace

bool Jpeg2000Decoder::readCoc(uint32_t pos, uint32_t end, Tile* tile) {
    int c = 0;
    if (!m_haveSiz || !readComponentIndex(m_input.data(), pos, end, m_componentCount, c) || pos >= end) {
        reportError(getPos(), "JPX COC marker: bad component");
        return false;
    }
    const int flags = m_input[pos++];
    CodingStyle style;
    if (!readStyleParameters(pos, end, (flags & 1) != 0, style))
        return false;
    if (tile) {
        tile->comps[size_t(c)].style = style;
        tile->comps[size_t(c)].styleFromTile = true;
    } else {
        m_styles[size_t(c)] = style;
        m_cocSeen[size_t(c)] = true;
    }
    return true;
}

bool Jpeg2000Decoder::readQuantParameters(uint32_t pos, uint32_t end, Quantization& quant) {
    const uint8_t* p = m_input.data() + pos;
    if (end - pos < 1) {
        reportError(getPos(), "JPX quantisation marker cut short");
        return false;
    }
    Quantization q;
    q.style = p[0] & 0x1F;
    q.guardBits = p[0] >> 5;
    const uint32_t rest = end - pos - 1;
    if (q.style == 0) {
        q.stepCount = int(std::min<uint32_t>(rest, 3 * kMaxLevels + 1));
        for (int i = 0; i < q.stepCount; ++i)
            q.steps[i] = uint16_t((p[1 + i] >> 3) << 11);
    } else if (q.style == 1 || q.style == 2) {
        q.stepCount = int(std::min<uint32_t>(rest / 2, 3 * kMaxLevels + 1));
        if (q.style == 1)
            q.stepCount = std::min(q.stepCount, 1);
        for (int i = 0; i < q.stepCount; ++i)
            q.steps[i] = uint16_t(readBigEndian16(p + 1 + 2 * i));
    } else {
        reportError(getPos(), "JPX unknown quantisation style %d", q.style);
        return false;
    }
    if (q.stepCount == 0) {
        reportError(getPos(), "JPX quantisation marker without step sizes");
        return false;
    }
    quant = q;
    return true;
}

bool Jpeg2000Decoder::readQcd(uint32_t pos, uint32_t end, Tile* tile) {
    if (!m_haveSiz) {
        reportError(getPos(), "JPX QCD marker before SIZ");
        return false;
    }
    Quantization quant;
    if (!readQuantParameters(pos, end, quant))
        return false;
    if (tile) {
        for (TileComponent& comp : tile->comps) {
            if (!comp.quantFromTile)
                comp.quant = quant;
        }
    } else {
        for (int c = 0; c < m_componentCount; ++c) {
            if (!m_qccSeen[size_t(c)])
                m_quants[size_t(c)] = quant;
        }
        m_haveQcd = true;
    }
    return true;
}

bool Jpeg2000Decoder::readQcc(uint32_t pos, uint32_t end, Tile* tile) {
    int c = 0;
    if (!m_haveSiz || !readComponentIndex(m_input.data(), pos, end, m_componentCount, c)) {
        reportError(getPos(), "JPX QCC marker: bad component");
        return false;
    }
    Quantization quant;
    if (!readQuantParameters(pos, end, quant))
        return false;
    if (tile) {
        tile->comps[size_t(c)].quant = quant;
        tile->comps[size_t(c)].quantFromTile = true;
    } else {
        m_quants[size_t(c)] = quant;
        m_qccSeen[size_t(c)] = true;
    }
    return true;
}

void Jpeg2000Decoder::startTile(Tile& tile, int index) {
    tile = Tile();
    const uint32_t across = uint32_t(index % m_tilesAcross);
    const uint32_t down = uint32_t(index / m_tilesAcross);
    tile.x0 = int(std::max<uint64_t>(m_tileXOffset + uint64_t(across) * m_tileWidth, m_xOffset));
    tile.y0 = int(std::max<uint64_t>(m_tileYOffset + uint64_t(down) * m_tileHeight, m_yOffset));
    // Grid coordinates are kept as ints: SIZ refuses grids past 2^31.
    tile.x1 = int(std::min<uint64_t>(m_tileXOffset + uint64_t(across + 1) * m_tileWidth, m_xSize));
    tile.y1 = int(std::min<uint64_t>(m_tileYOffset + uint64_t(down + 1) * m_tileHeight, m_ySize));
    tile.progression = m_progression;
    tile.layers = m_layers;
    tile.transform = m_transform;
    tile.sop = m_sop;
    tile.eph = m_eph;
    tile.comps.resize(size_t(m_componentCount));
    for (int c = 0; c < m_componentCount; ++c) {
        TileComponent& comp = tile.comps[size_t(c)];
        comp.style = m_styles[size_t(c)];
        comp.quant = m_quants[size_t(c)];
    }
}

bool Jpeg2000Decoder::readTilePart(uint32_t& pos, uint32_t end) {
    const uint8_t* data = m_input.data();
    const uint32_t start = pos - 2;  // the SOT marker
    if (end - pos < 10 || readBigEndian16(data + pos) != 10) {
        reportError(getPos(), "JPX SOT marker cut short");
        return false;
    }
    const uint32_t index = readBigEndian16(data + pos + 2);
    const uint32_t partLength = readBigEndian32(data + pos + 4);
    pos += 10;
    // A length of 0 is the last tile-part, which runs to the EOC marker.
    uint32_t partEnd = end;
    if (partLength == 0 && end - pos >= 2 && readBigEndian16(data + end - 2) == kMarkerEoc)
        partEnd = end - 2;
    if (partLength != 0) {
        if (partLength < 14 || partLength > end - start)
            reportError(getPos(), "JPX tile-part length past the data");
        else
            partEnd = start + partLength;
    }
    // The PPM data holds the packet headers of every tile-part in
    // codestream order, whatever tile it belongs to.
    const size_t part = m_tilePartsRead++;
    if (index >= m_tiles.size()) {
        reportError(getPos(), "JPX tile index outside the grid");
        pos = partEnd;
        return partLength != 0;
    }
    Tile& tile = m_tiles[index];
    if (!tile.seen) {
        startTile(tile, int(index));
        tile.seen = true;
    }
    if (!readHeaderSegments(pos, partEnd, &tile))
        return false;
    if (m_havePpm) {
        tile.packedHeaders = true;
        if (part < m_packedParts.size()) {
            const auto [offset, length] = m_packedParts[part];
            tile.headers.insert(tile.headers.end(), m_packedMain.begin() + offset,
                                m_packedMain.begin() + offset + length);
        } else {
            reportError(getPos(), "JPX PPM marker without the headers of tile-part %zu", part);
        }
    }
    tile.data.insert(tile.data.end(), data + pos, data + partEnd);
    pos = partEnd;
    return true;
}

// A POC marker: progression changes for every tile (main header) or for the
// tile (tile-part header), which then replace the main header's.
bool Jpeg2000Decoder::readPoc(uint32_t pos, uint32_t end, Tile* tile) {
    if (!m_haveSiz) {
        reportError(getPos(), "JPX POC marker before SIZ");
        return false;
    }
    const uint8_t* p = m_input.data() + pos;
    const bool wide = m_componentCount > 256;
    const uint32_t entry = wide ? 9 : 7;
    std::vector<ProgressionChange>& changes = tile ? tile->changes : m_changes;
    if (end == pos || (end - pos) % entry != 0 ||
        changes.size() + (end - pos) / entry > size_t(kMaxProgressionChanges)) {
        reportError(getPos(), "JPX POC marker of a wrong length");
        return false;
    }
    for (; pos < end; pos += entry, p += entry) {
        ProgressionChange change;
        change.resStart = p[0];
        change.compStart = int(wide ? readBigEndian16(p + 1) : p[1]);
        const uint8_t* q = p + (wide ? 3 : 2);
        change.layerEnd = int(readBigEndian16(q));
        change.resEnd = q[2];
        const uint32_t compEnd = wide ? readBigEndian16(q + 3) : q[3];
        // A component end of 0 stands for the largest count the field can
        // hold.
        change.compEnd = compEnd == 0 ? (wide ? 16384 : 256) : int(compEnd);
        change.order = q[wide ? 5 : 4];
        if (change.order > 4) {
            reportError(getPos(), "JPX POC marker: unknown progression order %d", change.order);
            return false;
        }
        changes.push_back(change);
    }
    return true;
}

bool Jpeg2000Decoder::readPackedHeaders(uint32_t pos, uint32_t end, Tile* tile) {
    if (end - pos < 1) {
        reportError(getPos(), "JPX packed packet headers cut short");
        return false;
    }
    // The index byte orders the segments; encoders write them in order,
    // which is the order kept here.
    ++pos;
    if (!tile) {
        m_havePpm = true;
        m_packedMain.insert(m_packedMain.end(), m_input.begin() + pos, m_input.begin() + end);
        return true;
    }
    if (m_havePpm) {
        reportError(getPos(), "JPX PPT marker in a codestream with PPM");
        return false;
    }
    tile->packedHeaders = true;
    tile->headers.insert(tile->headers.end(), m_input.begin() + pos, m_input.begin() + end);
    return true;
}

bool Jpeg2000Decoder::splitMainPackedHeaders() {
    const uint32_t size = uint32_t(m_packedMain.size());
    for (uint32_t pos = 0; pos < size;) {
        if (size - pos < 4) {
            reportError(getPos(), "JPX PPM marker cut short");
            break;
        }
        uint32_t length = readBigEndian32(m_packedMain.data() + pos);
        pos += 4;
        if (length > size - pos) {
            reportError(getPos(), "JPX PPM marker cut short");
            length = size - pos;
        }
        m_packedParts.emplace_back(pos, length);
        pos += length;
    }
    return true;
}

}  // namespace rendova
