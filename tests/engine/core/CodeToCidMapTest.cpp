#include "engine/core/CodeToCidMap.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/core/CodeToCidMapCache.h"
#include "engine/core/RefCounted.h"
#include "tests/engine/core/SettingsTestSupport.h"

namespace rendova {
namespace {

using test::SettingsTest;

constexpr const char* kCollection = "Test-Coll";

// A CMap file's text: the usual header around the given body.
std::string cmapText(const std::string& body) {
    return "%!PS-Adobe-3.0 Resource-CMap\n/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
           "/CIDSystemInfo 3 dict dup begin /Registry (Test) def /Ordering (Coll) def /Supplement 0 def end "
           "def\n" +
           body + "\nendcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";
}

class CodeToCidMapTest : public SettingsTest {
protected:
    // Writes CMap files into the collection's directory, then loads settings
    // that know the directory.
    void addCMap(const std::string& name, const std::string& body) { write("cmaps/" + name, cmapText(body)); }
    std::unique_ptr<GlobalSettings> settings() {
        return load(std::string("cmap-dir ") + kCollection + " " + path("cmaps") + "\n");
    }
    static RefPtr<CodeToCidMap> get(GlobalSettings& s, const char* name) {
        return s.getCMap(kCollection, name);
    }
    static int cid(const CodeToCidMap& map, const std::string& bytes, int* used) {
        return map.getCid(bytes.data(), static_cast<int>(bytes.size()), used);
    }
};

TEST_F(CodeToCidMapTest, IdentityMapsWithoutAFileReadTwoByteCodes) {
    auto s = settings();
    RefPtr<CodeToCidMap> vertical = get(*s, "Identity-V");
    ASSERT_TRUE(vertical);
    EXPECT_TRUE(vertical->isIdentity());
    EXPECT_EQ(vertical->getWMode(), 1);
    int used = 0;
    EXPECT_EQ(cid(*vertical, "\x12\x34\x56", &used), 0x1234);
    EXPECT_EQ(used, 2);
    // One byte left: no CID, and never more bytes used than there are.
    EXPECT_EQ(cid(*vertical, "\x12", &used), 0);
    EXPECT_EQ(used, 1);

    for (const char* name : {"Identity-H", "Identity"}) {
        RefPtr<CodeToCidMap> horizontal = get(*s, name);
        ASSERT_TRUE(horizontal);
        EXPECT_EQ(horizontal->getWMode(), 0);
    }
    EXPECT_TRUE(m_errors.empty());

    EXPECT_FALSE(get(*s, "No-Such-CMap"));
    EXPECT_TRUE(m_errors.contains("No-Such-CMap"));
}

TEST_F(CodeToCidMapTest, CodesOfOneAndTwoBytesFollowTheCodeSpace) {
    addCMap("Mixed-H",
            "2 begincodespacerange\n<00> <80>\n<8140> <9FFC>\nendcodespacerange\n"
            "1 begincidrange\n<20> <7e> 1\nendcidrange\n"
            "1 begincidrange\n<8140> <817e> 633\nendcidrange\n"
            "2 begincidchar\n<80> 99\n<8150> 7000\nendcidchar\n");
    auto s = settings();
    RefPtr<CodeToCidMap> map = get(*s, "Mixed-H");
    ASSERT_TRUE(map);
    EXPECT_TRUE(m_errors.empty());
    EXPECT_EQ(map->getWMode(), 0);
    EXPECT_EQ(map->getCollection().compareCStr(kCollection), 0);
    int used = 0;
    // A 1-byte code space leaves its codes single-byte CIDs of the top level.
    EXPECT_EQ(cid(*map, "A\x81\x40", &used), 34);
    EXPECT_EQ(used, 1);
    EXPECT_EQ(cid(*map, "\x80", &used), 99);
    EXPECT_EQ(used, 1);
    EXPECT_EQ(cid(*map,
                  "\x81\x41"
                  "A",
                  &used),
              634);
    EXPECT_EQ(used, 2);
    EXPECT_EQ(cid(*map, "\x81\x50", &used), 7000);
    // A string that ends inside a 2-byte code: CID 0, all bytes used.
    EXPECT_EQ(cid(*map, "\x81", &used), 0);
    EXPECT_EQ(used, 1);
}

TEST_F(CodeToCidMapTest, RangeDifferingInAHigherByteFillsOnlyItsLastByte) {
    addCMap("Wide-H",
            "1 begincodespacerange\n<8140> <82FF>\nendcodespacerange\n"
            "1 begincidrange\n<8140> <82FF> 100\nendcidrange\n");
    auto s = settings();
    RefPtr<CodeToCidMap> map = get(*s, "Wide-H");
    ASSERT_TRUE(map);
    int used = 0;
    EXPECT_EQ(cid(*map, "\x81\x40", &used), 100);
    EXPECT_EQ(cid(*map, "\x81\xFF", &used), 100 + 0xFF - 0x40);
    EXPECT_EQ(cid(*map, "\x82\x40", &used), 0);
    EXPECT_EQ(used, 2);
}

TEST_F(CodeToCidMapTest, WritingModeAndUsedCMapAreRead) {
    addCMap("Base-H",
            "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n"
            "1 begincidrange\n<3000> <30ff> 500\nendcidrange\n");
    addCMap("Base-V",
            "/Base-H usecmap\n/WMode 1 def\n"
            "1 begincidchar\n<3001> 9000\nendcidchar\n");
    auto s = settings();
    RefPtr<CodeToCidMap> map = get(*s, "Base-V");
    ASSERT_TRUE(map);
    EXPECT_TRUE(m_errors.empty());
    EXPECT_EQ(map->getWMode(), 1);
    int used = 0;
    EXPECT_EQ(cid(*map, std::string("\x30\x00", 2), &used), 500);
    EXPECT_EQ(cid(*map, "\x30\x01", &used), 9000);
    EXPECT_EQ(cid(*map, "\x30\x02", &used), 502);
}

TEST_F(CodeToCidMapTest, CMapsThatUseThemselvesAreReportedNotFollowed) {
    addCMap("Self-H", "/Self-H usecmap\n1 begincodespacerange\n<00> <FF>\nendcodespacerange\n");
    addCMap("Loop-A", "/Loop-B usecmap\n");
    addCMap("Loop-B", "/Loop-A usecmap\n");
    auto s = settings();
    EXPECT_TRUE(get(*s, "Self-H"));
    EXPECT_TRUE(m_errors.contains("uses itself"));
    m_errors.clear();
    EXPECT_TRUE(get(*s, "Loop-A"));
    EXPECT_TRUE(m_errors.contains("uses itself"));
}

TEST_F(CodeToCidMapTest, LongUseChainsStopAtTheDepthLimit) {
    const int links = CodeToCidMapCache::kMaxUseDepth + 4;
    for (int i = 0; i < links; ++i)
        addCMap("Chain-" + std::to_string(i), "/Chain-" + std::to_string(i + 1) + " usecmap\n");
    addCMap("Chain-" + std::to_string(links), "1 begincodespacerange\n<00> <FF>\nendcodespacerange\n");
    auto s = settings();
    EXPECT_TRUE(get(*s, "Chain-0"));
    EXPECT_TRUE(m_errors.contains("deeper than"));
}

TEST_F(CodeToCidMapTest, CodesLongerThanFourBytesAreRefused) {
    addCMap("Long-H",
            "1 begincodespacerange\n<0000000000> <FFFFFFFFFF>\nendcodespacerange\n"
            "1 begincidrange\n<0000000000> <00000000FF> 1\nendcidrange\n"
            "1 begincodespacerange\n<00000000> <0000FFFF>\nendcodespacerange\n"
            "1 begincidchar\n<00000041> 65\nendcidchar\n");
    auto s = settings();
    RefPtr<CodeToCidMap> map = get(*s, "Long-H");
    ASSERT_TRUE(map);
    EXPECT_TRUE(m_errors.contains("longer than 4 bytes"));
    EXPECT_TRUE(m_errors.contains("bad codes"));
    int used = 0;
    EXPECT_EQ(cid(*map, std::string("\0\0\0\x41", 4), &used), 65);
    EXPECT_EQ(used, 4);
}

TEST_F(CodeToCidMapTest, CodeSpaceOverEveryFourByteCodeIsCut) {
    addCMap("Huge-H",
            "1 begincodespacerange\n<00000000> <FFFFFFFF>\nendcodespacerange\n"
            "1 begincidchar\n<00000041> 65\nendcidchar\n");
    auto s = settings();
    RefPtr<CodeToCidMap> map = get(*s, "Huge-H");
    ASSERT_TRUE(map);
    EXPECT_TRUE(m_errors.contains("code space too large"));
    int used = 0;
    EXPECT_EQ(cid(*map, std::string("\0\0\0\x41", 4), &used), 65);
}

TEST_F(CodeToCidMapTest, MalformedEntriesAreReportedAndSkipped) {
    addCMap("Bad-H",
            "1 begincodespacerange\n<00> <FF>\nendcodespacerange\n"
            "3 begincidchar\n<4> 1\nfoo 2\n<42> 66\nendcidchar\n"
            "2 begincidrange\n<50> <5> 7\n<60> <61> 96\nendcidrange\n"
            "1 begincidchar\n<43>");
    auto s = settings();
    RefPtr<CodeToCidMap> map = get(*s, "Bad-H");
    ASSERT_TRUE(map);
    EXPECT_GE(m_errors.count(), 4u);
    int used = 0;
    EXPECT_EQ(cid(*map, "B", &used), 66);
    EXPECT_EQ(cid(*map, "a", &used), 97);
    EXPECT_EQ(cid(*map, "P", &used), 0);
}

TEST_F(CodeToCidMapTest, CacheKeepsTheFourMostRecentlyUsedMaps) {
    for (const char* name : {"A-H", "B-H", "C-H", "D-H", "E-H"})
        addCMap(name, "1 begincodespacerange\n<00> <FF>\nendcodespacerange\n");
    auto s = settings();
    RefPtr<CodeToCidMap> a = get(*s, "A-H");
    RefPtr<CodeToCidMap> b = get(*s, "B-H");
    get(*s, "C-H");
    get(*s, "D-H");
    // A hit moves A to the front; the fifth map then pushes out B.
    EXPECT_EQ(get(*s, "A-H").get(), a.get());
    get(*s, "E-H");
    EXPECT_EQ(get(*s, "A-H").get(), a.get());
    RefPtr<CodeToCidMap> b2 = get(*s, "B-H");
    ASSERT_TRUE(b2);
    EXPECT_NE(b2.get(), b.get());
    // The same name in another collection is another map.
    EXPECT_FALSE(s->getCMap("Other-Coll", "A-H"));
}

}  // namespace
}  // namespace rendova
