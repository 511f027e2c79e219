#include "engine/core/PtrList.h"

#include <gtest/gtest.h>

namespace rendova {
namespace {

TEST(PtrListTest, DoublesWhenFull) {
    int items[40];
    PtrList<int> list;
    EXPECT_EQ(list.getCapacity(), 8);
    EXPECT_EQ(list.getLength(), 0);
    for (int i = 0; i < 8; ++i)
        list.append(&items[i]);
    EXPECT_EQ(list.getCapacity(), 8);
    list.append(&items[8]);
    EXPECT_EQ(list.getCapacity(), 16);
    for (int i = 9; i < 17; ++i)
        list.append(&items[i]);
    EXPECT_EQ(list.getCapacity(), 32);
    for (int i = 0; i < 17; ++i)
        EXPECT_EQ(list.get(i), &items[i]);
}

TEST(PtrListTest, GrowsByAPositiveIncrement) {
    int items[20];
    PtrList<int> list(3);
    for (int i = 0; i < 9; ++i)
        list.append(&items[i]);
    EXPECT_EQ(list.getCapacity(), 11);
    for (int i = 9; i < 12; ++i)
        list.append(&items[i]);
    EXPECT_EQ(list.getCapacity(), 14);
}

TEST(PtrListTest, DeleteMovesLaterItemsDownAndReturnsTheItem) {
    int items[5];
    PtrList<int> list;
    for (int& item : items)
        list.append(&item);
    EXPECT_EQ(list.del(1), &items[1]);
    EXPECT_EQ(list.del(3), &items[4]);
    ASSERT_EQ(list.getLength(), 3);
    EXPECT_EQ(list.get(0), &items[0]);
    EXPECT_EQ(list.get(1), &items[2]);
    EXPECT_EQ(list.get(2), &items[3]);
}

TEST(PtrListTest, ShrinksByHalfWhenHalfIsFree) {
    int items[17];
    PtrList<int> list;
    for (int& item : items)
        list.append(&item);
    ASSERT_EQ(list.getCapacity(), 32);
    // 32 slots give back 16 once 16 are free.
    list.del(0);
    EXPECT_EQ(list.getCapacity(), 16);
    for (int i = 0; i < 7; ++i)
        list.del(0);
    EXPECT_EQ(list.getCapacity(), 16);
    list.del(0);  // 8 left: 8 of 16 free
    EXPECT_EQ(list.getCapacity(), 8);
    while (list.getLength() > 0)
        list.del(list.getLength() - 1);
    EXPECT_EQ(list.getCapacity(), 1);
    // A list shrunk to one slot grows again from there.
    for (int i = 0; i < 3; ++i)
        list.append(&items[i]);
    EXPECT_EQ(list.getCapacity(), 4);
    EXPECT_EQ(list.get(2), &items[2]);
}

TEST(PtrListTest, ShrinksByThePositiveIncrement) {
    int items[8];
    PtrList<int> list(4);
    for (int& item : items)
        list.append(&item);
    list.del(0);
    list.del(0);
    list.del(0);
    EXPECT_EQ(list.getCapacity(), 8);
    list.del(0);  // 4 free
    EXPECT_EQ(list.getCapacity(), 4);
    while (list.getLength() > 0)
        list.del(0);
    EXPECT_EQ(list.getCapacity(), 0);
    list.append(&items[0]);
    EXPECT_EQ(list.getCapacity(), 4);
    EXPECT_EQ(list.get(0), &items[0]);
}

}  // namespace
}  // namespace rendova
