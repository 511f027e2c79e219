#pragma once

#include <memory>
#include <unordered_map>

#include "engine/raster/RasterFont.h"

struct FT_SizeRec_;
struct FT_Outline_;
struct FT_GlyphRec_;
struct FT_Bitmap_;
struct FT_Vector_;

namespace rendova {

class RasterFontFile;

// A RasterFont over a FreeType face: its own FreeType size, the 16.16
// transforms for glyph bitmaps and for outlines, and the text scale that
// brings outlines back to text space. Built by RasterFontFile::makeFont; the
// FreeType calls are in FreeTypeAdapter.cpp.
//
// Ownership and threads as RasterFont; the FreeType size is released with
// the font.
class FreeTypeFont : public RasterFont {
public:
    FreeTypeFont(RasterFontFile* fontFile, const double* matrix, const double* textMatrix);
    ~FreeTypeFont() override;

    int makeGlyph(int code, int xFraction, int yFraction, RasterGlyph* glyph) override;
    std::unique_ptr<RasterPath> getGlyphPath(int code) override;

    // Whether the size and transforms were set up; a font without them
    // answers no glyphs.
    bool isUsable() const { return m_usable; }
    // Whether glyph bitmaps are rendered; a font whose em exceeds
    // kMaxPixelSize in some direction gives outlines only, which the device
    // fills instead.
    bool hasBitmaps() const override { return m_usable && m_bitmapsUsable; }
    int getPixelSize() const { return m_pixelSize; }
    double getTextScale() const { return m_textScale; }

    // A FreeType outline (points in 1/64 units) as a path, every coordinate
    // times textScale / 64; quadratic segments become cubic curves. An open
    // sub-path is closed at the end.
    static std::unique_ptr<RasterPath> outlineToPath(const FT_Outline_* outline, double textScale);

    // The pixel size handed to FreeType is kept within this bound: FreeType
    // takes 16-bit sizes, and a glyph bitmap of this em fills 64 MB already.
    static constexpr int kMaxPixelSize = 8192;

    // Test hook: with it set every glyph bitmap is loaded and rendered at
    // its position by FreeType, never drawn from a kept outline, so that
    // tests can compare the two.
    void setReferenceRendering(bool on) { m_referenceRendering = on; }
    // Outlines kept per font for the sub-pixel positions of anti-aliased
    // glyphs; past this many the kept ones are dropped and gathered anew.
    static constexpr size_t kMaxKeptOutlines = 512;

private:
    // Loads the glyph at position delta (1/64 pixel) and renders it in the
    // face's glyph slot.
    int renderLoaded(int code, const FT_Vector_& delta, RasterGlyph* glyph);
    // The glyph's outline under the glyph transform at the origin, loaded on
    // first use and kept; null when the glyph is not an outline.
    FT_GlyphRec_* keptOutline(int code);
    // Copies FreeType's rendering into a glyph that owns its pixels; 0 when
    // the bitmap is not in the layout the rasteriser reads.
    int takeBitmap(const FT_Bitmap_& bitmap, int left, int top, RasterGlyph* glyph) const;

    // The glyph index of a code: the map's entry, else the code.
    int glyphIndex(int code) const;
    RasterFontFile* file() const;

    FT_SizeRec_* m_size = nullptr;
    bool m_usable = false;
    bool m_bitmapsUsable = false;
    int m_pixelSize = 0;
    // 16.16 FreeType matrices, xx xy yx yy.
    long m_glyphTransform[4] = {0x10000, 0, 0, 0x10000};
    long m_outlineTransform[4] = {0x10000, 0, 0, 0x10000};
    double m_textScale = 1;
    bool m_referenceRendering = false;
    // An anti-aliased glyph is asked for at up to four x positions; loading
    // it once and moving the outline spares FreeType the decoding of its
    // program for the others, which costs several times the rendering. The
    // outlines are FreeType's (FT_Glyph), released with the font.
    std::unordered_map<int, FT_GlyphRec_*> m_outlines;
};

}  // namespace rendova
