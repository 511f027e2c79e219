#include "frontend/FormatPages.h"

#include <gtest/gtest.h>

namespace glimmark {

namespace {

TEST(FormatPages, ColourCodesFollowDepthAndPalette) {
    EXPECT_EQ(colourCodeFromDepth(0, 1), 24);
    EXPECT_EQ(colourCodeFromDepth(1, 0), 8);
    EXPECT_EQ(colourCodeFromDepth(1, 1), 7);
    EXPECT_EQ(colourCodeFromDepth(2, 0), 4);
    EXPECT_EQ(colourCodeFromDepth(2, 1), 3);
    EXPECT_EQ(colourCodeFromDepth(3, 1), 1);
    EXPECT_EQ(colourCodeFromDepth(4, 0), 0);
    EXPECT_EQ(colourCodeFromDepth(-1, 0), 0);

    EXPECT_EQ(gifColourCode(0, 0), 8);
    EXPECT_EQ(gifColourCode(0, 1), 7);
    EXPECT_EQ(gifColourCode(1, 0), 4);
    EXPECT_EQ(gifColourCode(1, 1), 3);
    EXPECT_EQ(gifColourCode(2, 1), 1);
    EXPECT_EQ(gifColourCode(3, 0), 0);

    EXPECT_EQ(jpegColourCode(0), 24);
    EXPECT_EQ(jpegColourCode(1), 7);
    EXPECT_EQ(jpegColourCode(-1), 7);
}

TEST(FormatPages, TiffCompressionRadiosMapToLibrarySettings) {
    const int expected[] = {0, 1, 3, 2, 6, 5, 4};
    for (int index = 0; index < 7; ++index)
        EXPECT_EQ(tiffCompressionSetting(index), expected[index]) << index;
    EXPECT_EQ(tiffCompressionSetting(-1), 0);
    EXPECT_EQ(tiffCompressionSetting(7), 0);
}

}  // namespace

}  // namespace glimmark
