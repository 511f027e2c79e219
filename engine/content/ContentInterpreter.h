#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <initializer_list>

#include "engine/content/ColorSpace.h"
#include "engine/content/GraphicsState.h"
#include "engine/content/OutputDevice.h"
#include "engine/content/ResourceSet.h"
#include "engine/core/Page.h"
#include "engine/core/PdfValue.h"

namespace rendova {

struct BorderStyle;
class DataStream;
class PdfFunction;
class SimpleFont;
class ValueParser;
class XrefTable;

// Runs the content streams of one page, and through the same object those
// of the forms, soft masks, patterns, Type 3 glyphs and annotation
// appearances met on it, against an OutputDevice. Operands and operators come
// from a ValueParser over a Tokenizer; each operator is checked against the
// table of the 73 published content operators (operand count and kinds) and
// handed to its handler. Every defect of the content is reported through
// reportError with the position in the stream and the content goes on with
// the next operator: only the abort check stops a page early.
//
// Ownership: the page (or whoever draws) creates the interpreter for one
// display and deletes it; the interpreter owns its graphics state stack and
// resource chain and borrows the XrefTable and the device, which outlive it.
// One thread at a time; throws MemoryException only.
class ContentInterpreter {
public:
    // Forms, soft masks, tiling pattern cells and Type 3 glyph procedures
    // run nested on this interpreter; at most this many levels of them are
    // entered at once, so that content that invokes itself (a form drawing
    // itself, a pattern painting with itself, a glyph showing itself) ends.
    // Real documents nest forms 30 and more deep. A level of forms, group
    // forms or tiling patterns on the raster device takes under 2 KB of
    // stack optimised and under 4 KB with the address sanitizer, so the
    // deepest chain stays far below the stack of any rendering thread; the
    // bound is not higher because each level of nested transparency groups
    // also holds a bitmap of up to the page's size.
    static constexpr int kMaxNesting = 48;
    // Nested runs (forms, soft masks, tiling cells, glyph procedures) one
    // page may start in all. The depth bound alone still lets content that
    // invokes itself twice per level run about 2^21 times; real pages stay
    // far below this many.
    static constexpr int kMaxNestedRuns = 100000;
    // Shading pieces one page may fill in all: a pattern cell that paints a
    // shading, tiled tens of thousands of times, must not cut each one
    // thousands of times. Past the first count pieces are no longer cut,
    // past the second none is filled. Real pages stay far below.
    static constexpr int64_t kMaxShadingPieces = int64_t{1} << 20;
    static constexpr int64_t kShadingCutPieces = int64_t{1} << 19;
    // Operands held before an operator; the largest operator (SCN, scn)
    // takes 32 colour components and a pattern name.
    static constexpr int kMaxOperands = 33;
    // The device is flushed after this many operators, so that a raster
    // device can bound the work it has queued.
    static constexpr int kFlushInterval = 20000;
    // The abort callback is asked after more than this many operators: often
    // enough for a prompt stop, rarely enough to cost nothing.
    static constexpr int kAbortCheckInterval = 10;
    // Colour-key values handed to the device: two per component of the
    // widest colour space.
    static constexpr int kMaxColorKeyValues = 64;

    // resources may be null; cropBox, when not null, clips the page.
    ContentInterpreter(XrefTable* xref, OutputDevice* device, int pageNumber, PdfDict* resources, double hDpi,
                       double vDpi, const PageBox& box, const PageBox* cropBox, int rotate,
                       AbortCheck abortCheck, void* abortData);
    ~ContentInterpreter();
    ContentInterpreter(const ContentInterpreter&) = delete;
    ContentInterpreter& operator=(const ContentInterpreter&) = delete;

    // Runs a content stream, or an array of streams read as one, to its
    // end; flushes the device afterwards when flushAtEnd is set and
    // operators were run. Callable while another display runs (forms).
    void display(const PdfValue& content, bool flushAtEnd);

    // The q and Q of the interpreter.
    void saveState();
    void restoreState();
    // dict may be null.
    void pushResources(PdfDict* dict);
    void popResources();

    // Runs a form's content (a form XObject, a soft-mask group, a tiling
    // pattern cell, an annotation appearance) in its own state and
    // resources: matrix (6 values) applied, clipped to box (4 values), as a
    // transparency group when group or softMask is set, after which the
    // group is painted or, for a soft mask, set as the soft mask with the
    // alpha flag, transfer function (may be null) and backdrop colour.
    // False, drawing nothing, when kMaxNesting levels are already entered.
    bool runForm(const PdfValue& stream, PdfDict* resources, const double* matrix, const double* box,
                 bool group, bool softMask, ColorSpace* groupColorSpace, bool isolated, bool knockout,
                 bool alpha, PdfFunction* transfer, const ColorValue* backdrop);
    // Draws an annotation's appearance (a form stream; anything else draws
    // nothing) fitted into the rectangle, given in default user space, and,
    // when border is not null and wider than 0, its border around the
    // rectangle in the stroke state.
    void drawAnnotation(const PdfValue& appearance, const BorderStyle* border, double xMin, double yMin,
                        double xMax, double yMax);
    // Runs a Type 3 glyph procedure as one more nesting level; false,
    // running nothing, at the bound.
    bool runGlyphProcedure(const PdfValue& procedure);
    // Enters one nesting level when both the depth and the page's budget of
    // nested runs allow it (the budget is reported once when it runs out);
    // leaveNesting undoes a successful enter.
    bool enterNesting();
    void leaveNesting() { --m_formDepth; }
    // Lowers the depth bound (at most kMaxNesting) for callers that want
    // each run small, such as the fuzz targets.
    void setMaxNesting(int levels) { m_maxNesting = std::clamp(levels, 1, kMaxNesting); }
    // Whether the depth bound is reached; the first time on a page it is
    // reported, as the content past it is not drawn.
    bool atNestingBound();

    // The byte position in the content being read, -1 when none is.
    int64_t getPos();
    GraphicsState* getState() const { return m_state.get(); }
    OutputDevice* getDevice() const { return m_device; }
    XrefTable* getXref() const { return m_xref; }
    int getFormDepth() const { return m_formDepth; }
    int getCompatibilityDepth() const { return m_compatibilityDepth; }
    const double* getBaseMatrix() const { return m_baseMatrix; }
    // Heavy operators (shown strings, images) count for more than one, so
    // that the periodic flush comes sooner. Nested content (forms, glyphs)
    // counts on from its enclosing content.
    void addOperatorCount(int count) { m_operatorCount += count; }

private:
    // Operand kinds of the operator table.
    enum ArgType : int {
        kArgBool = 0,
        kArgInt = 1,
        kArgNum = 2,
        kArgString = 3,
        kArgName = 4,
        kArgArray = 5,
        kArgDictOrName = 6,
        kArgNumOrName = 7,
        kArgNone = 8,
    };
    using Handler = void (ContentInterpreter::*)(PdfValue* args, int numArgs);
    struct OperatorRecord {
        char name[4];
        // n >= 0: exactly n operands; -n: at most n.
        int numArgs;
        int types[kMaxOperands];
        Handler handler;
    };
    // Sorted by the bytes of the names, for the binary search.
    static const OperatorRecord kOperators[73];
    // A record whose operand slots past the listed types repeat the last
    // listed type up to the operand count (the "2 x 6" rows) and hold
    // kArgNone after it.
    static constexpr OperatorRecord op(const char* name, int numArgs, std::initializer_list<int> types,
                                       Handler handler);

    // Families of operators whose drawing has not been built yet: each is
    // reported once per interpreter.
    enum Deferred : unsigned {
        kDeferredType3Metrics = 32,
    };
    void reportDeferred(Deferred family, const char* what);

    void runLoop();
    // Restores what the content of the innermost form or glyph saved and
    // left unrestored.
    void restoreToFormBase();
    void execute(const char* name, PdfValue* args, int numArgs);
    static const OperatorRecord* findOperator(const char* name);
    static bool checkArg(const PdfValue& arg, int type);

    // --- Graphics state, colour, path, painting and clipping.
    void opSave(PdfValue* args, int numArgs);
    void opRestore(PdfValue* args, int numArgs);
    void opConcat(PdfValue* args, int numArgs);
    void opLineWidth(PdfValue* args, int numArgs);
    void opLineCap(PdfValue* args, int numArgs);
    void opLineJoin(PdfValue* args, int numArgs);
    void opMiterLimit(PdfValue* args, int numArgs);
    void opFlatness(PdfValue* args, int numArgs);
    void opDash(PdfValue* args, int numArgs);
    void opNothing(PdfValue* args, int numArgs);
    void opExtGState(PdfValue* args, int numArgs);
    void opFillGray(PdfValue* args, int numArgs);
    void opStrokeGray(PdfValue* args, int numArgs);
    void opFillRgb(PdfValue* args, int numArgs);
    void opStrokeRgb(PdfValue* args, int numArgs);
    void opFillCmyk(PdfValue* args, int numArgs);
    void opStrokeCmyk(PdfValue* args, int numArgs);
    void opFillColorSpace(PdfValue* args, int numArgs);
    void opStrokeColorSpace(PdfValue* args, int numArgs);
    void opFillColor(PdfValue* args, int numArgs);
    void opStrokeColor(PdfValue* args, int numArgs);
    void opFillColorN(PdfValue* args, int numArgs);
    void opStrokeColorN(PdfValue* args, int numArgs);
    void opMoveTo(PdfValue* args, int numArgs);
    void opLineTo(PdfValue* args, int numArgs);
    void opCurveTo(PdfValue* args, int numArgs);
    void opCurveFromCurrent(PdfValue* args, int numArgs);
    void opCurveToEnd(PdfValue* args, int numArgs);
    void opRectangle(PdfValue* args, int numArgs);
    void opClosePath(PdfValue* args, int numArgs);
    void opClipNonzero(PdfValue* args, int numArgs);
    void opClipEvenOdd(PdfValue* args, int numArgs);
    void opEndPath(PdfValue* args, int numArgs);
    void opStroke(PdfValue* args, int numArgs);
    void opCloseStroke(PdfValue* args, int numArgs);
    void opFill(PdfValue* args, int numArgs);
    void opEoFill(PdfValue* args, int numArgs);
    void opFillStroke(PdfValue* args, int numArgs);
    void opEoFillStroke(PdfValue* args, int numArgs);
    void opCloseFillStroke(PdfValue* args, int numArgs);
    void opCloseEoFillStroke(PdfValue* args, int numArgs);

    // Helpers of the colour operators: stroke selects the stroke side.
    void setDeviceColor(bool stroke, std::unique_ptr<ColorSpace> space, PdfValue* args, int numArgs);
    void setColorSpace(bool stroke, const PdfValue& name);
    void setColorComponents(bool stroke, PdfValue* args, int numArgs);
    void setColorOrPattern(bool stroke, PdfValue* args, int numArgs);
    // Helpers of painting: paint() runs fill (eo for even-odd) and/or
    // stroke on the current path, then ends it.
    enum PaintFlags : int { kPaintFill = 1, kPaintEvenOdd = 2, kPaintStroke = 4, kPaintClose = 8 };
    void paint(int flags);
    void doFill(bool evenOdd);
    void doStroke();
    // clipped: the device's clip already is the painted area (glyphs).
    void doPatternFill(bool stroke, bool evenOdd, bool clipped = false);
    // The pattern fills (ContentPatternFills.cpp): each runs in a saved
    // state clipped to the painted area and leaves the path as it was.
    void doTilingPatternFill(TilingPattern* pattern, bool stroke, bool evenOdd, bool clipped);
    void setTileColours(TilingPattern* tiling, bool stroke, const ColorSpace* under);
    void drawTiles(TilingPattern* tiling, const double* m, const double* m1Inverse, double xStep,
                   double yStep);
    void doShadingPatternFill(ShadingPattern* pattern, bool stroke, bool evenOdd, bool clipped);
    // Puts the state in the neutral one a transparency group starts from:
    // normal blend mode, full opacity, no soft mask. The group as a whole
    // is composited with the outer ones when it is painted.
    void neutraliseForGroup();
    // Whether painting the fill (stroke: the stroke) paints the state's
    // pattern.
    bool paintsPattern(bool stroke) const;
    // Paints the fill (stroke: the stroke) pattern where drawShape paints:
    // drawShape draws in opaque black into a soft mask of its coverage over
    // box (4 values, user space), and the pattern fills the box through it.
    // For shapes that are no path (an image mask, stroked glyphs).
    void paintPatternThroughMask(bool stroke, const double* box, const std::function<void()>& drawShape);
    // The state's clip narrowed to the path's fill or stroke area.
    void clipToPaintedArea(bool stroke, bool evenOdd);
    // The clip narrowed to the shading's BBox, when it has one, in the
    // current space.
    void clipToShadingBox(const Shading* shading);
    // The shading clipped to its box and cut into pieces with
    // anti-aliasing off, in a state the caller saved.
    void fillShading(Shading* shading);
    void endPath();
    // Closes the last sub-path when there is a current point; false when
    // there is none.
    bool closePath();
    // The extended graphics state's entries.
    void applyTransfer(const PdfValue& value);
    void applySoftMask(const PdfValue& value);
    void runSoftMaskForm(const PdfValue& stream, std::unique_ptr<ColorSpace> groupSpace, bool isolated,
                         bool knockout, bool alpha, PdfFunction* transfer, const ColorValue& backdrop);

    // --- Text (ContentTextOperators.cpp).
    void opBeginText(PdfValue* args, int numArgs);
    void opEndText(PdfValue* args, int numArgs);
    void opSetCharSpacing(PdfValue* args, int numArgs);
    void opSetWordSpacing(PdfValue* args, int numArgs);
    void opSetHorizontalScaling(PdfValue* args, int numArgs);
    void opSetTextLeading(PdfValue* args, int numArgs);
    void opSetTextRise(PdfValue* args, int numArgs);
    void opSetTextRender(PdfValue* args, int numArgs);
    void opSetFont(PdfValue* args, int numArgs);
    void opTextMove(PdfValue* args, int numArgs);
    void opTextMoveSet(PdfValue* args, int numArgs);
    void opSetTextMatrix(PdfValue* args, int numArgs);
    void opTextNextLine(PdfValue* args, int numArgs);
    void opShowText(PdfValue* args, int numArgs);
    void opMoveShowText(PdfValue* args, int numArgs);
    void opMoveSetShowText(PdfValue* args, int numArgs);
    void opShowSpaceText(PdfValue* args, int numArgs);
    // Helpers of the text operators.
    // current point = line start through the text matrix.
    void setTextPosition();
    // The line start moved down by the leading, and the position set.
    void nextLine();
    // Whether a font is set (else the message is reported); tells the
    // device about a changed font.
    bool prepareTextShow(const char* message);
    // Shows a string glyph by glyph, as a whole, or through Type 3 glyph
    // procedures, as the device asks.
    void showString(const DynString* string);
    void showGlyphs(const DynString* string);
    // One part of a string's render mode in a pass of its own: the glyphs
    // shown in the given mode (patterned: through the state's fill or stroke
    // pattern), the text position put back where it was and the position
    // after the string in endX, endY.
    void showTextPass(const DynString* string, int mode, bool patterned, double* endX, double* endY);
    void showType3String(const DynString* string);
    void showType3InPattern(SimpleFont* font, const DynString* string);
    bool firstOperatorIs(const PdfValue& procedure, const char* name);
    void showType3ThroughPattern(const DynString* string);
    // One Type 3 glyph at the user-space point (x, y) with the glyph matrix
    // (6 values): from the device's cache or by running its procedure.
    void runType3Glyph(SimpleFont* font, const double* glyphMatrix, double x, double y, double tdx,
                       double tdy, unsigned int code, const unsigned int* unicode, int unicodeCount);

    // --- XObjects, images, shadings, Type 3 metrics, marked content,
    // compatibility sections.
    void opXObject(PdfValue* args, int numArgs);
    void opBeginImage(PdfValue* args, int numArgs);
    void opImageData(PdfValue* args, int numArgs);
    void opEndImage(PdfValue* args, int numArgs);
    void opShading(PdfValue* args, int numArgs);
    void opType3Width(PdfValue* args, int numArgs);
    void opType3Box(PdfValue* args, int numArgs);
    void opBeginMarked(PdfValue* args, int numArgs);
    void opMarkPoint(PdfValue* args, int numArgs);
    void opCompatibilityBegin(PdfValue* args, int numArgs);
    void opCompatibilityEnd(PdfValue* args, int numArgs);
    // Reads an inline image's dictionary up to ID into dict; false when the
    // content ends first.
    bool readInlineImageDict(PdfValue& dict);
    // Draws an image XObject or inline image from its dictionary (a stream
    // value or an inline dictionary); ref is the XObject's reference or
    // null. Every defect reports one message and leaves the image undrawn.
    void drawImageObject(const PdfValue* ref, DataStream* stream, const PdfValue& dict, bool inlineImage);
    bool drawImageChecked(const PdfValue* ref, DataStream* stream, const PdfValue& dict, bool inlineImage);
    // The parts of drawImageChecked: a sampled image by its mask (soft,
    // colour key, stencil or none); false for parameters that cannot be
    // drawn.
    bool drawSampledImage(const PdfValue* ref, DataStream* stream, const PdfValue& dict, int bits,
                          int colorMode, int width, int height, bool inlineImage);
    bool drawSoftMaskedImage(const PdfValue* ref, DataStream* stream, int width, int height,
                             ImageColorMap* colorMap, const PdfValue& softMask);
    bool drawColorKeyedImage(const PdfValue* ref, DataStream* stream, int width, int height,
                             ImageColorMap* colorMap, int components, const PdfValue& mask, bool inlineImage);
    bool drawStencilMaskedImage(const PdfValue* ref, DataStream* stream, int width, int height,
                                ImageColorMap* colorMap, const PdfValue& mask);
    // The colour space of an image (ColorSpace or CS, a name looked up among
    // the resources first); absent, the stream's own colour mode (1 grey,
    // 2 RGB, 3 CMYK) chooses. failed when there is none.
    std::unique_ptr<ColorSpace> imageColorSpace(const PdfValue& dict, int colorMode, bool& failed);
    // A form XObject run through runForm, as a transparency group when its
    // Group says so.
    void runFormXObject(const PdfValue& stream);
    // What every form stream gives runForm: its box, matrix (the identity
    // when absent) and resources.
    struct FormHeader {
        double box[4] = {};
        double matrix[6] = {1, 0, 0, 1, 0, 0};
        PdfValue resources;
        PdfDict* resourceDict() const { return resources.isDict() ? resources.getDict() : nullptr; }
    };
    // False (and reported) when the stream has no BBox array; a FormType
    // other than 1 is reported.
    bool readFormHeader(const PdfValue& stream, FormHeader& out);
    // Up to count numbers of an array value; elements that are not numbers
    // and missing elements give 0.
    static void readNumbers(const PdfValue& array, double* out, int count);
    // drawAnnotation's steps, the rectangle given in the current user space:
    // the appearance stream's box, through its matrix, stretched onto the
    // rectangle (false, reported, when the stream has no box: the annotation
    // ends there, border and all); the border stroked around it, its widths
    // taken from default user space through `inverse` (the current matrix
    // inverted).
    bool drawAppearanceStream(const PdfValue& appearance, double xMin, double yMin, double xMax, double yMax);
    void strokeAnnotationBorder(const BorderStyle& border, const double* inverse, double xMin, double yMin,
                                double xMax, double yMax);

    XrefTable* m_xref;
    OutputDevice* m_device;
    bool m_verbose;
    // Innermost set first; the interpreter owns the chain.
    std::unique_ptr<ResourceSet> m_resources;
    int m_operatorCount = 0;
    // operatorCount at the last abort check.
    int m_lastAbortCheck = 0;
    // The top of the state stack; it owns the states beneath.
    std::unique_ptr<GraphicsState> m_state;
    bool m_fontChanged = false;
    // Set when a string of the current text object was shown in a clipping
    // render mode: the device holds its glyphs for the clip at ET.
    bool m_textClipPending = false;
    // 0 none, 1 nonzero winding (W), 2 even-odd (W*): applied when the path
    // ends.
    int m_pendingClip = 0;
    int m_compatibilityDepth = 0;
    double m_baseMatrix[6];
    int m_formDepth = 0;
    int m_maxNesting = kMaxNesting;
    bool m_nestingBoundReported = false;
    int m_nestedRuns = 0;
    // The state the innermost running form started from: its content may
    // not restore below it, and what it saved and left is restored when the
    // form ends (those states may point into the form's resources).
    GraphicsState* m_formBase = nullptr;
    // The parser of the content being read; null outside display.
    ValueParser* m_parser = nullptr;
    AbortCheck m_abortCheck;
    void* m_abortData;
    // Set when the abort check asked to stop: no loop runs afterwards.
    bool m_aborted = false;
    unsigned m_deferredReported = 0;
    int64_t m_shadingBudget = kMaxShadingPieces;
    bool m_shadingBudgetReported = false;
};

}  // namespace rendova
