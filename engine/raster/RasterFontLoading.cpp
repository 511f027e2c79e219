// Loading the current text font for the raster device: the font file from
// the cache, a temporary copy of the embedded program, the external file or
// a substitute, loaded by font type; then the font at the text matrix.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/content/CompositeFont.h"
#include "engine/content/GraphicsState.h"
#include "engine/content/SimpleFont.h"
#include "engine/content/TrueTypeFontFile.h"
#include "engine/core/CodeToUnicodeMap.h"
#include "engine/core/DataStream.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/FileUtils.h"
#include "engine/core/GlobalSettings.h"
#include "engine/core/PdfValue.h"
#include "engine/core/SystemFontList.h"
#include "engine/core/XrefTable.h"
#include "engine/raster/OutputFontKey.h"
#include "engine/raster/RasterDeviceText.h"
#include "engine/raster/RasterFont.h"
#include "engine/raster/RasterFontCache.h"
#include "engine/raster/RasterFontFile.h"
#include "engine/raster/Rasteriser.h"

namespace rendova {

namespace {

struct StandardFace {
    const char* name;
    double widthOfM;
};

// By substitute index: (fixed-pitch 8, serif 4, sans-serif 0) + (bold 2) +
// (italic 1).
constexpr StandardFace kStandardFaces[12] = {
    {"Helvetica", 0.833},      {"Helvetica-Oblique", 0.833},
    {"Helvetica-Bold", 0.889}, {"Helvetica-BoldOblique", 0.889},
    {"Times-Roman", 0.788},    {"Times-Italic", 0.722},
    {"Times-Bold", 0.833},     {"Times-BoldItalic", 0.778},
    {"Courier", 0.6},          {"Courier-Oblique", 0.6},
    {"Courier-Bold", 0.6},     {"Courier-BoldOblique", 0.6},
};

const char* fontNameForReport(const FontObject* font) {
    return font->getName() ? font->getName()->getCString() : "(unnamed)";
}

// The bytes copied at a time from the font stream to its file.
constexpr int kCopyBlockSize = 16384;

// Writes the embedded font program to a new temporary file; null (after a
// report, with nothing left behind) when it cannot.
std::unique_ptr<DynString> writeEmbeddedFile(XrefTable* xref, const FontObject* font) {
    std::unique_ptr<DynString> name;
    FILE* out = nullptr;
    if (!openTempFile(name, out, "wb", nullptr)) {
        reportError(-1, "Couldn't create temporary font file");
        return nullptr;
    }
    PdfValue ref, file;
    ref.initRef(font->getEmbeddedFileNumber(), font->getEmbeddedFileGeneration());
    ref.fetch(xref, file);
    if (!file.isStream()) {
        reportError(-1, "Embedded font object is wrong type");
        std::fclose(out);
        std::remove(name->getCString());
        return nullptr;
    }
    DataStream* s = file.getStream();
    SourceStream* source = s->getSourceStream();
    const std::vector<uint8_t>* kept =
        source ? xref->findDecodedStream(font->getEmbeddedFileNumber(), font->getEmbeddedFileGeneration(),
                                         source->getStart())
               : nullptr;
    bool written = true;
    if (kept) {
        // The font object read the file already, and reported nothing.
        // An empty buffer has no data pointer to give fwrite.
        written = kept->empty() || std::fwrite(kept->data(), 1, kept->size(), out) == kept->size();
    } else {
        s->reset();
        // In blocks, not a byte at a time through the decoders; a write that
        // fell short (a full disk) fails the file rather than leaving a cut
        // font.
        uint8_t block[kCopyBlockSize];
        for (int got; written && (got = s->getBlock(block, kCopyBlockSize)) > 0;)
            written = std::fwrite(block, 1, size_t(got), out) == size_t(got);
        s->close();
    }
    if (std::fclose(out) != 0 || !written) {
        reportError(-1, "Couldn't write temporary font file");
        std::remove(name->getCString());
        return nullptr;
    }
    return name;
}

// From a printable ASCII character to its full-width form.
constexpr uint32_t kFullWidthOffset = 0xfee0;
constexpr int kIdeographicSpace = 0x3000;

// The substitute's glyph of a Unicode value. A CJK face may hold Latin
// letters and digits only in their full-width forms, and none of the
// narrower spaces: those take the full-width form and the ideographic space
// rather than the missing glyph's box.
int substituteGlyph(const TrueTypeFontFile& ttf, int cmap, uint32_t u) {
    int glyph = ttf.lookupGlyphId(cmap, static_cast<int>(u));
    if (glyph != 0)
        return glyph;
    if (u >= 0x21 && u <= 0x7e)
        return ttf.lookupGlyphId(cmap, static_cast<int>(u + kFullWidthOffset));
    const bool space = u == 0x20 || u == 0xa0 || (u >= 0x2000 && u <= 0x200a);
    return space ? ttf.lookupGlyphId(cmap, kIdeographicSpace) : 0;
}

// The CID-to-glyph array of a CID-keyed TrueType substitute: each CID's
// Unicode value looked up in the file's Unicode cmap.
std::unique_ptr<uint16_t[]> substituteCidToGlyph(const CompositeFont* font, const char* fileName,
                                                 int* length) {
    *length = 0;
    RefPtr<CodeToUnicodeMap> map = font->getUnicodeMap();
    if (!map) {
        reportError(-1, "No Unicode map for the substitute of CID font '%s'", fontNameForReport(font));
        return nullptr;
    }
    std::unique_ptr<uint16_t[]> array;
    if (std::unique_ptr<TrueTypeFontFile> ttf = TrueTypeFontFile::fromFile(fileName)) {
        int cmap = -1;
        for (int i = 0; i < ttf->getCmapCount(); ++i) {
            if ((ttf->getCmapPlatformId(i) == 3 && ttf->getCmapEncodingId(i) == 1) ||
                ttf->getCmapPlatformId(i) == 0) {
                cmap = i;
                break;
            }
        }
        if (cmap >= 0 && map->getLength() > 0) {
            const int n = map->getLength();
            array = std::make_unique<uint16_t[]>(static_cast<size_t>(n));
            for (int c = 0; c < n; ++c) {
                uint32_t u[CodeToUnicodeMap::kMaxValues];
                int glyph = 0;
                if (map->mapToUnicode(c, u, CodeToUnicodeMap::kMaxValues) > 0)
                    glyph = substituteGlyph(*ttf, cmap, u[0]);
                array[c] = glyph >= 0 && glyph <= 0xffff ? static_cast<uint16_t>(glyph) : 0;
            }
            *length = n;
        }
    }
    return array;
}

// Descriptor weights of this or more count as bold, as a semi-bold face
// does among installed fonts.
constexpr double kBoldWeight = 600;

// The font's name without the six-letter tag ("ABCDEF+") that marks a subset.
std::string nameWithoutSubsetTag(const DynString& name) {
    std::string s(name.getCString(), static_cast<size_t>(name.getLength()));
    constexpr size_t kTagLength = 6;
    if (s.size() > kTagLength && s[kTagLength] == '+' &&
        std::all_of(s.begin(), s.begin() + kTagLength, [](char c) { return c >= 'A' && c <= 'Z'; }))
        s.erase(0, kTagLength + 1);
    return s;
}

// The standard face that stands in for a font (0-11: fixed-pitch 8, serif
// 4, sans-serif 0; bold 2; italic 1), chosen from its descriptor: the
// flags, the weight, and the style words of its name, which producers write
// where the descriptor says nothing.
int standardFaceIndex(const FontObject* font) {
    const int flags = font->getFlags();
    const std::string name = font->getName() ? nameWithoutSubsetTag(*font->getName()) : std::string();
    const bool bold = (flags & kFontFlagForceBold) || font->getFontWeight() >= kBoldWeight ||
                      name.find("Bold") != std::string::npos;
    const bool italic = (flags & kFontFlagItalic) || name.find("Italic") != std::string::npos ||
                        name.find("Oblique") != std::string::npos;
    int index = (flags & kFontFlagFixedWidth) ? 8 : (flags & kFontFlagSerif) ? 4 : 0;
    if (bold)
        index += 2;
    if (italic)
        index += 1;
    return index;
}

// The named substitute of a font, or the standard face chosen from its
// descriptor (its index in `substituteIndex`); null when there is none.
const DisplayFontRecord* findNamedOrStandardFace(const FontObject* font, int* substituteIndex) {
    if (!globalSettings)
        return nullptr;
    const DisplayFontRecord* record = nullptr;
    if (font->getName())
        record = globalSettings->findSubstituteFont(nameWithoutSubsetTag(*font->getName()).c_str());
    if (!record) {
        const int index = standardFaceIndex(font);
        record = globalSettings->findSubstituteFont(kStandardFaces[index].name);
        *substituteIndex = index;
    }
    return record;
}

// The installed font that stands in for a font without a usable program of
// its own: a CID font's substitute for its collection (`cidSubstitute`
// set), else the named substitute or the standard face chosen from the
// font's descriptor. Null when there is none.
const DisplayFontRecord* findSubstitute(const FontObject* font, int* substituteIndex, bool* cidSubstitute) {
    if (!font->isCidFont())
        return findNamedOrStandardFace(font, substituteIndex);
    const char* collection = static_cast<const CompositeFont*>(font)->getCollection();
    const DisplayFontRecord* record = nullptr;
    if (collection && globalSettings) {
        record = globalSettings->findSubstituteCidFont(
            font->getName() ? font->getName()->getCString() : nullptr, collection);
        *cidSubstitute = record != nullptr;
    }
    return record;
}

// The first Unicode value of each CID of a CID font (0: none), or empty
// when the font has no Unicode map.
std::vector<uint32_t> unicodeOfCids(const CompositeFont* font) {
    std::vector<uint32_t> values;
    RefPtr<CodeToUnicodeMap> map = font->getUnicodeMap();
    if (!map || map->getLength() <= 0)
        return values;
    values.resize(static_cast<size_t>(map->getLength()), 0);
    for (int cid = 0; cid < map->getLength(); ++cid) {
        uint32_t u[CodeToUnicodeMap::kMaxValues];
        if (map->mapToUnicode(cid, u, CodeToUnicodeMap::kMaxValues) > 0)
            values[static_cast<size_t>(cid)] = u[0];
    }
    return values;
}

// A CID font with no face for its collection (an Identity font, or a
// collection the settings give no face): its text is drawn through its
// Unicode values in the face a simple font of its name and descriptor
// would get. Null, after a report, when it has no Unicode values or no such
// face loads.
RasterFontFile* loadUnicodeSubstitute(RasterFontCache& cache, CompositeFont* font, int* substituteIndex) {
    const std::vector<uint32_t> unicode = unicodeOfCids(font);
    if (unicode.empty()) {
        reportError(-1, "Couldn't find a font for '%s': no face for its collection and no Unicode map",
                    fontNameForReport(font));
        return nullptr;
    }
    const DisplayFontRecord* record = findNamedOrStandardFace(font, substituteIndex);
    if (!record) {
        reportError(-1, "Couldn't find a font for '%s'", fontNameForReport(font));
        return nullptr;
    }
    reportError(-1, "Drawing CID font '%s' through its Unicode values in '%s'", fontNameForReport(font),
                record->getFile().getCString());
    auto key =
        std::make_unique<OutputFontKey>(font->getObjectNumber(), font->getGeneration(), *substituteIndex);
    RasterFontFile* loaded = cache.loadUnicodeFont(std::move(key), record->getFile().getCString(), 0,
                                                   unicode.data(), static_cast<int>(unicode.size()));
    if (!loaded)
        reportError(-1, "Couldn't create a font for '%s'", fontNameForReport(font));
    return loaded;
}

// The CID-to-glyph array a CID TrueType font is loaded with: built through
// Unicode for a substitute, else a copy of the font's own; null (length 0)
// for the identity.
std::unique_ptr<uint16_t[]> cidToGlyphArray(FontObject* font, const char* file, bool cidSubstitute,
                                            int* length) {
    std::unique_ptr<uint16_t[]> map;
    *length = 0;
    if (!font->isCidFont())
        return map;
    auto* cid = static_cast<CompositeFont*>(font);
    if (cidSubstitute) {
        map = substituteCidToGlyph(cid, file, length);
    } else if (cid->getCidToGlyph()) {
        *length = cid->getCidToGlyphLength();
        map = std::make_unique<uint16_t[]>(static_cast<size_t>(*length));
        std::memcpy(map.get(), cid->getCidToGlyph(), sizeof(uint16_t) * static_cast<size_t>(*length));
    }
    return map;
}

// Loads the file into the cache by font type; null for a type no loader
// takes, or when the loader fails.
RasterFontFile* loadByType(RasterFontCache& cache, int fontType, std::unique_ptr<OutputFontKey> key,
                           const char* file, int deleteFile, FontObject* font, bool cidSubstitute) {
    switch (fontType) {
        case kFontType1:
        case kFontType1C:
        case kFontType1COT:
            return cache.loadType1Font(
                std::move(key), file, deleteFile,
                font->isCidFont() ? nullptr : static_cast<SimpleFont*>(font)->getEncoding());
        case kFontTrueType:
        case kFontTrueTypeOT: {
            std::unique_ptr<uint16_t[]> map;
            if (!font->isCidFont()) {
                if (std::unique_ptr<TrueTypeFontFile> ttf = TrueTypeFontFile::fromFile(file))
                    map = static_cast<SimpleFont*>(font)->buildCodeToGlyphMap(*ttf);
            }
            const int length = map ? 256 : 0;
            return cache.loadConvertedFont(std::move(key), file, deleteFile, std::move(map), length);
        }
        case kFontCidType0:
        case kFontCidType0C:
            return cache.loadCidFont(std::move(key), file, deleteFile);
        case kFontCidType0COT:
            return cache.loadTrueTypeFont(std::move(key), file, deleteFile);
        case kFontCidType2:
        case kFontCidType2OT: {
            int length = 0;
            std::unique_ptr<uint16_t[]> map = cidToGlyphArray(font, file, cidSubstitute, &length);
            return cache.loadConvertedFont(std::move(key), file, deleteFile, std::move(map), length);
        }
        default:
            return nullptr;
    }
}

}  // namespace

const char* RasterDeviceText::standardFaceName(int index) {
    return index >= 0 && index < 12 ? kStandardFaces[index].name : nullptr;
}

double RasterDeviceText::standardFaceWidthOfM(int index) {
    return index >= 0 && index < 12 ? kStandardFaces[index].widthOfM : 0;
}

namespace {

// Loads the font's own program, embedded or external; null after a report
// when it cannot be read or the loader refuses it (a temporary copy is
// removed).
RasterFontFile* loadOwnProgram(RasterFontCache& cache, XrefTable* xref, FontObject* font) {
    std::unique_ptr<DynString> fileName;
    bool temporary = false;
    if (font->getEmbeddedFileNumber() >= 0) {
        fileName = writeEmbeddedFile(xref, font);
        if (!fileName)
            return nullptr;
        temporary = true;
    } else {
        fileName = std::make_unique<DynString>(*font->getExternalFileName());
    }
    auto key = std::make_unique<OutputFontKey>(font->getObjectNumber(), font->getGeneration(), -1);
    const char* file = fileName->getCString();
    RasterFontFile* loaded =
        loadByType(cache, font->getFontType(), std::move(key), file, temporary ? 1 : 0, font, false);
    if (!loaded) {
        reportError(-1, "Couldn't create a font for '%s'", fontNameForReport(font));
        // A temporary copy that no font file took over goes at once.
        if (temporary)
            std::remove(file);
    }
    return loaded;
}

// Loads the installed font that stands in for the font; null after a report
// when there is none or it does not load.
RasterFontFile* loadSubstitute(RasterFontCache& cache, FontObject* font, int* substituteIndex) {
    bool cidSubstitute = false;
    const DisplayFontRecord* record = findSubstitute(font, substituteIndex, &cidSubstitute);
    if (!record && font->isCidFont())
        return loadUnicodeSubstitute(cache, static_cast<CompositeFont*>(font), substituteIndex);
    if (!record) {
        reportError(-1, "Couldn't find a font for '%s'", fontNameForReport(font));
        return nullptr;
    }
    int fontType;
    if (record->getKind() == DisplayFontRecord::kType1)
        fontType = font->isCidFont() ? kFontCidType0 : kFontType1;
    else
        fontType = font->isCidFont() ? kFontCidType2 : kFontTrueType;
    auto key =
        std::make_unique<OutputFontKey>(font->getObjectNumber(), font->getGeneration(), *substituteIndex);
    RasterFontFile* loaded =
        loadByType(cache, fontType, std::move(key), record->getFile().getCString(), 0, font, cidSubstitute);
    if (!loaded)
        reportError(-1, "Couldn't create a font for '%s'", fontNameForReport(font));
    return loaded;
}

}  // namespace

RasterFontFileBase* RasterDeviceText::loadFontFile(FontObject* font, int* substituteIndex) {
    *substituteIndex = -1;
    if (font->getEmbeddedFileNumber() >= 0 || font->getExternalFileName()) {
        if (RasterFontFile* own = loadOwnProgram(*m_fontCache, m_xref, font))
            return own;
        // A program damaged beyond use: the text is drawn in the face that
        // the descriptor describes, as it is for a font without one.
        reportError(-1, "Drawing '%s' with a substitute for its font program", fontNameForReport(font));
    }
    return loadSubstitute(*m_fontCache, font, substituteIndex);
}

void RasterDeviceText::loadFont(GraphicsState* state, const double* ctm) {
    m_fontChanged = false;
    m_currentFont = nullptr;
    FontObject* font = state->getFont();
    if (!font || font->getFontType() == kFontType3 || !m_fontCache)
        return;

    OutputFontKey probe(font->getObjectNumber(), font->getGeneration(), -1);
    RasterFontFileBase* fontFile = m_fontCache->findFontFile(probe);
    if (!fontFile) {
        int substituteIndex = -1;
        fontFile = loadFontFile(font, &substituteIndex);
        if (!fontFile)
            return;
    }

    const double s = state->getFontSize(), h = state->getHorizontalScaling();
    const double* t = state->getTextMatrix();
    double m[4] = {s * h * t[0], s * h * t[1], s * t[2], s * t[3]};

    // A standard face standing in for a font narrows to the font's own
    // widths, judged by the glyph "m", so that substituted text keeps its
    // line lengths.
    const auto& key = static_cast<const OutputFontKey&>(fontFile->getKey());
    const int index = key.getSubstituteIndex();
    if (index >= 0 && !font->isCidFont() && !font->isSymbolic()) {
        const auto* simple = static_cast<const SimpleFont*>(font);
        for (int code = 0; code < 256; ++code) {
            const char* name = simple->getEncoding()[code];
            if (!name || std::strcmp(name, "m") != 0)
                continue;
            const double w = simple->getWidth(code), standard = kStandardFaces[index].widthOfM;
            if (w > 0.01 && w < 0.9 * standard) {
                m[0] *= w / standard;
                m[2] *= w / standard;
            }
            break;
        }
    }

    m_currentFont = m_fontCache->makeFont(fontFile, m, ctm);
}

}  // namespace rendova
