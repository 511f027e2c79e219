// The region and dictionary procedures of the JBIG2 decoder: generic
// (arithmetic and MMR), refinement, text, symbol dictionary, pattern
// dictionary and halftone decoding.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "engine/core/ErrorReport.h"
#include "engine/core/FaxCodeTables.h"
#include "engine/core/Jbig2Decoder.h"

namespace rendova {

namespace {

inline int rowPixel(const uint8_t* row, int64_t x, int width) {
    return row && x >= 0 && x < width ? (row[x >> 3] >> (7 - (x & 7))) & 1 : 0;
}

// A pixel of a row copy with kRowPad zero bytes on each side.
constexpr int kRowPad = 2;
inline int padPixel(const uint8_t* padded, int x) {
    const int q = x + 8 * kRowPad;
    return (padded[q >> 3] >> (7 - (q & 7))) & 1;
}

// Sets pixels from to to - 1 of a row.
inline void setRun(uint8_t* row, int from, int to) {
    if (from >= to)
        return;
    const int first = from >> 3, last = (to - 1) >> 3;
    const uint8_t head = uint8_t(0xFF >> (from & 7)), tail = uint8_t(0xFF << (7 - ((to - 1) & 7)));
    if (first == last) {
        row[first] |= uint8_t(head & tail);
        return;
    }
    row[first] |= head;
    if (last > first + 1)
        std::memset(row + first + 1, 0xFF, size_t(last - first - 1));
    row[last] |= tail;
}

// The context windows of the generic templates: the pixels of the two rows
// above (offsets from x, first to last) and the count of pixels to the left
// on the current row. The AT pixels at their usual places belong to them.
struct Window {
    int left2, right2, left1, right1, count0;
};
constexpr Window kNominalWindows[4] = {
    {-2, 2, -3, 3, 4}, {-1, 2, -2, 3, 3}, {-1, 1, -2, 2, 2}, {0, -1, -3, 2, 4}};
// Without the AT pixels, which go into their own bits.
constexpr Window kFixedWindows[4] = {
    {-1, 1, -2, 2, 4}, {-1, 2, -2, 2, 3}, {-1, 1, -2, 1, 2}, {0, -1, -3, 1, 4}};
constexpr int kNominalAt[4][8] = {{3, -1, -3, -1, 2, -2, -2, -2}, {3, -1}, {2, -1}, {2, -1}};
// The contexts whose pixel patterns code the typical-prediction bit.
constexpr uint32_t kSltpContexts[4] = {0x9B25, 0x0795, 0x00E5, 0x0195};
// The refinement's typical-prediction bit takes the context in which only
// the reference pixel under the one decoded is black.
constexpr uint32_t kTpgrContexts[2] = {0x0100, 0x0080};

// The row a generic region decodes and the padded copies of the two above.
struct Rows {
    uint8_t* row0;
    const uint8_t* row1;
    const uint8_t* row2;
};

// The window's pixels of the two rows above for the pixel at x.
inline void windowAt(const Window& win, const Rows& rows, int x, uint32_t& w2, uint32_t& w1) {
    w2 = 0;
    w1 = 0;
    for (int k = win.left2; k <= win.right2; ++k)
        w2 = (w2 << 1) | uint32_t(padPixel(rows.row2, x + k));
    for (int k = win.left1; k <= win.right1; ++k)
        w1 = (w1 << 1) | uint32_t(padPixel(rows.row1, x + k));
}

// The first black pixel at x or after in a padded row copy of `bytes`
// bytes; INT32_MAX when there is none.
inline int firstBlack(const uint8_t* padded, size_t bytes, int x) {
    size_t i = size_t(x + 8 * kRowPad) >> 3;
    if (i >= bytes)
        return INT32_MAX;
    uint32_t b = padded[i] & (0xFFu >> ((x + 8 * kRowPad) & 7));
    if (b == 0) {
        // Eight bytes at a time over the white stretches of a row.
        ++i;
        for (uint64_t word; i + 8 <= bytes; i += 8) {
            std::memcpy(&word, padded + i, 8);
            if (word != 0)
                break;
        }
        for (; i < bytes && padded[i] == 0; ++i) {
        }
        if (i >= bytes)
            return INT32_MAX;
        b = padded[i];
    }
    return int(i) * 8 + std::countl_zero(uint8_t(b)) - 8 * kRowPad;
}

// Where the pixels from x on stop having only white above them in their
// windows: the first pixel whose window reaches a black pixel of either row
// above, or the row's end.
inline int whiteAboveUntil(const Window& win, const Rows& rows, size_t paddedBytes, int x, int width) {
    int64_t until = width;
    const int b1 = firstBlack(rows.row1, paddedBytes, x + 1 + win.right1);
    until = std::min<int64_t>(until, int64_t(b1) - win.right1);
    if (win.right2 >= win.left2) {
        const int b2 = firstBlack(rows.row2, paddedBytes, x + 1 + win.right2);
        until = std::min<int64_t>(until, int64_t(b2) - win.right2);
    }
    return int(until);
}

// One row by the template with its AT pixels at their usual places and no
// skipped pixels: the whole context slides along the row, each step
// shifting in one pixel of each row. Where the context is all white and
// white is its more probable symbol, a run of white pixels is taken at once
// as far as the decoder codes it without renormalising and the rows above
// stay white.
// Gives the number of decoding steps taken: a decision, or a run of white
// pixels taken at once.
inline int decodeNominalRow(ArithDecoder& arith, ArithDecoderStats* stats, const Window& win, int width,
                            const Rows& rows) {
    const int n2 = win.right2 - win.left2 + 1;
    const int n1 = win.right1 - win.left1 + 1;
    const int n0 = win.count0;
    const uint32_t mask2 = (1u << n2) - 1;
    const uint32_t mask1 = (1u << n1) - 1;
    const uint32_t mask0 = (1u << n0) - 1;
    const int shift1 = n0;
    const int shift2 = n1 + n0;
    const size_t paddedBytes = size_t((width + 7) / 8) + 2 * kRowPad;
    uint32_t w2, w1, w0 = 0;
    windowAt(win, rows, 0, w2, w1);
    // Bits gather in a local byte: a store to the row could alias the
    // decoder's state.
    uint32_t out = 0;
    int whiteUntil = 0;
    int steps = 0;
    for (int x = 0; x < width; ++steps) {
        const uint32_t cx = (w2 << shift2) | (w1 << shift1) | w0;
        if (cx == 0 && (stats->contexts()[0] & 1) == 0) {
            if (x >= whiteUntil)
                whiteUntil = whiteAboveUntil(win, rows, paddedBytes, x, width);
            const int run = arith.decodeMpsRun(0, stats, whiteUntil - x);
            if (run > 0) {
                // The row starts out white: a run that completes the byte
                // of x writes that byte's earlier pixels, the rest stays.
                if (((x + run) >> 3) != (x >> 3)) {
                    rows.row0[x >> 3] = uint8_t(out << (8 - (x & 7)));
                    out = 0;
                } else {
                    out <<= run;
                }
                x += run;
                // The pixels left of x on this row are white, as before.
                windowAt(win, rows, x, w2, w1);
                continue;
            }
        }
        const int bit = arith.decodeBit(cx, stats);
        out = (out << 1) | uint32_t(bit);
        if ((x & 7) == 7)
            rows.row0[x >> 3] = uint8_t(out);
        w0 = ((w0 << 1) | uint32_t(bit)) & mask0;
        w1 = ((w1 << 1) | uint32_t(padPixel(rows.row1, x + 1 + win.right1))) & mask1;
        w2 = ((w2 << 1) | uint32_t(padPixel(rows.row2, x + 1 + win.right2))) & mask2;
        ++x;
    }
    if (width & 7)
        rows.row0[width >> 3] = uint8_t(out << (8 - (width & 7)));
    return steps;
}

// One row with the AT pixels moved or pixels skipped: the AT pixels are
// read from the bitmap itself.
inline void decodeFixedRow(ArithDecoder& arith, ArithDecoderStats* stats, const Window& win, int templ,
                           const int* at, const Jbig2Bitmap& bitmap, const Jbig2Bitmap* skip, int y,
                           int width, const Rows& rows) {
    const uint32_t mask2 = (1u << (win.right2 - win.left2 + 1)) - 1;
    const uint32_t mask1 = (1u << (win.right1 - win.left1 + 1)) - 1;
    const uint32_t mask0 = (1u << win.count0) - 1;
    uint32_t w2, w1, w0 = 0;
    windowAt(win, rows, 0, w2, w1);
    for (int x = 0; x < width; ++x) {
        int bit = 0;
        if (!skip || !skip->getPixel(x, y)) {
            auto a = [&](int i) { return uint32_t(bitmap.getPixel(x + at[2 * i], y + at[2 * i + 1])); };
            uint32_t cx;
            switch (templ) {
                case 0:
                    cx = (a(3) << 15) | (w2 << 12) | (a(2) << 11) | (a(1) << 10) | (w1 << 5) | (a(0) << 4) |
                         w0;
                    break;
                case 1:
                    cx = (w2 << 9) | (w1 << 4) | (a(0) << 3) | w0;
                    break;
                case 2:
                    cx = (w2 << 7) | (w1 << 3) | (a(0) << 2) | w0;
                    break;
                default:
                    cx = (w1 << 5) | (a(0) << 4) | w0;
                    break;
            }
            bit = arith.decodeBit(cx, stats);
            if (bit)
                rows.row0[x >> 3] |= uint8_t(0x80 >> (x & 7));
        }
        w0 = ((w0 << 1) | uint32_t(bit)) & mask0;
        w1 = ((w1 << 1) | uint32_t(padPixel(rows.row1, x + 1 + win.right1))) & mask1;
        w2 = ((w2 << 1) | uint32_t(padPixel(rows.row2, x + 1 + win.right2))) & mask2;
    }
}

}  // namespace

// --- Generic regions ---

std::unique_ptr<Jbig2Bitmap> Jbig2Decoder::decodeGeneric(bool mmr, int width, int height, int templ,
                                                         bool tpgdOn, const Jbig2Bitmap* skip, const int* at,
                                                         Jbig2BitReader* mmrReader) {
    if (!Jbig2Bitmap::sizeInRange(width, height))
        return nullptr;
    // Making the bitmap, or all of MMR decoding, which is bounded by its
    // data; arithmetic rows are counted as they are decoded, a typical row
    // (a copy of the one above) as a combination.
    if (!spend(int64_t(width) * height / (mmr ? 8 : 32)) || !reserveBitmap(width, height))
        return nullptr;
    auto bitmap = std::make_unique<Jbig2Bitmap>(0, width, height);
    if (mmr) {
        if (mmrReader)
            decodeMmr(*bitmap, *mmrReader);
        return bitmap;
    }
    templ &= 3;
    const int atCount = templ == 0 ? 4 : 1;
    bool nominal = !skip || !skip->isValid();
    for (int i = 0; i < 2 * atCount; ++i)
        nominal = nominal && at[i] == kNominalAt[templ][i];
    if (skip && !skip->isValid())
        skip = nullptr;
    const Window win = nominal ? kNominalWindows[templ] : kFixedWindows[templ];
    ArithDecoderStats* stats = m_genericStats.get();
    // The two rows above as copies padded with zeros: the windows read a few
    // pixels past either end of a row without a test.
    const size_t line = size_t(bitmap->lineBytes());
    std::vector<uint8_t> pad1(line + 2 * kRowPad, 0), pad2(line + 2 * kRowPad, 0);
    int ltp = 0;
    for (int y = 0; y < height; ++y) {
        if (tpgdOn) {
            ltp ^= m_arith.decodeBit(kSltpContexts[templ], stats);
            if (ltp) {
                if (y > 0)
                    bitmap->duplicateRow(y, y - 1);
                if (pastData(1) || !spend(width / 32 + 1))
                    break;
                continue;
            }
        }
        // A row of the nominal template is counted by its steps (a white run
        // is one), so that a white page costs little; any other by pixel.
        if (pastData(width) || (!nominal && !spend(width)))
            break;
        uint8_t* row0 = bitmap->row(y);
        if (y >= 1)
            std::memcpy(pad1.data() + kRowPad, bitmap->row(y - 1), line);
        if (y >= 2)
            std::memcpy(pad2.data() + kRowPad, bitmap->row(y - 2), line);
        const Rows rows{row0, pad1.data(), pad2.data()};
        if (nominal) {
            if (!spend(decodeNominalRow(m_arith, stats, win, width, rows) + width / 32 + 1))
                break;
        } else {
            decodeFixedRow(m_arith, stats, win, templ, at, *bitmap, skip, y, width, rows);
        }
    }
    return bitmap;
}

void Jbig2Decoder::decodeMmr(Jbig2Bitmap& bitmap, Jbig2BitReader& reader) {
    // Beyond this many bytes past its data a reader holds only the zeros it
    // makes up, and the rows decoded from them are noise.
    constexpr size_t kOverrun = 8;
    const int width = bitmap.width();
    // A row holds no more changes than the codes its data can hold, so
    // that a wide row of little data takes no more memory than the data.
    const size_t capacity = std::min<size_t>(size_t(width), reader.size() * 8 + 16) + 4;
    std::vector<int> ref(capacity + 3), cur(capacity + 3);
    int refCount = 0;
    ref[0] = ref[1] = width;
    bool reported = false;
    auto bad = [&](const char* what) {
        if (!reported)
            reportError(m_position, "Bad %s code in JBIG2 MMR data", what);
        reported = true;
    };
    auto readRun = [&](int color) {
        int run = 0;
        for (;;) {
            const FaxCode code = color ? lookupFaxBlack(reader.peekBits(kFaxBlackBits))
                                       : lookupFaxWhite(reader.peekBits(kFaxWhiteBits));
            if (code.length == 0) {
                bad(color ? "black run" : "white run");
                reader.skipBits(1);
                return run + 1;
            }
            reader.skipBits(code.length);
            run += code.value;
            if (code.value < kFaxFirstMakeUp || run > width)
                return run;
        }
    };
    for (int y = 0; y < bitmap.height(); ++y) {
        if (reader.bytesRead() > reader.size() + kOverrun)
            break;
        // The end-of-facsimile-block code: two end-of-line codes.
        if (reader.peekBits(24) == 0x001001) {
            reader.skipBits(24);
            return;
        }
        uint8_t* row = bitmap.row(y);
        int curCount = 0;
        int a0 = -1;
        int color = 0;
        int ri = 0;
        for (int guard = 0; a0 < width && guard < 2 * width + 4; ++guard) {
            while (ri > 0 && ref[size_t(ri - 1)] > a0)
                --ri;
            while (ri < refCount && ref[size_t(ri)] <= a0)
                ++ri;
            if ((ri & 1) != color)
                ++ri;
            const int b1 = ri < refCount ? ref[size_t(ri)] : width;
            const int b2 = ri + 1 < refCount ? ref[size_t(ri + 1)] : width;
            const int start = std::max(a0, 0);
            const FaxCode mode = lookupFaxMode(reader.peekBits(kFaxModeBits));
            int value = kFaxPass;
            if (mode.length == 0) {
                bad("mode");
                reader.skipBits(1);
            } else {
                reader.skipBits(mode.length);
                value = mode.value;
            }
            if (value == kFaxPass) {
                if (color)
                    setRun(row, start, b2);
                a0 = b2;
            } else if (value == kFaxHorizontal) {
                const int r1 = readRun(color);
                const int r2 = readRun(color ^ 1);
                const int a1 = int(std::min<int64_t>(int64_t(start) + r1, width));
                const int a2 = int(std::min<int64_t>(int64_t(a1) + r2, width));
                if (color)
                    setRun(row, start, a1);
                else
                    setRun(row, a1, a2);
                cur[size_t(curCount++)] = a1;
                cur[size_t(curCount++)] = a2;
                a0 = a2;
            } else {
                const int a1 = std::clamp(b1 + (value - kFaxVertical0), start, width);
                if (color)
                    setRun(row, start, a1);
                cur[size_t(curCount++)] = a1;
                color ^= 1;
                a0 = a1;
            }
            if (size_t(curCount) + 2 > capacity)
                break;
        }
        cur[size_t(curCount)] = width;
        cur[size_t(curCount) + 1] = width;
        std::swap(ref, cur);
        refCount = curCount;
    }
    if (reader.peekBits(24) == 0x001001)
        reader.skipBits(24);
}

void Jbig2Decoder::readGenericRegion(const SegmentHeader& h, Data data, bool immediate, SegmentList& list) {
    RegionInfo info;
    if (!readRegionInfo(data, info) || data.size < 18) {
        reportError(m_position, "Short JBIG2 generic region segment");
        return;
    }
    const int flags = data.bytes[17];
    const bool mmr = flags & 1;
    const int templ = (flags >> 1) & 3;
    const bool tpgd = (flags >> 3) & 1;
    Jbig2FieldReader fields(data.bytes, data.size, 18);
    int at[8] = {0};
    if (!mmr)
        for (int i = 0; i < (templ == 0 ? 8 : 2); ++i)
            at[i] = fields.s8();
    if (!fields.ok()) {
        reportError(m_position, "Short JBIG2 generic region segment");
        return;
    }
    // A region of unknown length ends with its row count.
    if (h.dataLength == 0xFFFFFFFF && info.height == 0xFFFFFFFF && data.size >= 22) {
        Jbig2FieldReader rows(data.bytes, data.size, data.size - 4);
        info.height = rows.u32();
    }
    if (!Jbig2Bitmap::sizeInRange(info.width, info.height)) {
        reportError(m_position, "Bad JBIG2 generic region size");
        return;
    }
    const size_t pos = fields.pos();
    Jbig2BitReader reader(data.bytes + pos, data.size - pos);
    if (!mmr) {
        resetGenericStats(templ, nullptr);
        startArith(data, pos, data.size - pos);
    }
    auto bitmap = decodeGeneric(mmr, int(info.width), int(info.height), templ, tpgd, nullptr, at, &reader);
    placeRegion(h.number, info, std::move(bitmap), immediate, list);
}

// --- Refinement ---

std::unique_ptr<Jbig2Bitmap> Jbig2Decoder::decodeRefinement(int width, int height, int templ, bool tpgrOn,
                                                            const Jbig2Bitmap& reference, int64_t dx,
                                                            int64_t dy, const int* at) {
    if (!Jbig2Bitmap::sizeInRange(width, height) || !spend(int64_t(width) * height) ||
        !reserveBitmap(width, height))
        return nullptr;
    auto bitmap = std::make_unique<Jbig2Bitmap>(0, width, height);
    ArithDecoderStats* stats = m_refinementStats.get();
    // Every fixed pixel of both templates lies in a 3-pixel window of a row,
    // three of the reference around (x - dx, y - dy) and one of the bitmap
    // above, and the windows slide along the row; AT pixels away from their
    // usual places are looked up.
    const bool customAt = templ == 0 && !(at[0] == -1 && at[1] == -1 && at[2] == -1 && at[3] == -1);
    const int refWidth = reference.isValid() ? reference.width() : 0;
    auto refRow = [&](int64_t ry) {
        return reference.isValid() && ry >= 0 && ry < reference.height() ? reference.row(int(ry)) : nullptr;
    };
    auto refPixel = [&](int64_t x, int64_t y) { return uint32_t(rowPixel(refRow(y), x, refWidth)); };
    int ltp = 0;
    for (int y = 0; y < height && !pastData(width); ++y) {
        if (tpgrOn)
            ltp ^= m_arith.decodeBit(templ ? kTpgrContexts[1] : kTpgrContexts[0], stats);
        uint8_t* row = bitmap->row(y);
        const uint8_t* above = y > 0 ? bitmap->row(y - 1) : nullptr;
        const int64_t ry = y - dy;
        const uint8_t* up = refRow(ry - 1);
        const uint8_t* mid = refRow(ry);
        const uint8_t* down = refRow(ry + 1);
        const int64_t rx0 = -dx;
        auto window = [&](const uint8_t* r) {
            return (uint32_t(rowPixel(r, rx0 - 1, refWidth)) << 2) |
                   (uint32_t(rowPixel(r, rx0, refWidth)) << 1) | uint32_t(rowPixel(r, rx0 + 1, refWidth));
        };
        uint32_t u = window(up), m = window(mid), d = window(down);
        uint32_t a = (uint32_t(rowPixel(above, 0, width)) << 1) | uint32_t(rowPixel(above, 1, width));
        uint32_t left = 0;
        for (int x = 0; x < width; ++x) {
            int bit;
            if (ltp && (u & m & d) == 7) {
                // A pixel whose reference neighbourhood is all one colour
                // takes that colour without a decision.
                bit = 1;
            } else if (ltp && (u | m | d) == 0) {
                bit = 0;
            } else {
                uint32_t cx;
                if (templ == 0) {
                    cx = (u << 10) | (m << 7) | (d << 4) | (a << 1) | left;
                    if (customAt) {
                        cx = (cx & ~((1u << 12) | (1u << 3))) |
                             (refPixel(rx0 + x + at[2], ry + at[3]) << 12) |
                             (uint32_t(bitmap->getPixel(x + at[0], y + at[1])) << 3);
                    }
                } else {
                    // The reference's cross and lower right, the row above.
                    cx = (((u >> 1) & 1) << 9) | (m << 6) | ((d & 3) << 4) | (a << 1) | left;
                }
                bit = m_arith.decodeBit(cx, stats);
            }
            if (bit)
                row[x >> 3] |= uint8_t(0x80 >> (x & 7));
            left = uint32_t(bit);
            const int64_t next = rx0 + x + 2;
            u = ((u << 1) | uint32_t(rowPixel(up, next, refWidth))) & 7;
            m = ((m << 1) | uint32_t(rowPixel(mid, next, refWidth))) & 7;
            d = ((d << 1) | uint32_t(rowPixel(down, next, refWidth))) & 7;
            a = ((a << 1) | uint32_t(rowPixel(above, x + 2, width))) & 7;
        }
    }
    return bitmap;
}

void Jbig2Decoder::readRefinementRegion(const SegmentHeader& h, Data data, bool immediate,
                                        SegmentList& list) {
    RegionInfo info;
    if (!readRegionInfo(data, info) || data.size < 18) {
        reportError(m_position, "Short JBIG2 refinement region segment");
        return;
    }
    const int flags = data.bytes[17];
    const int templ = flags & 1;
    const bool tpgr = (flags >> 1) & 1;
    Jbig2FieldReader fields(data.bytes, data.size, 18);
    int at[4] = {0};
    if (templ == 0)
        for (int& v : at)
            v = fields.s8();
    if (!fields.ok()) {
        reportError(m_position, "Short JBIG2 refinement region segment");
        return;
    }
    if (!Jbig2Bitmap::sizeInRange(info.width, info.height)) {
        reportError(m_position, "Bad JBIG2 refinement region size");
        return;
    }
    if (h.refs.size() > 1) {
        reportError(m_position, "JBIG2 refinement region refers to several segments");
        return;
    }
    std::unique_ptr<Jbig2Bitmap> pageArea;
    const Jbig2Bitmap* reference = nullptr;
    if (h.refs.size() == 1) {
        Jbig2Segment* segment = findSegment(h.refs[0]);
        if (!segment || segment->getKind() != Jbig2Segment::kBitmapKind) {
            reportError(m_position, "JBIG2 refinement region refers to no intermediate region bitmap");
            return;
        }
        reference = static_cast<Jbig2Bitmap*>(segment);
    } else {
        if (!m_page || (m_pageStriped && !ensurePageHeight(info.y + info.height))) {
            reportError(m_position, "JBIG2 refinement region before the page information");
            return;
        }
        if (!reserveBitmap(info.width, info.height))
            return;
        pageArea = m_page->getSlice(int(info.x), int(info.y), int(info.width), int(info.height));
        reference = pageArea.get();
    }
    resetRefinementStats(templ, nullptr);
    startArith(data, fields.pos(), data.size - fields.pos());
    auto bitmap = decodeRefinement(int(info.width), int(info.height), templ, tpgr, *reference, 0, 0, at);
    if (h.refs.size() == 1)
        removeSegment(h.refs[0]);
    placeRegion(h.number, info, std::move(bitmap), immediate, list);
}

}  // namespace rendova
