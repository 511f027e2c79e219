// The DCT decoder's headers, frame set-up, inverse transform, upsampling and
// colour transform. The entropy-coded data is read in JpegDecoderScans.cpp.
#include "engine/core/JpegDecoder.h"

#include <algorithm>
#include <cstring>

#include "engine/core/ErrorReport.h"
#include "engine/core/Memory.h"

namespace rendova {

namespace {

constexpr int kMarkerSof0 = 0xC0;  // baseline sequential
constexpr int kMarkerSof1 = 0xC1;  // extended sequential, Huffman
constexpr int kMarkerSof2 = 0xC2;  // progressive, Huffman
constexpr int kMarkerDht = 0xC4;
constexpr int kMarkerSoi = 0xD8;
constexpr int kMarkerEoi = 0xD9;
constexpr int kMarkerSos = 0xDA;
constexpr int kMarkerDqt = 0xDB;
constexpr int kMarkerDri = 0xDD;
constexpr int kMarkerApp14 = 0xEE;

// One 8-point inverse DCT over in[0], in[step], ... (any integer type),
// giving 4096 x T(X)[n] in out[n], where T(X)[n] = X0 / sqrt 2 + sum over k
// of Xk cos((2n + 1) k pi / 16). This is the factorisation of Loeffler,
// Ligtenberg and Moschytz: a 4-point transform of the even terms, rotations
// by pi/16 and 3pi/16 of the odd pairs, and one last rotation by pi/4.
// Constants are in units of 1/4096: 2896 = cos(pi/4), 3784 and 1567 =
// cos and sin(pi/8), 4017 and 799 = cos and sin(pi/16), 3406 and 2276 = cos
// and sin(3pi/16). 64-bit arithmetic keeps every coefficient that 16-bit
// quantised values times 16-bit quantisers can give exact.
template <typename T>
inline void idct8(const T* in, int step, int64_t* out) {
    const int64_t x0 = in[0], x1 = in[step], x2 = in[2 * step], x3 = in[3 * step];
    const int64_t x4 = in[4 * step], x5 = in[5 * step], x6 = in[6 * step], x7 = in[7 * step];

    const int64_t t0 = 2896 * (x0 + x4);
    const int64_t t1 = 2896 * (x0 - x4);
    const int64_t t2 = 3784 * x2 + 1567 * x6;
    const int64_t t3 = 1567 * x2 - 3784 * x6;
    const int64_t e0 = t0 + t2, e3 = t0 - t2, e1 = t1 + t3, e2 = t1 - t3;

    const int64_t p1 = 4017 * x1 + 799 * x7;
    const int64_t p7 = 799 * x1 - 4017 * x7;
    const int64_t p3 = 3406 * x3 + 2276 * x5;
    const int64_t p5 = 2276 * x3 - 3406 * x5;
    const int64_t o0 = p1 + p3;
    const int64_t o3 = p7 - p5;
    const int64_t a = p1 - p3, b = p7 + p5;
    const int64_t o1 = ((a + b) * 2896 + 2048) >> 12;
    const int64_t o2 = ((a - b) * 2896 + 2048) >> 12;

    out[0] = e0 + o0;
    out[7] = e0 - o0;
    out[1] = e1 + o1;
    out[6] = e1 - o1;
    out[2] = e2 + o2;
    out[5] = e2 - o2;
    out[3] = e3 + o3;
    out[4] = e3 - o3;
}

}  // namespace

// --- inverse transform ---

// The 2-D transform of T.81 A.3.3 is f = T(T(F)) / 4 over rows and then
// columns. The row pass keeps three fractional bits (8 x T); the column pass
// then gives 4096 x 8 x T(T(F)) = 131072 f, rounded once to the sample. Rows
// and columns whose AC terms are all zero take the DC shortcut, which gives
// exactly what the full pass would.
void JpegDecoder::idctBlock(const int16_t* coefs, const uint16_t* quant, uint8_t* out, int stride) {
    // A block without AC terms is flat: the first row takes the DC shortcut,
    // the others are zero, and every column then takes its own shortcut
    // from the same value.
    // (The AC terms are tested eight bytes at a time, the DC term's place
    // in the first eight zeroed.)
    const int16_t head[4] = {0, coefs[1], coefs[2], coefs[3]};
    uint64_t ac;
    std::memcpy(&ac, head, sizeof ac);
    for (int i = 4; i < 64; i += 4) {
        uint64_t four;
        std::memcpy(&four, coefs + i, sizeof four);
        ac |= four;
    }
    if (ac == 0) {
        fillFlatBlock(flatBlockSample(coefs[0], quant[0]), out, stride);
        return;
    }
    int64_t rows[64];
    int32_t in[64];
    for (int i = 0; i < 64; ++i)
        in[i] = int32_t(coefs[i]) * int32_t(quant[i]);

    int64_t line[8];
    for (int v = 0; v < 8; ++v) {
        const int32_t* x = in + v * 8;
        int64_t* r = rows + v * 8;
        if ((x[1] | x[2] | x[3] | x[4] | x[5] | x[6] | x[7]) == 0) {
            const int64_t dc = (2896 * int64_t(x[0]) + 256) >> 9;
            for (int n = 0; n < 8; ++n)
                r[n] = dc;
            continue;
        }
        idct8(x, 1, line);
        for (int n = 0; n < 8; ++n)
            r[n] = (line[n] + 256) >> 9;
    }
    for (int u = 0; u < 8; ++u) {
        const int64_t* r = rows + u;
        if ((r[8] | r[16] | r[24] | r[32] | r[40] | r[48] | r[56]) == 0) {
            const uint8_t s = clampSample(128 + ((2896 * r[0] + 65536) >> 17));
            for (int y = 0; y < 8; ++y)
                out[y * stride + u] = s;
            continue;
        }
        idct8(r, 8, line);
        for (int y = 0; y < 8; ++y)
            out[y * stride + u] = clampSample(128 + ((line[y] + 65536) >> 17));
    }
}

// --- construction ---

JpegDecoder::JpegDecoder(RefPtr<DataStream> source, int colorTransform)
    : DecoderStream(std::move(source)), m_colorTransform(colorTransform) {}

JpegDecoder::~JpegDecoder() {
    freeBuffers();
}

void JpegDecoder::freeBuffers() {
    for (Component& c : m_components) {
        memFree(c.coefs);
        c.coefs = nullptr;
        memFree(c.rows);
        c.rows = nullptr;
    }
    for (int*& index : m_columnIndex) {
        memFree(index);
        index = nullptr;
    }
    memFree(m_line);
    m_line = m_linePos = m_lineEnd = nullptr;
}

void JpegDecoder::close() {
    freeBuffers();
    DecoderStream::close();
}

std::unique_ptr<DynString> JpegDecoder::getPrintFilter(int level, const char* indent) {
    if (level < 2)
        return nullptr;
    return appendPrintFilter(level, indent, "<< >> /DCTDecode filter\n");
}

void JpegDecoder::reset() {
    source()->reset();
    freeBuffers();
    m_progressive = m_interleaved = m_frameRead = m_buffered = false;
    m_width = m_height = m_componentCount = m_scanCount = 0;
    for (Component& c : m_components)
        c = Component();
    m_adobe = false;
    m_restartInterval = 0;
    std::memset(m_quant, 0, sizeof m_quant);
    for (int i = 0; i < 4; ++i) {
        m_quantDefined[i] = false;
        m_dcTables[i].defined = false;
        m_acTables[i].defined = false;
    }
    m_mcuRow = m_outputRow = 0;
    m_eobRun = 0;
    m_dataEnded = false;
    m_pendingMarker = -1;
    resetBits();

    if (readHeaders() != HeaderResult::kScan || !startScan())
        return;  // nothing to hand out

    if (m_adobe)
        m_colorTransform = m_adobeTransform;
    if (!m_transformDecided) {
        // Without an Adobe segment or a ColorTransform parameter, PDF's
        // rule holds: three components are YCbCr. Component ids R, G and B
        // are a convention of stand-alone JPEG files that PDF readers do not
        // follow: such an image in a PDF file is YCbCr too.
        if (m_colorTransform == -1)
            m_colorTransform = m_componentCount == 3 ? 1 : 0;
        m_transformDecided = true;
    }

    m_buffered = m_progressive || !m_interleaved;
    if (m_buffered) {
        // Sizes come from the file: checked in 64 bits against the frame
        // limit before anything is allocated.
        int64_t samples = 0;
        for (int i = 0; i < m_componentCount; ++i)
            samples += int64_t(m_components[i].blocksWide) * m_components[i].blocksHigh * 64;
        if (int64_t(m_bufferWidth) * m_bufferHeight * 4 > 0x7fffffff || samples > kMaxFrameSamples) {
            reportError(getPos(), "JPEG frame of %d x %d x %d is too large", m_width, m_height,
                        m_componentCount);
            return;
        }
    }
    for (int i = 0; i < m_componentCount; ++i) {
        Component& c = m_components[i];
        c.rowStride = c.blocksWide * 8;
        c.rows = static_cast<uint8_t*>(memAllocArray(checkedMul(c.rowStride, 8 * c.v), 1));
        m_columnIndex[i] = static_cast<int*>(memAllocArray(m_width, int(sizeof(int))));
        for (int x = 0; x < m_width; ++x)
            m_columnIndex[i][x] = int(int64_t(x) * c.h / m_maxH);
        if (m_buffered) {
            const int count = checkedMul(checkedMul(c.blocksWide, c.blocksHigh), 64);
            c.coefs = static_cast<int16_t*>(memAllocArray(count, int(sizeof(int16_t))));
            std::memset(c.coefs, 0, size_t(count) * sizeof(int16_t));
        }
    }
    m_line = static_cast<uint8_t*>(memAllocArray(checkedMul(m_width, m_componentCount), 1));
    m_linePos = m_lineEnd = m_line;

    for (int i = 0; i < m_componentCount; ++i) {
        if (!m_quantDefined[m_components[i].quantIndex])
            reportError(getPos(), "JPEG quantisation table %d is missing", m_components[i].quantIndex);
    }
    if (m_buffered)
        decodeAllScans();
}

// --- headers ---

int JpegDecoder::readByte() {
    return source()->getChar();
}

int JpegDecoder::read16() {
    const int hi = readByte();
    const int lo = readByte();
    return (hi < 0 || lo < 0) ? -1 : (hi << 8) | lo;
}

int JpegDecoder::readMarker() {
    if (m_pendingMarker >= 0) {
        const int marker = m_pendingMarker;
        m_pendingMarker = -1;
        return marker;
    }
    for (;;) {
        int c = readByte();
        while (c != 0xFF) {
            if (c < 0)
                return -1;
            c = readByte();
        }
        do
            c = readByte();
        while (c == 0xFF);
        if (c < 0)
            return -1;
        // FF 00 is a stuffed data byte, not a marker.
        if (c != 0)
            return c;
    }
}

void JpegDecoder::skipSegment() {
    const int length = read16();
    for (int i = 2; i < length; ++i) {
        if (readByte() < 0)
            return;
    }
}

JpegDecoder::HeaderResult JpegDecoder::readHeaders() {
    for (;;) {
        const int marker = readMarker();
        switch (marker) {
            case -1:
                reportError(getPos(), "JPEG data ends");
                return HeaderResult::kFailure;
            case kMarkerSof0:
            case kMarkerSof1:
            case kMarkerSof2:
                if (m_frameRead) {
                    // The buffers are laid out for the first frame.
                    reportError(getPos(), "Second JPEG frame header");
                    return HeaderResult::kFailure;
                }
                if (!readFrameHeader(marker == kMarkerSof2))
                    return HeaderResult::kFailure;
                break;
            case kMarkerDht:
                if (!readHuffmanTables())
                    return HeaderResult::kFailure;
                break;
            case kMarkerDqt:
                if (!readQuantTables())
                    return HeaderResult::kFailure;
                break;
            case kMarkerDri:
                if (!readRestartInterval())
                    return HeaderResult::kFailure;
                break;
            case kMarkerApp14:
                readAdobeSegment();
                break;
            case kMarkerSoi:
                break;
            case kMarkerEoi:
                return HeaderResult::kEnd;
            case kMarkerSos:
                if (!m_frameRead) {
                    reportError(getPos(), "JPEG scan before the frame header");
                    return HeaderResult::kFailure;
                }
                return readScanHeader() ? HeaderResult::kScan : HeaderResult::kFailure;
            default:
                if (marker < 0xE0) {
                    // Arithmetic coding, lossless and hierarchical frames, and
                    // markers that belong inside entropy-coded data.
                    reportError(getPos(), "Unsupported JPEG marker %02x", marker);
                    return HeaderResult::kFailure;
                }
                skipSegment();
                break;
        }
    }
}

bool JpegDecoder::readFrameHeader(bool progressive) {
    const int length = read16();
    const int precision = readByte();
    const int height = read16();
    const int width = read16();
    const int count = readByte();
    if (count < 0 || width < 0 || height < 0 || precision < 0) {
        reportError(getPos(), "JPEG data ends in the frame header");
        return false;
    }
    if (precision != 8) {
        reportError(getPos(), "JPEG precision %d not supported", precision);
        return false;
    }
    if (count < 1 || count > 4) {
        reportError(getPos(), "JPEG frame with %d components (1 to 4 are allowed)", count);
        m_componentCount = 0;
        return false;
    }
    if (length != 8 + 3 * count) {
        reportError(getPos(), "Bad JPEG frame header length %d", length);
        return false;
    }
    if (width == 0 || height == 0) {
        // A height given later in a DNL segment is not supported.
        reportError(getPos(), "JPEG frame of %d x %d samples", width, height);
        return false;
    }
    for (int i = 0; i < count; ++i) {
        Component& c = m_components[i];
        c.id = readByte();
        const int factors = readByte();
        c.quantIndex = readByte();
        if (c.quantIndex < 0) {
            reportError(getPos(), "JPEG data ends in the frame header");
            return false;
        }
        c.h = factors >> 4;
        c.v = factors & 0x0F;
        // T.81 allows factors 1 to 4; others would make the MCU taller than
        // the row buffers, or empty.
        if (c.h < 1 || c.h > 4 || c.v < 1 || c.v > 4) {
            reportError(getPos(), "Bad JPEG sampling factors %d x %d", c.h, c.v);
            return false;
        }
        if (c.quantIndex > 3) {
            reportError(getPos(), "Bad JPEG quantisation table index %d", c.quantIndex);
            return false;
        }
    }
    m_componentCount = count;
    m_width = width;
    m_height = height;
    m_progressive = progressive;
    m_frameRead = true;
    return setUpFrame();
}

bool JpegDecoder::setUpFrame() {
    // A single component is not interleaved and its MCU is one block,
    // whatever factors the header gives.
    if (m_componentCount == 1)
        m_components[0].h = m_components[0].v = 1;
    m_maxH = m_maxV = 1;
    for (int i = 0; i < m_componentCount; ++i) {
        if (m_components[i].h > m_maxH)
            m_maxH = m_components[i].h;
        if (m_components[i].v > m_maxV)
            m_maxV = m_components[i].v;
    }
    m_mcuWidth = 8 * m_maxH;
    m_mcuHeight = 8 * m_maxV;
    m_mcusPerLine = (m_width + m_mcuWidth - 1) / m_mcuWidth;
    m_mcusPerColumn = (m_height + m_mcuHeight - 1) / m_mcuHeight;
    m_bufferWidth = m_mcusPerLine * m_mcuWidth;
    m_bufferHeight = m_mcusPerColumn * m_mcuHeight;
    for (int i = 0; i < m_componentCount; ++i) {
        Component& c = m_components[i];
        c.blocksWide = m_mcusPerLine * c.h;
        c.blocksHigh = m_mcusPerColumn * c.v;
        // T.81 A.1.1: a component's own size, rounded up.
        const int64_t width = (int64_t(m_width) * c.h + m_maxH - 1) / m_maxH;
        const int64_t height = (int64_t(m_height) * c.v + m_maxV - 1) / m_maxV;
        c.scanBlocksWide = int((width + 7) / 8);
        c.scanBlocksHigh = int((height + 7) / 8);
    }
    return true;
}

bool JpegDecoder::readHuffmanTables() {
    int left = read16() - 2;
    while (left > 0) {
        const int info = readByte();
        if (info < 0) {
            reportError(getPos(), "JPEG data ends in a Huffman table");
            return false;
        }
        const int index = info & 0x0F;
        if (index > 3) {
            reportError(getPos(), "Bad JPEG Huffman table index %d", index);
            return false;
        }
        HuffmanTable& table = (info & 0x10) ? m_acTables[index] : m_dcTables[index];
        table.defined = false;
        int total = 0;
        for (int len = 1; len <= 16; ++len) {
            const int n = readByte();
            if (n < 0) {
                reportError(getPos(), "JPEG data ends in a Huffman table");
                return false;
            }
            table.count[len] = uint16_t(n);
            total += n;
        }
        // A symbol is one byte: a table of more than 256 codes repeats
        // symbols and would overrun the symbol list.
        if (total > 256) {
            reportError(getPos(), "JPEG Huffman table with %d symbols", total);
            return false;
        }
        left -= 17 + total;
        if (left < 0) {
            reportError(getPos(), "JPEG Huffman table runs past its segment");
            return false;
        }
        for (int i = 0; i < total; ++i) {
            const int s = readByte();
            if (s < 0) {
                reportError(getPos(), "JPEG data ends in a Huffman table");
                return false;
            }
            table.symbols[i] = uint8_t(s);
        }
        // Canonical codes (T.81 C.2): each length continues from the codes
        // of the shorter ones, shifted left by one. Counts whose codes do not
        // fit their length cannot come from an encoder.
        std::memset(table.lookup, 0, sizeof table.lookup);
        int code = 0;
        int symbolIndex = 0;
        for (int len = 1; len <= 16; ++len) {
            table.firstCode[len] = code;
            table.firstIndex[len] = uint16_t(symbolIndex);
            code += table.count[len];
            if (code > (1 << len)) {
                reportError(getPos(), "JPEG Huffman table with too many codes of length %d", len);
                return false;
            }
            if (len <= kLookupBits) {
                const int shift = kLookupBits - len;
                for (int k = 0; k < table.count[len]; ++k) {
                    const int first = (table.firstCode[len] + k) << shift;
                    const uint16_t entry = uint16_t(table.symbols[symbolIndex + k] | (len << 8));
                    for (int j = 0; j < (1 << shift); ++j)
                        table.lookup[first + j] = entry;
                }
            }
            symbolIndex += table.count[len];
            code <<= 1;
        }
        // The sequential decoder takes short AC codes with their magnitude
        // bits in one look-up.
        for (int i = 0; i < (1 << kLookupBits); ++i) {
            const int entry = table.lookup[i];
            const int length = entry >> 8;
            const int run = (entry >> 4) & 0x0F;
            const int size = entry & 0x0F;
            table.fastAc[i] = 0;
            if (!(info & 0x10) || entry == 0 || size == 0 || length + size > kLookupBits)
                continue;
            const int bits = (i >> (kLookupBits - length - size)) & ((1 << size) - 1);
            const int value = bits < (1 << (size - 1)) ? bits - (1 << size) + 1 : bits;
            table.fastAc[i] = value * 65536 + run * 256 + length + size;
        }
        table.defined = true;
    }
    return true;
}

bool JpegDecoder::readQuantTables() {
    int left = read16() - 2;
    while (left > 0) {
        const int info = readByte();
        if (info < 0)
            break;
        const int precision = info >> 4;
        const int index = info & 0x0F;
        if (index > 3 || precision > 1)
            break;
        const int need = 1 + 64 * (precision + 1);
        if (left < need)
            break;
        for (int k = 0; k < 64; ++k) {
            const int value = precision ? read16() : readByte();
            m_quant[index][kZigzag[k]] = uint16_t(value < 0 ? 0 : value);
        }
        m_quantDefined[index] = true;
        left -= need;
    }
    if (left != 0) {
        reportError(getPos(), "Bad JPEG quantisation tables");
        return false;
    }
    return true;
}

bool JpegDecoder::readRestartInterval() {
    const int length = read16();
    const int interval = read16();
    if (length != 4 || interval < 0) {
        reportError(getPos(), "Bad JPEG restart interval");
        return false;
    }
    m_restartInterval = interval;
    return true;
}

void JpegDecoder::readAdobeSegment() {
    const int length = read16();
    int left = length - 2;
    // Other writers use APP14 for their own data: a segment that is not
    // Adobe's is skipped like any application segment.
    if (length > 13) {
        uint8_t data[12];
        for (uint8_t& b : data)
            b = uint8_t(readByte());
        left -= 12;
        if (std::memcmp(data, "Adobe", 5) == 0) {
            m_adobe = true;
            m_adobeTransform = data[11];
        }
    }
    for (; left > 0; --left) {
        if (readByte() < 0)
            return;
    }
}

bool JpegDecoder::readScanHeader() {
    const int length = read16();
    const int count = readByte();
    if (count < 1 || count > 4) {
        reportError(getPos(), "JPEG scan with %d components (1 to 4 are allowed)", count);
        return false;
    }
    if (length != 2 * count + 6) {
        reportError(getPos(), "Bad JPEG scan header length");
        return false;
    }
    for (int i = 0; i < m_componentCount; ++i)
        m_components[i].inScan = false;
    for (int i = 0; i < count; ++i) {
        const int id = readByte();
        const int tables = readByte();
        int found = -1;
        for (int j = 0; j < m_componentCount; ++j) {
            if (m_components[j].id == id && !m_components[j].inScan) {
                found = j;
                break;
            }
        }
        if (found < 0 || tables < 0) {
            reportError(getPos(), "JPEG scan names an unknown component %d", id);
            return false;
        }
        Component& c = m_components[found];
        c.inScan = true;
        c.dcTable = tables >> 4;
        c.acTable = tables & 0x0F;
        if (c.dcTable > 3 || c.acTable > 3) {
            reportError(getPos(), "Bad JPEG Huffman table index in a scan");
            return false;
        }
        m_scanOrder[i] = found;
    }
    m_scanCount = count;
    m_interleaved = count == m_componentCount;
    m_spectralStart = readByte();
    m_spectralEnd = readByte();
    const int approx = readByte();
    if (approx < 0 || m_spectralStart < 0 || m_spectralStart > m_spectralEnd || m_spectralEnd > 63) {
        reportError(getPos(), "Bad JPEG spectral selection %d to %d", m_spectralStart, m_spectralEnd);
        return false;
    }
    m_approxHigh = approx >> 4;
    m_approxLow = approx & 0x0F;
    return true;
}

// --- output ---

bool JpegDecoder::nextLine() {
    if (!m_line || m_outputRow >= m_height)
        return false;
    const int rowInMcu = m_outputRow % m_mcuHeight;
    if (rowInMcu == 0 && !fillMcuRow()) {
        m_outputRow = m_height;
        return false;
    }
    // A row built from the same samples as the one before is the one before,
    // still in the line buffer: flat areas repeat rows within an MCU row.
    if (rowInMcu == 0 || !sameSourceRows(rowInMcu))
        buildLine(rowInMcu);
    ++m_outputRow;
    m_linePos = m_line;
    m_lineEnd = m_line + m_width * m_componentCount;
    if (m_outputRow == m_height && !m_buffered)
        readEndOfImage();
    return true;
}

int JpegDecoder::getBlock(uint8_t* buffer, int size) {
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

bool JpegDecoder::sameSourceRows(int rowInMcu) const {
    for (int i = 0; i < m_componentCount; ++i) {
        const Component& c = m_components[i];
        const int row = rowInMcu * c.v / m_maxV;
        const int previous = (rowInMcu - 1) * c.v / m_maxV;
        if (row != previous && std::memcmp(c.rows + row * c.rowStride, c.rows + previous * c.rowStride,
                                           size_t(c.rowStride)) != 0)
            return false;
    }
    return true;
}

bool JpegDecoder::fillMcuRow() {
    if (m_mcuRow >= m_mcusPerColumn)
        return false;
    if (m_buffered) {
        idctMcuRowFromFrame();
    } else {
        if (m_dataEnded)
            return false;
        if (!decodeStreamedMcuRow()) {
            m_dataEnded = true;
            return false;
        }
    }
    ++m_mcuRow;
    return true;
}

void JpegDecoder::idctMcuRowFromFrame() {
    for (int i = 0; i < m_componentCount; ++i) {
        Component& c = m_components[i];
        const uint16_t* quant = m_quant[c.quantIndex];
        for (int v = 0; v < c.v; ++v) {
            const int16_t* block = c.coefs + (int64_t(m_mcuRow) * c.v + v) * c.blocksWide * 64;
            uint8_t* out = c.rows + v * 8 * c.rowStride;
            for (int bx = 0; bx < c.blocksWide; ++bx, block += 64, out += 8)
                idctBlock(block, quant, out, c.rowStride);
        }
    }
}

namespace {

// The clip table of the colour transform: index v + 256 gives v clamped to
// 0-255. A luma sample plus the largest chroma term (1.772 x 128) stays
// within -256 to 511, so the index never leaves the table.
struct ClipTable {
    uint8_t values[768];
    constexpr ClipTable() : values() {
        for (int i = 0; i < 768; ++i)
            values[i] = uint8_t(i < 256 ? 0 : i > 511 ? 255 : i - 256);
    }
};
constexpr ClipTable kClip;

// The chroma terms of YCbCr to RGB in 16.16 fixed point with rounding (JFIF's
// constants 1.402, 0.34414, 0.71414 and 1.772 as 91881, 22553, 46802 and
// 116130). Luma is a whole number, so adding it after the shift gives what
// rounding the whole sum would.
struct ChromaTerms {
    int red;
    int green;
    int blue;
};

// The terms by chroma sample, computed once: green's two products are kept
// whole and rounded after their sum, as the plain form below rounds.
struct ChromaTables {
    int red[256];     // by Cr, rounded
    int blue[256];    // by Cb, rounded
    int greenB[256];  // by Cb, unrounded
    int greenR[256];  // by Cr, unrounded
    constexpr ChromaTables() : red(), blue(), greenB(), greenR() {
        for (int i = 0; i < 256; ++i) {
            const int d = i - 128;
            red[i] = (91881 * d + 32768) >> 16;
            blue[i] = (116130 * d + 32768) >> 16;
            greenB[i] = -22553 * d;
            greenR[i] = -46802 * d;
        }
    }
};
constexpr ChromaTables kChroma;

inline ChromaTerms chromaTerms(int cbSample, int crSample) {
    // Plain form: with cb = cbSample - 128 and cr = crSample - 128,
    // {(91881 cr + 32768) >> 16, (-22553 cb - 46802 cr + 32768) >> 16,
    //  (116130 cb + 32768) >> 16}.
    return {kChroma.red[crSample], (kChroma.greenB[cbSample] + kChroma.greenR[crSample] + 32768) >> 16,
            kChroma.blue[cbSample]};
}

// Converts count pixels of n components (3, or 4 with K after) that share
// one pair of chroma samples; YCCK's colour part comes out inverted.
template <int n, bool invert>
inline uint8_t* convertPixels(uint8_t* out, const uint8_t* luma, const uint8_t* black, int count,
                              const ChromaTerms& t) {
    const uint8_t* clip = kClip.values + 256;
    for (int k = 0; k < count; ++k) {
        const int y = luma[k];
        const uint8_t r = clip[y + t.red];
        const uint8_t g = clip[y + t.green];
        const uint8_t b = clip[y + t.blue];
        out[0] = invert ? uint8_t(255 - r) : r;
        out[1] = invert ? uint8_t(255 - g) : g;
        out[2] = invert ? uint8_t(255 - b) : b;
        if constexpr (n == 4)
            out[3] = black[k];
        out += n;
    }
    return out;
}

// Whether the Count samples at p are all p[0].
template <int Count>
inline bool flatRun(const uint8_t* p) {
    if constexpr (Count == 8) {
        uint64_t v;
        std::memcpy(&v, p, sizeof v);
        return v == p[0] * uint64_t{0x0101010101010101};
    } else {
        static_assert(Count == 4);
        uint32_t v;
        std::memcpy(&v, p, sizeof v);
        return v == p[0] * uint32_t{0x01010101};
    }
}

// convertPixels over a row whose luma (and black, src[3]) has the full
// width and whose chroma has 1 / Ratio of it. Eight pixels that repeat one
// pixel, as the flat blocks of drawings and scans give, are converted once
// and copied.
template <int n, bool invert, int Ratio>
void convertRowRuns(uint8_t* out, const uint8_t* const* src, int width) {
    const uint8_t* black = n == 4 ? src[3] : nullptr;
    for (int x = 0; x < width;) {
        const int cx = x / Ratio;
        if (x + 8 <= width && flatRun<8>(src[0] + x) && flatRun<8 / Ratio>(src[1] + cx) &&
            flatRun<8 / Ratio>(src[2] + cx) && (n == 3 || flatRun<8>(black + x))) {
            convertPixels<n, invert>(out, src[0] + x, n == 4 ? black + x : nullptr, 1,
                                     chromaTerms(src[1][cx], src[2][cx]));
            for (int k = 1; k < 8; ++k)
                std::memcpy(out + k * n, out, n);
            out += 8 * n;
            x += 8;
            continue;
        }
        // Eight pixels (or the row's last few), a chroma sample at a time.
        const int end = std::min(width, x + 8);
        for (; x < end; x += Ratio) {
            const int count = std::min(Ratio, end - x);
            out = convertPixels<n, invert>(out, src[0] + x, n == 4 ? black + x : nullptr, count,
                                           chromaTerms(src[1][x / Ratio], src[2][x / Ratio]));
        }
    }
}

}  // namespace

void JpegDecoder::buildLine(int rowInMcu) {
    const int n = m_componentCount;
    const uint8_t* src[4];
    for (int i = 0; i < n; ++i) {
        const Component& c = m_components[i];
        src[i] = c.rows + (rowInMcu * c.v / m_maxV) * c.rowStride;
    }
    uint8_t* out = m_line;
    const int width = m_width;
    if (n == 1) {
        std::memcpy(out, src[0], size_t(width));
        return;
    }

    const bool transform = m_colorTransform != 0 && n >= 3;
    const Component* comps = m_components;
    // The common layouts: luma (and K) at full width, the two chroma
    // components sharing one sampling ratio of 1, 2 or 4.
    const int chromaRatio = comps[1].h == comps[2].h && m_maxH % comps[1].h == 0 ? m_maxH / comps[1].h : 0;
    const bool direct = transform && comps[0].h == m_maxH && chromaRatio && (n == 3 || comps[3].h == m_maxH);
    if (direct && n == 3 && chromaRatio == 1) {
        convertRowRuns<3, false, 1>(out, src, width);
        return;
    }
    if (direct && n == 3 && chromaRatio == 2) {
        convertRowRuns<3, false, 2>(out, src, width);
        return;
    }
    if (direct && n == 4 && chromaRatio == 1) {
        convertRowRuns<4, true, 1>(out, src, width);
        return;
    }
    if (direct) {
        const uint8_t* black = n == 4 ? src[3] : nullptr;
        for (int x = 0, cx = 0; x < width; x += chromaRatio, ++cx) {
            const int count = width - x < chromaRatio ? width - x : chromaRatio;
            const ChromaTerms t = chromaTerms(src[1][cx], src[2][cx]);
            if (n == 3)
                out = convertPixels<3, false>(out, src[0] + x, nullptr, count, t);
            else
                out = convertPixels<4, true>(out, src[0] + x, black + x, count, t);
        }
        return;
    }

    bool fullSize = true;
    for (int i = 0; i < n; ++i)
        fullSize = fullSize && comps[i].h == m_maxH;
    if (fullSize && n == 3) {
        for (int x = 0; x < width; ++x, out += 3) {
            out[0] = src[0][x];
            out[1] = src[1][x];
            out[2] = src[2][x];
        }
    } else if (fullSize && n == 4) {
        for (int x = 0; x < width; ++x, out += 4) {
            out[0] = src[0][x];
            out[1] = src[1][x];
            out[2] = src[2][x];
            out[3] = src[3][x];
        }
    } else if (fullSize) {
        for (int x = 0; x < width; ++x)
            for (int i = 0; i < n; ++i)
                *out++ = src[i][x];
    } else {
        for (int x = 0; x < width; ++x)
            for (int i = 0; i < n; ++i)
                *out++ = src[i][m_columnIndex[i][x]];
    }
    if (!transform)
        return;
    for (uint8_t* p = m_line; p < out; p += n) {
        const ChromaTerms t = chromaTerms(p[1], p[2]);
        if (n == 3)
            convertPixels<3, false>(p, p, nullptr, 1, t);
        else
            convertPixels<4, true>(p, p, p + 3, 1, t);
    }
}

void JpegDecoder::readEndOfImage() {
    m_bitCount = 0;
    const int marker = readMarker();
    if (marker >= 0 && marker != kMarkerEoi)
        reportError(getPos(), "JPEG marker %02x after the last row", marker);
}

}  // namespace rendova
