// The shared part of a font file: key, file name, references and the
// removal of a temporary file. The FreeType part is in FreeTypeAdapter.cpp.
#include "engine/raster/RasterFontFile.h"

#include <cstdio>

namespace rendova {

RasterFontFileBase::RasterFontFileBase(std::unique_ptr<RasterFontKey> key, const char* fileName,
                                       int deleteFile)
    : m_key(std::move(key)), m_fileName(fileName), m_deleteFile(deleteFile) {}

RasterFontFileBase::~RasterFontFileBase() {
    if (m_deleteFile)
        std::remove(m_fileName.getCString());
}

void RasterFontFileBase::decRef() {
    if (--m_refCount <= 0)
        delete this;
}

}  // namespace rendova
