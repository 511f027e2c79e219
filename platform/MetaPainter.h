#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/MetafilePlayer.h"

namespace platform {

// The device context behind the metafile player: the drawing state that the
// records set, the object table, and painting onto the canvas. Coordinates
// given to it are logical units of the metafile; it maps them through the
// window and viewport onto the reference device and from there onto the
// canvas. Colours are 0x00BBGGRR words. Borrows the canvas; not
// thread-safe; throws only std::bad_alloc.
class MetaPainter {
public:
    struct Point {
        double x = 0;
        double y = 0;
    };

    enum MapMode : int32_t {
        kMapText = 1,
        kMapLoMetric = 2,
        kMapHiMetric = 3,
        kMapLoEnglish = 4,
        kMapHiEnglish = 5,
        kMapTwips = 6,
        kMapIsotropic = 7,
        kMapAnisotropic = 8,
    };

    // `deviceToCanvas*`: the reference device's pixels on the canvas
    // (canvas = device x scale + offset); `pixelsPerMillimetre*`: the
    // reference device's, for the metric mapping modes.
    MetaPainter(const MetaCanvas& canvas, double scaleX, double offsetX, double scaleY, double offsetY,
                double pixelsPerMillimetreX, double pixelsPerMillimetreY);

    // False once the picture has taken more work than any real page does;
    // the player then stops.
    bool withinBudget() const;

    // --- State -------------------------------------------------------------
    void setMapMode(int32_t mode);
    void setWindowOrg(double x, double y);
    void setWindowExt(double x, double y);
    void setViewportOrg(double x, double y);
    void setViewportExt(double x, double y);
    void setBackgroundColour(uint32_t colour) { m_dc.background = colour & 0xFFFFFF; }
    void setFillMode(int32_t mode);
    void moveTo(double x, double y) { m_dc.current = {x, y}; }
    void saveState();
    // `which` < 0: that many states back; > 0: the state saved as number `which`.
    void restoreState(int32_t which);

    // --- Objects -----------------------------------------------------------
    // The enhanced format names the slot; the Windows format takes the
    // lowest free one (`slot` < 0). An index outside the table is ignored.
    void createPen(int64_t slot, uint32_t style, double width, bool cosmetic, uint32_t colour);
    void createBrush(int64_t slot, uint32_t style, uint32_t colour);
    // Fonts, palettes, regions and pattern brushes: they hold a slot.
    void createOther(int64_t slot);
    void selectObject(uint32_t index);
    void deleteObject(uint32_t index);
    void setTableSize(size_t size) { m_objects.resize(size); }

    // --- Drawing -----------------------------------------------------------
    void rectangle(double left, double top, double right, double bottom);
    // `counts`: the number of points of each polygon, in order.
    void polyPolygon(const std::vector<Point>& points, const std::vector<size_t>& counts);
    void polyline(const std::vector<Point>& points);
    void lineTo(double x, double y);
    // Fills the rectangle with the background colour.
    void opaqueRectangle(double left, double top, double right, double bottom);

    // A device-independent bitmap: its info block (header and colour
    // table) and its pixel rows. `firstRow`, `rows`: the rows the bits hold
    // (counted from the bottom), for records that carry part of a bitmap.
    struct Dib {
        const uint8_t* info = nullptr;
        size_t infoSize = 0;
        const uint8_t* bits = nullptr;
        size_t bitsSize = 0;
        uint32_t usage = 0;
        int64_t firstRow = 0;
        int64_t rows = -1;  // all
    };
    // Source rectangle in bitmap pixels: `sourceTop` counted from the top
    // row (true for the blits) or from the bottom (the DIB records).
    struct Source {
        double x = 0;
        double y = 0;
        double width = 0;
        double height = 0;
        bool fromTop = false;
    };
    // The raster operation with the bitmap (or, without one, the brush).
    void blit(double x, double y, double width, double height, uint32_t rasterOperation, const Dib* dib,
              const Source& source);

private:
    struct Pen {
        bool visible = true;
        double width = 0;  // logical units; 0: one pixel
        bool cosmetic = true;
        uint32_t colour = 0;
    };
    struct Brush {
        bool paints = true;
        uint32_t colour = 0xFFFFFF;
    };
    struct Object {
        enum Kind : uint8_t { kFree, kPen, kBrush, kOther } kind = kFree;
        Pen pen;
        Brush brush;
    };
    struct State {
        int32_t mapMode = kMapText;
        Point windowOrg{0, 0};
        Point windowExt{1, 1};
        Point viewportOrg{0, 0};
        Point viewportExt{1, 1};
        Pen pen;
        Brush brush;
        uint32_t background = 0xFFFFFF;
        bool winding = false;
        Point current;
    };
    struct Span {
        double left;
        double right;
    };

    // Logical to canvas coordinates.
    Point toCanvas(double x, double y) const;
    Point scale() const;
    double penPixels() const;
    Object* objectAt(int64_t slot);

    void fillRect(double x0, double y0, double x1, double y1, uint32_t colour);
    void fillPolygons(const std::vector<Point>& points, const std::vector<size_t>& counts, bool winding,
                      uint32_t colour);
    void strokePath(const std::vector<Point>& canvasPoints, bool closed);
    void strokeSegment(Point a, Point b, double width, uint32_t colour);
    void plot(int64_t x, int64_t y, uint32_t colour);
    void fillRow(int64_t y, int64_t x0, int64_t x1, uint32_t colour);

    MetaCanvas m_canvas;
    double m_scaleX, m_offsetX, m_scaleY, m_offsetY;
    double m_pixelsPerMmX, m_pixelsPerMmY;
    State m_dc;
    std::vector<State> m_saved;
    std::vector<Object> m_objects;
    uint64_t m_work = 0;
};

}  // namespace platform
