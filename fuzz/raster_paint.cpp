// Painting driven by the input bytes: fills, strokes (widths, caps, joins,
// miter limits and dash patterns, degenerate ones included), glyphs, image
// masks and images under matrices from a table that includes hostile ones,
// compositing and copying with rectangles anywhere, soft masks and
// non-isolated groups, on small bitmaps of every colour mode.
//
// Layout: byte 0 options (bits 0-1 colour mode, bit 2 anti-aliasing, bit 3
// alpha plane, bit 4 soft mask, bit 5 group), then operations of one byte
// each (low 4 bits the kind) followed by their arguments.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "engine/core/Memory.h"
#include "engine/raster/BlendModes.h"
#include "engine/raster/Rasteriser.h"

using namespace rendova;

namespace {

constexpr int kWidth = 40;
constexpr int kHeight = 32;
constexpr int kMaxOperations = 256;
// A stroke costs in proportion to its outline, which grows with every vertex
// (a join piece each) and every dash; bounding the path and the number of
// paintings keeps each run quick without narrowing what is exercised.
constexpr int kMaxPathPoints = 256;
constexpr int kMaxPaintings = 12;
// A dash pattern cuts a stroke into pieces by the path's length over the
// pattern's; the rasteriser allows millions, which under the sanitizers
// take longer than a run may. Strokes with more are left out here.
constexpr double kMaxDashPieces = 1 << 13;
// A curve under a huge matrix flattens into up to 1024 lines, and a stroke
// turns each into an outline piece whose round joins and caps flatten into
// as many again: a second of the sanitizers' time for each such stroke.
constexpr int kHugeMatrix = 4;
constexpr int kMaxHugeCurveStrokes = 2;

// The dash pieces a stroke of the path would make, as the rasteriser counts
// them before dashing.
double dashPieces(const RasterPath& path, const double* dash, int count) {
    double total = 0;
    for (int i = 0; i < count; ++i)
        total += std::fabs(dash[i]);
    if (count == 0 || !(total > 0))
        return 0;
    double length = 0;
    const RasterPathPoint* pts = path.points();
    for (int i = 0; i + 1 < path.length(); ++i)
        length += std::hypot(pts[i + 1].x - pts[i].x, pts[i + 1].y - pts[i].y);
    return length / total * count;
}

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool done() const { return m_pos >= m_size; }
    uint8_t byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    // -24 to about 56 in steps of 1/256.
    double coord() {
        const int v = byte() << 8 | byte();
        return v / 819.2 - 24;
    }
    double unit() { return byte() / 255.0; }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

const double kInf = std::numeric_limits<double>::infinity();
const double kMatrices[8][6] = {
    {1, 0, 0, 1, 0, 0},     {0.7, 0.7, -0.7, 0.7, 20, -4}, {30, 0, 0, 20, 5, 6},
    {0, 25, 25, 0, 3, 3},   {1e12, 0, 0, 1e12, -1e11, 0},  {1, 0, 0, 1, kInf, 0},
    {5, 3, 2, 1.2, 10, 10}, {-20, 0, 0, -15, 30, 30},
};

struct Rows {
    Reader* in;
    int width;
    int bytes;
    static int source(void* data, uint8_t* line, uint8_t* alphaLine) {
        Rows& r = *static_cast<Rows*>(data);
        for (int i = 0; i < r.width * r.bytes; ++i)
            line[i] = r.in->byte();
        if (alphaLine) {
            for (int i = 0; i < r.width; ++i)
                alphaLine[i] = r.in->byte();
        }
        return 1;
    }
};

struct Glyphs {
    static int getGlyph(int, int, int, RasterGlyph*) { return 0; }
    static int subpixelSteps() { return 4; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    Reader in(data, size);
    const int options = in.byte();
    const int mode = options & 3;
    const int antialias = (options >> 2) & 1;
    try {
        RasterBitmap bitmap(kWidth, kHeight, 4, mode, (options >> 3) & 1, false);
        RasterBitmap backdrop(kWidth + 3, kHeight + 2, 1, mode, true, true);
        RasterBitmap other(17, 13, 1, mode, true, true);
        std::memset(bitmap.block() + RasterBitmap::kHeaderSize, 0x5a,
                    static_cast<size_t>(bitmap.blockSize() - 54));
        if (bitmap.alpha())
            std::memset(bitmap.alpha(), 0x80, kWidth * kHeight);
        std::memset(backdrop.alpha(), 0x40, static_cast<size_t>(backdrop.width() * backdrop.height()));
        std::memset(other.block() + 54, 0x33, static_cast<size_t>(other.blockSize() - 54));
        std::memset(other.alpha(), 0x99, 17 * 13);
        Rasteriser r(&bitmap, antialias, nullptr);
        if (options & 16) {
            auto* mask = new RasterBitmap(kWidth, kHeight, 1, rasterMono8, false, true);
            for (int i = 0; i < kWidth * kHeight; ++i)
                mask->data()[i] = static_cast<uint8_t>(i * 7);
            r.setSoftMask(mask);
        }
        if (options & 32)
            r.setInNonIsolatedGroup(&backdrop, 2, 1);
        // A knockout group's first state, of the bitmap's geometry.
        RasterBitmap initial(kWidth, kHeight, 4, mode, true, false);
        std::memset(initial.block() + RasterBitmap::kHeaderSize, 0xa5,
                    static_cast<size_t>(initial.blockSize() - 54));
        std::memset(initial.alpha(), 0x60, kWidth * kHeight);
        if (options & 64)
            r.setKnockoutBackdrop(&initial);

        RasterPath path;
        int paintings = 0;
        double dash[4] = {};
        int dashCount = 0;
        int curves = 0, matrix = 0, hugeCurveStrokes = 0;
        for (int op = 0; op < kMaxOperations && !in.done(); ++op) {
            const int kind = in.byte() & 15;
            if (kind <= 3 && path.length() >= kMaxPathPoints)
                continue;
            if ((kind == 4 || kind == 5 || kind == 11 || kind == 12) && ++paintings > kMaxPaintings)
                break;
            if (kind == 5 && matrix == kHugeMatrix && curves > 0 && ++hugeCurveStrokes > kMaxHugeCurveStrokes)
                continue;
            switch (kind) {
                case 0:
                    path.moveTo(in.coord(), in.coord());
                    break;
                case 1:
                    path.lineTo(in.coord(), in.coord());
                    break;
                case 2: {
                    const double x1 = in.coord(), y1 = in.coord(), x2 = in.coord(), y2 = in.coord();
                    path.curveTo(x1, y1, x2, y2, in.coord(), in.coord());
                    ++curves;
                    break;
                }
                case 3:
                    path.close();
                    break;
                case 4:
                    r.fill(path, in.byte() & 1);
                    break;
                case 5:
                    if (dashPieces(path, dash, dashCount) <= kMaxDashPieces)
                        r.stroke(path);
                    break;
                case 6: {
                    const int v = in.byte();
                    r.setLineWidth((v & 63) / 8.0);
                    r.setLineCap((v >> 6) & 3);
                    r.setLineJoin(in.byte() % 3);
                    r.setMiterLimit(in.byte() / 16.0);
                    r.setStrokeAdjust(v & 1);
                    break;
                }
                case 7: {
                    dashCount = in.byte() % 5;
                    for (int i = 0; i < dashCount; ++i)
                        dash[i] = (static_cast<int8_t>(in.byte())) / 8.0;
                    r.setLineDash(dash, dashCount, in.coord());
                    break;
                }
                case 8:
                    matrix = in.byte() & 7;
                    r.setMatrix(kMatrices[matrix]);
                    break;
                case 9: {
                    r.setFillAlpha(in.unit());
                    r.setStrokeAlpha(in.unit());
                    const int blend = in.byte() & 31;
                    r.setBlendFunction(blend < 16 ? blendModeTable[blend] : nullptr);
                    break;
                }
                case 10: {
                    uint8_t pixels[64];
                    for (uint8_t& p : pixels)
                        p = in.byte();
                    RasterGlyph glyph;
                    glyph.antialiased = in.byte() & 1;
                    glyph.width = 1 + in.byte() % 8;
                    glyph.height = 1 + in.byte() % 8;
                    glyph.xOffset = static_cast<int8_t>(in.byte());
                    glyph.yOffset = static_cast<int8_t>(in.byte());
                    glyph.pixels = pixels;
                    r.fillGlyph(in.coord(), in.coord(), glyph);
                    Glyphs none;
                    r.fillChar(in.coord(), in.coord(), 65, none);
                    break;
                }
                case 11:
                case 12: {
                    const int w = 1 + in.byte() % 6, h = 1 + in.byte() % 6;
                    const double* m0 = kMatrices[in.byte() & 7];
                    double m[6];
                    for (int i = 0; i < 6; ++i)
                        m[i] = m0[i] * (0.5 + in.unit());
                    // Masks deliver one byte per pixel; images the target's layout.
                    const int bytes = kind == 12 && mode >= rasterRGB8 ? 3 : 1;
                    Rows rows{&in, w, bytes};
                    if (kind == 11)
                        r.fillImageMask(Rows::source, &rows, w, h, m, in.byte() & 1);
                    else
                        r.drawImage(Rows::source, &rows, mode == rasterMono1 ? rasterMono8 : mode,
                                    in.byte() & 1, w, h, m);
                    break;
                }
                case 13: {
                    const int xs = static_cast<int8_t>(in.byte()), ys = static_cast<int8_t>(in.byte());
                    const int xd = static_cast<int8_t>(in.byte()), yd = static_cast<int8_t>(in.byte());
                    const int w = in.byte(), h = in.byte();
                    if (in.byte() & 1)
                        r.composite(other, xs, ys, xd, yd, w, h, in.byte() & 1, in.byte() & 1);
                    else
                        r.blitBitmap(other, xs, ys, xd, yd, w, h);
                    break;
                }
                case 14: {
                    const uint8_t c[3] = {in.byte(), in.byte(), in.byte()};
                    if (in.byte() & 1)
                        r.compositeBackground(c);
                    else
                        r.setFillPattern(new RasterSolidColor(c));
                    break;
                }
                default: {
                    RasterPath clip;
                    clip.moveTo(in.coord(), in.coord());
                    clip.lineTo(in.coord(), in.coord());
                    clip.lineTo(in.coord(), in.coord());
                    clip.close();
                    if (in.byte() & 1)
                        r.saveState();
                    r.clipToPath(clip, false);
                    if (in.byte() & 1)
                        r.restoreState();
                    break;
                }
            }
        }
        // Whatever was drawn stays inside the bitmap.
        if (r.modXMax() >= kWidth || r.modYMax() >= kHeight || (r.modXMax() >= 0 && r.modXMin() < 0))
            __builtin_trap();
    } catch (const MemoryException&) {
    }
    return 0;
}
