// The code-to-glyph map of a TrueType simple font. A TrueType font has no
// glyph names of its own that the rasteriser could use, so each code is
// found through the cmap subtable that the font's encoding calls for:
// Unicode values of its glyph names, Mac Roman codes, or the code itself in
// a symbol cmap (where producers put codes at 0xF000 + code).
#include "engine/content/SimpleFont.h"

#include "engine/content/TrueTypeFontFile.h"
#include "engine/core/CodeToUnicodeMap.h"
#include "engine/core/GlobalSettings.h"

namespace rendova {

std::unique_ptr<uint16_t[]> SimpleFont::buildCodeToGlyphMap(const TrueTypeFontFile& file) const {
    auto map = std::make_unique<uint16_t[]>(256);
    for (int i = 0; i < 256; ++i)
        map[i] = 0;

    int unicodeCmap = -1, symbolCmap = -1, macCmap = -1;
    for (int i = 0; i < file.getCmapCount(); ++i) {
        const int platform = file.getCmapPlatformId(i);
        const int encoding = file.getCmapEncodingId(i);
        if ((platform == 3 && encoding == 1) || platform == 0) {
            unicodeCmap = i;
        } else if (platform == 3 && encoding == 0) {
            symbolCmap = i;
        } else if (platform == 1 && encoding == 0) {
            macCmap = i;
        }
    }

    enum Route { kDirect, kUnicode, kMac };
    Route route = kDirect;
    int cmap = 0;
    const bool symbolic = isSymbolic();
    if (m_hasEncoding) {
        if (m_macRoman && macCmap >= 0) {
            route = kMac;
            cmap = macCmap;
        } else if (unicodeCmap >= 0) {
            route = kUnicode;
            cmap = unicodeCmap;
        } else if (symbolic && symbolCmap >= 0) {
            cmap = symbolCmap;
        } else if (!symbolic && macCmap >= 0) {
            route = kMac;
            cmap = macCmap;
        } else if (symbolic && macCmap >= 0) {
            cmap = macCmap;
        }
    } else if (symbolCmap >= 0) {
        cmap = symbolCmap;
    } else if (macCmap >= 0) {
        cmap = macCmap;
    }

    auto clampGlyph = [](int g) -> uint16_t { return g >= 0 && g <= 0xffff ? static_cast<uint16_t>(g) : 0; };
    for (int code = 0; code < 256; ++code) {
        const char* name = m_encoding[code];
        int glyph = 0;
        switch (route) {
            case kUnicode: {
                const int u = (name && globalSettings) ? globalSettings->glyphNameOrFormToUnicode(name) : 0;
                if (u != 0) {
                    glyph = file.lookupGlyphId(cmap, u);
                } else if (m_unicodeMap) {
                    uint32_t values[CodeToUnicodeMap::kMaxValues];
                    if (m_unicodeMap->mapToUnicode(code, values, CodeToUnicodeMap::kMaxValues) > 0)
                        glyph = file.lookupGlyphId(cmap, static_cast<int>(values[0]));
                }
                break;
            }
            case kMac: {
                const int macCode = (name && globalSettings) ? globalSettings->glyphNameToCode(name) : 0;
                if (macCode != 0)
                    glyph = file.lookupGlyphId(cmap, macCode);
                break;
            }
            case kDirect:
                glyph = file.lookupGlyphId(cmap, code);
                if (glyph == 0)
                    glyph = file.lookupGlyphId(cmap, 0xf000 + code);
                break;
        }
        map[code] = clampGlyph(glyph);
    }

    // Codes that no cmap reached try the post table's glyph names, and then
    // the code itself in the chosen cmap: a differences name that nothing
    // knows still finds the glyph that its code has in the font.
    for (int code = 0; code < 256; ++code) {
        if (map[code] == 0 && m_encoding[code])
            map[code] = clampGlyph(file.mapNameToGid(m_encoding[code]));
        if (map[code] == 0 && route != kDirect && file.getCmapCount() > 0)
            map[code] = clampGlyph(file.lookupGlyphId(cmap, code));
    }
    return map;
}

}  // namespace rendova
