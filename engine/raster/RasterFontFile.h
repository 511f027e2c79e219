#pragma once

#include <cstdint>
#include <memory>

#include "engine/core/DynString.h"
#include "engine/raster/RasterFontKey.h"

struct FT_FaceRec_;

namespace rendova {

class RasterFont;
class RasterFontEngine;

// A font file loaded for the glyph rasteriser, shared by the RasterFonts
// made from it (one per matrix). It is reference counted by those fonts: the
// last font to go deletes it, and a temporary file (an embedded font written
// out, a rewritten TrueType font) is removed then.
//
// Ownership: owns its key and file name; counted by its fonts. One thread at
// a time.
class RasterFontFileBase {
public:
    virtual ~RasterFontFileBase();
    RasterFontFileBase(const RasterFontFileBase&) = delete;
    RasterFontFileBase& operator=(const RasterFontFileBase&) = delete;

    // A new font at the text-space-to-device matrix (4 values, y flipped)
    // for the text matrix (4 values, as given); it holds one reference.
    virtual RasterFont* makeFont(const double* matrix, const double* textMatrix) = 0;

    const RasterFontKey& getKey() const { return *m_key; }
    // Whether each glyph is to be fitted to the document's width of its
    // code: a face standing in through Unicode, whose glyphs have widths
    // of their own.
    bool fitsWidths() const { return m_fitsWidths; }
    // The advance of a code's glyph in ems; 0 when unknown.
    virtual double glyphAdvance(int) const { return 0; }
    const DynString& getFileName() const { return m_fileName; }
    int getRefCount() const { return m_refCount; }
    // The references are the fonts' RefPtrs, so the count starts at 0 (a
    // file is loaded before its first font is made), unlike RefCounted's.
    void incRef() { ++m_refCount; }
    // Drops one reference; the last one deletes the file object.
    void decRef();

protected:
    RasterFontFileBase(std::unique_ptr<RasterFontKey> key, const char* fileName, int deleteFile);
    void setFitsWidths() { m_fitsWidths = true; }

private:
    std::unique_ptr<RasterFontKey> m_key;
    DynString m_fileName;
    int m_deleteFile;
    int m_refCount = 0;
    bool m_fitsWidths = false;
};

// A font file opened as a FreeType face, with the map from character codes
// to glyph indices (null: the code is the glyph index).
class RasterFontFile : public RasterFontFileBase {
public:
    // Each answers null when FreeType cannot open the file or the face
    // cannot be scaled (no units per em); the key is then dropped, the file
    // left in place.
    static RasterFontFile* loadType1(RasterFontEngine* engine, std::unique_ptr<RasterFontKey> key,
                                     const char* fileName, int deleteFile, const char* const* encoding);
    static RasterFontFile* loadCid(RasterFontEngine* engine, std::unique_ptr<RasterFontKey> key,
                                   const char* fileName, int deleteFile, std::unique_ptr<uint16_t[]> map,
                                   int length);
    static RasterFontFile* loadTrueType(RasterFontEngine* engine, std::unique_ptr<RasterFontKey> key,
                                        const char* fileName, int deleteFile, std::unique_ptr<uint16_t[]> map,
                                        int length);
    // Codes drawn through the face's Unicode charmap: code c is the glyph
    // of unicode[c]; null also when the face has no Unicode charmap.
    static RasterFontFile* loadUnicode(RasterFontEngine* engine, std::unique_ptr<RasterFontKey> key,
                                       const char* fileName, int deleteFile, const uint32_t* unicode,
                                       int length);
    ~RasterFontFile() override;

    RasterFont* makeFont(const double* matrix, const double* textMatrix) override;
    double glyphAdvance(int code) const override;

    RasterFontEngine* getEngine() const { return m_engine; }
    FT_FaceRec_* getFace() const { return m_face; }
    const uint16_t* getCodeToGlyph() const { return m_codeToGlyph.get(); }
    int getCodeToGlyphLength() const { return m_codeToGlyphLength; }
    int isTrueType() const { return m_trueType; }

private:
    RasterFontFile(RasterFontEngine* engine, std::unique_ptr<RasterFontKey> key, const char* fileName,
                   int deleteFile, FT_FaceRec_* face, std::unique_ptr<uint16_t[]> map, int length,
                   int trueType);
    // FT_New_Face, refusing faces that cannot be scaled; null on failure.
    static FT_FaceRec_* openFace(RasterFontEngine* engine, const char* fileName);

    RasterFontEngine* m_engine;
    FT_FaceRec_* m_face;
    std::unique_ptr<uint16_t[]> m_codeToGlyph;
    int m_codeToGlyphLength;
    int m_trueType;
};

}  // namespace rendova
