#include "engine/core/CodeToUnicodeMap.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/core/CodeToUnicodeMapCache.h"
#include "engine/core/RefCounted.h"
#include "tests/engine/core/SettingsTestSupport.h"

namespace rendova {
namespace {

using test::SettingsTest;

RefPtr<CodeToUnicodeMap> parse(const std::string& text, int codeBits) {
    DynString string(text.data(), static_cast<int>(text.size()));
    return CodeToUnicodeMap::parseCMap(string, codeBits);
}

std::vector<uint32_t> unicodeOf(const CodeToUnicodeMap& map, int code, int room = 8) {
    uint32_t values[8] = {};
    int n = map.mapToUnicode(code, values, room);
    return std::vector<uint32_t>(values, values + n);
}

using Values = std::vector<uint32_t>;

class CodeToUnicodeMapTest : public SettingsTest {};

TEST_F(CodeToUnicodeMapTest, BfRangeMapsConsecutiveCodesFromTheDestination) {
    auto map = parse("1 beginbfrange\n<20> <22> <0041>\nendbfrange\n", 8);
    EXPECT_EQ(unicodeOf(*map, 0x20), Values{0x41});
    EXPECT_EQ(unicodeOf(*map, 0x21), Values{0x42});
    EXPECT_EQ(unicodeOf(*map, 0x22), Values{0x43});
    EXPECT_EQ(unicodeOf(*map, 0x23), Values{});
    EXPECT_EQ(map->getLength(), 256);
    EXPECT_TRUE(m_errors.empty());
}

TEST_F(CodeToUnicodeMapTest, MultiValueEntriesKeepTheirValues) {
    auto map = parse(
        "2 beginbfchar\n<0001> <00660066>\n<0002> <0041>\nendbfchar\n"
        "1 beginbfrange\n<0010> <0012> <00660069>\nendbfrange\n",
        16);
    EXPECT_EQ(unicodeOf(*map, 1), (Values{0x66, 0x66}));
    // Room for one: only the first.
    EXPECT_EQ(unicodeOf(*map, 1, 1), Values{0x66});
    EXPECT_EQ(unicodeOf(*map, 2), Values{0x41});
    // A range with a multi-value destination adds the offset to the last
    // value only.
    EXPECT_EQ(unicodeOf(*map, 0x10), (Values{0x66, 0x69}));
    EXPECT_EQ(unicodeOf(*map, 0x12), (Values{0x66, 0x6B}));
}

TEST_F(CodeToUnicodeMapTest, CodesPastTheLengthGrowTheMapToTheNextMultipleOf256) {
    auto map = parse("1 beginbfchar\n<1234> <263A>\nendbfchar\n", 16);
    EXPECT_EQ(map->getLength(), 0x1300);
    EXPECT_EQ(unicodeOf(*map, 0x1234), Values{0x263A});
    EXPECT_EQ(unicodeOf(*map, 0x1300), Values{});
    EXPECT_EQ(unicodeOf(*map, -1), Values{});
}

TEST_F(CodeToUnicodeMapTest, BfRangeArraysMapOneElementACode) {
    auto map =
        parse("2 beginbfrange\n<01> <02> [<0041> <00420043> <0044>]\n<05> <05> <0045>\nendbfrange\n", 8);
    EXPECT_EQ(unicodeOf(*map, 1), Values{0x41});
    EXPECT_EQ(unicodeOf(*map, 2), (Values{0x42, 0x43}));
    // The element past the high code is dropped, and reading stays in step.
    EXPECT_EQ(unicodeOf(*map, 3), Values{});
    EXPECT_EQ(unicodeOf(*map, 5), Values{0x45});
}

TEST_F(CodeToUnicodeMapTest, MalformedEntriesAreReportedAndSkipped) {
    auto map = parse(
        "3 beginbfchar\n<0041> <0061>\n<41> <0062>\n<42> endbfchar\n"
        "2 beginbfrange\n<43> <0044> <0063>\n<45> <45> [<0065> foo]\nendbfrange\n",
        8);
    EXPECT_GE(m_errors.count(), 4u);
    EXPECT_EQ(unicodeOf(*map, 0x41), Values{0x62});
    EXPECT_EQ(unicodeOf(*map, 0x43), Values{});
    EXPECT_EQ(unicodeOf(*map, 0x45), Values{0x65});
}

TEST_F(CodeToUnicodeMapTest, CodesShorterThanTheCodespaceAreTheirValues) {
    struct Case {
        const char* text;
        int code;
        Values unicode;
    };
    // 2-byte codes written with one byte: the code of that value, in single
    // entries, ranges and range arrays alike, beside full-length codes.
    const Case cases[] = {
        {"1 beginbfchar\n<20> <0020>\nendbfchar\n", 0x20, Values{0x20}},
        {"1 beginbfrange\n<41> <43> <0061>\nendbfrange\n", 0x43, Values{0x63}},
        {"1 beginbfrange\n<41> <0042> [<0058> <0059>]\nendbfrange\n", 0x42, Values{0x59}},
        {"1 beginbfchar\n<7> <0037>\nendbfchar\n", 7, Values{0x37}},
    };
    for (const Case& c : cases) {
        m_errors.clear();
        auto map = parse(std::string(c.text) + "1 beginbfchar\n<0100> <0041>\nendbfchar\n", 16);
        EXPECT_EQ(unicodeOf(*map, c.code), c.unicode) << c.text;
        EXPECT_EQ(unicodeOf(*map, 0x100), Values{0x41}) << c.text;
        EXPECT_EQ(m_errors.count(), 1u) << c.text;
        EXPECT_TRUE(m_errors.contains("shorter")) << c.text;
    }
    // Longer than the codespace stays malformed, and full-length codes say
    // nothing.
    auto longer = parse("1 beginbfchar\n<000041> <0061>\nendbfchar\n", 16);
    EXPECT_EQ(unicodeOf(*longer, 0x41), Values{});
    m_errors.clear();
    auto full = parse("2 beginbfchar\n<0020> <0020>\n<0041> <0061>\nendbfchar\n", 16);
    EXPECT_TRUE(m_errors.empty());
}

TEST_F(CodeToUnicodeMapTest, MergedMappingsReplaceEarlierOnes) {
    auto map = RefPtr<CodeToUnicodeMap>::adopt(new CodeToUnicodeMap());
    uint32_t values[256] = {};
    values[0x41] = 0x41;
    map = CodeToUnicodeMap::make8Bit(values);
    EXPECT_EQ(unicodeOf(*map, 0x41), Values{0x41});
    map->mergeCMap(DynString("1 beginbfchar <41> <00660066> endbfchar"), 8);
    EXPECT_EQ(unicodeOf(*map, 0x41), (Values{0x66, 0x66}));
    map->mergeCMap(DynString("1 beginbfchar <41> <00660069> endbfchar"), 8);
    EXPECT_EQ(unicodeOf(*map, 0x41), (Values{0x66, 0x69}));
    map->mergeCMap(DynString("1 beginbfchar <41> <0042> endbfchar"), 8);
    EXPECT_EQ(unicodeOf(*map, 0x41), Values{0x42});
}

TEST_F(CodeToUnicodeMapTest, LargeMultiValueRangesMergedTwiceKeepTheirValues) {
    // As the fuzzer found it: 24,832 two-value codes, read and merged again.
    const std::string text = "1 beginbfrange <0100> <61FF> <00410042> endbfrange\n";
    auto map = parse(text, 16);
    map->mergeCMap(DynString(text.data(), static_cast<int>(text.size())), 16);
    EXPECT_EQ(unicodeOf(*map, 0x100), (Values{0x41, 0x42}));
    EXPECT_EQ(unicodeOf(*map, 0x61FF), (Values{0x41, 0x42 + 0x60FF}));
    EXPECT_EQ(unicodeOf(*map, 0xFF), Values{});
    map->mergeCMap(DynString("1 beginbfchar <0100> <0043> endbfchar"), 16);
    EXPECT_EQ(unicodeOf(*map, 0x100), Values{0x43});
}

TEST_F(CodeToUnicodeMapTest, SetMappingKeepsAtMostEightValues) {
    auto map = RefPtr<CodeToUnicodeMap>::adopt(new CodeToUnicodeMap());
    uint32_t many[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    map->setMapping(7, many, 10);
    EXPECT_EQ(unicodeOf(*map, 7), (Values{1, 2, 3, 4, 5, 6, 7, 8}));
    map->setMapping(7, many + 2, 2);
    EXPECT_EQ(unicodeOf(*map, 7), (Values{3, 4}));
    map->setMapping(7, many + 4, 1);
    EXPECT_EQ(unicodeOf(*map, 7), Values{5});
    // One value for a code past the length has nowhere to go.
    map->setMapping(300, many, 1);
    EXPECT_EQ(unicodeOf(*map, 300), Values{});
}

TEST_F(CodeToUnicodeMapTest, UseCMapReadsTheNamedFileAndStopsOnLoops) {
    write("tounicode/Base-UCS", "1 beginbfchar <0041> <0391> endbfchar\n");
    write("tounicode/Loop-UCS", "/Loop-UCS usecmap\n");
    auto settings = load("to-unicode-dir " + path("tounicode") + "\n");
    globalSettings = settings.get();
    auto map = parse("/Base-UCS usecmap\n1 beginbfchar <0042> <0392> endbfchar\n", 16);
    EXPECT_EQ(unicodeOf(*map, 0x41), Values{0x391});
    EXPECT_EQ(unicodeOf(*map, 0x42), Values{0x392});
    EXPECT_TRUE(m_errors.empty());
    parse("/No-Such usecmap", 16);
    EXPECT_TRUE(m_errors.contains("No-Such"));
    m_errors.clear();
    parse("/Loop-UCS usecmap", 16);
    EXPECT_TRUE(m_errors.contains("deeper than"));
    globalSettings = nullptr;
}

TEST_F(CodeToUnicodeMapTest, CidToUnicodeFileGrowsByDoubling) {
    std::string text;
    for (int cid = 0; cid < 40000; ++cid) {
        char line[16];
        std::snprintf(line, sizeof line, "%04x\n", cid == 5 ? 0 : 0x4E00 + cid % 1000);
        text += cid == 7 ? std::string("zz\n") : line;
    }
    std::string file = write("Coll.cidToUnicode", text);
    auto map = CodeToUnicodeMap::parseCidToUnicodeFile(file.c_str(), "A-B");
    ASSERT_TRUE(map);
    EXPECT_EQ(map->getLength(), 40000);
    EXPECT_TRUE(map->matchesTag("A-B"));
    EXPECT_FALSE(map->matchesTag("A-C"));
    EXPECT_EQ(unicodeOf(*map, 39999), Values{0x4E00 + 999});
    EXPECT_EQ(unicodeOf(*map, 40000), Values{});
    EXPECT_EQ(unicodeOf(*map, 7), Values{});
    EXPECT_EQ(m_errors.count(), 1u);

    EXPECT_FALSE(CodeToUnicodeMap::parseCidToUnicodeFile(path("missing").c_str(), "A-B"));
    EXPECT_TRUE(m_errors.contains("missing"));
}

TEST_F(CodeToUnicodeMapTest, UnicodeToUnicodeFileBoundsItsCodes) {
    std::string file = write("u2u",
                             "0041 0061\n"
                             "FB01\t0066 0069\n"
                             "0042 1 2 3 4 5 6 7 8 9\n"
                             "110000 0041\n"
                             "FFFFFFFF 0041\n"
                             "0043\n"
                             "0044 0064 xyz 0065\n"
                             "\n");
    auto map = CodeToUnicodeMap::parseUnicodeToUnicodeFile(file.c_str(), "key");
    ASSERT_TRUE(map);
    EXPECT_TRUE(map->matchesTag("key"));
    EXPECT_EQ(map->getLength(), 0xFB02);
    EXPECT_EQ(unicodeOf(*map, 0x41), Values{0x61});
    EXPECT_EQ(unicodeOf(*map, 0xFB01), (Values{0x66, 0x69}));
    EXPECT_EQ(unicodeOf(*map, 0x42), (Values{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(unicodeOf(*map, 0x43), Values{});
    // A bad value ends its line; what was read stands.
    EXPECT_EQ(unicodeOf(*map, 0x44), Values{0x64});
    EXPECT_TRUE(m_errors.contains("beyond Unicode"));
    EXPECT_TRUE(m_errors.contains("Bad code"));
    EXPECT_TRUE(m_errors.contains("No values"));
    EXPECT_TRUE(m_errors.contains("Bad value"));
}

TEST_F(CodeToUnicodeMapTest, CacheDropsTheLeastRecentlyUsedMap) {
    CodeToUnicodeMapCache cache(4);
    std::vector<RefPtr<CodeToUnicodeMap>> maps;
    for (const char* tag : {"a", "b", "c", "d", "e"}) {
        uint32_t values[1] = {0x41};
        maps.push_back(
            RefPtr<CodeToUnicodeMap>::adopt(new CodeToUnicodeMap(tag, values, 1, true, nullptr, 0, 0)));
    }
    for (int i = 0; i < 4; ++i)
        cache.add(maps[static_cast<size_t>(i)]);
    EXPECT_EQ(cache.get("a").get(), maps[0].get());
    cache.add(maps[4]);
    EXPECT_FALSE(cache.get("b"));
    for (const char* tag : {"a", "c", "d", "e"})
        EXPECT_TRUE(cache.get(tag)) << tag;
}

TEST_F(CodeToUnicodeMapTest, SettingsCacheTheCollectionAndUnicodeMaps) {
    std::string cidFile = write("japan.cidToUnicode", "0000\n3000\n");
    std::string u2uFile = write("sym.u2u", "0041 03B1\n");
    auto settings =
        load("cid-to-unicode Adobe-Japan1 " + cidFile + "\nunicode-to-unicode Sym " + u2uFile + "\n");
    auto first = settings->getCidToUnicodeMap("Adobe-Japan1");
    ASSERT_TRUE(first);
    EXPECT_EQ(unicodeOf(*first, 1), Values{0x3000});
    auto again = settings->getCidToUnicodeMap("Adobe-Japan1");
    EXPECT_EQ(again.get(), first.get());
    EXPECT_FALSE(settings->getCidToUnicodeMap("Adobe-GB1"));

    auto u2u = settings->getUnicodeToUnicodeMap("MySymFont");
    ASSERT_TRUE(u2u);
    EXPECT_EQ(unicodeOf(*u2u, 0x41), Values{0x3B1});
    EXPECT_EQ(settings->getUnicodeToUnicodeMap("SymBold").get(), u2u.get());
    EXPECT_FALSE(settings->getUnicodeToUnicodeMap("Helvetica"));
    EXPECT_TRUE(m_errors.empty());
}

}  // namespace
}  // namespace rendova
