#pragma once

#include <cstdint>
#include <memory>

#include "engine/raster/RasterFontKey.h"

struct FT_LibraryRec_;

namespace rendova {

class RasterFontFile;

// The glyph rasteriser's FreeType library. Loads font files (always from a
// file path) into RasterFontFile objects, building the code-to-glyph maps
// that older FreeType versions need for CID-keyed fonts.
//
// Ownership: owned by the RasterFontCache; the font files it makes are the
// caller's (a font file starts with no references: the first RasterFont made
// from it takes it over). One thread at a time; the loaders throw
// MemoryException only, and answer null when a file does not load.
class RasterFontEngine {
public:
    // Null when FreeType does not start.
    static std::unique_ptr<RasterFontEngine> create(bool antialias);
    ~RasterFontEngine();
    RasterFontEngine(const RasterFontEngine&) = delete;
    RasterFontEngine& operator=(const RasterFontEngine&) = delete;

    // A Type 1 or compact Type 1 font; codes are mapped through the 256
    // glyph names of encoding (entries may be null).
    RasterFontFile* loadType1Font(std::unique_ptr<RasterFontKey> key, const char* fileName, int deleteFile,
                                  const char* const* encoding);
    // A CID-keyed Type 0 or compact font.
    RasterFontFile* loadCidFont(std::unique_ptr<RasterFontKey> key, const char* fileName, int deleteFile);
    // A CID-keyed compact font in an OpenType file.
    RasterFontFile* loadTrueTypeFont(std::unique_ptr<RasterFontKey> key, const char* fileName,
                                     int deleteFile);
    // A TrueType font, first rewritten into a clean temporary TrueType file
    // (which the font file removes when it goes); map gives the glyph index
    // of each code (may be null). When deleteOriginal is set and loading
    // succeeds, fileName is removed; after a failure it is left to the
    // caller.
    RasterFontFile* loadConvertedTrueTypeFont(std::unique_ptr<RasterFontKey> key, const char* fileName,
                                              int deleteOriginal, std::unique_ptr<uint16_t[]> map,
                                              int length);

    // Any face FreeType reads (a standard face standing in for a CID font):
    // code c draws the glyph that the face's Unicode charmap gives
    // unicode[c] (0: none).
    RasterFontFile* loadUnicodeFont(std::unique_ptr<RasterFontKey> key, const char* fileName, int deleteFile,
                                    const uint32_t* unicode, int length);

    bool getAntialias() const { return m_antialias; }
    FT_LibraryRec_* getLibrary() const { return m_library; }
    // Whether the library is newer than 2.1.7, which reads the CIDs of
    // CID-keyed compact fonts itself.
    bool isNewerLibrary() const { return m_newerLibrary; }

private:
    RasterFontEngine(bool antialias, FT_LibraryRec_* library);

    bool m_antialias;
    FT_LibraryRec_* m_library;
    bool m_newerLibrary = false;
};

}  // namespace rendova
