// Record layouts follow the published EMF and WMF formats (see
// MetafileWriter.cpp): an EMF record is its 32-bit type and byte size and
// then its fields; a WMF record is its size in 16-bit words, its function
// number and its parameters, which are stored in the reverse order of the
// call's arguments. Every field is read through a bounds-checked view of
// its record; a record too short for its fields is skipped.
#include "platform/MetafilePlayer.h"

#include <algorithm>
#include <vector>

#include "platform/MetaPainter.h"

namespace platform {

namespace {

constexpr size_t kEmfHeaderMinimum = 88;  // the header record without its extensions
constexpr uint32_t kEmfSignature = 0x464D4520;
constexpr size_t kWmfHeaderSize = 18;
// The enhanced format's reference device when its header names none: our
// screen.
constexpr double kScreenPixelsPerMm = double(kScreenHorzRes) / kScreenHorzSize;

enum EmfRecord : uint32_t {
    kEmrHeader = 1,
    kEmrPolygon = 3,
    kEmrPolyline = 4,
    kEmrPolyPolyline = 7,
    kEmrPolyPolygon = 8,
    kEmrSetWindowExt = 9,
    kEmrSetWindowOrg = 10,
    kEmrSetViewportExt = 11,
    kEmrSetViewportOrg = 12,
    kEmrEof = 14,
    kEmrSetMapMode = 17,
    kEmrSetPolyFillMode = 19,
    kEmrSetBkColor = 25,
    kEmrMoveTo = 27,
    kEmrSaveDc = 33,
    kEmrRestoreDc = 34,
    kEmrSelectObject = 37,
    kEmrCreatePen = 38,
    kEmrCreateBrush = 39,
    kEmrDeleteObject = 40,
    kEmrRectangle = 43,
    kEmrCreatePalette = 49,
    kEmrLineTo = 54,
    kEmrBitBlt = 76,
    kEmrStretchBlt = 77,
    kEmrSetDibitsToDevice = 80,
    kEmrStretchDibits = 81,
    kEmrCreateFont = 82,
    kEmrExtTextOutA = 83,
    kEmrExtTextOutW = 84,
    kEmrPolygon16 = 86,
    kEmrPolyline16 = 87,
    kEmrPolyPolyline16 = 90,
    kEmrPolyPolygon16 = 91,
    kEmrCreateMonoBrush = 93,
    kEmrCreateDibPatternBrush = 94,
    kEmrExtCreatePen = 95,
};

enum WmfRecord : uint16_t {
    kMetaEof = 0x0000,
    kMetaSaveDc = 0x001E,
    kMetaCreatePalette = 0x00F7,
    kMetaSetMapMode = 0x0103,
    kMetaSetPolyFillMode = 0x0106,
    kMetaRestoreDc = 0x0127,
    kMetaSelectObject = 0x012D,
    kMetaDibCreatePatternBrush = 0x0142,
    kMetaCreatePatternBrush = 0x01F9,
    kMetaDeleteObject = 0x01F0,
    kMetaSetBkColor = 0x0201,
    kMetaSetWindowOrg = 0x020B,
    kMetaSetWindowExt = 0x020C,
    kMetaSetViewportOrg = 0x020D,
    kMetaSetViewportExt = 0x020E,
    kMetaLineTo = 0x0213,
    kMetaMoveTo = 0x0214,
    kMetaCreatePenIndirect = 0x02FA,
    kMetaCreateFontIndirect = 0x02FB,
    kMetaCreateBrushIndirect = 0x02FC,
    kMetaPolygon = 0x0324,
    kMetaPolyline = 0x0325,
    kMetaRectangle = 0x041B,
    kMetaPolyPolygon = 0x0538,
    kMetaPatBlt = 0x061D,
    kMetaCreateRegion = 0x06FF,
    kMetaDibBitBlt = 0x0940,
    kMetaExtTextOut = 0x0A32,
    kMetaDibStretchBlt = 0x0B41,
    kMetaSetDibToDev = 0x0D33,
    kMetaStretchDib = 0x0F43,
};

constexpr uint32_t kTextOpaque = 0x0002;
constexpr uint32_t kPenGeometric = 0x00010000;

// A record's bytes; reads outside them answer 0 and are caught by has().
struct View {
    const uint8_t* data;
    size_t size;

    bool has(size_t at, size_t bytes) const { return at <= size && bytes <= size - at; }
    uint32_t u32(size_t at) const {
        return has(at, 4) ? uint32_t(data[at]) | uint32_t(data[at + 1]) << 8 | uint32_t(data[at + 2]) << 16 |
                                uint32_t(data[at + 3]) << 24
                          : 0;
    }
    int32_t i32(size_t at) const { return int32_t(u32(at)); }
    uint16_t u16(size_t at) const { return has(at, 2) ? uint16_t(data[at] | data[at + 1] << 8) : 0; }
    int16_t i16(size_t at) const { return int16_t(u16(at)); }
};

using Point = MetaPainter::Point;

// --- EMF -----------------------------------------------------------------------------------

// Points of a polygon or polyline record: 32-bit pairs, or 16-bit ones.
bool emfPoints(const View& r, size_t at, uint64_t count, bool small, std::vector<Point>& points) {
    const size_t step = small ? 4 : 8;
    if (count > r.size / step || !r.has(at, size_t(count) * step))
        return false;
    points.resize(size_t(count));
    for (size_t i = 0; i < points.size(); ++i) {
        const size_t p = at + i * step;
        points[i] = small ? Point{double(r.i16(p)), double(r.i16(p + 2))}
                          : Point{double(r.i32(p)), double(r.i32(p + 4))};
    }
    return true;
}

// A bitmap that a record carries at offsets of its own.
bool emfDib(const View& r, size_t infoOffsetAt, uint32_t usage, MetaPainter::Dib& dib) {
    const uint64_t infoAt = r.u32(infoOffsetAt);
    const uint64_t infoSize = r.u32(infoOffsetAt + 4);
    const uint64_t bitsAt = r.u32(infoOffsetAt + 8);
    const uint64_t bitsSize = r.u32(infoOffsetAt + 12);
    if (infoSize == 0 || infoAt + infoSize > r.size || bitsAt + bitsSize > r.size)
        return false;
    dib.info = r.data + infoAt;
    dib.infoSize = size_t(infoSize);
    dib.bits = r.data + bitsAt;
    dib.bitsSize = size_t(bitsSize);
    dib.usage = usage;
    return true;
}

void playEmfPolys(MetaPainter& painter, const View& r, uint32_t type) {
    const bool small = type == kEmrPolyPolyline16 || type == kEmrPolyPolygon16;
    const bool polygon = type == kEmrPolyPolygon || type == kEmrPolyPolygon16;
    const uint64_t polys = r.u32(24);
    const uint64_t total = r.u32(28);
    if (!r.has(32, 0) || polys > r.size / 4 || !r.has(32, size_t(polys) * 4))
        return;
    std::vector<size_t> counts(static_cast<size_t>(polys));
    uint64_t sum = 0;
    for (size_t i = 0; i < counts.size(); ++i) {
        counts[i] = r.u32(32 + 4 * i);
        sum += counts[i];
    }
    std::vector<Point> points;
    if (sum != total || !emfPoints(r, 32 + size_t(polys) * 4, total, small, points))
        return;
    if (polygon) {
        painter.polyPolygon(points, counts);
        return;
    }
    size_t at = 0;
    for (size_t count : counts) {
        painter.polyline(
            std::vector<Point>(points.begin() + ptrdiff_t(at), points.begin() + ptrdiff_t(at + count)));
        at += count;
    }
}

// The records that copy bitmaps (or only paint) onto the page.
void playEmfBitmap(MetaPainter& painter, const View& r, uint32_t type) {
    MetaPainter::Dib dib;
    switch (type) {
        case kEmrBitBlt:
        case kEmrStretchBlt: {
            const bool stretch = type == kEmrStretchBlt;
            if (!r.has(8, stretch ? 100 : 92))
                return;
            const double width = r.i32(32);
            const double height = r.i32(36);
            const MetaPainter::Source source{double(r.i32(44)), double(r.i32(48)),
                                             stretch ? double(r.i32(100)) : width,
                                             stretch ? double(r.i32(104)) : height, true};
            const bool withBitmap = r.u32(88) != 0 && emfDib(r, 84, r.u32(80), dib);
            painter.blit(r.i32(24), r.i32(28), width, height, r.u32(40), withBitmap ? &dib : nullptr, source);
            return;
        }
        case kEmrSetDibitsToDevice: {
            if (!r.has(8, 68) || !emfDib(r, 48, r.u32(64), dib))
                return;
            dib.firstRow = r.u32(68);
            dib.rows = r.u32(72);
            const double width = r.i32(40);
            const double height = r.i32(44);
            const MetaPainter::Source source{double(r.i32(32)), double(r.i32(36)), width, height, false};
            painter.blit(r.i32(24), r.i32(28), width, height, 0x00CC0020, &dib, source);
            return;
        }
        case kEmrStretchDibits: {
            if (!r.has(8, 72) || !emfDib(r, 48, r.u32(64), dib))
                return;
            const MetaPainter::Source source{double(r.i32(32)), double(r.i32(36)), double(r.i32(40)),
                                             double(r.i32(44)), false};
            painter.blit(r.i32(24), r.i32(28), r.i32(72), r.i32(76), r.u32(68), &dib, source);
            return;
        }
        default:
            return;
    }
}

// The records that make, select and delete the objects of the table.
void playEmfObject(MetaPainter& painter, const View& r, uint32_t type) {
    switch (type) {
        case kEmrSelectObject:
        case kEmrDeleteObject:
            if (!r.has(8, 4))
                return;
            if (type == kEmrSelectObject)
                painter.selectObject(r.u32(8));
            else
                painter.deleteObject(r.u32(8));
            return;
        case kEmrCreatePen:
            if (r.has(8, 20)) {
                // A width of 0 is one pixel whatever the mapping.
                const int32_t width = r.i32(16);
                painter.createPen(r.u32(8), r.u32(12), width, width <= 0, r.u32(24));
            }
            return;
        case kEmrExtCreatePen:
            if (r.has(8, 36)) {
                const uint32_t style = r.u32(28);
                painter.createPen(r.u32(8), style, r.u32(32), (style & kPenGeometric) == 0, r.u32(40));
            }
            return;
        case kEmrCreateBrush:
            if (r.has(8, 12))
                painter.createBrush(r.u32(8), r.u32(12), r.u32(16));
            return;
        case kEmrCreatePalette:
        case kEmrCreateFont:
        case kEmrCreateMonoBrush:
        case kEmrCreateDibPatternBrush:
            if (r.has(8, 4))
                painter.createOther(r.u32(8));
            return;
        default:
            return;
    }
}

void playEmfRecord(MetaPainter& painter, const View& r, uint32_t type) {
    std::vector<Point> points;
    switch (type) {
        case kEmrPolygon:
        case kEmrPolygon16:
        case kEmrPolyline:
        case kEmrPolyline16: {
            const bool small = type == kEmrPolygon16 || type == kEmrPolyline16;
            if (!r.has(24, 4) || !emfPoints(r, 28, r.u32(24), small, points))
                return;
            if (type == kEmrPolygon || type == kEmrPolygon16)
                painter.polyPolygon(points, {points.size()});
            else
                painter.polyline(points);
            return;
        }
        case kEmrPolyPolyline:
        case kEmrPolyPolygon:
        case kEmrPolyPolyline16:
        case kEmrPolyPolygon16:
            playEmfPolys(painter, r, type);
            return;
        case kEmrSetWindowExt:
        case kEmrSetWindowOrg:
        case kEmrSetViewportExt:
        case kEmrSetViewportOrg: {
            if (!r.has(8, 8))
                return;
            const double x = r.i32(8);
            const double y = r.i32(12);
            if (type == kEmrSetWindowExt)
                painter.setWindowExt(x, y);
            else if (type == kEmrSetWindowOrg)
                painter.setWindowOrg(x, y);
            else if (type == kEmrSetViewportExt)
                painter.setViewportExt(x, y);
            else
                painter.setViewportOrg(x, y);
            return;
        }
        case kEmrSetMapMode:
            if (r.has(8, 4))
                painter.setMapMode(r.i32(8));
            return;
        case kEmrSetPolyFillMode:
            if (r.has(8, 4))
                painter.setFillMode(r.i32(8));
            return;
        case kEmrSetBkColor:
            if (r.has(8, 4))
                painter.setBackgroundColour(r.u32(8));
            return;
        case kEmrMoveTo:
        case kEmrLineTo:
            if (!r.has(8, 8))
                return;
            if (type == kEmrMoveTo)
                painter.moveTo(r.i32(8), r.i32(12));
            else
                painter.lineTo(r.i32(8), r.i32(12));
            return;
        case kEmrSaveDc:
            painter.saveState();
            return;
        case kEmrRestoreDc:
            if (r.has(8, 4))
                painter.restoreState(r.i32(8));
            return;
        case kEmrRectangle:
            // The box keeps its right and bottom edges (see MetafileWriter).
            if (r.has(8, 16))
                painter.rectangle(r.i32(8), r.i32(12), double(r.i32(16)) + 1, double(r.i32(20)) + 1);
            return;
        case kEmrExtTextOutA:
        case kEmrExtTextOutW:
            if (r.has(52, 20) && (r.u32(52) & kTextOpaque) != 0)
                painter.opaqueRectangle(r.i32(56), r.i32(60), r.i32(64), r.i32(68));
            return;
        case kEmrBitBlt:
        case kEmrStretchBlt:
        case kEmrSetDibitsToDevice:
        case kEmrStretchDibits:
            playEmfBitmap(painter, r, type);
            return;
        case kEmrSelectObject:
        case kEmrDeleteObject:
        case kEmrCreatePen:
        case kEmrExtCreatePen:
        case kEmrCreateBrush:
        case kEmrCreatePalette:
        case kEmrCreateFont:
        case kEmrCreateMonoBrush:
        case kEmrCreateDibPatternBrush:
            playEmfObject(painter, r, type);
            return;
        default:
            return;
    }
}

// --- WMF -----------------------------------------------------------------------------------

// A packed bitmap (info header, colour table, bits) split into its parts.
bool packedDib(const View& r, size_t at, uint32_t usage, MetaPainter::Dib& dib) {
    if (!r.has(at, 4))
        return false;
    const View d{r.data + at, r.size - at};
    const uint32_t headerSize = d.u32(0);
    uint64_t info;
    if (headerSize == 12) {
        const uint32_t bits = d.u16(10);
        info = 12 + (bits <= 8 ? 3 * (uint64_t(1) << bits) : 0);
    } else if (headerSize >= 40) {
        const uint32_t bits = d.u16(14);
        const uint32_t compression = d.u32(16);
        uint64_t colours = d.u32(32);
        if (colours == 0 && bits <= 8)
            colours = uint64_t(1) << bits;
        info = uint64_t(headerSize) + 4 * colours + (compression == 3 && headerSize == 40 ? 12 : 0);
    } else {
        return false;
    }
    if (info > d.size)
        return false;
    dib.info = d.data;
    dib.infoSize = size_t(info);
    dib.bits = d.data + info;
    dib.bitsSize = d.size - size_t(info);
    dib.usage = usage;
    return true;
}

bool wmfPoints(const View& r, size_t at, uint64_t count, std::vector<Point>& points) {
    if (count > r.size / 4 || !r.has(at, size_t(count) * 4))
        return false;
    points.resize(size_t(count));
    for (size_t i = 0; i < points.size(); ++i)
        points[i] = {double(r.i16(at + 4 * i)), double(r.i16(at + 4 * i + 2))};
    return true;
}

// The records that copy bitmaps (or only paint) onto the page.
void playWmfBitmap(MetaPainter& painter, const View& r, uint16_t function) {
    auto w = [&r](size_t i) { return double(r.i16(6 + 2 * i)); };
    const size_t words = (r.size - 6) / 2;
    MetaPainter::Dib dib;
    switch (function) {
        case kMetaPatBlt:
            if (words >= 6)
                painter.blit(w(5), w(4), w(3), w(2), r.u32(6), nullptr, {});
            return;
        case kMetaDibBitBlt: {
            // Without a bitmap the record is (function >> 8) + 3 words long
            // and holds a reserved word before the size.
            const bool withBitmap = r.size / 2 != size_t(function >> 8) + 3;
            if (words < (withBitmap ? 8u : 9u))
                return;
            const size_t shift = withBitmap ? 0 : 1;
            const double width = w(5 + shift);
            const double height = w(4 + shift);
            const MetaPainter::Source source{w(3), w(2), width, height, true};
            const bool dibOk = withBitmap && packedDib(r, 22, 0, dib);
            painter.blit(w(7 + shift), w(6 + shift), width, height, r.u32(6), dibOk ? &dib : nullptr, source);
            return;
        }
        case kMetaDibStretchBlt: {
            const bool withBitmap = r.size / 2 != size_t(function >> 8) + 3;
            if (words < (withBitmap ? 10u : 11u))
                return;
            const size_t shift = withBitmap ? 0 : 1;
            const MetaPainter::Source source{w(5), w(4), w(3), w(2), true};
            const bool dibOk = withBitmap && packedDib(r, 26, 0, dib);
            painter.blit(w(9 + shift), w(8 + shift), w(7 + shift), w(6 + shift), r.u32(6),
                         dibOk ? &dib : nullptr, source);
            return;
        }
        case kMetaStretchDib: {
            if (words < 11 || !packedDib(r, 28, r.u16(10), dib))
                return;
            const MetaPainter::Source source{w(6), w(5), w(4), w(3), false};
            painter.blit(w(10), w(9), w(8), w(7), r.u32(6), &dib, source);
            return;
        }
        case kMetaSetDibToDev: {
            if (words < 9 || !packedDib(r, 24, r.u16(6), dib))
                return;
            dib.rows = r.u16(8);
            dib.firstRow = r.u16(10);
            const double width = w(6);
            const double height = w(5);
            const MetaPainter::Source source{w(4), w(3), width, height, false};
            painter.blit(w(8), w(7), width, height, 0x00CC0020, &dib, source);
            return;
        }
        default:
            return;
    }
}

// The records that make, select and delete the objects of the table.
void playWmfObject(MetaPainter& painter, const View& r, uint16_t function) {
    auto w = [&r](size_t i) { return double(r.i16(6 + 2 * i)); };
    const size_t words = (r.size - 6) / 2;
    switch (function) {
        case kMetaSelectObject:
            if (words >= 1)
                painter.selectObject(r.u16(6));
            return;
        case kMetaDeleteObject:
            if (words >= 1)
                painter.deleteObject(r.u16(6));
            return;
        case kMetaCreatePenIndirect:
            // A width of 0 is one pixel; others are logical units.
            if (words >= 5)
                painter.createPen(-1, r.u16(6), w(1), r.i16(8) <= 0, r.u32(12));
            else
                painter.createOther(-1);
            return;
        case kMetaCreateBrushIndirect:
            if (words >= 3)
                painter.createBrush(-1, r.u16(6), r.u32(8));
            else
                painter.createOther(-1);
            return;
        case kMetaCreateFontIndirect:
        case kMetaCreatePalette:
        case kMetaCreatePatternBrush:
        case kMetaDibCreatePatternBrush:
        case kMetaCreateRegion:
            // They hold a table slot, which later indices count.
            painter.createOther(-1);
            return;
        default:
            return;
    }
}

// The records that draw shapes.
void playWmfShape(MetaPainter& painter, const View& r, uint16_t function) {
    auto w = [&r](size_t i) { return double(r.i16(6 + 2 * i)); };
    const size_t words = (r.size - 6) / 2;
    std::vector<Point> points;
    switch (function) {
        case kMetaRectangle:
            if (words >= 4)
                painter.rectangle(w(3), w(2), w(1), w(0));
            return;
        case kMetaPolygon:
        case kMetaPolyline:
            if (words < 1 || !wmfPoints(r, 8, r.u16(6), points))
                return;
            if (function == kMetaPolygon)
                painter.polyPolygon(points, {points.size()});
            else
                painter.polyline(points);
            return;
        case kMetaPolyPolygon: {
            const size_t polys = r.u16(6);
            if (words < 1 + polys)
                return;
            std::vector<size_t> counts(polys);
            uint64_t total = 0;
            for (size_t i = 0; i < polys; ++i)
                total += counts[i] = r.u16(8 + 2 * i);
            if (wmfPoints(r, 8 + 2 * polys, total, points))
                painter.polyPolygon(points, counts);
            return;
        }
        case kMetaExtTextOut: {
            const uint32_t options = r.u16(12);
            // The rectangle is there when either option is set.
            if (words >= 8 && (options & kTextOpaque) != 0)
                painter.opaqueRectangle(w(4), w(5), w(6), w(7));
            return;
        }
        default:
            return;
    }
}

void playWmfRecord(MetaPainter& painter, const View& r, uint16_t function) {
    // Parameters start after the size and function words.
    auto w = [&r](size_t i) { return double(r.i16(6 + 2 * i)); };
    const size_t words = (r.size - 6) / 2;
    switch (function) {
        case kMetaSetWindowOrg:
        case kMetaSetWindowExt:
        case kMetaSetViewportOrg:
        case kMetaSetViewportExt:
        case kMetaMoveTo:
        case kMetaLineTo: {
            if (words < 2)
                return;
            const double y = w(0);
            const double x = w(1);
            if (function == kMetaSetWindowOrg)
                painter.setWindowOrg(x, y);
            else if (function == kMetaSetWindowExt)
                painter.setWindowExt(x, y);
            else if (function == kMetaSetViewportOrg)
                painter.setViewportOrg(x, y);
            else if (function == kMetaSetViewportExt)
                painter.setViewportExt(x, y);
            else if (function == kMetaMoveTo)
                painter.moveTo(x, y);
            else
                painter.lineTo(x, y);
            return;
        }
        case kMetaSetMapMode:
            if (words >= 1)
                painter.setMapMode(r.i16(6));
            return;
        case kMetaSetPolyFillMode:
            if (words >= 1)
                painter.setFillMode(r.i16(6));
            return;
        case kMetaSetBkColor:
            if (words >= 2)
                painter.setBackgroundColour(r.u32(6));
            return;
        case kMetaSaveDc:
            painter.saveState();
            return;
        case kMetaRestoreDc:
            if (words >= 1)
                painter.restoreState(r.i16(6));
            return;
        case kMetaPatBlt:
        case kMetaDibBitBlt:
        case kMetaDibStretchBlt:
        case kMetaStretchDib:
        case kMetaSetDibToDev:
            playWmfBitmap(painter, r, function);
            return;
        case kMetaSelectObject:
        case kMetaDeleteObject:
        case kMetaCreatePenIndirect:
        case kMetaCreateBrushIndirect:
        case kMetaCreateFontIndirect:
        case kMetaCreatePalette:
        case kMetaCreatePatternBrush:
        case kMetaDibCreatePatternBrush:
        case kMetaCreateRegion:
            playWmfObject(painter, r, function);
            return;
        case kMetaRectangle:
        case kMetaPolygon:
        case kMetaPolyline:
        case kMetaPolyPolygon:
        case kMetaExtTextOut:
            playWmfShape(painter, r, function);
            return;
        default:
            return;
    }
}

}  // namespace

bool readEnhMetaHeader(const uint8_t* data, size_t size, EnhMetaHeader& header) {
    if (data == nullptr || size < kEmfHeaderMinimum)
        return false;
    const View r{data, size};
    const uint32_t recordSize = r.u32(4);
    if (r.u32(0) != kEmrHeader || recordSize < kEmfHeaderMinimum || recordSize > size ||
        r.u32(40) != kEmfSignature)
        return false;
    header.bounds = {r.i32(8), r.i32(12), r.i32(16), r.i32(20)};
    header.frame = {r.i32(24), r.i32(28), r.i32(32), r.i32(36)};
    header.bytes = r.u32(48);
    header.records = r.u32(52);
    header.handles = r.u16(56);
    header.devicePixelsX = r.i32(72);
    header.devicePixelsY = r.i32(76);
    header.deviceMillimetresX = r.i32(80);
    header.deviceMillimetresY = r.i32(84);
    return true;
}

bool playEnhMetaFile(const uint8_t* data, size_t size, const MetaCanvas& canvas) {
    EnhMetaHeader header;
    if (!readEnhMetaHeader(data, size, header) || canvas.width <= 0 || canvas.height <= 0)
        return false;
    // The picture frame (hundredths of a millimetre) is what the graphics
    // interface stretches over the target; without a usable frame, the
    // bounds (inclusive device pixels) are.
    const bool haveDevice = header.devicePixelsX > 0 && header.devicePixelsY > 0 &&
                            header.deviceMillimetresX > 0 && header.deviceMillimetresY > 0;
    const double mmX =
        haveDevice ? double(header.devicePixelsX) / header.deviceMillimetresX : kScreenPixelsPerMm;
    const double mmY =
        haveDevice ? double(header.devicePixelsY) / header.deviceMillimetresY : kScreenPixelsPerMm;
    double left = header.frame.left * mmX / 100;
    double top = header.frame.top * mmY / 100;
    double right = header.frame.right * mmX / 100;
    double bottom = header.frame.bottom * mmY / 100;
    if (!(right > left && bottom > top)) {
        left = header.bounds.left;
        top = header.bounds.top;
        right = double(header.bounds.right) + 1;
        bottom = double(header.bounds.bottom) + 1;
    }
    if (!(right > left && bottom > top))
        return true;  // nothing to map: an empty picture
    const double scaleX = canvas.width / (right - left);
    const double scaleY = canvas.height / (bottom - top);
    MetaPainter painter(canvas, scaleX, -left * scaleX, scaleY, -top * scaleY, mmX, mmY);
    painter.setTableSize(std::max<size_t>(header.handles, 1));

    size_t at = 0;
    while (at + 8 <= size && painter.withinBudget()) {
        const View head{data + at, size - at};
        const uint32_t type = head.u32(0);
        const uint32_t recordSize = head.u32(4);
        if (recordSize < 8 || recordSize > size - at)
            break;
        if (type == kEmrEof)
            break;
        if (type != kEmrHeader)
            playEmfRecord(painter, View{data + at, recordSize}, type);
        at += recordSize;
    }
    return true;
}

bool playWinMetaFile(const uint8_t* data, size_t size, const MetaRect& window, const MetaCanvas& canvas) {
    if (data == nullptr || size < kWmfHeaderSize || canvas.width <= 0 || canvas.height <= 0)
        return false;
    const View header{data, size};
    const uint16_t type = header.u16(0);
    if (type != 1 && type != 2)
        return false;
    MetaPainter painter(canvas, 1, 0, 1, 0, kScreenPixelsPerMm, kScreenPixelsPerMm);
    // The placeable bounds are the window, the canvas the viewport, until
    // the records say otherwise.
    painter.setMapMode(MetaPainter::kMapAnisotropic);
    painter.setWindowOrg(window.left, window.top);
    painter.setWindowExt(double(window.right) - window.left, double(window.bottom) - window.top);
    painter.setViewportOrg(0, 0);
    painter.setViewportExt(canvas.width, canvas.height);
    painter.setTableSize(0);

    size_t at = kWmfHeaderSize;
    while (at + 6 <= size && painter.withinBudget()) {
        const View head{data + at, size - at};
        const uint64_t recordSize = uint64_t(head.u32(0)) * 2;
        const uint16_t function = head.u16(4);
        if (recordSize < 6 || recordSize > size - at || function == kMetaEof)
            break;
        playWmfRecord(painter, View{data + at, size_t(recordSize)}, function);
        at += size_t(recordSize);
    }
    return true;
}

}  // namespace platform
