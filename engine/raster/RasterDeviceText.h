#pragma once

#include <memory>
#include <vector>

#include "engine/raster/Type3GlyphCache.h"

namespace rendova {

class FontObject;
class GraphicsState;
class RasterBitmap;
class RasterFont;
class RasterFontCache;
class RasterFontFileBase;
class RasterPath;
class Rasteriser;
class XrefTable;

// The text side of the raster output device: its font cache, the current
// font and when to reload it, glyphs drawn by render mode, the pending text
// clip, and the Type 3 glyph caches with the stack of Type 3 glyphs being
// drawn. The device owns one and forwards its text slots to it:
//
//   startDocument(xref)     text.startDocument(xref, settings' font engine flag,
//                                              glyph anti-alias flag)
//   updateFont, restoreState (after the rasteriser's), refreshAllState
//                           text.setFontChanged()
//   drawChar(state, x, y, dx, dy, ox, oy, code, ...)
//                           text.drawChar(state, rasteriser, x, y, ox, oy, code)
//   finishTextObject        text.finishTextObject(rasteriser)
//   beginType3Char(state, x, y, dx, dy, code, ...)
//                           return text.beginType3Char(state, rasteriser, code)
//   setType3GlyphBox(state, wx, wy, llx, lly, urx, ury)
//                           text.setType3GlyphBox(state, m_rasteriser, m_target, llx, lly, urx, ury)
//   endType3Char(state)     text.endType3Char(state, m_rasteriser, m_target)
//
// While a Type 3 glyph is drawn into its cache cell, the device's rasteriser
// and target bitmap are those of the cell: setType3GlyphBox swaps them in
// (keeping the page's in the stack entry) and endType3Char swaps them back,
// so the device must hold its rasteriser in a std::unique_ptr and draw
// through whichever one it holds.
//
// Ownership: owns the font cache, the Type 3 caches, the stack and the text
// clip; the current font belongs to the font cache. Not owned: the document
// (XrefTable) and the state. One thread at a time; throws MemoryException
// only (faults of the document are reported and the glyphs skipped).
class RasterDeviceText {
public:
    // colourMode and antialias are the device's (anti-aliasing of the
    // Type 3 cells; their glyphs are 8-bit unless the mode is 1-bit).
    RasterDeviceText(int colourMode, bool antialias);
    ~RasterDeviceText();
    RasterDeviceText(const RasterDeviceText&) = delete;
    RasterDeviceText& operator=(const RasterDeviceText&) = delete;

    // A new font cache (the old one and its fonts go); the Type 3 caches are
    // emptied. xref is the document's, for fetching embedded font files.
    void startDocument(XrefTable* xref, bool engineEnabled, bool glyphAntialias);
    // The font is loaded again before the next glyph.
    void setFontChanged() { m_fontChanged = true; }

    // One glyph at the user-space point (x, y) less its origin, by the
    // state's render mode: filled, stroked, added to the text clip.
    void drawChar(GraphicsState* state, Rasteriser* rasteriser, double x, double y, double originX,
                  double originY, unsigned int code);
    // Applies the pending text clip, if any.
    void finishTextObject(Rasteriser* rasteriser);

    // Type 3 glyphs. beginType3Char answers true when the glyph came from
    // the cache (its procedure is not run); otherwise an entry is pushed that
    // endType3Char pops. setType3GlyphBox (the d1 operator) starts caching
    // the glyph when its box fits the cache's cell.
    bool beginType3Char(GraphicsState* state, Rasteriser* rasteriser, unsigned int code);
    void setType3GlyphBox(GraphicsState* state, std::unique_ptr<Rasteriser>& rasteriser,
                          RasterBitmap*& target, double llx, double lly, double urx, double ury);
    void endType3Char(GraphicsState* state, std::unique_ptr<Rasteriser>& rasteriser, RasterBitmap*& target);

    // Loads the state's font at its text parameters under the current
    // matrix ctm (6 values): from the font cache, else from its embedded
    // file, its external file or a substitute. Afterwards getCurrentFont is
    // the font, or null when it cannot be drawn (a Type 3 font, a load
    // failure, which is reported).
    void loadFont(GraphicsState* state, const double* ctm);

    RasterFont* getCurrentFont() const { return m_currentFont; }
    RasterFontCache* getFontCache() const { return m_fontCache.get(); }
    Type3GlyphCacheList& getType3Caches() { return m_type3Caches; }
    const RasterPath* getTextClip() const { return m_textClip.get(); }
    int getType3StackDepth() const { return static_cast<int>(m_type3Stack.size()); }
    // True while a Type 3 glyph is being drawn into its cache cell, so that
    // the device's target is that cell (or a group opened inside it).
    bool drawingType3Cell() const {
        for (const Type3StackEntry& e : m_type3Stack)
            if (e.savedRasteriser)
                return true;
        return false;
    }

    // The width of the glyph "m" in the twelve standard faces that stand in
    // for fonts without a file, by substitute index.
    static const char* standardFaceName(int index);
    static double standardFaceWidthOfM(int index);

private:
    // The current font, or for a face that fits its glyphs to the
    // document's widths, the font scaled across so that the code's glyph
    // spans its width; the current font stays in front of the cache.
    RasterFont* fontFittedTo(GraphicsState* state, const double* ctm, unsigned int code);

    struct Type3StackEntry {
        unsigned int code;
        // Null when no cache could be kept for the font: the glyph is drawn
        // uncached.
        Type3GlyphCache* cache;
        // The cache entry taken, -1 while the glyph is not being cached.
        int entry = -1;
        std::unique_ptr<RasterBitmap> glyphBitmap;
        RasterBitmap* savedTarget = nullptr;
        std::unique_ptr<Rasteriser> savedRasteriser;
        double savedTx = 0;
        double savedTy = 0;
    };

    // The parts of loadFont: the file of a font (a temporary copy of its
    // embedded program, its external file, or a substitute's) and its
    // loading by type.
    RasterFontFileBase* loadFontFile(FontObject* font, int* substituteIndex);
    void drawCachedType3Glyph(Rasteriser* rasteriser, const Type3GlyphCache& cache, int entry);

    int m_colourMode;
    bool m_antialias;
    XrefTable* m_xref = nullptr;
    std::unique_ptr<RasterFontCache> m_fontCache;
    Type3GlyphCacheList m_type3Caches;
    std::vector<Type3StackEntry> m_type3Stack;
    RasterFont* m_currentFont = nullptr;
    bool m_fontChanged = false;
    std::unique_ptr<RasterPath> m_textClip;
    // Set when a glyph of the text object asked to clip, whether or not it
    // had an outline: a clip of glyphs without outlines lets nothing through.
    bool m_textClipPending = false;
};

}  // namespace rendova
