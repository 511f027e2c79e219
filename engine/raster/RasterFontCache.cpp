#include "engine/raster/RasterFontCache.h"

#include <cmath>

#include "engine/raster/RasterFont.h"
#include "engine/raster/RasterFontEngine.h"
#include "engine/raster/RasterFontFile.h"

namespace rendova {

RasterFontCache::RasterFontCache(bool engineEnabled, bool antialias) {
    if (engineEnabled)
        m_engine = RasterFontEngine::create(antialias);
}

RasterFontCache::~RasterFontCache() {
    // The fonts go first: the last of a file's fonts deletes the file, which
    // needs the engine's library.
    for (RasterFont*& font : m_fonts) {
        delete font;
        font = nullptr;
    }
    m_engine.reset();
}

RasterFontFileBase* RasterFontCache::findFontFile(const RasterFontKey& key) const {
    for (RasterFont* font : m_fonts)
        if (font && font->getFontFile()->getKey().matches(key))
            return font->getFontFile();
    return nullptr;
}

RasterFontFile* RasterFontCache::loadType1Font(std::unique_ptr<RasterFontKey> key, const char* fileName,
                                               int deleteFile, const char* const* encoding) {
    return m_engine ? m_engine->loadType1Font(std::move(key), fileName, deleteFile, encoding) : nullptr;
}

RasterFontFile* RasterFontCache::loadCidFont(std::unique_ptr<RasterFontKey> key, const char* fileName,
                                             int deleteFile) {
    return m_engine ? m_engine->loadCidFont(std::move(key), fileName, deleteFile) : nullptr;
}

RasterFontFile* RasterFontCache::loadTrueTypeFont(std::unique_ptr<RasterFontKey> key, const char* fileName,
                                                  int deleteFile) {
    return m_engine ? m_engine->loadTrueTypeFont(std::move(key), fileName, deleteFile) : nullptr;
}

RasterFontFile* RasterFontCache::loadConvertedFont(std::unique_ptr<RasterFontKey> key, const char* fileName,
                                                   int deleteFile, std::unique_ptr<uint16_t[]> map,
                                                   int length) {
    if (!m_engine)
        return nullptr;
    return m_engine->loadConvertedTrueTypeFont(std::move(key), fileName, deleteFile, std::move(map), length);
}

RasterFontFile* RasterFontCache::loadUnicodeFont(std::unique_ptr<RasterFontKey> key, const char* fileName,
                                                 int deleteFile, const uint32_t* unicode, int length) {
    return m_engine ? m_engine->loadUnicodeFont(std::move(key), fileName, deleteFile, unicode, length)
                    : nullptr;
}

void RasterFontCache::fontMatrix(const double* m, const double* c, double* fm) {
    // Text space to device space without the translation, with y flipped:
    // FreeType's y axis points up, the device's down.
    fm[0] = m[0] * c[0] + m[1] * c[2];
    fm[1] = -(m[0] * c[1] + m[1] * c[3]);
    fm[2] = m[2] * c[0] + m[3] * c[2];
    fm[3] = -(m[2] * c[1] + m[3] * c[3]);
    // A singular matrix still gets a (tiny) font, so that the glyph code
    // paths need no special case. A matrix that is not finite (a document's
    // absurd numbers multiplied) is treated as singular too.
    const double det = fm[0] * fm[3] - fm[2] * fm[1];
    if (!(std::fabs(det) >= 0.01) || !std::isfinite(det)) {
        fm[0] = 0.01;
        fm[1] = 0;
        fm[2] = 0;
        fm[3] = 0.01;
    }
}

RasterFont* RasterFontCache::makeFont(RasterFontFileBase* fontFile, const double* textMatrix,
                                      const double* ctm) {
    double fm[4];
    fontMatrix(textMatrix, ctm, fm);
    auto sameFont = [&](const RasterFont* font) {
        if (!font || font->getFontFile() != fontFile)
            return false;
        const double* a = font->getMatrix();
        const double* t = font->getTextMatrix();
        for (int i = 0; i < 4; ++i)
            if (a[i] != fm[i] || t[i] != textMatrix[i])
                return false;
        return true;
    };
    if (sameFont(m_fonts[0]))
        return m_fonts[0];
    for (int i = 1; i < kSlots; ++i) {
        if (sameFont(m_fonts[i])) {
            RasterFont* font = m_fonts[i];
            for (int j = i; j > 0; --j)
                m_fonts[j] = m_fonts[j - 1];
            m_fonts[0] = font;
            return font;
        }
    }
    RasterFont* font = fontFile->makeFont(fm, textMatrix);
    delete m_fonts[kSlots - 1];
    for (int j = kSlots - 1; j > 0; --j)
        m_fonts[j] = m_fonts[j - 1];
    m_fonts[0] = font;
    return font;
}

}  // namespace rendova
