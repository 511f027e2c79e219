// Painting without anti-aliasing: a pixel belongs to a shape when its
// centre does, and the right and bottom edges of a rectangle are outside
// it, as the graphics interface draws. One-pixel lines are stepped pixel by
// pixel (Bresenham); wider ones are filled as polygons.
#include "platform/MetaPainter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace platform {

namespace {

// A real page paints each of its pixels a few times (its ground, its
// picture); a 4000 x 4000 picture painted sixteen times over is about this
// many steps. Any more comes from records built to take long.
constexpr uint64_t kMaxWork = uint64_t(1) << 28;
// SaveDC nests far less deeply in real files; the cap bounds the memory a
// file of nothing but saves could take.
constexpr size_t kMaxSavedStates = 1024;
// The Windows format's object indices are 16-bit.
constexpr size_t kMaxWindowsObjects = 0xFFFF;
// Canvas coordinates are kept well inside what converts to 64-bit integers.
constexpr double kCoordinateLimit = 1e12;

// Stock objects of the enhanced format.
constexpr uint32_t kStockFlag = 0x80000000;
constexpr uint32_t kWhiteBrush = 0;
constexpr uint32_t kLightGreyBrush = 1;
constexpr uint32_t kGreyBrush = 2;
constexpr uint32_t kDarkGreyBrush = 3;
constexpr uint32_t kBlackBrush = 4;
constexpr uint32_t kNullBrush = 5;
constexpr uint32_t kWhitePen = 6;
constexpr uint32_t kBlackPen = 7;
constexpr uint32_t kNullPen = 8;

constexpr uint32_t kPenStyleMask = 0x0F;
constexpr uint32_t kPenNull = 5;
constexpr uint32_t kBrushSolid = 0;

// Raster operations that are drawn; others are skipped.
constexpr uint32_t kRopSourceCopy = 0x00CC0020;
constexpr uint32_t kRopPatternCopy = 0x00F00021;
constexpr uint32_t kRopBlackness = 0x00000042;
constexpr uint32_t kRopWhiteness = 0x00FF0062;

constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitFields = 3;
constexpr uint32_t kDibRgbColours = 0;
constexpr size_t kCoreHeaderSize = 12;
constexpr size_t kInfoHeaderSize = 40;

double clampCoordinate(double v) {
    if (!(v > -kCoordinateLimit))
        return -kCoordinateLimit;
    return std::min(v, kCoordinateLimit);
}

// The first pixel whose centre is at or right of `edge`.
int64_t firstCentre(double edge) {
    return int64_t(std::ceil(clampCoordinate(edge) - 0.5));
}

uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint16_t le16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}

int popCount(uint32_t v) {
    int n = 0;
    for (; v != 0; v &= v - 1)
        ++n;
    return n;
}

int lowestBit(uint32_t v) {
    int n = 0;
    while (v != 0 && (v & 1) == 0) {
        v >>= 1;
        ++n;
    }
    return n;
}

// One channel of a bit-field pixel on 0..255.
uint8_t channel(uint32_t pixel, uint32_t mask) {
    if (mask == 0)
        return 0;
    const int bits = popCount(mask);
    const uint32_t value = (pixel & mask) >> lowestBit(mask);
    const uint32_t top = bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
    return uint8_t(uint64_t(value) * 255 / top);
}

// A bitmap's layout, read from its info block and checked against its bits.
struct DibLayout {
    int64_t width = 0;
    int64_t height = 0;  // rows in the bitmap
    bool topDown = false;
    int bits = 0;
    size_t stride = 0;
    const uint8_t* palette = nullptr;  // 4-byte (or 3-byte, core) entries
    size_t paletteEntries = 0;
    size_t entrySize = 4;
    uint32_t masks[3] = {0, 0, 0};  // red, green, blue for 16 and 32 bits
};

bool readDibLayout(const MetaPainter::Dib& dib, DibLayout& layout) {
    if (dib.info == nullptr || dib.infoSize < 4 || dib.usage != kDibRgbColours)
        return false;
    const uint32_t headerSize = le32(dib.info);
    uint32_t compression = kBiRgb;
    uint32_t coloursUsed = 0;
    if (headerSize == kCoreHeaderSize && dib.infoSize >= kCoreHeaderSize) {
        layout.width = le16(dib.info + 4);
        layout.height = le16(dib.info + 6);
        layout.bits = le16(dib.info + 10);
        layout.entrySize = 3;
    } else if (headerSize >= kInfoHeaderSize && headerSize <= dib.infoSize) {
        layout.width = int32_t(le32(dib.info + 4));
        const int32_t height = int32_t(le32(dib.info + 8));
        layout.topDown = height < 0;
        layout.height = height < 0 ? -int64_t(height) : height;
        layout.bits = le16(dib.info + 14);
        compression = le32(dib.info + 16);
        coloursUsed = le32(dib.info + 32);
    } else {
        return false;
    }
    if (layout.width <= 0 || layout.height <= 0)
        return false;
    size_t tableAt = headerSize;
    switch (layout.bits) {
        case 1:
        case 4:
        case 8: {
            if (compression != kBiRgb)
                return false;
            const size_t full = size_t(1) << layout.bits;
            layout.paletteEntries = coloursUsed == 0 || coloursUsed > full ? full : coloursUsed;
            break;
        }
        case 16:
        case 32:
            if (compression == kBiBitFields) {
                if (headerSize == kInfoHeaderSize) {
                    if (dib.infoSize < kInfoHeaderSize + 12)
                        return false;
                    tableAt += 12;
                }
                for (int i = 0; i < 3; ++i)
                    layout.masks[i] = le32(dib.info + kInfoHeaderSize + 4 * i);
            } else if (compression == kBiRgb) {
                if (layout.bits == 16) {
                    layout.masks[0] = 0x7C00;
                    layout.masks[1] = 0x03E0;
                    layout.masks[2] = 0x001F;
                } else {
                    layout.masks[0] = 0xFF0000;
                    layout.masks[1] = 0x00FF00;
                    layout.masks[2] = 0x0000FF;
                }
            } else {
                return false;
            }
            break;
        case 24:
            if (compression != kBiRgb)
                return false;
            break;
        default:
            return false;
    }
    if (layout.paletteEntries != 0) {
        // A table cut short keeps the entries that are there.
        const size_t room = tableAt < dib.infoSize ? (dib.infoSize - tableAt) / layout.entrySize : 0;
        layout.paletteEntries = std::min(layout.paletteEntries, room);
        layout.palette = dib.info + tableAt;
    }
    layout.stride = size_t((uint64_t(layout.width) * uint64_t(layout.bits) + 31) / 32 * 4);
    return true;
}

// Blue, green, red of one pixel of a row of the bitmap.
void dibPixel(const DibLayout& layout, const uint8_t* row, int64_t x, uint8_t* out) {
    switch (layout.bits) {
        case 1:
        case 4:
        case 8: {
            size_t index;
            if (layout.bits == 8)
                index = row[x];
            else if (layout.bits == 4)
                index = (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F;
            else
                index = (row[x >> 3] >> (7 - (x & 7))) & 1;
            if (index < layout.paletteEntries) {
                const uint8_t* entry = layout.palette + index * layout.entrySize;
                out[0] = entry[0];
                out[1] = entry[1];
                out[2] = entry[2];
            } else {
                out[0] = out[1] = out[2] = 0;
            }
            break;
        }
        case 16: {
            const uint32_t v = le16(row + 2 * x);
            out[0] = channel(v, layout.masks[2]);
            out[1] = channel(v, layout.masks[1]);
            out[2] = channel(v, layout.masks[0]);
            break;
        }
        case 24:
            std::memcpy(out, row + 3 * x, 3);
            break;
        default: {
            const uint32_t v = le32(row + 4 * x);
            out[0] = channel(v, layout.masks[2]);
            out[1] = channel(v, layout.masks[1]);
            out[2] = channel(v, layout.masks[0]);
            break;
        }
    }
}

}  // namespace

MetaPainter::MetaPainter(const MetaCanvas& canvas, double scaleX, double offsetX, double scaleY,
                         double offsetY, double pixelsPerMillimetreX, double pixelsPerMillimetreY)
    : m_canvas(canvas),
      m_scaleX(scaleX),
      m_offsetX(offsetX),
      m_scaleY(scaleY),
      m_offsetY(offsetY),
      m_pixelsPerMmX(pixelsPerMillimetreX),
      m_pixelsPerMmY(pixelsPerMillimetreY) {
    m_dc.pen.colour = 0;
    m_dc.brush.colour = 0xFFFFFF;
}

bool MetaPainter::withinBudget() const {
    return m_work <= kMaxWork;
}

// --- State -----------------------------------------------------------------------------------

void MetaPainter::setMapMode(int32_t mode) {
    if (mode >= kMapText && mode <= kMapAnisotropic)
        m_dc.mapMode = mode;
}

void MetaPainter::setWindowOrg(double x, double y) {
    m_dc.windowOrg = {x, y};
}

void MetaPainter::setWindowExt(double x, double y) {
    // An extent of 0 is refused by the graphics interface too.
    if (x != 0 && y != 0)
        m_dc.windowExt = {x, y};
}

void MetaPainter::setViewportOrg(double x, double y) {
    m_dc.viewportOrg = {x, y};
}

void MetaPainter::setViewportExt(double x, double y) {
    if (x != 0 && y != 0)
        m_dc.viewportExt = {x, y};
}

void MetaPainter::setFillMode(int32_t mode) {
    if (mode == 1 || mode == 2)
        m_dc.winding = mode == 2;
}

void MetaPainter::saveState() {
    if (m_saved.size() < kMaxSavedStates)
        m_saved.push_back(m_dc);
}

void MetaPainter::restoreState(int32_t which) {
    size_t keep;
    if (which < 0) {
        if (uint64_t(-int64_t(which)) > m_saved.size())
            return;
        keep = m_saved.size() - size_t(-int64_t(which));
    } else if (which > 0 && size_t(which) <= m_saved.size()) {
        keep = size_t(which) - 1;
    } else {
        return;
    }
    m_dc = m_saved[keep];
    m_saved.resize(keep);
}

// The logical-to-device scale of the mapping mode.
MetaPainter::Point MetaPainter::scale() const {
    const double millimetresPerUnit[] = {0, 0, 0.1, 0.01, 0.254, 0.0254, 25.4 / 1440};
    switch (m_dc.mapMode) {
        case kMapText:
            return {1, 1};
        case kMapIsotropic: {
            Point s{m_dc.viewportExt.x / m_dc.windowExt.x, m_dc.viewportExt.y / m_dc.windowExt.y};
            // Both axes take the smaller scale, each keeping its direction.
            const double least = std::min(std::fabs(s.x), std::fabs(s.y));
            return {std::copysign(least, s.x), std::copysign(least, s.y)};
        }
        case kMapAnisotropic:
            return {m_dc.viewportExt.x / m_dc.windowExt.x, m_dc.viewportExt.y / m_dc.windowExt.y};
        default: {
            const double unit = millimetresPerUnit[m_dc.mapMode];
            // The metric modes count y upwards.
            return {unit * m_pixelsPerMmX, -unit * m_pixelsPerMmY};
        }
    }
}

MetaPainter::Point MetaPainter::toCanvas(double x, double y) const {
    const Point s = scale();
    const double deviceX = (x - m_dc.windowOrg.x) * s.x + m_dc.viewportOrg.x;
    const double deviceY = (y - m_dc.windowOrg.y) * s.y + m_dc.viewportOrg.y;
    return {clampCoordinate(deviceX * m_scaleX + m_offsetX), clampCoordinate(deviceY * m_scaleY + m_offsetY)};
}

double MetaPainter::penPixels() const {
    if (m_dc.pen.cosmetic)
        return 1;
    return std::max(1.0, m_dc.pen.width * std::fabs(scale().x * m_scaleX));
}

// --- Objects ---------------------------------------------------------------------------------

MetaPainter::Object* MetaPainter::objectAt(int64_t slot) {
    if (slot < 0) {
        // The lowest free slot, the table growing as far as 16-bit indices go.
        size_t free = 0;
        while (free < m_objects.size() && m_objects[free].kind != Object::kFree)
            ++free;
        if (free == m_objects.size()) {
            if (free >= kMaxWindowsObjects)
                return nullptr;
            m_objects.emplace_back();
        }
        return &m_objects[free];
    }
    // Slot 0 of the enhanced format's table is the metafile itself.
    if (slot == 0 || uint64_t(slot) >= m_objects.size())
        return nullptr;
    return &m_objects[size_t(slot)];
}

void MetaPainter::createPen(int64_t slot, uint32_t style, double width, bool cosmetic, uint32_t colour) {
    if (Object* object = objectAt(slot)) {
        object->kind = Object::kPen;
        object->pen = Pen{(style & kPenStyleMask) != kPenNull, width, cosmetic, colour & 0xFFFFFF};
    }
}

void MetaPainter::createBrush(int64_t slot, uint32_t style, uint32_t colour) {
    if (Object* object = objectAt(slot)) {
        object->kind = Object::kBrush;
        // Hatched and pattern brushes are not painted.
        object->brush = Brush{style == kBrushSolid, colour & 0xFFFFFF};
    }
}

void MetaPainter::createOther(int64_t slot) {
    if (Object* object = objectAt(slot))
        object->kind = Object::kOther;
}

void MetaPainter::selectObject(uint32_t index) {
    if ((index & kStockFlag) != 0) {
        switch (index & ~kStockFlag) {
            case kWhiteBrush:
                m_dc.brush = Brush{true, 0xFFFFFF};
                break;
            case kLightGreyBrush:
                m_dc.brush = Brush{true, 0xC0C0C0};
                break;
            case kGreyBrush:
                m_dc.brush = Brush{true, 0x808080};
                break;
            case kDarkGreyBrush:
                m_dc.brush = Brush{true, 0x404040};
                break;
            case kBlackBrush:
                m_dc.brush = Brush{true, 0};
                break;
            case kNullBrush:
                m_dc.brush = Brush{false, 0};
                break;
            case kWhitePen:
                m_dc.pen = Pen{true, 0, true, 0xFFFFFF};
                break;
            case kBlackPen:
                m_dc.pen = Pen{true, 0, true, 0};
                break;
            case kNullPen:
                m_dc.pen = Pen{false, 0, true, 0};
                break;
            default:  // fonts and the palette
                break;
        }
        return;
    }
    if (index >= m_objects.size())
        return;
    const Object& object = m_objects[index];
    if (object.kind == Object::kPen)
        m_dc.pen = object.pen;
    else if (object.kind == Object::kBrush)
        m_dc.brush = object.brush;
}

void MetaPainter::deleteObject(uint32_t index) {
    // The selected pen or brush stays in use, as the context keeps a copy.
    if ((index & kStockFlag) == 0 && index < m_objects.size())
        m_objects[index].kind = Object::kFree;
}

// --- Canvas ------------------------------------------------------------------------------------

void MetaPainter::fillRow(int64_t y, int64_t x0, int64_t x1, uint32_t colour) {
    if (y < 0 || y >= m_canvas.height)
        return;
    x0 = std::max<int64_t>(x0, 0);
    x1 = std::min<int64_t>(x1, m_canvas.width);
    if (x0 >= x1)
        return;
    m_work += uint64_t(x1 - x0);
    uint8_t* p = m_canvas.topRow + y * m_canvas.stride + 3 * x0;
    const uint8_t blue = uint8_t(colour >> 16);
    const uint8_t green = uint8_t(colour >> 8);
    const uint8_t red = uint8_t(colour);
    for (int64_t x = x0; x < x1; ++x, p += 3) {
        p[0] = blue;
        p[1] = green;
        p[2] = red;
    }
}

void MetaPainter::plot(int64_t x, int64_t y, uint32_t colour) {
    fillRow(y, x, x + 1, colour);
}

void MetaPainter::fillRect(double x0, double y0, double x1, double y1, uint32_t colour) {
    const int64_t top = std::max<int64_t>(firstCentre(std::min(y0, y1)), 0);
    const int64_t bottom = std::min<int64_t>(firstCentre(std::max(y0, y1)), m_canvas.height);
    const int64_t left = firstCentre(std::min(x0, x1));
    const int64_t right = firstCentre(std::max(x0, x1));
    for (int64_t y = top; y < bottom && withinBudget(); ++y)
        fillRow(y, left, right, colour);
}

void MetaPainter::fillPolygons(const std::vector<Point>& points, const std::vector<size_t>& counts,
                               bool winding, uint32_t colour) {
    struct Edge {
        double x0, y0, x1, y1;
        int direction;
        int64_t firstRow, endRow;
    };
    std::vector<Edge> edges;
    size_t at = 0;
    for (size_t count : counts) {
        for (size_t i = 0; i < count; ++i) {
            const Point a = points[at + i];
            const Point b = points[at + (i + 1) % count];
            if (a.y == b.y)
                continue;
            Edge e{a.x, a.y, b.x, b.y, a.y < b.y ? 1 : -1, 0, 0};
            e.firstRow = std::max<int64_t>(firstCentre(std::min(a.y, b.y)), 0);
            e.endRow = std::min<int64_t>(firstCentre(std::max(a.y, b.y)), m_canvas.height);
            if (e.firstRow < e.endRow)
                edges.push_back(e);
        }
        at += count;
    }
    if (edges.empty())
        return;
    std::sort(edges.begin(), edges.end(),
              [](const Edge& a, const Edge& b) { return a.firstRow < b.firstRow; });
    struct Crossing {
        double x;
        int direction;
    };
    std::vector<const Edge*> active;
    std::vector<Crossing> crossings;
    size_t next = 0;
    for (int64_t y = edges.front().firstRow; y < m_canvas.height && withinBudget(); ++y) {
        while (next < edges.size() && edges[next].firstRow <= y)
            active.push_back(&edges[next++]);
        active.erase(
            std::remove_if(active.begin(), active.end(), [y](const Edge* e) { return e->endRow <= y; }),
            active.end());
        if (active.empty()) {
            if (next == edges.size())
                break;
            y = edges[next].firstRow - 1;
            continue;
        }
        // Sorting the crossings costs more than finding them.
        m_work += 8 * active.size();
        const double centre = double(y) + 0.5;
        crossings.clear();
        for (const Edge* e : active) {
            const double t = (centre - e->y0) / (e->y1 - e->y0);
            crossings.push_back({e->x0 + t * (e->x1 - e->x0), e->direction});
        }
        std::sort(crossings.begin(), crossings.end(),
                  [](const Crossing& a, const Crossing& b) { return a.x < b.x; });
        int inside = 0;
        for (size_t i = 0; i + 1 < crossings.size(); ++i) {
            inside += winding ? crossings[i].direction : 1;
            const bool filled = winding ? inside != 0 : (inside & 1) != 0;
            if (filled)
                fillRow(y, firstCentre(crossings[i].x), firstCentre(crossings[i + 1].x), colour);
        }
    }
}

void MetaPainter::strokeSegment(Point a, Point b, double width, uint32_t colour) {
    if (width > 1.5) {
        // A wide line: the band around the segment, with square ends so
        // that the pieces of a polyline join.
        const double dx = b.x - a.x;
        const double dy = b.y - a.y;
        const double length = std::hypot(dx, dy);
        const double half = width / 2;
        if (length > 0) {
            const double nx = -dy / length * half;
            const double ny = dx / length * half;
            fillPolygons(
                {{a.x + nx, a.y + ny}, {b.x + nx, b.y + ny}, {b.x - nx, b.y - ny}, {a.x - nx, a.y - ny}}, {4},
                true, colour);
        }
        for (const Point& p : {a, b})
            fillRect(p.x - half, p.y - half, p.x + half, p.y + half, colour);
        return;
    }
    // Clip to the canvas (with a pixel to spare) before stepping, so that a
    // line of huge coordinates takes no more steps than the canvas is wide.
    const double lo[2] = {-1, -1};
    const double hi[2] = {double(m_canvas.width) + 1, double(m_canvas.height) + 1};
    double t0 = 0;
    double t1 = 1;
    const double p0[2] = {a.x, a.y};
    const double d[2] = {b.x - a.x, b.y - a.y};
    for (int axis = 0; axis < 2; ++axis) {
        if (d[axis] == 0) {
            if (p0[axis] < lo[axis] || p0[axis] > hi[axis])
                return;
            continue;
        }
        double ta = (lo[axis] - p0[axis]) / d[axis];
        double tb = (hi[axis] - p0[axis]) / d[axis];
        if (ta > tb)
            std::swap(ta, tb);
        t0 = std::max(t0, ta);
        t1 = std::min(t1, tb);
        if (t0 > t1)
            return;
    }
    int64_t x = int64_t(std::floor(a.x + t0 * d[0]));
    int64_t y = int64_t(std::floor(a.y + t0 * d[1]));
    const int64_t xEnd = int64_t(std::floor(a.x + t1 * d[0]));
    const int64_t yEnd = int64_t(std::floor(a.y + t1 * d[1]));
    const int64_t stepsX = std::llabs(xEnd - x);
    const int64_t stepsY = -std::llabs(yEnd - y);
    const int64_t sx = x < xEnd ? 1 : -1;
    const int64_t sy = y < yEnd ? 1 : -1;
    int64_t error = stepsX + stepsY;
    for (;;) {
        plot(x, y, colour);
        if (x == xEnd && y == yEnd)
            break;
        const int64_t twice = 2 * error;
        if (twice >= stepsY) {
            error += stepsY;
            x += sx;
        }
        if (twice <= stepsX) {
            error += stepsX;
            y += sy;
        }
    }
}

void MetaPainter::strokePath(const std::vector<Point>& canvasPoints, bool closed) {
    if (!m_dc.pen.visible || canvasPoints.empty())
        return;
    const double width = penPixels();
    const size_t n = canvasPoints.size();
    if (n == 1) {
        strokeSegment(canvasPoints[0], canvasPoints[0], width, m_dc.pen.colour);
        return;
    }
    for (size_t i = 0; i + 1 < n && withinBudget(); ++i)
        strokeSegment(canvasPoints[i], canvasPoints[i + 1], width, m_dc.pen.colour);
    if (closed && n > 2)
        strokeSegment(canvasPoints[n - 1], canvasPoints[0], width, m_dc.pen.colour);
}

// --- Drawing -----------------------------------------------------------------------------------

void MetaPainter::rectangle(double left, double top, double right, double bottom) {
    const Point a = toCanvas(left, top);
    const Point b = toCanvas(right, bottom);
    const double x0 = std::min(a.x, b.x);
    const double x1 = std::max(a.x, b.x);
    const double y0 = std::min(a.y, b.y);
    const double y1 = std::max(a.y, b.y);
    if (m_dc.brush.paints)
        fillRect(x0, y0, x1, y1, m_dc.brush.colour);
    if (!m_dc.pen.visible)
        return;
    // The outline lies inside the rectangle, on its outermost pixels.
    const double w = penPixels();
    fillRect(x0, y0, x1, std::min(y1, y0 + w), m_dc.pen.colour);
    fillRect(x0, std::max(y0, y1 - w), x1, y1, m_dc.pen.colour);
    fillRect(x0, y0, std::min(x1, x0 + w), y1, m_dc.pen.colour);
    fillRect(std::max(x0, x1 - w), y0, x1, y1, m_dc.pen.colour);
}

void MetaPainter::polyPolygon(const std::vector<Point>& points, const std::vector<size_t>& counts) {
    std::vector<Point> mapped;
    mapped.reserve(points.size());
    for (const Point& p : points)
        mapped.push_back(toCanvas(p.x, p.y));
    if (m_dc.brush.paints)
        fillPolygons(mapped, counts, m_dc.winding, m_dc.brush.colour);
    size_t at = 0;
    for (size_t count : counts) {
        strokePath(std::vector<Point>(mapped.begin() + ptrdiff_t(at), mapped.begin() + ptrdiff_t(at + count)),
                   true);
        at += count;
    }
}

void MetaPainter::polyline(const std::vector<Point>& points) {
    std::vector<Point> mapped;
    mapped.reserve(points.size());
    for (const Point& p : points)
        mapped.push_back(toCanvas(p.x, p.y));
    strokePath(mapped, false);
}

void MetaPainter::lineTo(double x, double y) {
    polyline({m_dc.current, {x, y}});
    m_dc.current = {x, y};
}

void MetaPainter::opaqueRectangle(double left, double top, double right, double bottom) {
    const Point a = toCanvas(left, top);
    const Point b = toCanvas(right, bottom);
    fillRect(a.x, a.y, b.x, b.y, m_dc.background);
}

void MetaPainter::blit(double x, double y, double width, double height, uint32_t rasterOperation,
                       const Dib* dib, const Source& source) {
    const Point a = toCanvas(x, y);
    const Point b = toCanvas(x + width, y + height);
    switch (rasterOperation) {
        case kRopBlackness:
            fillRect(a.x, a.y, b.x, b.y, 0);
            return;
        case kRopWhiteness:
            fillRect(a.x, a.y, b.x, b.y, 0xFFFFFF);
            return;
        case kRopPatternCopy:
            if (m_dc.brush.paints)
                fillRect(a.x, a.y, b.x, b.y, m_dc.brush.colour);
            return;
        case kRopSourceCopy:
            break;
        default:
            return;
    }
    DibLayout layout;
    if (dib == nullptr || !readDibLayout(*dib, layout) || a.x == b.x || a.y == b.y)
        return;
    const int64_t rowsHeld =
        dib->rows < 0 ? layout.height : std::min<int64_t>(dib->rows, layout.height - dib->firstRow);
    const int64_t left = std::max<int64_t>(firstCentre(std::min(a.x, b.x)), 0);
    const int64_t right = std::min<int64_t>(firstCentre(std::max(a.x, b.x)), m_canvas.width);
    const int64_t top = std::max<int64_t>(firstCentre(std::min(a.y, b.y)), 0);
    const int64_t bottom = std::min<int64_t>(firstCentre(std::max(a.y, b.y)), m_canvas.height);
    if (left >= right || top >= bottom)
        return;
    // The source column of every canvas column and the source row (from
    // the top) of every canvas row, nearest neighbour; -1 outside.
    const double sourceTop = source.fromTop ? source.y : double(layout.height) - source.y - source.height;
    std::vector<int64_t> columns(size_t(right - left));
    for (int64_t cx = left; cx < right; ++cx) {
        const double u = (double(cx) + 0.5 - a.x) / (b.x - a.x);
        const double sx = std::floor(source.x + u * source.width);
        columns[size_t(cx - left)] = sx >= 0 && sx < double(layout.width) ? int64_t(sx) : -1;
    }
    uint8_t pixel[3];
    for (int64_t cy = top; cy < bottom && withinBudget(); ++cy) {
        const double v = (double(cy) + 0.5 - a.y) / (b.y - a.y);
        const double sy = std::floor(sourceTop + v * source.height);
        if (!(sy >= 0 && sy < double(layout.height)))
            continue;
        // The row as stored: bottom-up bitmaps keep their top row last;
        // a record that holds only some rows holds rows firstRow on.
        const int64_t fromBottom = layout.height - 1 - int64_t(sy);
        const int64_t stored = layout.topDown ? int64_t(sy) : fromBottom;
        const int64_t held = layout.topDown ? stored : fromBottom - dib->firstRow;
        if (held < 0 || held >= rowsHeld)
            continue;
        if (uint64_t(held) >= dib->bitsSize / layout.stride)
            continue;  // the bits end before this row
        const uint8_t* row = dib->bits + size_t(held) * layout.stride;
        uint8_t* out = m_canvas.topRow + cy * m_canvas.stride;
        m_work += uint64_t(right - left);
        for (int64_t cx = left; cx < right; ++cx) {
            const int64_t sx = columns[size_t(cx - left)];
            if (sx < 0)
                continue;
            dibPixel(layout, row, sx, pixel);
            std::memcpy(out + 3 * cx, pixel, 3);
        }
    }
}

}  // namespace platform
