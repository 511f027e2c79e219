#pragma once

#include <cmath>
#include <memory>

#include "engine/core/Memory.h"
#include "engine/raster/RasterBitmap.h"
#include "engine/raster/RasterGlyph.h"
#include "engine/raster/RasterPath.h"
#include "engine/raster/RasterState.h"
#include "engine/raster/SpanPainter.h"

namespace rendova {

// The caller's source of image rows: fills the next row (one byte per pixel
// for grey and 1-bit targets, three bytes red, green, blue for the 24-bit
// ones, and, when the image has alpha, one alpha byte per pixel into
// alphaLine) and answers 1, or answers 0 for a row it does not have (past
// the end of its data, or past the image): such rows are not painted.
// Image masks deliver one byte per pixel, 0 or 1, and get a null alphaLine.
using RasterImageSource = int (*)(void* userData, uint8_t* line, uint8_t* alphaLine);

// Paints into one raster bitmap under a stack of drawing states: fills and
// strokes of paths (with 4 x 4 anti-aliasing when enabled), glyph bitmaps,
// image masks and images, and compositing of other bitmaps, every pixel
// through one pixel pipe (initPainter, paintPixel). The state operations are
// in Rasteriser.cpp; fill, stroke, the pipe, images and compositing each have
// a source file of their own.
//
// The bitmap is not owned and must outlive the rasteriser. The rasteriser
// owns every state on its stack and the anti-aliasing buffer. Not
// thread-safe; construction throws MemoryException.
class Rasteriser {
public:
    Rasteriser(RasterBitmap* bitmap, bool vectorAntialias, const HalftoneParameters* screenParams);
    // The same with a copy of an existing screen.
    Rasteriser(RasterBitmap* bitmap, bool vectorAntialias, const RasterScreen& screen);
    ~Rasteriser();
    Rasteriser(const Rasteriser&) = delete;
    Rasteriser& operator=(const Rasteriser&) = delete;

    RasterBitmap* getBitmap() const { return m_bitmap; }
    RasterState* getState() const { return m_state.get(); }
    RasterScreen* getScreen() const { return m_state->screen(); }
    bool vectorAntialias() const { return m_vectorAntialias; }
    // Switches anti-aliasing of fills, strokes and images. Only a rasteriser
    // made with anti-aliasing holds the sub-pixel buffer and coverage curve
    // it needs, so switching on any other leaves it off.
    void setVectorAntialias(bool on) { m_vectorAntialias = on && m_aaBuffer; }

    void setMatrix(const double* m) { m_state->setMatrix(m); }
    void setStrokePattern(RasterPattern* p) { m_state->setStrokePattern(p); }
    void setFillPattern(RasterPattern* p) { m_state->setFillPattern(p); }
    void setBlendFunction(BlendFunction f) { m_state->setBlendFunction(f); }
    void setStrokeAlpha(double a) { m_state->setStrokeAlpha(a); }
    void setFillAlpha(double a) { m_state->setFillAlpha(a); }
    void setLineWidth(double w) { m_state->setLineWidth(w); }
    void setLineCap(int c) { m_state->setLineCap(c); }
    void setLineJoin(int j) { m_state->setLineJoin(j); }
    void setMiterLimit(double m) { m_state->setMiterLimit(m); }
    // Stores f, or 1 when f < 1.
    void setFlatness(double f) { m_state->setFlatness(f); }
    void setLineDash(const double* values, int n, double phase) { m_state->setLineDash(values, n, phase); }
    void setStrokeAdjust(int flag) { m_state->setStrokeAdjust(flag); }
    // Narrows the current clip to the path under the state's matrix and
    // flatness.
    int clipToPath(const RasterPath& path, bool evenOdd);
    void setSoftMask(RasterBitmap* bitmap) { m_state->setSoftMask(bitmap); }
    // Records the enclosing non-isolated group's backdrop (not owned) and this
    // bitmap's offset inside it.
    void setInNonIsolatedGroup(const RasterBitmap* backdrop, int x, int y);
    // Makes this bitmap a knockout group whose initial state is `initial`
    // (not owned; of this bitmap's size, mode and rows, with alpha): every
    // object drawn then composites with that state instead of with what
    // earlier objects drew, and replaces the bitmap where it has shape. Such
    // pixels all take the general pipe. A bitmap of another shape, or a
    // 1-bit one, is ignored (the group then draws as a plain one).
    void setKnockoutBackdrop(const RasterBitmap* initial);
    const RasterBitmap* knockoutBackdrop() const { return m_knockoutBackdrop; }
    // The backdrop alpha for a non-isolated group opened at (x, y), w x h,
    // on this bitmap while it is itself a non-isolated group: this bitmap's
    // alpha over its own backdrop's, so that the new group blends with
    // everything beneath it. A 1-bit bitmap of the group's size that carries
    // the result in its alpha plane; owned by the caller.
    std::unique_ptr<RasterBitmap> nestedGroupBackdrop(int x, int y, int w, int h) const;
    // Pushes a copy of the current state.
    int saveState();
    // resultNothingSaved when only the first state is left.
    int restoreState();

    void resetModifiedBox();
    void extendModifiedX(int x);
    void extendModifiedY(int y);
    int modXMin() const { return m_modXMin; }
    int modYMin() const { return m_modYMin; }
    int modXMax() const { return m_modXMax; }
    int modYMax() const { return m_modYMax; }
    int opClipResult() const { return m_opClipResult; }

    // Colour red, green, blue; every pixel of the bitmap becomes it, every
    // alpha byte (when there is a plane) becomes alpha.
    void clear(const uint8_t* colour, uint8_t alpha);
    // clear over columns x0..x1 of rows y0..y1 (cut to the bitmap) only; a
    // 1-bit bitmap, whose bytes hold eight pixels, is cleared whole.
    void clearRect(const uint8_t* colour, uint8_t alpha, int x0, int y0, int x1, int y1);
    // fillWithPattern with the state's fill pattern and fill alpha.
    int fill(const RasterPath& path, bool evenOdd);
    // resultEmptyPath for a path without points, else resultOk.
    int fillWithPattern(const RasterPath& path, bool evenOdd, const RasterPattern* pattern, double alpha);
    // resultEmptyPath for a path without points, else resultOk.
    int stroke(const RasterPath& path);
    // The outline whose non-zero fill is the stroke's area, in user space;
    // with flatten set the path is flattened and dashed first. Owned by the
    // caller.
    std::unique_ptr<RasterPath> makeStrokePath(const RasterPath& path, int flatten);
    // The path with every curve replaced by lines, flattened to the flatness
    // measured in device space under the matrix.
    std::unique_ptr<RasterPath> flattenPath(const RasterPath& path, const double* matrix, double flatness);
    // The dash pieces of a flattened path under the state's dash pattern. A
    // pattern that cannot be walked (no positive total length, a negative or
    // non-finite value, or more pieces than kMaxDashPieces) gives the path
    // unchanged, a solid line.
    std::unique_ptr<RasterPath> makeDashedPath(const RasterPath& path);

    // Draws a glyph of the font at the user-space point: resultNoGlyph when
    // the font has no bitmap for the code. Font is the glyph rasteriser's
    // font type (anything with getGlyph(code, xFraction, yFraction, glyph)
    // answering non-zero on success).
    template <typename Font>
    int fillChar(double x, double y, int code, Font& font);
    // Draws a glyph bitmap at the user-space point.
    int fillGlyph(double x, double y, const RasterGlyph& glyph);
    // Draws an image mask (source bytes 0 or 1) in the fill pattern; the
    // matrix maps the unit square onto the image's place. glyphMode selects
    // the pixel edges used inside Type 3 glyphs.
    int fillImageMask(RasterImageSource source, void* userData, int width, int height, const double* matrix,
                      int glyphMode);
    // Draws an image whose rows come in sourceMode's layout (the target's
    // mode, or grey for the 1-bit target), with an alpha byte per pixel when
    // sourceHasAlpha is set.
    int drawImage(RasterImageSource source, void* userData, int sourceMode, int sourceHasAlpha, int width,
                  int height, const double* matrix);
    // Paints the w x h rectangle of source at (xSrc, ySrc) onto the target at
    // (xDest, yDest) through the pipe; the rectangle is first cut to both
    // bitmaps.
    int composite(const RasterBitmap& source, int xSrc, int ySrc, int xDest, int yDest, int w, int h,
                  bool noClip, bool nonIsolated);
    // Blends every pixel over the colour by its alpha and makes it opaque.
    // Needs an alpha plane; without one nothing changes.
    void compositeBackground(const uint8_t* colour);
    // compositeBackground over columns x0..x1 of rows y0..y1 (cut to the
    // bitmap) only; the rest stays as it is.
    void compositeBackgroundRect(const uint8_t* colour, int x0, int y0, int x1, int y1);
    // Copies the w x h rectangle of source at (xSrc, ySrc) to (xDest, yDest)
    // unchanged (cut to both bitmaps) and clears the copied alpha.
    int blitBitmap(const RasterBitmap& source, int xSrc, int ySrc, int xDest, int yDest, int w, int h);

    // The pixel pipe. initPainter prepares a painter at (x, y) for a pattern
    // (null: the colour bytes pointed to, which must stay valid while it
    // paints), a constant alpha, shape use and group correction (non-zero:
    // correct for the non-isolated group's backdrop).
    void initPainter(SpanPainter& painter, int x, int y, const RasterPattern* pattern, const uint8_t* colour,
                     double alpha, int usesShape, int groupCorrection);
    void setPainterXY(SpanPainter& painter, int x, int y);
    // Advances to the next pixel without writing.
    void skipPixel(SpanPainter& painter);
    // The backdrop alpha beneath row y, indexed by column, when the painter
    // uses it; null otherwise.
    const uint8_t* backdropRow(const SpanPainter& painter, int y) const;
    // Paints the current pixel by the general rules and advances.
    void paintPixel(SpanPainter& painter);
    // paintPixel inside a knockout group.
    void paintKnockoutPixel(SpanPainter& painter);
    // Paints (x, y) unless it fails the clip (noClip 0) and extends the
    // modified box.
    void drawPixel(SpanPainter& painter, int x, int y, int noClip);

    // Test hook: with it set every pixel goes through paintPixel, never
    // through the fast loops, so that tests can compare the two.
    void setReferencePipe(int on) { m_referencePipe = on; }

    // A dash pattern that would cut a path into more pieces than this strokes
    // solid: so fine a pattern cannot be seen at any resolution the engine
    // renders, and the pieces would cost memory without bound.
    static constexpr int64_t kMaxDashPieces = 1 << 22;

private:
    void init();
    // The colour, in the bitmap's byte order, into columns x0..x1 of rows
    // y0..y1 (inside the bitmap) of an 8- or 24-bit bitmap.
    void fillColourRect(const uint8_t* colour, int x0, int y0, int x1, int y1);
    // Painting runs through the pipe; all extend the modified box.
    // Columns x0..x1 of row y, all painted.
    void paintSpan(SpanPainter& painter, int x0, int x1, int y);
    // Columns x0..x1 of row y, each tested against the clip.
    void paintSpanClipped(SpanPainter& painter, int x0, int x1, int y);
    // Columns x0..x1 of row y with the coverage held in the buffer.
    void paintAaSpan(SpanPainter& painter, int x0, int x1, int y);
    void strokeThin(const RasterPath& path);
    void strokeWide(const RasterPath& path);
    void drawGlyph(int x0, int y0, const RasterGlyph& glyph);
    void drawGlyphByPixel(int bx0, int by0, const RasterGlyph& glyph, SpanPainter& p, int clipResult);
    // The anti-aliasing buffer set to the clip's coverage of the pixels
    // x0..x1 of row y (inside the bitmap).
    void coverRowByClip(int x0, int x1, int y);
    // The fast rows of composite (no blend routine). Through a clip path
    // (tested by pixel, or by the clip's coverage when covered) the runs of
    // pixels the clip wholly covers take them, and the pixels at its edges
    // the general rules through p, whose colour is colour.
    void compositeRows(const RasterBitmap& source, int xSrc, int ySrc, int xDest, int yDest, int w, int h,
                       SpanPainter& p, uint8_t* colour, bool tested, bool covered);
    // One image's buffers and pixel loop, for drawImageCommon.
    class ImageDraw;
    // Shared by fillImageMask and drawImage.
    int drawImageCommon(RasterImageSource source, void* userData, int sourceMode, int sourceHasAlpha,
                        int width, int height, const double* matrix, int glyphMode, bool isMask);
    bool bitmapIsEmpty() const { return m_bitmap->width() <= 0 || m_bitmap->height() <= 0; }

    RasterBitmap* m_bitmap;
    // The current state; the states saved before it hang from its next.
    std::unique_ptr<RasterState> m_state;
    // 1 bit per sub-pixel, 4 x the bitmap's width by 4 rows, top-down.
    std::unique_ptr<RasterBitmap> m_aaBuffer;
    // The device row whose clip coverage the buffer holds while an image is
    // drawn with anti-aliasing; -1 when none.
    int m_aaBufferRow = -1;
    const RasterBitmap* m_groupBackdrop = nullptr;
    int m_groupBackdropX = 0;
    int m_groupBackdropY = 0;
    // Coverage of i of 16 sub-pixels to shape: (i / 16) ^ 1.5.
    double m_aaGamma[17];
    // The painters' coverage-to-alpha table for the alpha it was made for.
    double m_aaAlphaFor = -1;
    uint8_t m_aaAlphaTable[17] = {};
    // Glyph coverage byte to source alpha at the opacity m_glyphAlphaFor
    // (-1 until first used): a page of text keeps one opacity, and small
    // glyphs have fewer pixels than the table has entries.
    double m_glyphAlphaFor = -1;
    uint8_t m_glyphAlpha[256] = {};
    int m_modXMin = 0, m_modYMin = 0, m_modXMax = 0, m_modYMax = 0;
    int m_opClipResult = 0;
    bool m_vectorAntialias;
    int m_referencePipe = 0;
    const RasterBitmap* m_knockoutBackdrop = nullptr;
};

template <typename Font>
int Rasteriser::fillChar(double x, double y, int code, Font& font) {
    const double* m = m_state->matrix();
    const double xt = m[0] * x + m[2] * y + m[4];
    const double yt = m[1] * x + m[3] * y + m[5];
    // Along x the nearest of the font's steps across a pixel (at most four,
    // so that the cache keeps at most four renderings of a glyph: the pixel
    // x0 and the quarters past it), as the peers place glyphs; along y the
    // nearest whole row, the glyphs being rendered at whole rows (taking the
    // row above set text up to a whole pixel higher than the peers set it).
    const int steps = font.subpixelSteps();
    const double step = std::floor(clampCoord(xt) * steps + 0.5);
    const int x0 = floorToInt(step / steps);
    const int xFraction = saturateToInt((step - double(x0) * steps) * (4 / steps), 0, 3);
    const int y0 = floorToInt(clampCoord(yt) + 0.5);
    RasterGlyph glyph;
    if (!font.getGlyph(code, xFraction, 0, &glyph))
        return resultNoGlyph;
    drawGlyph(x0, y0, glyph);
    if (glyph.ownsPixels)
        memFree(glyph.pixels);
    return resultOk;
}

}  // namespace rendova
