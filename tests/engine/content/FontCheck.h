#pragma once

// Checks of the font-file readers against FreeType, the reference the
// rasteriser loads fonts with: names, glyph names, cmap lookups, CID maps,
// and the outlines and checksums of rewritten TrueType files. Used by the
// unit tests (installed fonts) and the corpus tests (embedded fonts).

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_CID_H
#include FT_TRUETYPE_TABLES_H
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/content/CffFontFile.h"
#include "engine/content/TrueTypeFontFile.h"
#include "engine/content/Type1FontFile.h"

namespace rendova::test {

inline std::vector<uint8_t> readFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class FreeTypeLibrary {
public:
    FreeTypeLibrary() { EXPECT_EQ(FT_Init_FreeType(&m_library), 0); }
    ~FreeTypeLibrary() { FT_Done_FreeType(m_library); }
    FT_Library get() const { return m_library; }

private:
    FT_Library m_library = nullptr;
};

class FreeTypeFace {
public:
    FreeTypeFace(const FreeTypeLibrary& library, const std::string& path) {
        m_error = FT_New_Face(library.get(), path.c_str(), 0, &m_face);
    }
    ~FreeTypeFace() {
        if (m_face)
            FT_Done_Face(m_face);
    }
    FreeTypeFace(const FreeTypeFace&) = delete;
    FreeTypeFace& operator=(const FreeTypeFace&) = delete;
    bool ok() const { return m_error == 0 && m_face; }
    FT_Face get() const { return m_face; }

    std::string glyphName(unsigned glyph) const {
        char name[256] = {};
        if (!FT_HAS_GLYPH_NAMES(m_face) || FT_Get_Glyph_Name(m_face, glyph, name, sizeof name))
            return std::string();
        return name;
    }
    std::string postscriptName() const {
        const char* name = FT_Get_Postscript_Name(m_face);
        return name ? name : "";
    }
    // The glyph's outline in font units, flattened to numbers, or the error.
    // Load with advance() for the advance width.
    std::vector<long> outline(unsigned glyph) const {
        FT_Error error =
            FT_Load_Glyph(m_face, glyph, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP);
        if (error)
            return {-1, error};
        const FT_Outline& o = m_face->glyph->outline;
        std::vector<long> out{o.n_points, o.n_contours};
        for (int i = 0; i < o.n_points; ++i) {
            out.push_back(o.points[i].x);
            out.push_back(o.points[i].y);
            out.push_back(o.tags[i] & 3);
        }
        for (int i = 0; i < o.n_contours; ++i)
            out.push_back(o.contours[i]);
        return out;
    }
    long advance(unsigned glyph) const {
        if (FT_Load_Glyph(m_face, glyph, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP))
            return -1;
        return m_face->glyph->metrics.horiAdvance;
    }
    // Selects the face's Adobe charmap (standard, expert, custom or
    // Latin-1); false when it has none.
    bool selectAdobeCharmap() const {
        for (int i = 0; i < m_face->num_charmaps; ++i) {
            FT_Encoding e = m_face->charmaps[i]->encoding;
            if (e == FT_ENCODING_ADOBE_STANDARD || e == FT_ENCODING_ADOBE_EXPERT ||
                e == FT_ENCODING_ADOBE_CUSTOM || e == FT_ENCODING_ADOBE_LATIN_1)
                return FT_Set_Charmap(m_face, m_face->charmaps[i]) == 0;
        }
        return false;
    }

private:
    FT_Face m_face = nullptr;
    FT_Error m_error = 0;
};

// An encoding of glyph names agrees with FreeType's Adobe charmap of the same
// font: a code whose name is a glyph of the font maps to that glyph, and a
// code that FreeType maps names the glyph FreeType maps it to.
inline void expectEncodingMatches(const FreeTypeFace& face, const char* const* encoding,
                                  const std::string& what) {
    ASSERT_TRUE(face.selectAdobeCharmap()) << what;
    for (int code = 0; code < 256; ++code) {
        unsigned ftGlyph = FT_Get_Char_Index(face.get(), static_cast<FT_ULong>(code));
        const char* ours = encoding ? encoding[code] : nullptr;
        if (ours) {
            unsigned named = FT_Get_Name_Index(face.get(), ours);
            if (named != 0) {
                EXPECT_EQ(ftGlyph, named) << what << " code " << code << " /" << ours;
            }
        }
        if (ftGlyph != 0) {
            ASSERT_NE(ours, nullptr) << what << " code " << code;
            EXPECT_EQ(face.glyphName(ftGlyph), ours) << what << " code " << code;
        }
    }
}

inline void expectType1MatchesFreeType(const FreeTypeLibrary& library, const std::string& path) {
    FreeTypeFace face(library, path);
    ASSERT_TRUE(face.ok()) << path;
    std::unique_ptr<Type1FontFile> font = Type1FontFile::fromFile(path.c_str());
    ASSERT_NE(font, nullptr) << path;
    ASSERT_NE(font->getName(), nullptr) << path;
    EXPECT_EQ(face.postscriptName(), font->getName()) << path;
    ASSERT_NE(font->getEncoding(), nullptr) << path;
    expectEncodingMatches(face, font->getEncoding(), path);
}

inline void expectCffMatchesFreeType(const FreeTypeLibrary& library, const std::string& path) {
    FreeTypeFace face(library, path);
    ASSERT_TRUE(face.ok()) << path;
    std::unique_ptr<CffFontFile> font = CffFontFile::fromFile(path.c_str());
    ASSERT_NE(font, nullptr) << path;
    ASSERT_NE(font->getName(), nullptr) << path;
    EXPECT_EQ(face.postscriptName(), font->getName()->getCString()) << path;
    EXPECT_EQ(font->getGlyphCount(), face.get()->num_glyphs) << path;
    if (!font->isCidKeyed()) {
        expectEncodingMatches(face, font->getEncoding(), path);
        int length = -1;
        EXPECT_EQ(font->buildCidToGlyphMap(&length), nullptr);
        EXPECT_EQ(length, 0);
        return;
    }
    int length = 0;
    std::unique_ptr<uint16_t[]> map = font->buildCidToGlyphMap(&length);
    ASSERT_NE(map, nullptr) << path;
    for (unsigned glyph = 0; glyph < static_cast<unsigned>(face.get()->num_glyphs); ++glyph) {
        FT_UInt cid = 0;
        ASSERT_EQ(FT_Get_CID_From_Glyph_Index(face.get(), glyph, &cid), 0) << path;
        ASSERT_LT(static_cast<int>(cid), length) << path;
        EXPECT_EQ(map[cid], glyph) << path << " CID " << cid;
    }
}

// Cmap lookups of every subtable of formats 0, 4 and 6 agree with FreeType's
// for every 16-bit code, and post-table names with FreeType's glyph names.
inline void expectTrueTypeMatchesFreeType(const FreeTypeLibrary& library, const std::string& path) {
    FreeTypeFace face(library, path);
    ASSERT_TRUE(face.ok()) << path;
    std::unique_ptr<TrueTypeFontFile> font = TrueTypeFontFile::fromFile(path.c_str());
    ASSERT_NE(font, nullptr) << path;
    const unsigned glyphCount = static_cast<unsigned>(face.get()->num_glyphs);
    int compared = 0;
    for (int i = 0; i < font->getCmapCount(); ++i) {
        int format = font->getCmapFormat(i);
        if (format != 0 && format != 4 && format != 6)
            continue;
        FT_CharMap charmap = nullptr;
        for (int j = 0; j < face.get()->num_charmaps; ++j) {
            FT_CharMap c = face.get()->charmaps[j];
            if (c->platform_id == font->getCmapPlatformId(i) &&
                c->encoding_id == font->getCmapEncodingId(i) && FT_Get_CMap_Format(c) == format)
                charmap = c;
        }
        ASSERT_NE(charmap, nullptr) << path << " cmap " << i;
        ASSERT_EQ(FT_Set_Charmap(face.get(), charmap), 0);
        for (int code = 0; code <= 0xFFFF; ++code) {
            unsigned ours = static_cast<unsigned>(font->lookupGlyphId(i, code));
            // FreeType answers 0 for a glyph index past the font's glyphs.
            unsigned expected = ours < glyphCount ? ours : 0;
            unsigned ft = FT_Get_Char_Index(face.get(), static_cast<FT_ULong>(code));
            if (ft != expected) {
                ADD_FAILURE() << path << " cmap " << i << " (format " << format << ") code " << code
                              << ": ours " << ours << ", FreeType " << ft;
                break;
            }
        }
        ++compared;
    }
    if (font->getCmapCount() > 0) {
        EXPECT_GT(compared, 0) << path;
    }
    // Names come from the post table (an OpenType file with CFF outlines
    // names its glyphs in the CFF table instead).
    if (FT_HAS_GLYPH_NAMES(face.get()) && !font->isOpenTypeCff()) {
        for (unsigned glyph = 0; glyph < glyphCount; ++glyph) {
            std::string name = face.glyphName(glyph);
            // FreeType runs a name into unreferenced bytes after the last
            // string of a post table (the length byte of an extra string
            // stays in the name); such names are not the font's.
            bool printable = !name.empty();
            for (char c : name)
                printable = printable && static_cast<unsigned char>(c) > 0x20;
            if (!printable)
                continue;
            EXPECT_EQ(static_cast<unsigned>(font->mapNameToGid(name.c_str())),
                      FT_Get_Name_Index(face.get(), name.c_str()))
                << path << " glyph " << glyph << " " << name;
        }
    }
}

inline uint32_t readU32(const std::vector<uint8_t>& b, size_t pos) {
    return (uint32_t{b[pos]} << 24) | (uint32_t{b[pos + 1]} << 16) | (uint32_t{b[pos + 2]} << 8) | b[pos + 3];
}
inline unsigned readU16(const std::vector<uint8_t>& b, size_t pos) {
    return (unsigned{b[pos]} << 8) | b[pos + 1];
}

// Every table's checksum in the directory is right (head's without its
// adjustment), tables lie in the file, and the whole file sums to the
// format's constant.
inline void expectChecksumsVerify(const std::vector<uint8_t>& file, const std::string& what) {
    ASSERT_GE(file.size(), 12u) << what;
    ASSERT_EQ(file.size() % 4, 0u) << what;
    unsigned count = readU16(file, 4);
    ASSERT_GE(file.size(), 12 + 16 * size_t{count}) << what;
    for (unsigned i = 0; i < count; ++i) {
        size_t record = 12 + 16 * size_t{i};
        uint32_t tag = readU32(file, record);
        uint32_t offset = readU32(file, record + 8);
        uint32_t length = readU32(file, record + 12);
        ASSERT_LE(size_t{offset} + length, file.size()) << what;
        std::vector<uint8_t> bytes(file.begin() + offset, file.begin() + offset + length);
        if (tag == 0x68656164 && bytes.size() >= 12)  // head
            std::memset(bytes.data() + 8, 0, 4);
        EXPECT_EQ(TrueTypeFontFile::checksum(bytes.data(), static_cast<int>(bytes.size())),
                  readU32(file, record + 4))
            << what << " table " << i;
    }
    EXPECT_EQ(TrueTypeFontFile::checksum(file.data(), static_cast<int>(file.size())), 0xB1B0AFBAu) << what;
}

inline void appendBytes(void* data, const char* bytes, int count) {
    auto* out = static_cast<std::vector<uint8_t>*>(data);
    out->insert(out->end(), bytes, bytes + count);
}

inline std::vector<uint8_t> convertFont(const TrueTypeFontFile& font) {
    std::vector<uint8_t> out;
    font.convert(&appendBytes, &out, nullptr, nullptr);
    return out;
}

// Converts the TrueType file at `path` into `outputPath` and checks that
// FreeType opens the result with the outlines (and advances) of every glyph of
// `referencePath` (a sound font with the same glyphs). Answers the output;
// the checksums of a rebuilt one are verified.
inline std::vector<uint8_t> expectConvertKeepsOutlines(const FreeTypeLibrary& library,
                                                       const std::string& path,
                                                       const std::string& referencePath,
                                                       const std::string& outputPath) {
    std::unique_ptr<TrueTypeFontFile> font = TrueTypeFontFile::fromFile(path.c_str());
    EXPECT_NE(font, nullptr) << path;
    if (!font)
        return {};
    std::vector<uint8_t> out = convertFont(*font);
    writeFileBytes(outputPath, out);
    // A font written unchanged keeps whatever checksums it had; a rebuilt
    // one must have right ones.
    if (out != readFileBytes(path))
        expectChecksumsVerify(out, outputPath);
    FreeTypeFace converted(library, outputPath);
    FreeTypeFace reference(library, referencePath);
    EXPECT_TRUE(converted.ok()) << outputPath;
    EXPECT_TRUE(reference.ok()) << referencePath;
    if (!converted.ok() || !reference.ok())
        return out;
    EXPECT_EQ(converted.get()->num_glyphs, reference.get()->num_glyphs) << path;
    for (long glyph = 0; glyph < reference.get()->num_glyphs; ++glyph) {
        if (converted.outline(static_cast<unsigned>(glyph)) !=
            reference.outline(static_cast<unsigned>(glyph))) {
            ADD_FAILURE() << path << ": glyph " << glyph << " differs after conversion";
            break;
        }
    }
    return out;
}

}  // namespace rendova::test
