#pragma once

#include "engine/content/ColorSpace.h"
#include "engine/core/Page.h"

namespace rendova {

class AxialShading;
class DataStream;
class DocumentCatalog;
class DynString;
class FunctionShading;
class GraphicsState;
class ImageColorMap;
class PdfDict;
class PdfFunction;
class PdfValue;
class RadialShading;

// The drawing target of the content interpreter. The interpreter keeps the
// graphics state and never draws: it tells the device, through these virtual
// operations (their order is fixed, so that every device lines up with the
// interpreter), what changed and what to paint. Each operation receives the
// current GraphicsState and reads from it what it needs. The base class gives
// every slot a default; a device overrides the slots it implements.
//
// A device is created and owned by its user (the renderer facade, a test);
// the interpreter only borrows it. One thread at a time; the base operations
// never throw and report nothing.
class OutputDevice {
public:
    virtual ~OutputDevice();

    // --- What the device is: no defaults for the first two and the sixth,
    // every device must answer them.

    // True puts the device origin at the top of the page (y grows downward).
    virtual bool yAxisPointsDown() = 0;
    // True: text arrives glyph by glyph (beginShownString, drawChar,
    // endShownString); false: whole strings through drawShownString.
    virtual bool wantsGlyphByGlyphText() = 0;
    // True: tiling pattern fills go to fillTilingPattern instead of being
    // expanded tile by tile by the interpreter.
    virtual bool fillsTilingPatterns() { return false; }
    // True: function, axial and radial shadings are offered whole to the
    // three shading fills first.
    virtual bool fillsShadings() { return false; }
    // True: a form XObject named by reference goes to drawForm.
    virtual bool drawsForms() { return false; }
    // True: the interpreter runs Type 3 glyph procedures between
    // beginType3Char and endType3Char.
    virtual bool runsType3Glyphs() = 0;
    // False: paths, images and shadings are skipped; only text arrives.
    virtual bool wantsNonText() { return true; }

    // --- The page.

    // Stores the matrix from default user space to device space and its
    // inverse. The interpreter calls it for every page before anything is
    // drawn, always with a matrix of nonzero determinant.
    virtual void setDefaultMatrix(const double* matrix);
    // Asked by the page before an interpreter is made, with all the display
    // parameters; false skips the page.
    virtual bool approvePageArea(Page* page, double hDpi, double vDpi, int rotate, bool useMediaBox,
                                 bool crop, int sliceX, int sliceY, int sliceW, int sliceH, bool printing,
                                 DocumentCatalog* catalog, AbortCheck abortCheck, void* abortData);
    virtual void startPage(int pageNumber, GraphicsState* state);
    virtual void endPage() {}
    // Called every 20,000 operators, at the end of a page's content, and
    // after a page's annotations.
    virtual void flush() {}

    // --- Coordinates through the default matrix.

    virtual void deviceToUser(double dx, double dy, double* ux, double* uy);
    // Rounds as (int)(v + 0.5), so negative values round toward zero.
    virtual void userToDevice(double ux, double uy, int* dx, int* dy);

    // --- State changes.

    // Before the interpreter pushes a copy of the state.
    virtual void saveState(GraphicsState* state);
    // After the interpreter popped the state.
    virtual void restoreState(GraphicsState* state);
    // Every state update below except the matrix and the text ones.
    virtual void refreshAllState(GraphicsState* state);
    // The six values just concatenated to the state's matrix.
    virtual void updateMatrix(GraphicsState* state, double a, double b, double c, double d, double e,
                              double f);
    virtual void updateLineDash(GraphicsState* state);
    virtual void updateFlatness(GraphicsState* state);
    virtual void updateLineJoin(GraphicsState* state);
    virtual void updateLineCap(GraphicsState* state);
    virtual void updateMiterLimit(GraphicsState* state);
    virtual void updateLineWidth(GraphicsState* state);
    virtual void updateStrokeAdjust(GraphicsState* state);
    virtual void updateFillColorSpace(GraphicsState* state);
    virtual void updateStrokeColorSpace(GraphicsState* state);
    virtual void updateFillColor(GraphicsState* state);
    virtual void updateStrokeColor(GraphicsState* state);
    virtual void updateBlendMode(GraphicsState* state);
    virtual void updateFillOpacity(GraphicsState* state);
    virtual void updateStrokeOpacity(GraphicsState* state);
    virtual void updateFillOverprint(GraphicsState* state);
    virtual void updateStrokeOverprint(GraphicsState* state);
    virtual void updateTransfer(GraphicsState* state);
    // Before a text-showing operator when the font changed.
    virtual void updateFont(GraphicsState* state);
    virtual void updateTextMatrix(GraphicsState* state);
    virtual void updateCharSpacing(GraphicsState* state);
    virtual void updateRenderMode(GraphicsState* state);
    virtual void updateRise(GraphicsState* state);
    virtual void updateWordSpacing(GraphicsState* state);
    virtual void updateHorizontalScaling(GraphicsState* state);
    virtual void updateTextPosition(GraphicsState* state);
    // The kerning number of a text-array element.
    virtual void updateTextShift(GraphicsState* state, double shift);

    // --- Paths: the path is the state's.

    virtual void stroke(GraphicsState* state);
    // Nonzero winding rule.
    virtual void fill(GraphicsState* state);
    // Even-odd rule.
    virtual void eoFill(GraphicsState* state);
    // content is the pattern's stream value, resources its resource
    // dictionary or null, matrix 6 values, box 4; tiles x0 .. x1 - 1 and
    // y0 .. y1 - 1 at the given steps.
    virtual void fillTilingPattern(GraphicsState* state, const PdfValue& content, int paintType,
                                   PdfDict* resources, const double* matrix, const double* box, int x0,
                                   int y0, int x1, int y1, double xStep, double yStep);
    // True when the device drew the shading itself.
    virtual bool fillFunctionShading(GraphicsState* state, FunctionShading* shading);
    virtual bool fillAxialShading(GraphicsState* state, AxialShading* shading);
    virtual bool fillRadialShading(GraphicsState* state, RadialShading* shading);
    // Clip to the path, nonzero winding.
    virtual void clip(GraphicsState* state);
    // Clip to the path, even-odd.
    virtual void eoClip(GraphicsState* state);
    // Clip to the outline of the stroked path.
    virtual void clipToStrokeOutline(GraphicsState* state);

    // --- Text.

    // Around one text-showing operator.
    virtual void beginTextShow(GraphicsState* state);
    virtual void endTextShow(GraphicsState* state);
    // Around a string shown glyph by glyph.
    virtual void beginShownString(GraphicsState* state, const DynString* string);
    virtual void endShownString(GraphicsState* state);
    // One glyph: position, advance and origin in device-independent user
    // space, the code of nBytes bytes and its Unicode values.
    virtual void drawChar(GraphicsState* state, double x, double y, double dx, double dy, double originX,
                          double originY, unsigned int code, int nBytes, const unsigned int* unicode,
                          int unicodeLength);
    virtual void drawShownString(GraphicsState* state, const DynString* string);
    // True when the glyph is already available to the device, so that its
    // procedure is not run.
    virtual bool beginType3Char(GraphicsState* state, double x, double y, double dx, double dy,
                                unsigned int code, const unsigned int* unicode, int unicodeLength);
    virtual void endType3Char(GraphicsState* state);
    // The end of a text object.
    virtual void finishTextObject(GraphicsState* state);

    // --- Images. ref is the image's reference value, or null for an inline
    // image (inlineImage true), whose data sits in the content stream: a
    // device that does not draw it must still consume it, as the base does.

    virtual void drawStencilMask(GraphicsState* state, const PdfValue* ref, DataStream* stream, int width,
                                 int height, bool invert, bool inlineImage);
    // maskColors: a colour-key mask array, or null.
    virtual void drawImage(GraphicsState* state, const PdfValue* ref, DataStream* stream, int width,
                           int height, ImageColorMap* colorMap, const int* maskColors, bool inlineImage);
    // The base draws the image alone through drawImage.
    virtual void drawImageWithMask(GraphicsState* state, const PdfValue* ref, DataStream* stream, int width,
                                   int height, ImageColorMap* colorMap, DataStream* maskStream, int maskWidth,
                                   int maskHeight, bool maskInvert);
    virtual void drawImageWithSoftMask(GraphicsState* state, const PdfValue* ref, DataStream* stream,
                                       int width, int height, ImageColorMap* colorMap, DataStream* maskStream,
                                       int maskWidth, int maskHeight, ImageColorMap* maskColorMap);

    // --- Type 3 glyph metrics (d0 and d1).

    virtual void setType3GlyphWidth(GraphicsState* state, double wx, double wy);
    virtual void setType3GlyphBox(GraphicsState* state, double wx, double wy, double llx, double lly,
                                  double urx, double ury);

    // --- Forms, transparency.

    virtual void drawForm(int num, int gen);
    // level1 is the Level1 stream of the XObject, or null.
    virtual void postScriptXObject(DataStream* stream, DataStream* level1);
    // box: 4 values; colorSpace may be null.
    virtual void beginTransparencyGroup(GraphicsState* state, const double* box, ColorSpace* colorSpace,
                                        bool isolated, bool knockout, bool forSoftMask);
    virtual void endTransparencyGroup(GraphicsState* state);
    virtual void paintTransparencyGroup(GraphicsState* state, const double* box);
    // alpha: true for an alpha mask, false for a luminosity mask; transfer
    // may be null; backdrop is the group's backdrop colour.
    virtual void setSoftMask(GraphicsState* state, const double* box, bool alpha, PdfFunction* transfer,
                             const ColorValue* backdrop);
    virtual void clearSoftMask(GraphicsState* state);

    // Nothing in the engine calls it; it keeps the slot order of devices
    // that fill it.
    virtual void reservedHook(void* first, void* second);
    virtual bool getAntialias() { return false; }
    virtual void setAntialias(bool on);

    const double* getDefaultMatrix() const { return m_defaultMatrix; }
    const double* getDefaultInverse() const { return m_defaultInverse; }

protected:
    OutputDevice() = default;

    // The identity until setDefaultMatrix (reading them earlier is a
    // device's mistake, but never an undefined read).
    double m_defaultMatrix[6] = {1, 0, 0, 1, 0, 0};
    double m_defaultInverse[6] = {1, 0, 0, 1, 0, 0};

private:
    // Consumes count bytes of an inline image's data (fewer when the data
    // ends first).
    static void drainInlineImage(DataStream* stream, int64_t count);
};

}  // namespace rendova
