// Every call into FreeType: the library (RasterFontEngine), faces
// (RasterFontFile) and sizes, glyph bitmaps and outlines (FreeTypeFont).
// FreeType reports failures by return codes and never unwinds through us;
// our callbacks catch everything before returning into it.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_ADVANCES_H
#include FT_FONT_FORMATS_H
#include FT_GLYPH_H
#include FT_OUTLINE_H
#include FT_SIZES_H

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>

#include "engine/content/CffFontFile.h"
#include "engine/content/TrueTypeFontFile.h"
#include "engine/core/FileUtils.h"
#include "engine/core/GlobalSettings.h"
#include "engine/core/Memory.h"
#include "engine/core/SaturatingCast.h"
#include "engine/core/ScopeExit.h"
#include "engine/raster/FreeTypeFont.h"
#include "engine/raster/RasterFontEngine.h"
#include "engine/raster/RasterFontFile.h"
#include "engine/raster/RasterPath.h"

namespace rendova {

namespace {

// A double as a 16.16 FreeType value, saturated to the 32-bit range that
// FreeType's fixed-point products expect.
FT_Fixed toFixed(double v) {
    return static_cast<FT_Fixed>(fixedFromDouble(v));
}

// Loads a glyph; a hinted load that fails is tried again unhinted. Subset
// fonts often keep a hinting program that calls functions of a table they
// left out, which fails every hinted glyph: the outline itself is sound.
FT_Error loadGlyph(FT_Face face, int index, FT_Int32 flags) {
    const FT_Error error = FT_Load_Glyph(face, static_cast<FT_UInt>(index), flags);
    if (error == 0 || (flags & FT_LOAD_NO_HINTING) != 0)
        return error;
    return FT_Load_Glyph(face, static_cast<FT_UInt>(index), flags | FT_LOAD_NO_HINTING);
}

}  // namespace

// ---------------------------------------------------------------- engine

RasterFontEngine::RasterFontEngine(bool antialias, FT_LibraryRec_* library)
    : m_antialias(antialias), m_library(library) {
    FT_Int major = 0, minor = 0, patch = 0;
    FT_Library_Version(m_library, &major, &minor, &patch);
    m_newerLibrary = major > 2 || (major == 2 && (minor > 1 || (minor == 1 && patch > 7)));
}

std::unique_ptr<RasterFontEngine> RasterFontEngine::create(bool antialias) {
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0)
        return nullptr;
    return std::unique_ptr<RasterFontEngine>(new RasterFontEngine(antialias, library));
}

RasterFontEngine::~RasterFontEngine() {
    FT_Done_FreeType(m_library);
}

RasterFontFile* RasterFontEngine::loadType1Font(std::unique_ptr<RasterFontKey> key, const char* fileName,
                                                int deleteFile, const char* const* encoding) {
    return RasterFontFile::loadType1(this, std::move(key), fileName, deleteFile, encoding);
}

RasterFontFile* RasterFontEngine::loadCidFont(std::unique_ptr<RasterFontKey> key, const char* fileName,
                                              int deleteFile) {
    std::unique_ptr<uint16_t[]> map;
    int length = 0;
    if (!m_newerLibrary) {
        // Old libraries take glyph indices only; the CIDs are mapped here.
        if (std::unique_ptr<CffFontFile> cff = CffFontFile::fromFile(fileName))
            map = cff->buildCidToGlyphMap(&length);
    }
    return RasterFontFile::loadCid(this, std::move(key), fileName, deleteFile, std::move(map), length);
}

RasterFontFile* RasterFontEngine::loadTrueTypeFont(std::unique_ptr<RasterFontKey> key, const char* fileName,
                                                   int deleteFile) {
    std::unique_ptr<uint16_t[]> map;
    int length = 0;
    if (!m_newerLibrary) {
        std::unique_ptr<TrueTypeFontFile> ttf = TrueTypeFontFile::fromFile(fileName);
        if (ttf && ttf->isOpenTypeCff())
            map = ttf->buildCidToGlyphMap(&length);
    }
    return RasterFontFile::loadCid(this, std::move(key), fileName, deleteFile, std::move(map), length);
}

RasterFontFile* RasterFontEngine::loadUnicodeFont(std::unique_ptr<RasterFontKey> key, const char* fileName,
                                                  int deleteFile, const uint32_t* unicode, int length) {
    return RasterFontFile::loadUnicode(this, std::move(key), fileName, deleteFile, unicode, length);
}

namespace {

void writeToFile(void* data, const char* bytes, int count) {
    if (count > 0)
        std::fwrite(bytes, 1, static_cast<size_t>(count), static_cast<FILE*>(data));
}

}  // namespace

RasterFontFile* RasterFontEngine::loadConvertedTrueTypeFont(std::unique_ptr<RasterFontKey> key,
                                                            const char* fileName, int deleteOriginal,
                                                            std::unique_ptr<uint16_t[]> map, int length) {
    std::unique_ptr<TrueTypeFontFile> ttf = TrueTypeFontFile::fromFile(fileName);
    if (!ttf)
        return nullptr;
    // An OpenType file with CFF outlines, embedded where TrueType outlines
    // were announced, has no glyf table to rewrite; FreeType reads it as it
    // stands, and its glyph numbers are those the map holds.
    if (ttf->isOpenTypeCff()) {
        ttf.reset();
        return RasterFontFile::loadTrueType(this, std::move(key), fileName, deleteOriginal, std::move(map),
                                            length);
    }
    std::unique_ptr<DynString> tempName;
    FILE* out = nullptr;
    if (!openTempFile(tempName, out, "wb", ".ttf"))
        return nullptr;
    {
        // A conversion that throws leaves no half-written file behind.
        ScopeExit discard([&] {
            std::fclose(out);
            std::remove(tempName->getCString());
        });
        ttf->convert(&writeToFile, out, nullptr, nullptr);
        discard.dismiss();
    }
    ttf.reset();
    const bool written = std::fclose(out) == 0;
    RasterFontFile* file = nullptr;
    if (written)
        file = RasterFontFile::loadTrueType(this, std::move(key), tempName->getCString(), 1, std::move(map),
                                            length);
    if (!file) {
        std::remove(tempName->getCString());
        return nullptr;
    }
    if (deleteOriginal)
        std::remove(fileName);
    return file;
}

// ---------------------------------------------------------------- font files

RasterFontFile::RasterFontFile(RasterFontEngine* engine, std::unique_ptr<RasterFontKey> key,
                               const char* fileName, int deleteFile, FT_FaceRec_* face,
                               std::unique_ptr<uint16_t[]> map, int length, int trueType)
    : RasterFontFileBase(std::move(key), fileName, deleteFile),
      m_engine(engine),
      m_face(face),
      m_codeToGlyph(std::move(map)),
      m_codeToGlyphLength(m_codeToGlyph ? length : 0),
      m_trueType(trueType) {}

RasterFontFile::~RasterFontFile() {
    FT_Done_Face(m_face);
}

FT_FaceRec_* RasterFontFile::openFace(RasterFontEngine* engine, const char* fileName) {
    FT_Face face = nullptr;
    if (FT_New_Face(engine->getLibrary(), fileName, 0, &face) != 0)
        return nullptr;
    // Glyph boxes and sizes divide by the units per em; a face without them
    // (a bitmap-only font) cannot be scaled to a PDF matrix.
    if (face->units_per_EM == 0) {
        FT_Done_Face(face);
        return nullptr;
    }
    return face;
}

namespace {

// Names the face spells differently (a document's "Elcyrillic" is the face's
// "afii10029") meet through their Unicode value: each code still at glyph 0
// takes the glyph that the face's Unicode charmap gives its name's value.
// The face's own charmap choice is put back afterwards.
void glyphsOfUnicodeNames(FT_Face face, const char* const* encoding, uint16_t* map) {
    if (!encoding || !globalSettings)
        return;
    FT_CharMap unicode = nullptr;
    for (FT_Int i = 0; i < face->num_charmaps; ++i)
        if (face->charmaps[i]->encoding == FT_ENCODING_UNICODE)
            unicode = face->charmaps[i];
    if (!unicode)
        return;
    FT_CharMap previous = face->charmap;
    if (FT_Set_Charmap(face, unicode) != 0)
        return;
    for (int code = 0; code < 256; ++code) {
        const char* name = encoding[code];
        if (map[code] != 0 || !name || std::strcmp(name, ".notdef") == 0)
            continue;
        const int u = globalSettings->glyphNameOrFormToUnicode(name);
        const FT_UInt glyph = u > 0 ? FT_Get_Char_Index(face, static_cast<FT_ULong>(u)) : 0;
        map[code] = glyph <= 0xffff ? static_cast<uint16_t>(glyph) : 0;
    }
    if (previous)
        FT_Set_Charmap(face, previous);
}

// The glyph of each of the 256 encoding names, as FT_Get_Name_Index gives
// it: the first glyph of that name, 0 for none. For a Type 1 face that call
// compares the name with every glyph name in turn, so one pass over the
// names into a table answers all codes instead. Other formats, and a face
// with a name too long for the buffer (which would come back cut), ask
// FreeType code by code.
void glyphsOfNames(FT_Face face, const char* const* encoding, uint16_t* map) {
    constexpr FT_UInt kNameBuffer = 256;
    std::unordered_map<std::string, FT_UInt> byName;
    const char* format = FT_Get_Font_Format(face);
    bool scanned = encoding && format && std::strcmp(format, "Type 1") == 0 && FT_HAS_GLYPH_NAMES(face);
    if (scanned) {
        byName.reserve(static_cast<size_t>(std::max<FT_Long>(face->num_glyphs, 0)));
        char name[kNameBuffer];
        for (FT_Long i = 0; i < face->num_glyphs && scanned; ++i) {
            scanned = FT_Get_Glyph_Name(face, static_cast<FT_UInt>(i), name, kNameBuffer) == 0 &&
                      std::strlen(name) < kNameBuffer - 1;
            if (scanned)
                byName.emplace(name, static_cast<FT_UInt>(i));  // the first of a name stays
        }
    }
    for (int code = 0; code < 256; ++code) {
        const char* name = encoding ? encoding[code] : nullptr;
        FT_UInt glyph = 0;
        if (name && scanned) {
            const auto found = byName.find(name);
            glyph = found == byName.end() ? 0 : found->second;
        } else if (name) {
            glyph = FT_Get_Name_Index(face, name);
        }
        map[code] = glyph <= 0xffff ? static_cast<uint16_t>(glyph) : 0;
    }
    glyphsOfUnicodeNames(face, encoding, map);
}

}  // namespace

RasterFontFile* RasterFontFile::loadType1(RasterFontEngine* engine, std::unique_ptr<RasterFontKey> key,
                                          const char* fileName, int deleteFile, const char* const* encoding) {
    FT_Face face = openFace(engine, fileName);
    if (!face)
        return nullptr;
    std::unique_ptr<uint16_t[]> map;
    try {
        map = std::make_unique<uint16_t[]>(256);
        glyphsOfNames(face, encoding, map.get());
    } catch (...) {
        FT_Done_Face(face);
        throw;
    }
    return new RasterFontFile(engine, std::move(key), fileName, deleteFile, face, std::move(map), 256, 0);
}

RasterFontFile* RasterFontFile::loadCid(RasterFontEngine* engine, std::unique_ptr<RasterFontKey> key,
                                        const char* fileName, int deleteFile, std::unique_ptr<uint16_t[]> map,
                                        int length) {
    FT_Face face = openFace(engine, fileName);
    if (!face)
        return nullptr;
    return new RasterFontFile(engine, std::move(key), fileName, deleteFile, face, std::move(map), length, 0);
}

RasterFontFile* RasterFontFile::loadTrueType(RasterFontEngine* engine, std::unique_ptr<RasterFontKey> key,
                                             const char* fileName, int deleteFile,
                                             std::unique_ptr<uint16_t[]> map, int length) {
    FT_Face face = openFace(engine, fileName);
    if (!face)
        return nullptr;
    return new RasterFontFile(engine, std::move(key), fileName, deleteFile, face, std::move(map), length, 1);
}

RasterFontFile* RasterFontFile::loadUnicode(RasterFontEngine* engine, std::unique_ptr<RasterFontKey> key,
                                            const char* fileName, int deleteFile, const uint32_t* unicode,
                                            int length) {
    if (!unicode || length <= 0)
        return nullptr;
    FT_Face face = openFace(engine, fileName);
    if (!face)
        return nullptr;
    // FreeType gives a Type 1 face a Unicode charmap built from its glyph
    // names, so the standard faces of either format answer here.
    if (FT_Select_Charmap(face, FT_ENCODING_UNICODE) != 0) {
        FT_Done_Face(face);
        return nullptr;
    }
    std::unique_ptr<uint16_t[]> map;
    try {
        map = std::make_unique<uint16_t[]>(static_cast<size_t>(length));
    } catch (...) {
        FT_Done_Face(face);
        throw;
    }
    for (int c = 0; c < length; ++c) {
        const FT_UInt glyph = unicode[c] ? FT_Get_Char_Index(face, unicode[c]) : 0;
        map[c] = glyph <= 0xffff ? static_cast<uint16_t>(glyph) : 0;
    }
    auto* file = new RasterFontFile(engine, std::move(key), fileName, deleteFile, face, std::move(map),
                                    length, FT_IS_SFNT(face) ? 1 : 0);
    file->setFitsWidths();
    return file;
}

double RasterFontFile::glyphAdvance(int code) const {
    const auto c = static_cast<unsigned>(code);
    const unsigned glyph =
        (m_codeToGlyph && c < static_cast<unsigned>(m_codeToGlyphLength)) ? m_codeToGlyph[c] : c;
    FT_Fixed advance = 0;
    if (m_face->units_per_EM == 0 || FT_Get_Advance(m_face, glyph, FT_LOAD_NO_SCALE, &advance) != 0)
        return 0;
    return static_cast<double>(advance) / m_face->units_per_EM;
}

RasterFont* RasterFontFile::makeFont(const double* matrix, const double* textMatrix) {
    return new FreeTypeFont(this, matrix, textMatrix);
}

// ---------------------------------------------------------------- fonts

FreeTypeFont::FreeTypeFont(RasterFontFile* fontFile, const double* fm, const double* m)
    : RasterFont(fontFile, fm, m, fontFile->getEngine()->getAntialias()) {
    FT_Face face = fontFile->getFace();
    if (FT_New_Size(face, &m_size) != 0) {
        m_size = nullptr;
        initCache();
        return;
    }
    const double size = std::sqrt(fm[2] * fm[2] + fm[3] * fm[3]);
    m_pixelSize = saturateToInt(size);
    if (m_pixelSize < 1)
        m_pixelSize = 1;
    if (m_pixelSize > kMaxPixelSize)
        m_pixelSize = kMaxPixelSize;
    if (FT_Activate_Size(m_size) != 0 ||
        FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(m_pixelSize)) != 0) {
        initCache();
        return;
    }
    m_usable = true;
    // Bitmaps are rendered only while the em stays within the pixel-size
    // bound in every direction; beyond it only outlines are given.
    m_bitmapsUsable = true;
    for (int i = 0; i < 4; ++i)
        if (!(std::fabs(fm[i]) <= kMaxPixelSize))
            m_bitmapsUsable = false;

    // FreeType scales to the integer pixel size it was given; the
    // transforms carry the rest of the matrix, so that the glyph comes out
    // at the exact size (dividing by the unrounded size instead would draw
    // every glyph up to one pixel per em too small).
    const double p = m_pixelSize;
    const double textNorm = std::sqrt(m[2] * m[2] + m[3] * m[3]);
    m_textScale = textNorm / p;

    // The glyph box: the face's box through the matrix, in pixels. Some
    // Type 1 faces report their box in 16.16 units.
    double div = face->units_per_EM;
    if (face->bbox.xMax > 20000)
        div *= 65536;
    const double xs[2] = {static_cast<double>(face->bbox.xMin), static_cast<double>(face->bbox.xMax)};
    const double ys[2] = {static_cast<double>(face->bbox.yMin), static_cast<double>(face->bbox.yMax)};
    for (int i = 0; i < 4; ++i) {
        const double x = xs[i >> 1], y = ys[i & 1];
        const int tx = saturateToInt((x * fm[0] + y * fm[2]) / div);
        const int ty = saturateToInt((x * fm[1] + y * fm[3]) / div);
        if (i == 0 || tx < m_xMin)
            m_xMin = tx;
        if (i == 0 || tx > m_xMax)
            m_xMax = tx;
        if (i == 0 || ty < m_yMin)
            m_yMin = ty;
        if (i == 0 || ty > m_yMax)
            m_yMax = ty;
    }
    if (m_xMin == m_xMax) {
        m_xMin = 0;
        m_xMax = saturateToInt(size);
    }
    if (m_yMin == m_yMax) {
        m_yMin = 0;
        m_yMax = saturateToInt(1.2 * size);
    }

    m_glyphTransform[0] = toFixed(fm[0] / p);
    m_glyphTransform[1] = toFixed(fm[2] / p);
    m_glyphTransform[2] = toFixed(fm[1] / p);
    m_glyphTransform[3] = toFixed(fm[3] / p);
    if (m_textScale > 0 && std::isfinite(m_textScale)) {
        const double d = p * m_textScale;
        m_outlineTransform[0] = toFixed(m[0] / d);
        m_outlineTransform[1] = toFixed(m[2] / d);
        m_outlineTransform[2] = toFixed(m[1] / d);
        m_outlineTransform[3] = toFixed(m[3] / d);
    } else {
        m_textScale = 0;
    }
    initCache();
}

FreeTypeFont::~FreeTypeFont() {
    for (auto& [code, outline] : m_outlines)
        FT_Done_Glyph(outline);
    // The face would free its sizes only when it goes, and a face shared by
    // many matrices over a long document would gather them without bound.
    if (m_size)
        FT_Done_Size(m_size);
}

RasterFontFile* FreeTypeFont::file() const {
    return static_cast<RasterFontFile*>(m_fontFile.get());
}

int FreeTypeFont::glyphIndex(int code) const {
    const RasterFontFile* f = file();
    const auto c = static_cast<unsigned>(code);
    // A code that maps to glyph 0 draws it, in TrueType fonts too: it is
    // the font's missing-glyph shape, which the font's maker chose (some
    // subsets keep a real glyph there and reach it only this way).
    return (f->getCodeToGlyph() && c < static_cast<unsigned>(f->getCodeToGlyphLength()))
               ? f->getCodeToGlyph()[c]
               : code;
}

int FreeTypeFont::makeGlyph(int code, int xFraction, int yFraction, RasterGlyph* glyph) {
    if (!m_usable || !m_bitmapsUsable)
        return 0;
    // The fractions are in quarter pixels, the delta in 1/64 pixel; device
    // rows run down, FreeType's y up.
    const FT_Vector delta = {static_cast<long>(xFraction) * 16, -static_cast<long>(yFraction) * 16};
    // Only anti-aliased glyphs come at several positions.
    if (m_antialias == 0 || m_referenceRendering)
        return renderLoaded(code, delta, glyph);
    FT_Glyph outline = keptOutline(code);
    if (!outline)
        return renderLoaded(code, delta, glyph);
    // The moved outline is the one FreeType loads at the position: its
    // transform and then the same integer translation. The kept outline is
    // moved back unchanged.
    FT_Vector origin = delta;
    FT_Glyph image = outline;
    if (FT_Glyph_To_Bitmap(&image, FT_RENDER_MODE_NORMAL, &origin, 0) != 0)
        return 0;
    std::unique_ptr<FT_GlyphRec_, void (*)(FT_Glyph)> owned(image, FT_Done_Glyph);
    const auto* rendered = reinterpret_cast<FT_BitmapGlyph>(image);
    return takeBitmap(rendered->bitmap, rendered->left, rendered->top, glyph);
}

FT_Glyph FreeTypeFont::keptOutline(int code) {
    const auto found = m_outlines.find(code);
    if (found != m_outlines.end())
        return found->second;
    FT_Face face = file()->getFace();
    if (FT_Activate_Size(m_size) != 0)
        return nullptr;
    FT_Matrix matrix = {m_glyphTransform[0], m_glyphTransform[1], m_glyphTransform[2], m_glyphTransform[3]};
    FT_Vector zero = {0, 0};
    FT_Set_Transform(face, &matrix, &zero);
    const int index = glyphIndex(code);
    if (index < 0 ||
        FT_Load_Glyph(face, static_cast<FT_UInt>(index), FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) != 0)
        return nullptr;
    if (face->glyph->format != FT_GLYPH_FORMAT_OUTLINE)
        return nullptr;
    FT_Glyph outline = nullptr;
    if (FT_Get_Glyph(face->glyph, &outline) != 0)
        return nullptr;
    if (m_outlines.size() >= kMaxKeptOutlines) {
        for (auto& [c, kept] : m_outlines)
            FT_Done_Glyph(kept);
        m_outlines.clear();
    }
    try {
        m_outlines.emplace(code, outline);
    } catch (...) {
        FT_Done_Glyph(outline);
        throw MemoryException();
    }
    return outline;
}

int FreeTypeFont::renderLoaded(int code, const FT_Vector& delta, RasterGlyph* glyph) {
    FT_Face face = file()->getFace();
    if (FT_Activate_Size(m_size) != 0)
        return 0;
    FT_Matrix matrix = {m_glyphTransform[0], m_glyphTransform[1], m_glyphTransform[2], m_glyphTransform[3]};
    FT_Vector origin = delta;
    FT_Set_Transform(face, &matrix, &origin);
    const int index = glyphIndex(code);
    if (index < 0)
        return 0;
    const bool aa = m_antialias;
    if (loadGlyph(face, index, aa ? (FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) : FT_LOAD_DEFAULT) != 0)
        return 0;
    FT_GlyphSlot slot = face->glyph;
    if (FT_Render_Glyph(slot, aa ? FT_RENDER_MODE_NORMAL : FT_RENDER_MODE_MONO) != 0)
        return 0;
    return takeBitmap(slot->bitmap, slot->bitmap_left, slot->bitmap_top, glyph);
}

int FreeTypeFont::takeBitmap(const FT_Bitmap& bitmap, int left, int top, RasterGlyph* glyph) const {
    // An embedded bitmap or a colour glyph comes in another pixel layout
    // than the one the rasteriser reads for this font.
    const bool aa = m_antialias != 0;
    if (bitmap.pixel_mode != (aa ? FT_PIXEL_MODE_GRAY : FT_PIXEL_MODE_MONO))
        return 0;
    const int width = static_cast<int>(bitmap.width);
    const int height = static_cast<int>(bitmap.rows);
    if (width < 0 || height < 0)
        return 0;
    const int rowBytes = aa ? width : (width + 7) >> 3;
    const int pitch = bitmap.pitch < 0 ? -bitmap.pitch : bitmap.pitch;
    if (rowBytes > pitch && height > 0)
        return 0;
    auto* pixels = static_cast<uint8_t*>(memAlloc(checkedMul(rowBytes, height) > 0 ? rowBytes * height : 1));
    // A negative pitch means the rows are stored bottom-up from the buffer.
    const uint8_t* row = bitmap.buffer;
    if (bitmap.pitch < 0 && height > 0)
        row += static_cast<ptrdiff_t>(pitch) * (height - 1);
    for (int y = 0; y < height; ++y) {
        std::memcpy(pixels + static_cast<size_t>(y) * static_cast<size_t>(rowBytes), row,
                    static_cast<size_t>(rowBytes));
        row += bitmap.pitch;
    }
    glyph->xOffset = -left;
    glyph->yOffset = top;
    glyph->width = width;
    glyph->height = height;
    glyph->antialiased = aa ? 1 : 0;
    glyph->pixels = pixels;
    glyph->ownsPixels = 1;
    return 1;
}

namespace {

// The state of one outline decomposition. Callbacks run inside FreeType, so
// a memory failure is recorded and rethrown after FreeType has returned.
struct OutlineState {
    RasterPath* path;
    double scale;
    bool open;
    bool failed;

    // Outline coordinates are 26.6 values or font units, far inside the
    // range that a double holds exactly.
    double x(const FT_Vector* v) const { return static_cast<double>(v->x) * scale; }
    double y(const FT_Vector* v) const { return static_cast<double>(v->y) * scale; }
};

struct GlyphDone {
    void operator()(FT_Glyph glyph) const { FT_Done_Glyph(glyph); }
};

// This catch stays: no exception may cross FreeType's C frames, so the
// failure is carried past them in the state instead.
template <typename F>
int guarded(void* user, F&& f) {
    auto* s = static_cast<OutlineState*>(user);
    try {
        f(*s);
        return 0;
    } catch (...) {
        s->failed = true;
        return 1;
    }
}

int outlineMoveTo(const FT_Vector* to, void* user) {
    return guarded(user, [to](OutlineState& s) {
        if (s.open) {
            s.path->close();
            s.open = false;
        }
        s.path->moveTo(s.x(to), s.y(to));
    });
}

int outlineLineTo(const FT_Vector* to, void* user) {
    return guarded(user, [to](OutlineState& s) {
        s.path->lineTo(s.x(to), s.y(to));
        s.open = true;
    });
}

int outlineConicTo(const FT_Vector* control, const FT_Vector* to, void* user) {
    return guarded(user, [control, to](OutlineState& s) {
        double x0, y0;
        if (!s.path->getCurPoint(&x0, &y0))
            return;
        // The quadratic segment (p, c, e) as the cubic whose control points
        // lie two thirds of the way from each end point to c.
        const double cx = s.x(control), cy = s.y(control);
        const double ex = s.x(to), ey = s.y(to);
        s.path->curveTo((x0 + 2 * cx) / 3, (y0 + 2 * cy) / 3, (ex + 2 * cx) / 3, (ey + 2 * cy) / 3, ex, ey);
        s.open = true;
    });
}

int outlineCubicTo(const FT_Vector* control1, const FT_Vector* control2, const FT_Vector* to, void* user) {
    return guarded(user, [control1, control2, to](OutlineState& s) {
        s.path->curveTo(s.x(control1), s.y(control1), s.x(control2), s.y(control2), s.x(to), s.y(to));
        s.open = true;
    });
}

const FT_Outline_Funcs kOutlineFuncs = {
    &outlineMoveTo, &outlineLineTo, &outlineConicTo, &outlineCubicTo, 0, 0};

}  // namespace

std::unique_ptr<RasterPath> FreeTypeFont::getGlyphPath(int code) {
    if (!m_usable)
        return nullptr;
    FT_Face face = file()->getFace();
    if (FT_Activate_Size(m_size) != 0)
        return nullptr;
    FT_Matrix matrix = {m_outlineTransform[0], m_outlineTransform[1], m_outlineTransform[2],
                        m_outlineTransform[3]};
    FT_Set_Transform(face, &matrix, nullptr);
    const int index = glyphIndex(code);
    if (index < 0)
        return nullptr;
    // Unhinted where the glyph bitmaps are, so that a clip or a stroke of the
    // outline lies where the filled glyph does.
    if (loadGlyph(face, index, FT_LOAD_NO_BITMAP | (m_antialias ? FT_LOAD_NO_HINTING : 0)) != 0)
        return nullptr;
    FT_Glyph raw = nullptr;
    if (FT_Get_Glyph(face->glyph, &raw) != 0)
        return nullptr;
    std::unique_ptr<FT_GlyphRec, GlyphDone> glyph(raw);
    // Only an outline glyph holds an FT_Outline to decompose; any other
    // format would be read as one.
    if (glyph->format != FT_GLYPH_FORMAT_OUTLINE)
        return nullptr;
    return outlineToPath(&reinterpret_cast<FT_OutlineGlyph>(glyph.get())->outline, m_textScale);
}

std::unique_ptr<RasterPath> FreeTypeFont::outlineToPath(const FT_Outline_* outline, double textScale) {
    auto path = std::make_unique<RasterPath>();
    OutlineState state{path.get(), textScale / 64.0, false, false};
    const FT_Error error = FT_Outline_Decompose(const_cast<FT_Outline*>(outline), &kOutlineFuncs, &state);
    if (state.failed)
        throw MemoryException();
    if (error != 0)
        return nullptr;
    if (state.open)
        path->close();
    return path;
}

}  // namespace rendova
