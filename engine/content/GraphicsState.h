#pragma once

#include <memory>

#include "engine/content/ColorSpace.h"
#include "engine/content/Path.h"
#include "engine/content/Pattern.h"
#include "engine/content/PdfFunction.h"
#include "engine/core/Page.h"

namespace rendova {

class FontObject;
class PdfValue;

// The blend modes of the graphics state, as parseBlendMode gives them.
enum BlendMode : int {
    kBlendNormal = 0,
    kBlendMultiply = 1,
    kBlendScreen = 2,
    kBlendOverlay = 3,
    kBlendDarken = 4,
    kBlendLighten = 5,
    kBlendColorDodge = 6,
    kBlendColorBurn = 7,
    kBlendHardLight = 8,
    kBlendSoftLight = 9,
    kBlendDifference = 10,
    kBlendExclusion = 11,
    kBlendHue = 12,
    kBlendSaturation = 13,
    kBlendColor = 14,
    kBlendLuminosity = 15,
};

// The complete drawing state of the content interpreter: matrix, colours,
// line and text parameters, the path under construction and the device-space
// clip box. States form a stack through the link to the saved state: save()
// pushes a copy, restore() pops it.
//
// Ownership: a state owns its colour spaces, patterns, transfer functions and
// dash array, and deletes the old object whenever a setter replaces one. The
// path belongs to the top state of the stack alone (a saved state holds no
// path until restore() hands the top's path down). Whoever holds the top
// state owns the stack: each state owns the state saved beneath it, and
// deleting a top state with saved states beneath frees them all. The font
// is not owned. One thread at a time; throws MemoryException only.
class GraphicsState {
public:
    // Resolutions in dots per inch, the box of default user space to show,
    // the rotation (0, 90, 180 or 270; any other value counts as 0) and
    // whether the device's y axis points down.
    GraphicsState(double hDpi, double vDpi, const PageBox& pageBox, int rotate, bool upsideDown);
    ~GraphicsState();
    GraphicsState(const GraphicsState&) = delete;
    GraphicsState& operator=(const GraphicsState&) = delete;

    // Pushes a copy of the top state, which becomes the new top and owns the
    // old one as its saved state. The path passes to the copy.
    static void save(std::unique_ptr<GraphicsState>& top);
    // Pops the top state: its saved state becomes the top and takes over its
    // path, current point and line start; the old top is deleted. Without a
    // saved state, the top stays unchanged.
    static void restore(std::unique_ptr<GraphicsState>& top);
    bool hasSaved() const { return m_saved != nullptr; }
    GraphicsState* getSaved() const { return m_saved.get(); }

    // --- Matrix and clip.

    const double* getMatrix() const { return m_matrix; }
    void setMatrix(double a, double b, double c, double d, double e, double f);
    void setMatrix(const double* m) { setMatrix(m[0], m[1], m[2], m[3], m[4], m[5]); }
    // Multiplies (a b c d e f) onto the matrix: the new values apply first.
    void concatMatrix(double a, double b, double c, double d, double e, double f);
    void shiftMatrixAndClip(double dx, double dy);
    // Narrows the clip box to the device-space box of the path.
    void clip();
    // The same with the box widened by half the line width.
    void clipToStroke();
    void getClipBox(double* xMin, double* yMin, double* xMax, double* yMax) const {
        *xMin = m_clipXMin;
        *yMin = m_clipYMin;
        *xMax = m_clipXMax;
        *yMax = m_clipYMax;
    }
    // The clip box mapped back into user space (the box around its corners).
    void getUserClipBox(double* xMin, double* yMin, double* xMax, double* yMax) const;
    // (x, y) through the matrix.
    void transform(double x, double y, double* tx, double* ty) const {
        *tx = m_matrix[0] * x + m_matrix[2] * y + m_matrix[4];
        *ty = m_matrix[1] * x + m_matrix[3] * y + m_matrix[5];
    }

    double getHorizontalResolution() const { return m_hDpi; }
    double getVerticalResolution() const { return m_vDpi; }
    const PageBox& getPageBox() const { return m_pageBox; }
    double getPageWidth() const { return m_pageWidth; }
    double getPageHeight() const { return m_pageHeight; }
    int getRotate() const { return m_rotate; }

    // --- Colour.

    ColorSpace* getFillColorSpace() const { return m_fillColorSpace.get(); }
    ColorSpace* getStrokeColorSpace() const { return m_strokeColorSpace.get(); }
    void setFillColorSpace(std::unique_ptr<ColorSpace> space) { m_fillColorSpace = std::move(space); }
    void setStrokeColorSpace(std::unique_ptr<ColorSpace> space) { m_strokeColorSpace = std::move(space); }
    const ColorValue& getFillColor() const { return m_fillColor; }
    const ColorValue& getStrokeColor() const { return m_strokeColor; }
    void setFillColor(const ColorValue& color) { m_fillColor = color; }
    void setStrokeColor(const ColorValue& color) { m_strokeColor = color; }
    Pattern* getFillPattern() const { return m_fillPattern.get(); }
    Pattern* getStrokePattern() const { return m_strokePattern.get(); }
    void setFillPattern(std::unique_ptr<Pattern> pattern) { m_fillPattern = std::move(pattern); }
    void setStrokePattern(std::unique_ptr<Pattern> pattern) { m_strokePattern = std::move(pattern); }
    int getBlendMode() const { return m_blendMode; }
    void setBlendMode(int mode) { m_blendMode = mode; }
    double getFillOpacity() const { return m_fillOpacity; }
    double getStrokeOpacity() const { return m_strokeOpacity; }
    void setFillOpacity(double opacity) { m_fillOpacity = opacity; }
    void setStrokeOpacity(double opacity) { m_strokeOpacity = opacity; }
    // Whether a soft mask applies to what is painted (the device holds the
    // mask itself).
    bool isSoftMasked() const { return m_softMasked; }
    void setSoftMasked(bool on) { m_softMasked = on; }
    bool getFillOverprint() const { return m_fillOverprint; }
    bool getStrokeOverprint() const { return m_strokeOverprint; }
    void setFillOverprint(bool on) { m_fillOverprint = on; }
    void setStrokeOverprint(bool on) { m_strokeOverprint = on; }
    // Four functions (grey or red, green, blue), each may be null.
    PdfFunction* getTransfer(int i) const { return m_transfer[i].get(); }
    void setTransfer(std::unique_ptr<PdfFunction> transfer[4]);

    // --- Lines.

    double getLineWidth() const { return m_lineWidth; }
    void setLineWidth(double width) { m_lineWidth = width; }
    // Null with a length of 0 for a solid line.
    const double* getLineDash() const { return m_dash.get(); }
    int getLineDashLength() const { return m_dashLength; }
    double getLineDashPhase() const { return m_dashPhase; }
    void setLineDash(std::unique_ptr<double[]> dash, int length, double phase);
    int getFlatness() const { return m_flatness; }
    void setFlatness(int flatness) { m_flatness = flatness; }
    int getLineJoin() const { return m_lineJoin; }
    void setLineJoin(int join) { m_lineJoin = join; }
    int getLineCap() const { return m_lineCap; }
    void setLineCap(int cap) { m_lineCap = cap; }
    double getMiterLimit() const { return m_miterLimit; }
    void setMiterLimit(double limit) { m_miterLimit = limit; }
    bool getStrokeAdjust() const { return m_strokeAdjust; }
    void setStrokeAdjust(bool on) { m_strokeAdjust = on; }

    // --- Text.

    FontObject* getFont() const { return m_font; }
    double getFontSize() const { return m_fontSize; }
    void setFont(FontObject* font, double size) {
        m_font = font;
        m_fontSize = size;
    }
    const double* getTextMatrix() const { return m_textMatrix; }
    void setTextMatrix(double a, double b, double c, double d, double e, double f);
    double getCharSpacing() const { return m_charSpacing; }
    void setCharSpacing(double spacing) { m_charSpacing = spacing; }
    double getWordSpacing() const { return m_wordSpacing; }
    void setWordSpacing(double spacing) { m_wordSpacing = spacing; }
    // A factor: the Tz percentage / 100.
    double getHorizontalScaling() const { return m_horizontalScaling; }
    void setHorizontalScaling(double scaling) { m_horizontalScaling = scaling; }
    double getLeading() const { return m_leading; }
    void setLeading(double leading) { m_leading = leading; }
    double getRise() const { return m_rise; }
    void setRise(double rise) { m_rise = rise; }
    int getRenderMode() const { return m_renderMode; }
    void setRenderMode(int mode) { m_renderMode = mode; }
    // current += (tx, ty) through the linear part of the text matrix.
    void textMoveTo(double tx, double ty);
    // current += (tx, ty).
    void textShift(double tx, double ty);

    // --- Path and points.

    Path* getPath() const { return m_path; }
    // Takes the path over; the old one is deleted.
    void setPath(std::unique_ptr<Path> path);
    void clearPath() { setPath(std::make_unique<Path>()); }
    double getCurrentX() const { return m_currentX; }
    double getCurrentY() const { return m_currentY; }
    void setCurrentPoint(double x, double y) {
        m_currentX = x;
        m_currentY = y;
    }
    double getLineStartX() const { return m_lineStartX; }
    double getLineStartY() const { return m_lineStartY; }
    void setLineStart(double x, double y) {
        m_lineStartX = x;
        m_lineStartY = y;
    }

    // The blend mode of a name, or of the first known name of an array of
    // names (an array without one gives normal). False, leaving *mode
    // unchanged, for an unknown name, an array element that is not a name,
    // or any other value.
    static bool parseBlendMode(const PdfValue& value, int* mode);

private:
    // A copy of every field; the path pointer and the saved link are not
    // copied (save() sets them).
    explicit GraphicsState(const GraphicsState* other, int);
    // Applies the clamp of the matrix entries.
    void clampMatrix();
    // The device-space box of all points of the path, 0 0 0 0 when empty.
    void pathBox(double* xMin, double* yMin, double* xMax, double* yMax) const;
    void intersectClip(double xMin, double yMin, double xMax, double yMax);

    double m_hDpi;
    double m_vDpi;
    double m_matrix[6];
    PageBox m_pageBox;
    double m_pageWidth;
    double m_pageHeight;
    int m_rotate;

    std::unique_ptr<ColorSpace> m_fillColorSpace;
    std::unique_ptr<ColorSpace> m_strokeColorSpace;
    ColorValue m_fillColor = {};
    ColorValue m_strokeColor = {};
    std::unique_ptr<Pattern> m_fillPattern;
    std::unique_ptr<Pattern> m_strokePattern;
    int m_blendMode = kBlendNormal;
    double m_fillOpacity = 1;
    double m_strokeOpacity = 1;
    bool m_fillOverprint = false;
    bool m_strokeOverprint = false;
    bool m_softMasked = false;
    std::unique_ptr<PdfFunction> m_transfer[4];

    double m_lineWidth = 1;
    std::unique_ptr<double[]> m_dash;
    int m_dashLength = 0;
    double m_dashPhase = 0;
    int m_flatness = 1;
    int m_lineJoin = 0;
    int m_lineCap = 0;
    double m_miterLimit = 10;
    bool m_strokeAdjust = false;

    FontObject* m_font = nullptr;
    double m_fontSize = 0;
    double m_textMatrix[6] = {1, 0, 0, 1, 0, 0};
    double m_charSpacing = 0;
    double m_wordSpacing = 0;
    double m_horizontalScaling = 1;
    double m_leading = 0;
    double m_rise = 0;
    int m_renderMode = 0;

    Path* m_path = nullptr;
    double m_currentX = 0;
    double m_currentY = 0;
    double m_lineStartX = 0;
    double m_lineStartY = 0;

    double m_clipXMin = 0;
    double m_clipYMin = 0;
    double m_clipXMax = 0;
    double m_clipYMax = 0;

    std::unique_ptr<GraphicsState> m_saved;
};

}  // namespace rendova
