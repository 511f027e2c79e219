// The DCT decoder's entropy-coded data: the bit reader, Huffman decoding,
// sequential and progressive blocks (T.81 F.2 and G.1.2), restart intervals
// and the order of blocks in interleaved and single-component scans.
#include <algorithm>
#include <cstring>

#include "engine/core/ErrorReport.h"
#include "engine/core/JpegDecoder.h"

namespace rendova {

namespace {

constexpr int kMarkerRst0 = 0xD0;
// Magnitude categories above 15 do not occur with 8-bit samples, and more
// bits than that do not fit a coefficient.
constexpr int kMaxCategory = 15;
// Successive approximation shifts a coefficient by at most 13 bits (T.81
// B.2.3, for 8-bit samples).
constexpr int kMaxApproxBit = 13;

}  // namespace

void JpegDecoder::resetBits() {
    m_bitBuffer = 0;
    m_bitCount = 0;
    m_padBits = 0;
    m_inputStopped = false;
}

// Keeps at least 57 bits in the buffer. Bytes FF 00 stand for FF; any other
// byte after FF (and fill bytes FF) is a marker, which ends the data of the
// scan or of the restart interval: its code is kept for readMarker, and zero
// bits follow in the buffer. ranPastData tells when such padding was used.
void JpegDecoder::fillBits() {
    DataStream* src = source();
    while (m_bitCount <= 56) {
        int byte = -1;
        if (!m_inputStopped) {
            byte = src->getChar();
            if (byte == 0xFF) {
                int next = src->peekChar();
                while (next == 0xFF) {
                    src->getChar();
                    next = src->peekChar();
                }
                if (next == 0) {
                    src->getChar();
                } else {
                    if (next >= 0) {
                        src->getChar();
                        m_pendingMarker = next;
                    }
                    byte = -1;
                }
            }
            if (byte < 0)
                m_inputStopped = true;
        }
        if (byte < 0) {
            byte = 0;
            m_padBits += 8;
        }
        m_bitBuffer |= uint64_t(byte) << (56 - m_bitCount);
        m_bitCount += 8;
    }
}

int JpegDecoder::decodeLongSymbol(const HuffmanTable& table) {
    const int bits = int(m_bitBuffer >> 48);
    for (int length = kLookupBits + 1; length <= 16; ++length) {
        const int offset = (bits >> (16 - length)) - table.firstCode[length];
        if (offset >= 0 && offset < table.count[length]) {
            m_bitBuffer <<= length;
            m_bitCount -= length;
            return table.symbols[table.firstIndex[length] + offset];
        }
    }
    reportError(getPos(), "Bad Huffman code in JPEG data");
    return -1;
}

bool JpegDecoder::startScan() {
    if (m_progressive) {
        const bool dcScan = m_spectralStart == 0;
        // DC and AC terms never share a progressive scan, and AC scans hold
        // one component (T.81 G.1.1.1.1).
        if ((dcScan && m_spectralEnd != 0) || (!dcScan && m_scanCount != 1) || m_approxHigh > kMaxApproxBit ||
            m_approxLow > kMaxApproxBit) {
            reportError(getPos(), "Bad progressive JPEG scan (%d to %d, bits %d %d)", m_spectralStart,
                        m_spectralEnd, m_approxHigh, m_approxLow);
            return false;
        }
    }
    for (int i = 0; i < m_scanCount; ++i) {
        const Component& c = m_components[m_scanOrder[i]];
        const bool needDc = !m_progressive || (m_spectralStart == 0 && m_approxHigh == 0);
        const bool needAc = !m_progressive || m_spectralStart > 0;
        if ((needDc && !m_dcTables[c.dcTable].defined) || (needAc && !m_acTables[c.acTable].defined)) {
            reportError(getPos(), "JPEG scan uses an undefined Huffman table");
            return false;
        }
    }
    for (Component& c : m_components)
        c.prevDc = 0;
    m_eobRun = 0;
    m_restartsLeft = m_restartInterval;
    m_nextRestart = kMarkerRst0;
    resetBits();
    return true;
}

bool JpegDecoder::processRestart() {
    const int marker = readMarker();
    if (marker != m_nextRestart) {
        reportError(getPos(), "JPEG restart marker %02x where %02x was expected", marker, m_nextRestart);
        return false;
    }
    m_nextRestart = kMarkerRst0 + ((m_nextRestart + 1) & 7);
    for (Component& c : m_components)
        c.prevDc = 0;
    m_eobRun = 0;
    resetBits();
    return true;
}

// Inlined: every block of every scan but AC ones starts here.
__attribute__((always_inline)) inline bool JpegDecoder::decodeDcDifference(Component& c,
                                                                           const HuffmanTable& table) {
    const int s = decodeSymbol(table);
    if (s < 0)
        return false;
    if (s > kMaxCategory) {
        reportError(getPos(), "Bad JPEG DC magnitude category %d", s);
        return false;
    }
    // The prediction wraps like the 16-bit coefficient it becomes.
    c.prevDc = int16_t(c.prevDc + (s ? receiveExtend(s) : 0));
    return true;
}

// Inlined into the streamed row's loop, where most baseline data is read.
__attribute__((always_inline)) inline int JpegDecoder::decodeSequentialBlock(Component& c,
                                                                             const HuffmanTable& dc,
                                                                             const HuffmanTable& ac,
                                                                             int16_t* block) {
    if (!decodeDcDifference(c, dc))
        return -1;
    block[0] = int16_t(c.prevDc);

    int last = 0;
    for (int k = 1; k < 64;) {
        // A short code and its magnitude at once: the same bits taken and
        // the same checks as the steps below.
        if (m_bitCount < 16)
            fillBits();
        const int32_t fast = ac.fastAc[m_bitBuffer >> (64 - kLookupBits)];
        if (fast) {
            const int used = fast & 0xFF;
            m_bitBuffer <<= used;
            m_bitCount -= used;
            k += (fast >> 8) & 0x0F;
            if (k > 63) {
                reportError(getPos(), "JPEG AC run past the end of a block");
                break;
            }
            last = k;
            block[kZigzag[k++]] = int16_t(fast >> 16);
            continue;
        }
        const int symbol = decodeSymbol(ac);
        if (symbol < 0)
            return -1;
        const int run = symbol >> 4;
        const int size = symbol & 0x0F;
        if (size == 0) {
            if (run != 15)
                break;  // end of block
            k += 16;    // sixteen zeros; a fourth in a row ends the block
            continue;
        }
        k += run;
        const int value = receiveExtend(size);
        if (k > 63) {
            reportError(getPos(), "JPEG AC run past the end of a block");
            break;
        }
        last = k;
        block[kZigzag[k++]] = int16_t(value);
    }
    return last;
}

bool JpegDecoder::decodeDcFirst(Component& c, int16_t* block) {
    if (!decodeDcDifference(c, m_dcTables[c.dcTable]))
        return false;
    block[0] = int16_t(c.prevDc * (1 << m_approxLow));
    return true;
}

bool JpegDecoder::decodeDcRefine(int16_t* block) {
    if (getBit())
        block[0] = int16_t(block[0] | (1 << m_approxLow));
    return true;
}

bool JpegDecoder::decodeAcFirst(Component& c, int16_t* block) {
    if (m_eobRun > 0) {
        --m_eobRun;
        return true;
    }
    const HuffmanTable& ac = m_acTables[c.acTable];
    for (int k = m_spectralStart; k <= m_spectralEnd;) {
        const int symbol = decodeSymbol(ac);
        if (symbol < 0)
            return false;
        const int run = symbol >> 4;
        const int size = symbol & 0x0F;
        if (size == 0) {
            if (run < 15) {
                // End of band: this block and 2^run - 1 + (run bits) more.
                m_eobRun = (1 << run) - 1;
                if (run)
                    m_eobRun += getBits(run);
                break;
            }
            k += 16;
            continue;
        }
        k += run;
        const int value = receiveExtend(size);
        if (k > m_spectralEnd) {
            reportError(getPos(), "JPEG AC run past the end of the band");
            break;
        }
        block[kZigzag[k++]] = int16_t(value * (1 << m_approxLow));
    }
    return true;
}

// T.81 G.1.2.3: coefficients that are already non-zero get one correction
// bit each as the decoder passes them; new coefficients of magnitude 1 are
// placed after the given number of still-zero ones.
bool JpegDecoder::decodeAcRefine(Component& c, int16_t* block) {
    const int plus = 1 << m_approxLow;
    const int minus = -plus;
    const int end = m_spectralEnd;
    const auto refine = [&](int16_t& coef) {
        if (getBit() && (coef & plus) == 0)
            coef = int16_t(coef >= 0 ? coef + plus : coef + minus);
    };
    int k = m_spectralStart;
    if (m_eobRun == 0) {
        const HuffmanTable& ac = m_acTables[c.acTable];
        for (; k <= end; ++k) {
            const int symbol = decodeSymbol(ac);
            if (symbol < 0)
                return false;
            int run = symbol >> 4;
            const int size = symbol & 0x0F;
            int value = 0;
            if (size) {
                // Only magnitude 1 is possible here; the value is one bit.
                value = getBit() ? plus : minus;
            } else if (run != 15) {
                m_eobRun = 1 << run;
                if (run)
                    m_eobRun += getBits(run);
                break;
            }
            for (; k <= end; ++k) {
                int16_t& coef = block[kZigzag[k]];
                if (coef != 0) {
                    refine(coef);
                } else {
                    if (run == 0)
                        break;
                    --run;
                }
            }
            if (value) {
                if (k > end) {
                    reportError(getPos(), "JPEG AC run past the end of the band");
                    return true;
                }
                block[kZigzag[k]] = int16_t(value);
            }
        }
    }
    if (m_eobRun > 0) {
        for (; k <= end; ++k) {
            int16_t& coef = block[kZigzag[k]];
            if (coef != 0)
                refine(coef);
        }
        --m_eobRun;
    }
    return true;
}

bool JpegDecoder::decodeBlock(Component& c, int16_t* block) {
    if (!m_progressive)
        return decodeSequentialBlock(c, m_dcTables[c.dcTable], m_acTables[c.acTable], block) >= 0;
    if (m_spectralStart == 0)
        return m_approxHigh == 0 ? decodeDcFirst(c, block) : decodeDcRefine(block);
    return m_approxHigh == 0 ? decodeAcFirst(c, block) : decodeAcRefine(c, block);
}

namespace {

bool reportRunPast(int64_t position, int pendingMarker) {
    if (pendingMarker >= 0)
        reportError(position, "JPEG marker %02x inside the entropy-coded data", pendingMarker);
    else
        reportError(position, "JPEG data ends inside a scan");
    return false;
}

}  // namespace

bool JpegDecoder::decodeStreamedMcuRow() {
    // Cleared once; after each block only the positions it wrote are
    // cleared again, which for the flat blocks of drawings and scans is the
    // DC term alone.
    int16_t block[64] = {};
    // The scan's components read once into locals (the byte stores into
    // the row buffers may alias anything, and would have every field
    // reloaded), with the offset of each of a component's blocks in its MCU.
    struct Target {
        Component* c;
        const HuffmanTable* dc;
        const HuffmanTable* ac;
        const uint16_t* quant;
        uint8_t* rows;
        int stride;
        int mcuWidth;  // bytes of a row that one MCU covers
        int blockCount;
        int offsets[16];  // h x v blocks, up to 4 x 4
        // The last flat block's DC term and sample: flat areas repeat them.
        int flatDc;
        uint8_t flatSample;
    };
    Target targets[4];
    const int scanCount = m_scanCount;
    for (int i = 0; i < scanCount; ++i) {
        Component& c = m_components[m_scanOrder[i]];
        Target& t = targets[i];
        t = {&c,
             &m_dcTables[c.dcTable],
             &m_acTables[c.acTable],
             m_quant[c.quantIndex],
             c.rows,
             c.rowStride,
             c.h * 8,
             c.h * c.v,
             {},
             0,
             0};
        t.flatSample = flatBlockSample(0, t.quant[0]);
        for (int v = 0; v < c.v; ++v)
            for (int h = 0; h < c.h; ++h)
                t.offsets[v * c.h + h] = v * 8 * c.rowStride + h * 8;
    }
    const int mcusPerLine = m_mcusPerLine;
    for (int mx = 0; mx < mcusPerLine; ++mx) {
        if (m_restartInterval) {
            if (m_restartsLeft == 0) {
                if (!processRestart())
                    return false;
                m_restartsLeft = m_restartInterval;
            }
            --m_restartsLeft;
        }
        for (Target* t = targets; t < targets + scanCount; ++t) {
            uint8_t* const mcu = t->rows + mx * t->mcuWidth;
            for (int k = 0; k < t->blockCount; ++k) {
                uint8_t* const out = mcu + t->offsets[k];
                const int last = decodeSequentialBlock(*t->c, *t->dc, *t->ac, block);
                if (last < 0)
                    return false;
                if (last == 0) {
                    if (block[0] != t->flatDc) {
                        t->flatDc = block[0];
                        t->flatSample = flatBlockSample(block[0], t->quant[0]);
                    }
                    fillFlatBlock(t->flatSample, out, t->stride);
                    block[0] = 0;
                    continue;
                }
                idctBlock(block, t->quant, out, t->stride);
                if (last < 8) {
                    for (int z = 0; z <= last; ++z)
                        block[kZigzag[z]] = 0;
                } else {
                    std::memset(block, 0, sizeof block);
                }
            }
        }
        if (ranPastData())
            return reportRunPast(getPos(), m_pendingMarker);
    }
    return true;
}

bool JpegDecoder::decodeBufferedScan() {
    if (m_scanCount == 1) {
        // One component: its blocks in raster order, each its own MCU.
        Component& c = m_components[m_scanOrder[0]];
        for (int by = 0; by < c.scanBlocksHigh; ++by) {
            int16_t* block = c.coefs + int64_t(by) * c.blocksWide * 64;
            for (int bx = 0; bx < c.scanBlocksWide; ++bx, block += 64) {
                if (m_restartInterval) {
                    if (m_restartsLeft == 0) {
                        if (!processRestart())
                            return false;
                        m_restartsLeft = m_restartInterval;
                    }
                    --m_restartsLeft;
                }
                if (!decodeBlock(c, block))
                    return false;
                if (ranPastData())
                    return reportRunPast(getPos(), m_pendingMarker);
            }
        }
        return true;
    }
    for (int my = 0; my < m_mcusPerColumn; ++my) {
        for (int mx = 0; mx < m_mcusPerLine; ++mx) {
            if (m_restartInterval) {
                if (m_restartsLeft == 0) {
                    if (!processRestart())
                        return false;
                    m_restartsLeft = m_restartInterval;
                }
                --m_restartsLeft;
            }
            for (int i = 0; i < m_scanCount; ++i) {
                Component& c = m_components[m_scanOrder[i]];
                for (int v = 0; v < c.v; ++v) {
                    int16_t* block =
                        c.coefs + ((int64_t(my) * c.v + v) * c.blocksWide + int64_t(mx) * c.h) * 64;
                    for (int h = 0; h < c.h; ++h, block += 64) {
                        if (!decodeBlock(c, block))
                            return false;
                    }
                }
            }
            if (ranPastData())
                return reportRunPast(getPos(), m_pendingMarker);
        }
    }
    return true;
}

int JpegDecoder::maxScans(int64_t frameSamples) {
    const int64_t byWork = kScanWorkBudget / std::max<int64_t>(frameSamples, 1);
    return int(std::clamp<int64_t>(byWork, kMinScanLimit, kMaxScans));
}

void JpegDecoder::decodeAllScans() {
    int64_t samples = 0;
    for (int i = 0; i < m_componentCount; ++i)
        samples += int64_t(m_components[i].blocksWide) * m_components[i].blocksHigh * 64;
    const int limit = maxScans(samples);
    // The first scan was started by reset; each later one is checked as it
    // comes. A defect ends the scans and leaves the frame as filled.
    for (int scan = 1;; ++scan) {
        if (scan > limit) {
            reportError(getPos(), "JPEG with more than %d scans for its frame; the rest are skipped", limit);
            return;
        }
        if (scan > 1 && !startScan())
            return;
        if (!decodeBufferedScan())
            return;
        if (readHeaders() != HeaderResult::kScan)
            return;
    }
}

}  // namespace rendova
