#pragma once

#include <cstdint>
#include <memory>

#include <vector>

#include "engine/content/OutputDevice.h"
#include "engine/raster/HalftoneParameters.h"
#include "engine/raster/RasterDeviceText.h"

namespace rendova {

class ColorSpace;
class Path;
class RasterBitmap;
class RasterPath;
class RasterSolidColor;
class Rasteriser;
class XrefTable;

// One open or ended transparency group of the raster device. The device keeps
// them as a stack, newest first: beginTransparencyGroup pushes an entry and
// hands drawing to the group's own bitmap and rasteriser,
// endTransparencyGroup gives drawing back to the saved ones, and
// paintTransparencyGroup or setSoftMask consumes the ended group and pops it.
// Each entry owns its group bitmap, a copy of the group's colour space, the
// rasteriser it saved while the group is open, and the entries below it.
struct TransparencyGroupEntry {
    TransparencyGroupEntry();
    ~TransparencyGroupEntry();
    // The group bitmap's corner on the target it was opened on.
    int x = 0;
    int y = 0;
    std::unique_ptr<RasterBitmap> bitmap;
    // Converts a soft mask's backdrop colour; null when the group names none.
    std::unique_ptr<ColorSpace> colorSpace;
    bool isolated = false;
    // For a non-isolated group opened inside another one: the alpha of
    // everything beneath it (its group rasteriser reads it); null otherwise.
    std::unique_ptr<RasterBitmap> backdrop;
    // For a knockout group: a copy of the group bitmap as it began, which
    // each member composites with; null otherwise.
    std::unique_ptr<RasterBitmap> knockoutBackdrop;
    // The target and rasteriser in use when the group began. The rasteriser
    // is null once the group has ended (it is the device's again).
    RasterBitmap* savedTarget = nullptr;
    std::unique_ptr<Rasteriser> savedRasteriser;
    std::unique_ptr<TransparencyGroupEntry> next;
};

// The output device that paints pages into a raster bitmap: the content
// interpreter calls its slots while it runs a page, and each slot becomes a
// call of the Rasteriser that draws into the page bitmap. The renderer
// facade makes one device per open document, calls startDocument once and
// reads the page bitmap after each page.
//
// Ownership: the device owns the page bitmap, the rasteriser (a new one per
// page), its text side (fonts, glyph caches, the text clip) and the stack of
// transparency groups with their bitmaps; it borrows the document's
// XrefTable. The page bitmap stays
// valid until the next startPage (which keeps it when the page has the same
// pixel size) or the destructor. One thread at a time; throws
// MemoryException when memory runs out (a page too large for memory
// included); faults of the content never throw.
class RasterOutputDevice : public OutputDevice {
public:
    // A dash array longer than this is cut: the rasteriser's stroker takes
    // a bounded pattern, and longer arrays change nothing visible.
    static constexpr int kMaxDashLength = 20;

    // colourMode: a RasterColorMode, handed to every bitmap; rowPadding the
    // row alignment in bytes; paperColour 3 bytes (grey modes use the first);
    // topDown for top-down rows. Anti-aliasing is used when requested, when
    // the settings allow it and when the mode is not 1-bit.
    RasterOutputDevice(int colourMode, int rowPadding, bool reverseVideo, const uint8_t* paperColour,
                       bool topDown, bool antialiasRequest);
    ~RasterOutputDevice() override;
    RasterOutputDevice(const RasterOutputDevice&) = delete;
    RasterOutputDevice& operator=(const RasterOutputDevice&) = delete;

    // The document whose pages follow (used to fetch embedded font files).
    void startDocument(XrefTable* xref);
    // The halftone screen for a resolution, from the settings.
    void setHalftoneParameters(double horizontalDpi, double verticalDpi);

    // --- What the device is.
    bool yAxisPointsDown() override { return true; }
    bool wantsGlyphByGlyphText() override { return true; }
    bool fillsTilingPatterns() override { return false; }
    bool fillsShadings() override { return false; }
    bool drawsForms() override { return false; }
    bool runsType3Glyphs() override { return true; }
    bool wantsNonText() override { return true; }

    // --- The page.
    void startPage(int pageNumber, GraphicsState* state) override;
    void endPage() override;

    // --- State.
    void saveState(GraphicsState* state) override;
    void restoreState(GraphicsState* state) override;
    void refreshAllState(GraphicsState* state) override;
    void updateMatrix(GraphicsState* state, double a, double b, double c, double d, double e,
                      double f) override;
    void updateLineDash(GraphicsState* state) override;
    void updateFlatness(GraphicsState* state) override;
    void updateLineJoin(GraphicsState* state) override;
    void updateLineCap(GraphicsState* state) override;
    void updateMiterLimit(GraphicsState* state) override;
    void updateLineWidth(GraphicsState* state) override;
    // Stroke adjustment comes from the settings at each page start.
    void updateStrokeAdjust(GraphicsState*) override {}
    void updateFillColor(GraphicsState* state) override;
    void updateStrokeColor(GraphicsState* state) override;
    void updateBlendMode(GraphicsState* state) override;
    void updateFillOpacity(GraphicsState* state) override;
    void updateStrokeOpacity(GraphicsState* state) override;
    void updateFont(GraphicsState* state) override;

    // --- Paths.
    void stroke(GraphicsState* state) override;
    void fill(GraphicsState* state) override;
    void eoFill(GraphicsState* state) override;
    void clip(GraphicsState* state) override;
    void eoClip(GraphicsState* state) override;
    void clipToStrokeOutline(GraphicsState* state) override;

    // --- Images (RasterOutputDeviceImages.cpp).
    void drawStencilMask(GraphicsState* state, const PdfValue* ref, DataStream* stream, int width, int height,
                         bool invert, bool inlineImage) override;
    void drawImage(GraphicsState* state, const PdfValue* ref, DataStream* stream, int width, int height,
                   ImageColorMap* colorMap, const int* maskColors, bool inlineImage) override;
    void drawImageWithMask(GraphicsState* state, const PdfValue* ref, DataStream* stream, int width,
                           int height, ImageColorMap* colorMap, DataStream* maskStream, int maskWidth,
                           int maskHeight, bool maskInvert) override;
    void drawImageWithSoftMask(GraphicsState* state, const PdfValue* ref, DataStream* stream, int width,
                               int height, ImageColorMap* colorMap, DataStream* maskStream, int maskWidth,
                               int maskHeight, ImageColorMap* maskColorMap) override;

    // --- Transparency groups and soft masks (RasterOutputDeviceGroups.cpp).
    void beginTransparencyGroup(GraphicsState* state, const double* box, ColorSpace* colorSpace,
                                bool isolated, bool knockout, bool forSoftMask) override;
    void endTransparencyGroup(GraphicsState* state) override;
    void paintTransparencyGroup(GraphicsState* state, const double* box) override;
    void setSoftMask(GraphicsState* state, const double* box, bool alpha, PdfFunction* transfer,
                     const ColorValue* backdrop) override;
    void clearSoftMask(GraphicsState* state) override;

    // --- Text.
    void drawChar(GraphicsState* state, double x, double y, double dx, double dy, double originX,
                  double originY, unsigned int code, int nBytes, const unsigned int* unicode,
                  int unicodeLength) override;
    void finishTextObject(GraphicsState* state) override;
    bool beginType3Char(GraphicsState* state, double x, double y, double dx, double dy, unsigned int code,
                        const unsigned int* unicode, int unicodeLength) override;
    void endType3Char(GraphicsState* state) override;
    // Type 3 glyph width (d0): nothing to do for a raster page.
    void setType3GlyphWidth(GraphicsState*, double, double) override {}
    // Type 3 glyph box (d1): caches the glyph when the box fits the cell.
    void setType3GlyphBox(GraphicsState* state, double wx, double wy, double llx, double lly, double urx,
                          double ury) override;

    bool getAntialias() override;
    void setAntialias(bool on) override;

    // --- For the facade and the tests.
    RasterBitmap* getBitmap() const { return m_bitmap.get(); }
    Rasteriser* getRasteriser() const { return m_rasteriser.get(); }
    const HalftoneParameters& getHalftoneParameters() const { return m_screenParams; }
    bool getAntialiasFlag() const { return m_antialias; }
    bool getAntialiasRequest() const { return m_antialiasRequest; }
    XrefTable* getXref() const { return m_xref; }
    RasterDeviceText& getText() { return m_text; }
    // The target bitmap that drawing goes to: the page, a group's bitmap or
    // a Type 3 glyph's cache cell.
    RasterBitmap* getTarget() const { return m_target; }
    // Entries on the transparency-group stack.
    int getGroupDepth() const;

    // The state's path as a rasteriser path (user space).
    static std::unique_ptr<RasterPath> convertPath(const Path& path);
    // A solid colour of 16.16 grey and red, green, blue for this device's
    // colour mode and reverse-video flag; null for an unknown mode.
    RasterSolidColor* makeColorPattern(int32_t gray, int32_t red, int32_t green, int32_t blue) const;

private:
    // A new rasteriser over the page bitmap with the device's settings.
    void makeRasteriser();
    void fillPath(GraphicsState* state, bool evenOdd);
    void clipPath(GraphicsState* state, bool evenOdd);
    // Drops the group entries that a page left behind (content cut short by
    // an exception, or a device driven out of order), giving drawing back to
    // the rasteriser and target of the oldest open group.
    void unwindGroups();
    // Removes the newest group entry with its bitmap.
    void popGroup();

    int m_colourMode;
    int m_rowPadding;
    bool m_topDown;
    bool m_antialiasRequest;
    // The request, the settings' vector anti-aliasing and a colour mode
    // other than 1-bit; fixed at construction.
    bool m_antialias;
    bool m_reverseVideo;
    uint8_t m_paperColour[3];
    // Set by endPage: the page bitmap holds the paper colour with alpha 0
    // outside the page rasteriser's modified box, as the page's clear left
    // it, so that the next page of the same size need clear only that box.
    // Cleared by startPage.
    bool m_paperOutsideBox = false;
    HalftoneParameters m_screenParams;
    XrefTable* m_xref = nullptr;
    // Declared in the order of making; destroyed in reverse, which is the
    // order the destructor needs.
    std::unique_ptr<RasterBitmap> m_bitmap;
    // Draws into m_target: the page bitmap, or while a Type 3 glyph is
    // drawn into its cache cell, the cell's bitmap (the text side swaps
    // both and puts the page's back).
    std::unique_ptr<Rasteriser> m_rasteriser;
    RasterBitmap* m_target = nullptr;
    RasterDeviceText m_text;
    // One entry per Type 3 glyph on the text side's stack: whether its d1
    // was seen. A second d1 inside one glyph is ignored, so that the state
    // saved by the first is neither overwritten nor drawn into.
    std::vector<char> m_type3BoxSeen;
    // Whether the innermost Type 3 glyph being drawn began with d1.
    bool insideD1Glyph() const;
    // Newest first; see TransparencyGroupEntry.
    std::unique_ptr<TransparencyGroupEntry> m_groups;
};

}  // namespace rendova
