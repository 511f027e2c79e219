// Path operations derived from the input bytes (move, line, curve, close and
// stroke-adjust hints, with coordinates in a page-sized range) run through
// flattening, clipping and scan conversion, with and without anti-aliasing,
// under a matrix from a table that includes hostile ones.
//
// Layout: byte 0 options (bit 0 anti-aliasing, bit 1 even-odd, bits 2-5 the
// matrix), byte 1 flatness, then operations: one byte each (low 3 bits the
// kind), followed by its coordinates as two-byte values.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>

#include "engine/core/Memory.h"
#include "engine/raster/FlatPath.h"
#include "engine/raster/RasterBitmap.h"
#include "engine/raster/RasterClip.h"
#include "engine/raster/RasterPath.h"
#include "engine/raster/RasterScanner.h"

using namespace rendova;

namespace {

constexpr int kWidth = 48;
constexpr int kHeight = 40;
// Enough operations for long paths, few enough to keep each run quick.
constexpr int kMaxOperations = 2048;

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool done() const { return m_pos >= m_size; }
    uint8_t byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    // -96 to about 160 in steps of 1/256: the page and some margin.
    double coord() {
        const int v = byte() << 8 | byte();
        return v / 256.0 - 96;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

const double kInf = std::numeric_limits<double>::infinity();
const double kMatrices[16][6] = {
    {1, 0, 0, 1, 0, 0},
    {0.5, 0, 0, 0.5, 3, 3},
    {2, 0, 0, -2, 0, 40},
    {0.866, 0.5, -0.5, 0.866, 10, -5},
    {1, 0.3, 0.7, 1, -4, 2},
    {0, 1, 1, 0, 0, 0},
    {1e12, 0, 0, 1e12, 0, 0},
    {1e-12, 0, 0, 1e-12, 20, 20},
    {kInf, 0, 0, 1, 0, 0},
    {1, 0, 0, 1, kInf, -kInf},
    {std::nan(""), 0, 0, 1, 0, 0},
    {1e300, 1e300, -1e300, 1e300, 0, 0},
    {-1, 0, 0, 1, 48, 0},
    {4, 0, 0, 4, -100, -100},
    {1, 0, 0, 1, 0.5, 0.25},
    {0.01, 0, 0, 100, 0, -2000},
};

void scan(RasterPath& path, const double* matrix, double flatness, int antialias, int evenOdd,
          RasterClip& clip, RasterBitmap* buffer) {
    FlatPath flat(path, matrix, flatness, true);
    if (antialias)
        flat.scaleForAntialias();
    flat.sortSegments();
    RasterScanner scanner(&flat, evenOdd);
    int xMin, yMin, xMax, yMax;
    if (antialias) {
        scanner.getBBox(xMin, yMin, xMax, yMax);
    } else {
        xMin = scanner.xMin(), yMin = scanner.yMin(), xMax = scanner.xMax(), yMax = scanner.yMax();
    }
    const int clipResult = clip.testRect(xMin, yMin, xMax, yMax);
    if (clipResult == 1)
        return;
    if (yMin < clip.yMinI())
        yMin = clip.yMinI();
    if (yMax > clip.yMaxI())
        yMax = clip.yMaxI();
    if (yMin < 0)
        yMin = 0;
    if (yMax >= kHeight)
        yMax = kHeight - 1;
    volatile int sink = 0;
    for (int y = yMin; y <= yMax; ++y) {
        if (antialias) {
            int x0, x1;
            scanner.renderAaLine(*buffer, x0, x1, y);
            if (clipResult != 0)
                clip.clipSpan(*buffer, x0, x1, y);
            if (x0 < 0)
                x0 = 0;
            if (x1 >= kWidth)
                x1 = kWidth - 1;
            for (int x = x0; x <= x1; ++x)
                sink = sink + (buffer->data()[x >> 1] & 0x0f);
        } else {
            int x0, x1;
            while (scanner.getNextSpan(y, x0, x1)) {
                if (x0 < clip.xMinI())
                    x0 = clip.xMinI();
                if (x1 > clip.xMaxI())
                    x1 = clip.xMaxI();
                if (x0 > x1)
                    continue;
                if (clip.testSpan(x0, x1, y) != 0) {
                    for (int x = x0; x <= x1 && x < x0 + 64; ++x)
                        sink = sink + clip.test(x, y);
                }
            }
        }
        sink = sink + scanner.test(y, y) + scanner.testSpan(y - 3, y + 3, y);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    Reader in(data, size);
    const int options = in.byte();
    const int antialias = options & 1;
    const int evenOdd = (options >> 1) & 1;
    const double* matrix = kMatrices[(options >> 2) & 15];
    const double flatness = 1 + in.byte() / 32.0;

    try {
        RasterPath paths[2];
        int current = 0;
        for (int op = 0; op < kMaxOperations && !in.done(); ++op) {
            RasterPath& path = paths[current];
            switch (in.byte() & 7) {
                case 0: {
                    const double x = in.coord(), y = in.coord();
                    path.moveTo(x, y);
                    break;
                }
                case 1:
                case 2: {
                    const double x = in.coord(), y = in.coord();
                    path.lineTo(x, y);
                    break;
                }
                case 3: {
                    const double x1 = in.coord(), y1 = in.coord(), x2 = in.coord(), y2 = in.coord();
                    const double x3 = in.coord(), y3 = in.coord();
                    path.curveTo(x1, y1, x2, y2, x3, y3);
                    break;
                }
                case 4:
                    path.close();
                    break;
                case 5: {
                    // Hints with indices near the path's points, some outside it.
                    const int base = path.length();
                    path.addStrokeAdjustHint(base - in.byte() % 8, base - in.byte() % 8,
                                             base - in.byte() % 16, base + in.byte() % 4 - 2);
                    break;
                }
                case 6:
                    current ^= 1;
                    break;
                default:
                    path.offset(in.coord() / 16, in.coord() / 16);
                    break;
            }
        }

        RasterClip clip(0, 0, kWidth - 0.001, kHeight - 0.001, antialias);
        clip.clipToPath(paths[1], matrix, flatness, evenOdd);
        RasterClip copy(clip);
        std::unique_ptr<RasterBitmap> buffer;
        if (antialias)
            buffer = std::make_unique<RasterBitmap>(4 * kWidth, 4, 1, rasterMono1, false, true);
        scan(paths[0], matrix, flatness, antialias, evenOdd, copy, buffer.get());

        // The open form that thin strokes use, and both paths as one.
        FlatPath open(paths[0], matrix, flatness, false);
        paths[0].append(paths[1]);
        scan(paths[0], kMatrices[0], flatness, antialias, !evenOdd, clip, buffer.get());
    } catch (const MemoryException&) {
        // Growth past the engine's 32-bit sizes: the documented outcome.
    }
    return 0;
}
