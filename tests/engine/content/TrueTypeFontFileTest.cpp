#include "engine/content/TrueTypeFontFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/engine/content/FontCheck.h"
#include "tests/engine/content/SfntTestUtil.h"

namespace rendova {
namespace {

using namespace test;

// A small TrueType font: glyph data of the given sizes (byte i of glyph g is
// g * 16 + i), one metric a glyph, a cmap with format 4, 0 and 6 subtables
// and a version 2 post table.
struct FontSpec {
    std::vector<size_t> glyphSizes = {16, 16, 0, 16, 20};
    bool longLoca = true;
    int metrics = -1;  // hhea's count; -1: one a glyph
};

Bytes glyphData(size_t glyph, size_t size) {
    Bytes data(size);
    for (size_t i = 0; i < size; ++i)
        data[i] = static_cast<uint8_t>(glyph * 16 + i);
    return data;
}

Bytes format4Cmap() {
    // Segments 0x20-0x22 (delta), 0x41-0x43 (glyph array), 0x50 (a glyph
    // array entry far outside the table).
    Bytes t;
    be16(t, 4);
    be16(t, 0);  // length, set below
    be16(t, 0);
    be16(t, 6);
    be16(t, 4);
    be16(t, 1);
    be16(t, 2);
    for (unsigned end : {0x22, 0x43, 0x50})
        be16(t, end);
    be16(t, 0);
    for (unsigned start : {0x20, 0x41, 0x50})
        be16(t, start);
    for (unsigned delta : {(1 - 0x20) & 0xffff, 1, 0})
        be16(t, delta);
    for (unsigned offset : {0, 4, 0x7ff0})
        be16(t, offset);
    for (unsigned glyph : {2, 0, 3})
        be16(t, glyph);
    set16(t, 2, static_cast<unsigned>(t.size()));
    return t;
}

Bytes cmapTable() {
    Bytes f4 = format4Cmap();
    Bytes f0;
    be16(f0, 0);
    be16(f0, 262);
    be16(f0, 0);
    for (int code = 0; code < 256; ++code)
        f0.push_back(code == 65 ? 3 : 0);
    Bytes f6;
    be16(f6, 6);
    be16(f6, 14);
    be16(f6, 0);
    be16(f6, 0x100);
    be16(f6, 2);
    be16(f6, 1);
    be16(f6, 4);
    Bytes t;
    be16(t, 0);
    be16(t, 3);
    uint32_t offset = 4 + 3 * 8;
    for (auto [platform, encoding, bytes] :
         {std::tuple{3u, 1u, &f4}, std::tuple{1u, 0u, &f0}, std::tuple{0u, 3u, &f6}}) {
        be16(t, platform);
        be16(t, encoding);
        be32(t, offset);
        offset += static_cast<uint32_t>(bytes->size());
    }
    for (const Bytes* b : {&f4, &f0, &f6})
        t.insert(t.end(), b->begin(), b->end());
    return t;
}

Bytes postTable(uint32_t version, size_t glyphCount) {
    Bytes t(32, 0);
    set32(t, 0, version);
    if (version == 0x00020000) {
        be16(t, static_cast<unsigned>(glyphCount));
        // .notdef, alpha, beta (out of order), A, alpha again
        for (unsigned index : {0u, 259u, 258u, 36u, 259u})
            be16(t, index);
        for (const char* s : {"beta", "alpha"}) {
            t.push_back(static_cast<uint8_t>(std::strlen(s)));
            t.insert(t.end(), s, s + std::strlen(s));
        }
    } else if (version == 0x00025000) {
        be16(t, static_cast<unsigned>(glyphCount));
        for (int offset : {0, 0, 1, 33, -4})
            t.push_back(static_cast<uint8_t>(offset));
    }
    return t;
}

Tables makeFont(const FontSpec& spec = FontSpec()) {
    Tables tables;
    const size_t n = spec.glyphSizes.size();
    Bytes head(54, 0);
    set32(head, 0, 0x00010000);
    set32(head, 12, 0x5F0F3CF5);
    set16(head, 18, 1000);
    set16(head, 36, 0xFFF6);  // xMin -10
    set16(head, 42, 900);
    set16(head, 50, spec.longLoca ? 1 : 0);
    tables["head"] = head;
    Bytes hhea(36, 0);
    set32(hhea, 0, 0x00010000);
    int metrics = spec.metrics < 0 ? static_cast<int>(n) : spec.metrics;
    set16(hhea, 34, static_cast<unsigned>(metrics));
    tables["hhea"] = hhea;
    Bytes maxp;
    be32(maxp, 0x00005000);
    be16(maxp, static_cast<unsigned>(n));
    tables["maxp"] = maxp;
    Bytes loca, glyf, hmtx;
    for (size_t g = 0; g <= n; ++g) {
        if (spec.longLoca)
            be32(loca, static_cast<uint32_t>(glyf.size()));
        else
            be16(loca, static_cast<unsigned>(glyf.size() / 2));
        if (g == n)
            break;
        Bytes data = glyphData(g, spec.glyphSizes[g]);
        glyf.insert(glyf.end(), data.begin(), data.end());
    }
    for (size_t g = 0; g < n; ++g) {
        if (static_cast<int>(g) < metrics)
            be16(hmtx, 500 + static_cast<unsigned>(g));
        be16(hmtx, 10 + static_cast<unsigned>(g));
    }
    tables["loca"] = loca;
    tables["glyf"] = glyf;
    tables["hmtx"] = hmtx;
    tables["cmap"] = cmapTable();
    tables["post"] = postTable(0x00020000, n);
    Bytes name;
    be16(name, 0);
    be16(name, 0);
    be16(name, 6);
    tables["name"] = name;
    Bytes os2(86, 0);
    set16(os2, 0, 1);
    tables["OS/2"] = os2;
    return tables;
}

std::unique_ptr<TrueTypeFontFile> parse(const Bytes& file) {
    return TrueTypeFontFile::fromBuffer(file.data(), static_cast<int>(file.size()));
}

std::vector<uint8_t> convert(const Bytes& file, const char* name = nullptr,
                             const char* const* encoding = nullptr) {
    auto font = parse(file);
    EXPECT_NE(font, nullptr);
    std::vector<uint8_t> out;
    if (font)
        font->convert(&appendBytes, &out, name, encoding);
    return out;
}

// The data of glyph g of a file's glyf table, by its loca.
Bytes glyphOf(const Tables& tables, size_t g) {
    bool longLoca = get16(tables.at("head"), 50) != 0;
    const Bytes& loca = tables.at("loca");
    uint32_t start = longLoca ? get32(loca, 4 * g) : 2 * get16(loca, 2 * g);
    uint32_t end = longLoca ? get32(loca, 4 * g + 4) : 2 * get16(loca, 2 * g + 2);
    const Bytes& glyf = tables.at("glyf");
    return end > start ? Bytes(glyf.begin() + start, glyf.begin() + end) : Bytes();
}

TEST(TrueTypeFontFile, CmapLookupsOfFormats046) {
    auto font = parse(buildSfnt(makeFont()));
    ASSERT_NE(font, nullptr);
    ASSERT_EQ(font->getCmapCount(), 3);
    EXPECT_EQ(font->getCmapPlatformId(0), 3);
    EXPECT_EQ(font->getCmapEncodingId(0), 1);
    EXPECT_EQ(font->getCmapFormat(2), 6);
    // Format 4: delta segment, glyph array (0 entries stay 0), a gap, past
    // the last end code, and a glyph array entry outside the table.
    EXPECT_EQ(font->lookupGlyphId(0, 0x20), 1);
    EXPECT_EQ(font->lookupGlyphId(0, 0x22), 3);
    EXPECT_EQ(font->lookupGlyphId(0, 0x41), 3);
    EXPECT_EQ(font->lookupGlyphId(0, 0x42), 0);
    EXPECT_EQ(font->lookupGlyphId(0, 0x43), 4);
    EXPECT_EQ(font->lookupGlyphId(0, 0x30), 0);
    EXPECT_EQ(font->lookupGlyphId(0, 0x51), 0);
    EXPECT_EQ(font->lookupGlyphId(0, 0x50), 0);
    // Format 0 and 6.
    EXPECT_EQ(font->lookupGlyphId(1, 65), 3);
    EXPECT_EQ(font->lookupGlyphId(1, 300), 0);
    EXPECT_EQ(font->lookupGlyphId(2, 0x101), 4);
    EXPECT_EQ(font->lookupGlyphId(2, 0x102), 0);
    EXPECT_EQ(font->lookupGlyphId(2, 0xff), 0);
    EXPECT_EQ(font->lookupGlyphId(3, 65), 0);
    EXPECT_EQ(font->lookupGlyphId(-1, 65), 0);
}

TEST(TrueTypeFontFile, PostTableNamesOfEachVersion) {
    Tables tables = makeFont();
    auto font = parse(buildSfnt(tables));
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(font->mapNameToGid("alpha"), 1);  // the first of two glyphs
    EXPECT_EQ(font->mapNameToGid("beta"), 2);
    EXPECT_EQ(font->mapNameToGid("A"), 3);
    EXPECT_EQ(font->mapNameToGid("gamma"), 0);

    tables["post"] = postTable(0x00010000, 5);
    font = parse(buildSfnt(tables));
    EXPECT_EQ(font->mapNameToGid("space"), 3);
    EXPECT_EQ(font->mapNameToGid("A"), 0);  // glyph 36 is past the font's glyphs

    tables["post"] = postTable(0x00025000, 5);
    font = parse(buildSfnt(tables));
    EXPECT_EQ(font->mapNameToGid(".null"), 1);
    EXPECT_EQ(font->mapNameToGid("space"), 2);
    EXPECT_EQ(font->mapNameToGid("A"), 3);  // 3 + 33
    EXPECT_EQ(font->mapNameToGid("exclam"), 0);

    tables["post"] = postTable(0x00030000, 5);
    font = parse(buildSfnt(tables));
    EXPECT_EQ(font->mapNameToGid("space"), 0);
}

TEST(TrueTypeFontFile, PostStringRunningPastTheFileDiscardsTheNames) {
    Tables tables = makeFont();
    Bytes& post = tables["post"];
    post.resize(post.size() - 6);  // "alpha" loses its last bytes
    // Make post the last table so that the string runs past the file.
    tables["zzzz"] = Bytes();
    tables.erase("zzzz");
    Bytes file = buildSfnt(tables);
    // post sorts last among the tables (lower-case tags sort after upper).
    file.resize(file.size() - ((4 - post.size() % 4) % 4));
    auto font = parse(file);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(font->mapNameToGid("beta"), 0);
    EXPECT_EQ(font->mapNameToGid("A"), 0);
}

TEST(TrueTypeFontFile, CollectionIsReadAsItsFirstFont) {
    Bytes font = buildSfnt(makeFont());
    Bytes collection;
    be32(collection, 0x74746366);  // ttcf
    be32(collection, 0x00010000);
    be32(collection, 1);
    be32(collection, 16);
    unsigned count = get16(font, 4);
    for (unsigned i = 0; i < count; ++i)
        set32(font, 12 + 16 * i + 8, get32(font, 12 + 16 * i + 8) + 16);
    collection.insert(collection.end(), font.begin(), font.end());
    auto parsed = parse(collection);
    ASSERT_NE(parsed, nullptr);
    EXPECT_EQ(parsed->getGlyphCount(), 5);
    EXPECT_EQ(parsed->lookupGlyphId(1, 65), 3);
    int xMin, yMin, xMax, yMax;
    parsed->getFontBox(&xMin, &yMin, &xMax, &yMax);
    EXPECT_EQ(xMin, -10);
    EXPECT_EQ(yMax, 900);
}

TEST(TrueTypeFontFile, StructuralFaultsFailTheFile) {
    Tables tables = makeFont();
    tables.erase("hhea");
    EXPECT_EQ(parse(buildSfnt(tables)), nullptr);

    tables = makeFont();
    set32(tables["loca"], 4 * 5, 1u << 20);  // past the file
    EXPECT_EQ(parse(buildSfnt(tables)), nullptr);

    // A short loca cuts the glyph count to what it holds.
    tables = makeFont();
    tables["loca"].resize(4 * 3);
    auto font = parse(buildSfnt(tables));
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(font->getGlyphCount(), 2);

    Bytes file = buildSfnt(makeFont());
    for (size_t n = 0; n < file.size(); n += 7)
        parse(Bytes(file.begin(), file.begin() + static_cast<long>(n)));
    EXPECT_EQ(TrueTypeFontFile::fromFile("/no/such/font.ttf"), nullptr);
}

TEST(TrueTypeFontFile, ChecksumPadsTheLastWord) {
    const uint8_t bytes[] = {0, 0, 0, 1, 0x80, 0, 0, 0, 1, 2};
    EXPECT_EQ(TrueTypeFontFile::checksum(bytes, 8), 0x80000001u);
    EXPECT_EQ(TrueTypeFontFile::checksum(bytes, 10), 0x80000001u + 0x01020000u);
}

TEST(TrueTypeFontFile, SoundFontIsWrittenUnchanged) {
    Bytes file = buildSfnt(makeFont());
    EXPECT_EQ(convert(file), file);
}

TEST(TrueTypeFontFile, MissingTablesGetDefaults) {
    Tables tables = makeFont();
    for (const char* tag : {"cmap", "name", "post", "OS/2"})
        tables.erase(tag);
    tables["kern"] = Bytes();  // empty: dropped
    Bytes out = convert(buildSfnt(tables));
    expectChecksumsVerify(out, "defaults");
    Tables written = splitSfnt(out);
    EXPECT_EQ(written.count("kern"), 0u);
    EXPECT_EQ(written["cmap"].size(), 36u);
    EXPECT_EQ(written["name"].size(), 8u);
    EXPECT_EQ(written["post"].size(), 32u);
    EXPECT_EQ(written["OS/2"].size(), 86u);
    EXPECT_EQ(get16(written["OS/2"], 2), 1u);
    auto font = parse(out);
    ASSERT_NE(font, nullptr);
    // The default cmap's one segment maps every code to the glyph of its
    // number.
    EXPECT_EQ(font->lookupGlyphId(0, 0x41), 0x41);
    EXPECT_EQ(get16(out, 4), 10u);      // tables
    EXPECT_EQ(get16(out, 6), 8u * 16);  // search range
    EXPECT_EQ(get16(out, 8), 3u);       // entry selector
    EXPECT_EQ(get16(out, 10), 32u);     // range shift
}

TEST(TrueTypeFontFile, BackwardsLocaIsRebuiltWithItsGlyphs) {
    for (bool longLoca : {true, false}) {
        Tables tables = makeFont(FontSpec{{16, 16, 0, 16, 20}, longLoca});
        // Glyph 1's data moves to the end of glyf: its loca entry now runs
        // backwards.
        Bytes& glyf = tables["glyf"];
        Bytes moved = glyphData(1, 16);
        uint32_t at = static_cast<uint32_t>(glyf.size());
        glyf.insert(glyf.end(), moved.begin(), moved.end());
        if (longLoca)
            set32(tables["loca"], 4, at);
        else
            set16(tables["loca"], 2, at / 2);
        Bytes out = convert(buildSfnt(tables));
        expectChecksumsVerify(out, "loca");
        Tables written = splitSfnt(out);
        // Glyph 0 runs to the next glyph start, over glyph 1's old place;
        // its own data comes first.
        Bytes first = glyphOf(written, 0);
        ASSERT_GE(first.size(), 16u);
        EXPECT_EQ(Bytes(first.begin(), first.begin() + 16), glyphData(0, 16));
        EXPECT_EQ(glyphOf(written, 1), glyphData(1, 16));
        EXPECT_EQ(glyphOf(written, 2), Bytes());
        EXPECT_EQ(glyphOf(written, 3), glyphData(3, 16));
        EXPECT_EQ(glyphOf(written, 4), glyphData(4, 20));
    }
}

TEST(TrueTypeFontFile, GlyphsTooShortToBeGlyphsAreMadeEmpty) {
    Bytes out = convert(buildSfnt(makeFont(FontSpec{{16, 6, 0, 16, 20}})));
    expectChecksumsVerify(out, "short glyph");
    Tables written = splitSfnt(out);
    EXPECT_EQ(glyphOf(written, 1), Bytes());
    EXPECT_EQ(glyphOf(written, 3), glyphData(3, 16));
}

TEST(TrueTypeFontFile, RebuiltLocaSwitchesToLongOffsetsWhenShortOnesWouldWrap) {
    // Three glyphs of 43,690 bytes fill short offsets almost to their end;
    // padding each to 4 bytes passes it.
    FontSpec spec{{43690, 43690, 43690}, false};
    Tables tables = makeFont(spec);
    tables["post"] = postTable(0x00030000, 3);
    // Glyph 2's data is stored before glyph 1's: glyph 1's entry runs
    // backwards.
    Bytes glyf;
    for (size_t g : {0, 2, 1}) {
        Bytes d = glyphData(g, 43690);
        glyf.insert(glyf.end(), d.begin(), d.end());
    }
    tables["glyf"] = glyf;
    Bytes loca;
    for (unsigned entry : {0u, 87380u, 43690u, 131070u})
        be16(loca, entry / 2);
    tables["loca"] = loca;
    Bytes out = convert(buildSfnt(tables));
    expectChecksumsVerify(out, "long loca");
    Tables written = splitSfnt(out);
    EXPECT_EQ(get16(written["head"], 50), 1u);
    EXPECT_EQ(written["loca"].size(), 16u);
    // Each glyph is padded to 4 bytes.
    Bytes last = glyphOf(written, 2);
    ASSERT_EQ(last.size(), 43692u);
    EXPECT_EQ(Bytes(last.begin(), last.begin() + 43690), glyphData(2, 43690));
}

TEST(TrueTypeFontFile, FewerMetricsThanGlyphsGetOneAGlyph) {
    Tables tables = makeFont(FontSpec{{16, 16, 0, 16, 20}, true, 2});
    Bytes out = convert(buildSfnt(tables));
    expectChecksumsVerify(out, "metrics");
    Tables written = splitSfnt(out);
    EXPECT_EQ(get16(written["hhea"], 34), 5u);
    const Bytes& hmtx = written["hmtx"];
    ASSERT_EQ(hmtx.size(), 20u);
    for (unsigned g = 0; g < 5; ++g) {
        EXPECT_EQ(get16(hmtx, 4 * g), g < 2 ? 500 + g : 501u) << g;
        EXPECT_EQ(get16(hmtx, 4 * g + 2), 10 + g) << g;
    }
    // A bearing array shorter than it should be gives 0, read inside hmtx.
    tables["hmtx"].resize(10);
    written = splitSfnt(convert(buildSfnt(tables)));
    EXPECT_EQ(get16(written["hmtx"], 4 * 2 + 2), 12u);
    EXPECT_EQ(get16(written["hmtx"], 4 * 3 + 2), 0u);
}

TEST(TrueTypeFontFile, BadCmapLengthIsRaisedAtMostToTheEndOfTheFile) {
    Tables tables = makeFont();
    uint32_t cmapLength = static_cast<uint32_t>(tables["cmap"].size());
    Bytes out = convert(buildSfnt(tables, 0x00010000, {{"cmap", 30}}));
    expectChecksumsVerify(out, "cmap");
    EXPECT_EQ(splitSfnt(out)["cmap"].size(), cmapLength);

    // The last subtable claims more than the file holds, and cmap is the
    // last table: the raised length stops at the end of the file.
    Tables withoutCmap = makeFont();
    Bytes cmap = withoutCmap["cmap"];
    set16(cmap, get32(cmap, 4 + 2 * 8 + 4) + 2, 0x4000);  // format 6 length
    withoutCmap.erase("cmap");
    Bytes base = buildSfnt(withoutCmap);
    unsigned count = get16(base, 4);
    Bytes file(base.begin(), base.begin() + 12 + 16 * count);
    set16(file, 4, count + 1);
    for (unsigned i = 0; i < count; ++i)
        set32(file, 12 + 16 * i + 8, get32(file, 12 + 16 * i + 8) + 16);
    uint32_t cmapAt = static_cast<uint32_t>(base.size() + 16);
    for (char c : std::string("cmap"))
        file.push_back(static_cast<uint8_t>(c));
    be32(file, 0);
    be32(file, cmapAt);
    be32(file, static_cast<uint32_t>(cmap.size()));
    file.insert(file.end(), base.begin() + 12 + 16 * count, base.end());
    file.insert(file.end(), cmap.begin(), cmap.end());
    auto font = parse(file);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(font->getCmapFormat(2), 6);
    out = convert(file);
    expectChecksumsVerify(out, "cmap at the end");
    EXPECT_EQ(splitSfnt(out)["cmap"].size(), cmap.size());
}

TEST(TrueTypeFontFile, TablesClaimingMoreThanTheFileAreCutAndRewritten) {
    // cmap claims bytes far past the end of the file, and a table starts
    // there: the font still parses, its cmap answers, and the rewrite gives
    // a directory whose every table lies in the file.
    Tables tables = makeFont();
    tables["zzzz"] = Bytes(8, 1);
    Bytes file = buildSfnt(tables, 0x00010000, {{"cmap", 1u << 30}});
    const unsigned count = get16(file, 4);
    for (unsigned i = 0; i < count; ++i) {
        if (get32(file, 12 + 16 * i) == 0x7a7a7a7a)  // "zzzz"
            set32(file, 12 + 16 * i + 8, static_cast<uint32_t>(file.size()) + 100);
    }
    auto font = parse(file);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(font->lookupGlyphId(0, 0x21), 2);
    Bytes out = convert(file);
    expectChecksumsVerify(out, "cut tables");
    Tables written = splitSfnt(out);
    EXPECT_EQ(written.count("zzzz"), 0u);
    EXPECT_GE(written["cmap"].size(), tables["cmap"].size());
    auto rewritten = parse(out);
    ASSERT_NE(rewritten, nullptr);
    EXPECT_EQ(rewritten->lookupGlyphId(0, 0x21), 2);
    EXPECT_EQ(rewritten->lookupGlyphId(2, 0x101), 4);
}

TEST(TrueTypeFontFile, GivenNameAndEncodingReplaceNameAndCmap) {
    const char* encoding[256] = {};
    encoding[65] = "beta";
    encoding[66] = "missing";
    Bytes out = convert(buildSfnt(makeFont()), "Renamed-Font", encoding);
    expectChecksumsVerify(out, "name");
    auto font = parse(out);
    ASSERT_NE(font, nullptr);
    ASSERT_EQ(font->getCmapCount(), 1);
    EXPECT_EQ(font->getCmapPlatformId(0), 1);
    EXPECT_EQ(font->lookupGlyphId(0, 65), 2);
    EXPECT_EQ(font->lookupGlyphId(0, 66), 0);
    Bytes name = splitSfnt(out)["name"];
    EXPECT_EQ(get16(name, 2), 3u);
    EXPECT_EQ(std::string(name.end() - 12, name.end()), "Renamed-Font");
}

}  // namespace
}  // namespace rendova
