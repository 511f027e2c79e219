#pragma once

#include <cstdint>
#include <memory>

#include "engine/raster/RasterFontKey.h"

namespace rendova {

class RasterFont;
class RasterFontEngine;
class RasterFontFile;
class RasterFontFileBase;

// The raster output device's fonts: the 16 most recently used RasterFonts,
// most recent first, over the FreeType engine (absent when the font engine
// is switched off in the settings, in which case nothing loads).
//
// Ownership: owned by the device from one startDocument to the next; owns its
// fonts (and through them their font files) and the engine. One thread at a
// time; throws MemoryException only.
class RasterFontCache {
public:
    static constexpr int kSlots = 16;

    RasterFontCache(bool engineEnabled, bool antialias);
    ~RasterFontCache();
    RasterFontCache(const RasterFontCache&) = delete;
    RasterFontCache& operator=(const RasterFontCache&) = delete;

    // The font file of the first cached font whose file's key matches, or
    // null.
    RasterFontFileBase* findFontFile(const RasterFontKey& key) const;

    // The engine's loaders; null without an engine.
    RasterFontFile* loadType1Font(std::unique_ptr<RasterFontKey> key, const char* fileName, int deleteFile,
                                  const char* const* encoding);
    RasterFontFile* loadCidFont(std::unique_ptr<RasterFontKey> key, const char* fileName, int deleteFile);
    RasterFontFile* loadTrueTypeFont(std::unique_ptr<RasterFontKey> key, const char* fileName,
                                     int deleteFile);
    RasterFontFile* loadConvertedFont(std::unique_ptr<RasterFontKey> key, const char* fileName,
                                      int deleteFile, std::unique_ptr<uint16_t[]> map, int length);
    RasterFontFile* loadUnicodeFont(std::unique_ptr<RasterFontKey> key, const char* fileName, int deleteFile,
                                    const uint32_t* unicode, int length);

    // The font of the file at the text-space matrix (4 values) under the
    // current matrix (6 values): cached, or made and put in front (the
    // least recently used font goes). Owned by the cache.
    RasterFont* makeFont(RasterFontFileBase* fontFile, const double* textMatrix, const double* ctm);

    RasterFontEngine* getEngine() const { return m_engine.get(); }
    // Slot i (0 most recent), may be null.
    RasterFont* getFont(int i) const { return m_fonts[i]; }

    // The text-space-to-device matrix of a font, as makeFont builds it.
    static void fontMatrix(const double* textMatrix, const double* ctm, double* out);

private:
    RasterFont* m_fonts[kSlots] = {};
    std::unique_ptr<RasterFontEngine> m_engine;
};

}  // namespace rendova
