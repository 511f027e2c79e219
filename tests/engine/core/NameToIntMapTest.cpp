#include "engine/core/NameToIntMap.h"

#include <string>

#include <gtest/gtest.h>

namespace rendova {
namespace {

TEST(NameToIntMapTest, GrowsWhenTheSixteenthKeyArrives) {
    NameToIntMap map;
    EXPECT_EQ(map.getCapacity(), 31);
    for (int i = 0; i < 15; ++i)
        map.add(("n" + std::to_string(i)).c_str(), i);
    EXPECT_EQ(map.getCapacity(), 31);
    map.add("n15", 15);
    EXPECT_EQ(map.getCapacity(), 63);
    EXPECT_EQ(map.getCount(), 16);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(map.lookup(("n" + std::to_string(i)).c_str()), i);
}

TEST(NameToIntMapTest, AddReplacesAnExistingValue) {
    NameToIntMap map;
    map.add("Identity-H", 1);
    map.add("Identity-H", 2);
    EXPECT_EQ(map.getCount(), 1);
    EXPECT_EQ(map.lookup("Identity-H"), 2);
    EXPECT_EQ(map.lookup("Identity-V"), 0);
    EXPECT_EQ(map.lookup(""), 0);
}

TEST(NameToIntMapTest, KeysAreCopied) {
    NameToIntMap map;
    char name[] = "abc";
    map.add(name, 9);
    name[0] = 'x';
    EXPECT_EQ(map.lookup("abc"), 9);
    EXPECT_EQ(map.lookup("xbc"), 0);
}

TEST(NameToIntMapTest, ProbingWrapsAndFindsEveryKeyOfALargeTable) {
    NameToIntMap map;
    for (int i = 0; i < 2000; ++i)
        map.add(("glyph" + std::to_string(i)).c_str(), i * 3 + 1);
    EXPECT_EQ(map.getCount(), 2000);
    EXPECT_GE(map.getCapacity(), 4001);
    for (int i = 0; i < 2000; ++i)
        EXPECT_EQ(map.lookup(("glyph" + std::to_string(i)).c_str()), i * 3 + 1);
    EXPECT_EQ(map.lookup("glyph2000"), 0);
}

}  // namespace
}  // namespace rendova
