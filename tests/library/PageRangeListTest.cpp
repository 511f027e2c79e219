#include "library/PageRangeList.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using rendova::PageRangeList;

std::vector<int32_t> pagesOf(PageRangeList& list) {
    std::vector<int32_t> pages;
    for (int32_t page = list.next(); page != 0; page = list.next())
        pages.push_back(page);
    return pages;
}

std::vector<int32_t> parsed(const char* text, int32_t pageCount, bool keepDuplicates = false) {
    PageRangeList list;
    EXPECT_EQ(list.parse(text, pageCount, keepDuplicates), 1) << text << ": " << list.errorText();
    std::vector<int32_t> pages = pagesOf(list);
    EXPECT_EQ(list.count(), int32_t(pages.size())) << text;
    return pages;
}

TEST(PageRangeList, ItemsOfEveryKindExpandInTextOrder) {
    EXPECT_EQ(parsed("2, 4-6 ,9-", 10), (std::vector<int32_t>{2, 4, 5, 6, 9, 10}));
    EXPECT_EQ(parsed("-3", 10), (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(parsed("7,,1", 10), (std::vector<int32_t>{7, 1}));
    EXPECT_EQ(parsed("\t8 ", 10), (std::vector<int32_t>{8}));
}

TEST(PageRangeList, FirstOccurrenceWinsUnlessDuplicatesAreKept) {
    EXPECT_EQ(parsed("3,1-4", 10), (std::vector<int32_t>{3, 1, 2, 4}));
    EXPECT_EQ(parsed("3,1-4", 10, true), (std::vector<int32_t>{3, 1, 2, 3, 4}));
    EXPECT_EQ(parsed("5,5,5", 10), (std::vector<int32_t>{5}));
}

TEST(PageRangeList, NumbersAreBroughtIntoThePageRange) {
    EXPECT_EQ(parsed("0", 10), (std::vector<int32_t>{1}));
    EXPECT_EQ(parsed("15", 10), (std::vector<int32_t>{10}));
    EXPECT_EQ(parsed("8-99", 10), (std::vector<int32_t>{8, 9, 10}));
    // A number too long for 32 bits is "beyond the last page", not a wrapped value.
    EXPECT_EQ(parsed("99999999999999999999999", 10), (std::vector<int32_t>{10}));
    EXPECT_EQ(parsed("-0", 10), (std::vector<int32_t>{1}));
}

TEST(PageRangeList, BackwardRangeParsesButNamesNoPage) {
    PageRangeList list;
    EXPECT_EQ(list.parse("5-3", 10, false), 1);
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(list.next(), 0);
}

TEST(PageRangeList, MalformedTextsFailWithTheirReason) {
    PageRangeList list;
    EXPECT_EQ(list.parse(nullptr, 10, false), 0);
    EXPECT_EQ(list.errorText(), "Invalid custom pages range!");
    EXPECT_EQ(list.parse("", 10, false), 0);
    EXPECT_EQ(list.errorText(), "Invalid custom pages range!");
    EXPECT_EQ(list.parse(",,", 10, false), 0);
    EXPECT_EQ(list.errorText(), "Analysis syntax error,near by ',,'");
    for (const char* bad : {"a-3", "-", "3--4", "1,2x", " ", "1-2-3", "+4"}) {
        EXPECT_EQ(list.parse(bad, 10, false), 0) << bad;
        EXPECT_EQ(list.next(), 0) << bad;
    }
    EXPECT_EQ(list.parse("1, 3--4", 10, false), 0);
    EXPECT_EQ(list.errorText(), "Analysis syntax error,near by ' 3--4'");
}

TEST(PageRangeList, PieceLongerThanItsFieldIsRefusedNotCut) {
    // 52 characters naming page 7, whose first 51 would name page 1.
    const std::string tooLong = std::string(51, '0') + "7";
    PageRangeList list;
    EXPECT_EQ(list.parse(tooLong.c_str(), 10, false), 0);
    const std::string fits = std::string(50, '0') + "7";
    EXPECT_EQ(parsed(fits.c_str(), 10), (std::vector<int32_t>{7}));
}

TEST(PageRangeList, ParsingAgainStartsAfresh) {
    PageRangeList list;
    ASSERT_EQ(list.parse("1-3", 10, false), 1);
    EXPECT_EQ(list.next(), 1);
    ASSERT_EQ(list.parse("9", 10, false), 1);
    EXPECT_EQ(pagesOf(list), (std::vector<int32_t>{9}));
}

}  // namespace
