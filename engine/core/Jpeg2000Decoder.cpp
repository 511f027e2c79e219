// The JPEG 2000 decoder's frame and output. Boxes are read in
// Jpeg2000Boxes.cpp, the codestream headers in Jpeg2000Headers.cpp, packets
// in Jpeg2000Packets.cpp and Jpeg2000Progression.cpp, code-blocks and
// transforms in Jpeg2000Transform.cpp and Jpeg2000CodeBlock.cpp.
#include "engine/core/Jpeg2000Decoder.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "base/Numeric.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/Memory.h"

namespace rendova {

Jpeg2000Decoder::Jpeg2000Decoder(RefPtr<DataStream> source) : DecoderStream(std::move(source)) {}

Jpeg2000Decoder::~Jpeg2000Decoder() = default;

void Jpeg2000Decoder::freeAll() {
    m_input = {};
    m_tiles = {};
    m_styles = {};
    m_quants = {};
    m_cocSeen = {};
    m_qccSeen = {};
    m_changes = {};
    m_havePpm = false;
    m_packedMain = {};
    m_packedParts = {};
    m_tilePartsRead = 0;
    m_progressionVisits = 0;
    m_paletteDepths = {};
    m_paletteValues = {};
    m_mappings = {};
    m_componentBits = {};
    m_opacity = {};
    m_signed = {};
    m_precision = {};
    m_xSep = {};
    m_ySep = {};
    m_line = {};
    m_columnTile = {};
    m_columnIndex = {};
    m_outComponents = {};
    m_linePos = m_lineEnd = nullptr;
    m_row = m_rows = 0;
    m_lineBuilt = false;
    m_builtRows = {};
}

void Jpeg2000Decoder::close() {
    freeAll();
    DecoderStream::close();
}

void Jpeg2000Decoder::reset() {
    source()->reset();
    freeAll();
    m_haveImageHeader = m_haveColour = m_havePalette = m_haveMapping = false;
    m_paletteEntries = 0;
    m_haveSiz = m_haveCod = m_haveQcd = false;
    m_boxComponents = m_boxBits = 0;
    m_colourSpace = m_colourMethod = m_colourPrecedence = 0;
    m_componentCount = 0;
    try {
        // The codestream is read in one piece: packets of one tile may be
        // split over tile-parts, and code-block data over layers.
        uint8_t buffer[4096];
        for (int n; (n = source()->getBlock(buffer, int(sizeof buffer))) > 0;)
            m_input.insert(m_input.end(), buffer, buffer + n);
        if (!decode()) {
            freeAll();
            return;
        }
        m_input = {};
    } catch (const std::bad_alloc&) {
        freeAll();
        throw MemoryException();
    }
}

bool Jpeg2000Decoder::decode() {
    if (m_input.size() >= UINT32_MAX) {
        reportError(getPos(), "JPX stream too large");
        return false;
    }
    const uint32_t size = uint32_t(m_input.size());
    if (size == 0) {
        reportError(getPos(), "JPX stream is empty");
        return false;
    }
    bool ok;
    if (m_input[0] == 0xFF) {
        reportError(getPos(), "JPX stream is a bare codestream without file boxes");
        ok = readCodestream(0, size);
    } else {
        ok = readBoxes(0, size, 0);
        if (ok && !m_haveSiz) {
            reportError(getPos(), "JPX stream without a codestream box");
            ok = false;
        }
    }
    if (!ok || !mostTilesPresent() || !decodeTiles())
        return false;
    // With a colour space from the image dictionary the samples are the
    // indices that it maps; otherwise the palette gives the colours.
    if (m_havePalette && !imageGivesColourSpace() && !applyPalette())
        return false;
    return prepareOutput();
}

bool Jpeg2000Decoder::mostTilesPresent() {
    // Tiles without data decode to flat grey; an image that is mostly such
    // tiles (a damaged stream that lost all but one) shows nothing of its
    // own, and drawing nothing is what it shows.
    uint64_t present = 0;
    for (const Tile& tile : m_tiles) {
        if (tile.seen)
            present += uint64_t(tile.x1 - tile.x0) * uint64_t(tile.y1 - tile.y0);
    }
    const uint64_t area = uint64_t(m_xSize - m_xOffset) * uint64_t(m_ySize - m_yOffset);
    if (present * 2 >= area)
        return true;
    reportError(getPos(), "JPX image mostly absent: its tiles hold %llu of %llu samples",
                static_cast<unsigned long long>(present), static_cast<unsigned long long>(area));
    return false;
}

bool Jpeg2000Decoder::decodeTiles() {
    for (size_t i = 0; i < m_tiles.size(); ++i) {
        Tile& tile = m_tiles[i];
        if (tile.seen) {
            if (!setUpTile(tile))
                return false;
            readPackets(tile);
        } else {
            // A tile without data gets the samples of zero coefficients.
            startTile(tile, int(i));
            setUpComponentBounds(tile);
        }
        if (!decodeTile(tile))
            return false;
        // Only the samples are needed from here on.
        tile.data = {};
        tile.headers = {};
        for (TileComponent& comp : tile.comps)
            comp.resolutions = {};
    }
    return true;
}

bool Jpeg2000Decoder::prepareOutput() {
    // Opacity channels are left out: the image code knows only colour
    // channels, and a fourth sample per pixel would shear an RGB image.
    for (int c = 0; c < m_componentCount; ++c) {
        if (c >= int(m_opacity.size()) || !m_opacity[size_t(c)])
            m_outComponents.push_back(c);
    }
    if (m_outComponents.empty()) {
        for (int c = 0; c < m_componentCount; ++c)
            m_outComponents.push_back(c);
    }
    m_outBits = 0;
    for (int c : m_outComponents)
        m_outBits += m_precision[size_t(c)];
    const uint32_t width = m_xSize - m_xOffset;
    const int64_t lineBytes = (int64_t(width) * m_outBits + 7) / 8;
    if (lineBytes > INT32_MAX) {
        reportError(getPos(), "JPX image rows too long");
        return false;
    }
    m_line.assign(size_t(lineBytes), 0);
    m_columnTile.resize(width);
    m_columnIndex.assign(size_t(m_componentCount), std::vector<int>(width));
    for (uint32_t i = 0; i < width; ++i) {
        const uint32_t x = m_xOffset + i;
        const uint32_t across = (x - m_tileXOffset) / m_tileWidth;
        m_columnTile[i] = int(across);
        const Tile& tile = m_tiles[across];
        for (int c = 0; c < m_componentCount; ++c) {
            const TileComponent& comp = tile.comps[size_t(c)];
            // The sample at or after the column on the component's grid; at
            // a tile's last column that can be one past its last sample.
            const int index = int(ceilDiv(x, uint32_t(m_xSep[size_t(c)]))) - comp.x0;
            m_columnIndex[size_t(c)][i] = std::clamp(index, 0, std::max(comp.width() - 1, 0));
        }
    }
    m_rows = int(m_ySize - m_yOffset);
    m_row = 0;
    m_linePos = m_lineEnd = m_line.data();
    return true;
}

// --- output ---

bool Jpeg2000Decoder::nextLine() {
    if (m_row >= m_rows)
        return false;
    const uint32_t y = m_yOffset + uint32_t(m_row);
    const int down = int((y - m_tileYOffset) / m_tileHeight);
    const Tile* tileRow = m_tiles.data() + size_t(down) * size_t(m_tilesAcross);
    const int width = int(m_columnTile.size());
    const int count = int(m_outComponents.size());
    // Per component, the sample row within the tiles of this tile row.
    int rowIndex[kMaxComponents];
    for (int c = 0; c < m_componentCount; ++c) {
        const TileComponent& comp = tileRow->comps[size_t(c)];
        const int index = int(ceilDiv(y, uint32_t(m_ySep[size_t(c)]))) - comp.y0;
        rowIndex[c] = std::clamp(index, 0, std::max(comp.height() - 1, 0));
    }
    // Rows of subsampled components repeat: a row that reads the same
    // sample rows as the one before is that row again.
    bool same = m_lineBuilt && down == m_builtTileRow;
    for (int c = 0; c < m_componentCount && same; ++c)
        same = rowIndex[c] == m_builtRows[size_t(c)];
    if (same) {
        ++m_row;
        m_linePos = m_line.data();
        m_lineEnd = m_line.data() + m_builtLength;
        return m_lineEnd != m_linePos;
    }
    m_lineBuilt = true;
    m_builtTileRow = down;
    m_builtRows.assign(rowIndex, rowIndex + m_componentCount);
    uint8_t* out = m_line.data();
    bool allBytes = true;
    for (int c : m_outComponents)
        allBytes = allBytes && m_precision[size_t(c)] == 8;
    if (allBytes) {
        // Tile by tile and component by component, so that the inner loop
        // only copies.
        for (int first = 0; first < width;) {
            int last = first + 1;
            while (last < width && m_columnTile[size_t(last)] == m_columnTile[size_t(first)])
                ++last;
            const Tile& tile = tileRow[m_columnTile[size_t(first)]];
            for (int k = 0; k < count; ++k) {
                const int c = m_outComponents[size_t(k)];
                const TileComponent& comp = tile.comps[size_t(c)];
                uint8_t* o = out + size_t(first) * size_t(count) + size_t(k);
                if (comp.samples.empty()) {
                    for (int i = first; i < last; ++i, o += count)
                        *o = uint8_t(comp.fill);
                    continue;
                }
                const int32_t* row = comp.samples.data() + size_t(rowIndex[c]) * size_t(comp.width());
                const int* index = m_columnIndex[size_t(c)].data();
                if (index[last - 1] - index[first] == last - 1 - first) {
                    // Columns one sample apart (no subsampling): a plain copy.
                    const int32_t* from = row + index[first];
                    for (int i = 0; i < last - first; ++i, o += count)
                        *o = uint8_t(from[i]);
                    continue;
                }
                for (int i = first; i < last; ++i, o += count)
                    *o = uint8_t(row[index[i]]);
            }
            first = last;
        }
        out += size_t(width) * size_t(count);
    } else {
        uint64_t bits = 0;
        int bitCount = 0;
        for (int i = 0; i < width; ++i) {
            const Tile& tile = tileRow[m_columnTile[size_t(i)]];
            for (int k = 0; k < count; ++k) {
                const int c = m_outComponents[size_t(k)];
                const TileComponent& comp = tile.comps[size_t(c)];
                const int precision = m_precision[size_t(c)];
                const uint32_t v = comp.samples.empty()
                                       ? uint32_t(comp.fill)
                                       : uint32_t(comp.samples[size_t(rowIndex[c]) * size_t(comp.width()) +
                                                               size_t(m_columnIndex[size_t(c)][size_t(i)])]);
                bits = bits << precision | (v & ((uint64_t(1) << precision) - 1));
                bitCount += precision;
                while (bitCount >= 8) {
                    bitCount -= 8;
                    *out++ = uint8_t(bits >> bitCount);
                }
            }
        }
        // Each row starts on a byte boundary.
        if (bitCount > 0)
            *out++ = uint8_t(bits << (8 - bitCount));
    }
    ++m_row;
    m_linePos = m_line.data();
    m_lineEnd = out;
    m_builtLength = size_t(out - m_line.data());
    return m_lineEnd != m_linePos;
}

int Jpeg2000Decoder::getBlock(uint8_t* buffer, int size) {
    int n = 0;
    while (n < size) {
        if (m_linePos == m_lineEnd && !nextLine())
            break;
        const int count = std::min(int(m_lineEnd - m_linePos), size - n);
        std::memcpy(buffer + n, m_linePos, size_t(count));
        m_linePos += count;
        n += count;
    }
    return n;
}

}  // namespace rendova
