#include "engine/raster/Type3GlyphCache.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace rendova::test {
namespace {

std::unique_ptr<Type3GlyphCache> cache(int width, int height, int antialiased, int num = 1,
                                       double scale = 1) {
    return std::make_unique<Type3GlyphCache>(num, 0, scale, 0, 0, scale, 0, 0, width, height, 1, antialiased);
}

TEST(Type3GlyphCache, SetCountFollowsTheGlyphSize) {
    auto oneBit = cache(16, 16, 0);
    EXPECT_EQ(oneBit->getGlyphSize(), 32);
    EXPECT_EQ(oneBit->getSetCount(), 8);
    auto grey = cache(40, 40, 1);
    EXPECT_EQ(grey->getGlyphSize(), 1600);
    EXPECT_EQ(grey->getSetCount(), 1);
    EXPECT_EQ(cache(20, 20, 1)->getSetCount(), 4);
    EXPECT_EQ(cache(30, 30, 1)->getSetCount(), 2);
}

TEST(Type3GlyphCache, CellTooLargeOrEmptyGetsNoSets) {
    auto huge = cache(5000, 5000, 1);
    EXPECT_EQ(huge->getSetCount(), 0);
    EXPECT_EQ(huge->lookup(65), -1);
    EXPECT_EQ(huge->insert(65), -1);
    EXPECT_EQ(cache(0, 10, 1)->getSetCount(), 0);
}

TEST(Type3GlyphCache, CodesOfOneSetShareItsEightEntries) {
    auto c = cache(16, 16, 0);  // 8 sets
    const int a = c->insert(3);
    const int b = c->insert(11);
    EXPECT_GE(a, 24);  // set 3: entries 24 .. 31
    EXPECT_LT(a, 32);
    EXPECT_GE(b, 24);
    EXPECT_LT(b, 32);
    EXPECT_NE(a, b);
    EXPECT_EQ(c->lookup(3), a);
    EXPECT_EQ(c->lookup(11), b);
    EXPECT_EQ(c->lookup(19), -1);
}

TEST(Type3GlyphCache, NinthCodeOfASetEvictsTheFirst) {
    auto c = cache(16, 16, 0);
    for (unsigned code = 0; code < 64; code += 8)
        c->insert(code);
    for (unsigned code = 0; code < 64; code += 8)
        EXPECT_GE(c->lookup(code), 0) << code;
    // A hit changes no age: code 0 is still the first in.
    c->lookup(0);
    c->insert(64);
    EXPECT_EQ(c->lookup(0), -1);
    EXPECT_GE(c->lookup(8), 0);
    EXPECT_GE(c->lookup(64), 0);
    for (int i = 0; i < 8; ++i)
        EXPECT_LT(c->entryAge(i), 8);
}

TEST(Type3GlyphCacheList, MatchesByFontAndLinearMatrixMostRecentFirst) {
    Type3GlyphCacheList list;
    Type3GlyphCache* a = list.add(cache(16, 16, 1, 1, 1));
    Type3GlyphCache* b = list.add(cache(16, 16, 1, 1, 2));  // same font, other scale
    EXPECT_EQ(list.getCount(), 2);
    EXPECT_EQ(list.find(1, 0, 1, 0, 0, 1), a);
    EXPECT_EQ(list.get(0), a);
    EXPECT_EQ(list.find(1, 0, 2, 0, 0, 2), b);
    EXPECT_EQ(list.find(1, 0, 0, 1, -1, 0), nullptr);  // rotated
    EXPECT_EQ(list.find(2, 0, 1, 0, 0, 1), nullptr);   // other font
}

TEST(Type3GlyphCacheList, NinthCacheEvictsTheLeastRecentlyUsed) {
    Type3GlyphCacheList list;
    for (int i = 1; i <= 8; ++i)
        list.add(cache(16, 16, 1, i));
    ASSERT_NE(list.find(1, 0, 1, 0, 0, 1), nullptr);  // font 1 is used again
    list.add(cache(16, 16, 1, 9));
    EXPECT_EQ(list.getCount(), 8);
    EXPECT_EQ(list.find(2, 0, 1, 0, 0, 1), nullptr);  // font 2 was the oldest
    EXPECT_NE(list.find(1, 0, 1, 0, 0, 1), nullptr);
    EXPECT_NE(list.find(9, 0, 1, 0, 0, 1), nullptr);
    list.clear();
    EXPECT_EQ(list.getCount(), 0);
}

TEST(Type3GlyphCacheList, CachesOfGlyphsBeingDrawnAreNotEvicted) {
    // Fonts 1 and 2, the oldest, hold glyphs still being drawn (a glyph
    // procedure showing other Type 3 glyphs): font 3 goes instead.
    Type3GlyphCacheList list;
    std::vector<const Type3GlyphCache*> inUse;
    for (int i = 1; i <= 8; ++i) {
        Type3GlyphCache* added = list.add(cache(16, 16, 1, i), inUse);
        if (i <= 2)
            inUse.push_back(added);
    }
    ASSERT_NE(list.add(cache(16, 16, 1, 9), inUse), nullptr);
    EXPECT_EQ(list.getCount(), 8);
    EXPECT_EQ(list.find(3, 0, 1, 0, 0, 1), nullptr);
    EXPECT_EQ(list.find(1, 0, 1, 0, 0, 1), inUse[0]);
    EXPECT_EQ(list.find(2, 0, 1, 0, 0, 1), inUse[1]);

    // All eight in use: the new cache is not kept.
    inUse.clear();
    for (int i = 0; i < list.getCount(); ++i)
        inUse.push_back(list.get(i));
    EXPECT_EQ(list.add(cache(16, 16, 1, 10), inUse), nullptr);
    EXPECT_EQ(list.getCount(), 8);
    for (int i = 0; i < list.getCount(); ++i)
        EXPECT_EQ(list.get(i), inUse[static_cast<size_t>(i)]);
}

}  // namespace
}  // namespace rendova::test
