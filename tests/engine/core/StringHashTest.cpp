#include "engine/core/StringHash.h"

#include <map>
#include <string>

#include <gtest/gtest.h>

#include "engine/core/DynString.h"

namespace rendova {
namespace {

std::string keyName(int i) {
    return "key" + std::to_string(i);
}

TEST(StringHashTest, GrowsWhenEntriesReachOnePerBucket) {
    StringHash hash(true);
    EXPECT_EQ(hash.getBucketCount(), 7);
    for (int i = 0; i < 7; ++i)
        hash.add(new DynString(keyName(i).c_str()), i + 100);
    EXPECT_EQ(hash.getBucketCount(), 7);
    hash.add(new DynString(keyName(7).c_str()), 107);
    EXPECT_EQ(hash.getBucketCount(), 15);
    for (int i = 8; i < 16; ++i)
        hash.add(new DynString(keyName(i).c_str()), i + 100);
    EXPECT_EQ(hash.getBucketCount(), 31);
    EXPECT_EQ(hash.getLength(), 16);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(hash.lookup(DynString(keyName(i).c_str())), i + 100);
        EXPECT_EQ(hash.lookupCStr(keyName(i).c_str()), i + 100);
    }
}

TEST(StringHashTest, NewerEqualKeyIsFoundFirst) {
    StringHash hash(true);
    hash.add(new DynString("name"), 1);
    hash.add(new DynString("name"), 2);
    EXPECT_EQ(hash.getLength(), 2);
    EXPECT_EQ(hash.lookupCStr("name"), 2);
    EXPECT_EQ(hash.remove(DynString("name")), 2);
    EXPECT_EQ(hash.lookupCStr("name"), 1);
    EXPECT_EQ(hash.removeCStr("name"), 1);
    EXPECT_EQ(hash.lookupCStr("name"), 0);
    EXPECT_EQ(hash.removeCStr("name"), 0);
    EXPECT_EQ(hash.getLength(), 0);
}

TEST(StringHashTest, KeysCompareAllTheirBytes) {
    StringHash hash(true);
    hash.add(new DynString("a\0b", 3), 1);
    hash.add(new DynString("a"), 2);
    EXPECT_EQ(hash.lookup(DynString("a\0b", 3)), 1);
    EXPECT_EQ(hash.lookup(DynString("a\0c", 3)), 0);
    EXPECT_EQ(hash.lookupCStr("a"), 2);
    EXPECT_EQ(hash.lookupCStr(""), 0);
}

TEST(StringHashTest, ValuesArePointersOrIntegers) {
    int target = 5;
    DynString key("p");
    StringHash hash(false);
    hash.add(&key, reinterpret_cast<intptr_t>(&target));
    hash.add(&key, -7);
    EXPECT_EQ(hash.lookupCStr("p"), -7);
    hash.remove(key);
    EXPECT_EQ(reinterpret_cast<int*>(hash.lookup(key)), &target);
    // A table that does not own its keys leaves them to the caller.
    EXPECT_EQ(hash.remove(key), reinterpret_cast<intptr_t>(&target));
    EXPECT_EQ(key.compareCStr("p"), 0);
}

TEST(StringHashTest, IterationVisitsEveryEntryOnceAndDeletesItsIterator) {
    StringHash hash(true);
    std::map<std::string, intptr_t> expected;
    for (int i = 0; i < 40; ++i) {
        hash.add(new DynString(keyName(i).c_str()), i);
        expected[keyName(i)] = i;
    }
    std::map<std::string, intptr_t> seen;
    std::unique_ptr<StringHash::Iterator> iterator;
    hash.startIteration(iterator);
    ASSERT_NE(iterator, nullptr);
    DynString* key;
    intptr_t value;
    while (hash.next(iterator, &key, &value)) {
        EXPECT_TRUE(seen.emplace(key->getCString(), value).second);
    }
    EXPECT_EQ(iterator, nullptr);
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(hash.next(iterator, &key, &value), 0);

    hash.startIteration(iterator);
    ASSERT_EQ(hash.next(iterator, &key, &value), 1);
    hash.endIteration(iterator);
    EXPECT_EQ(iterator, nullptr);
}

TEST(StringHashTest, EmptyTableIteratesNothing) {
    StringHash hash(false);
    std::unique_ptr<StringHash::Iterator> iterator;
    hash.startIteration(iterator);
    DynString* key = nullptr;
    intptr_t value = 0;
    EXPECT_EQ(hash.next(iterator, &key, &value), 0);
    EXPECT_EQ(iterator, nullptr);
}

}  // namespace
}  // namespace rendova
