// Fuzzes CffFontFile: the input is a CFF font program; the name, encoding and
// CID-to-glyph array are asked for.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine/content/CffFontFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 24))
        return 0;
    auto font = rendova::CffFontFile::fromBuffer(data, static_cast<int>(size));
    if (!font)
        return 0;
    if (const rendova::DynString* name = font->getName())
        (void)name->getLength();
    const char* const* encoding = font->getEncoding();
    size_t total = 0;
    for (int code = 0; code < 256; ++code)
        total += encoding[code] ? std::strlen(encoding[code]) : 0;
    int length = 0;
    auto map = font->buildCidToGlyphMap(&length);
    for (int cid = 0; cid < length; ++cid) {
        if (map[cid] >= font->getGlyphCount() && map[cid] != 0)
            __builtin_trap();
    }
    for (int glyph = 0; glyph < font->getGlyphCount(); ++glyph) {
        if (font->getFontDictIndex(glyph) > 255)
            __builtin_trap();
    }
    return static_cast<int>(total & 0);
}
