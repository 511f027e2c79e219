#pragma once

#include <memory>

#include "engine/raster/RasterFont.h"

struct FT_SizeRec_;
struct FT_Outline_;

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

private:
    // The glyph index of a code (the map's entry, else the code); -1 when
    // nothing is to be drawn (glyph 0 of a TrueType font).
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
};

}  // namespace rendova
