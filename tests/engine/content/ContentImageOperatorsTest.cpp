// Do for images and forms, inline images through the devices' image slots,
// and the masks an image can carry.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/engine/content/InterpreterTestSupport.h"

namespace rendova::test {
namespace {

using Lines = std::vector<std::string>;

std::string streamText(const std::string& dict, const std::string& data) {
    return "<< " + dict + " /Length " + std::to_string(data.size()) + " >> stream\n" + data + "\nendstream";
}

int countReports(const ErrorCapture& errors, const std::string& text) {
    int n = 0;
    for (const auto& report : errors.reports())
        n += report.message.find(text) != std::string::npos;
    return n;
}

Lines images(const RecordingDevice& device) {
    return device.only({"drawImage", "drawStencilMask", "drawImageWithMask", "drawImageWithSoftMask"});
}

TEST(ImageXObjectTest, ImagesReachTheDeviceWithTheirSizeAndFormat) {
    ContentRun page(
        "<< /XObject << /Rgb " +
        streamText("/Subtype /Image /Width 2 /Height 1 /BitsPerComponent 8 /ColorSpace /DeviceRGB",
                   "abcdef") +
        " /Short " + streamText("/Subtype /Image /W 3 /H 2 /BPC 4 /CS /G", "abc") + " >> >>");
    page.run("/Rgb Do /Short Do /Missing Do");
    EXPECT_EQ(images(page.device), Lines({"drawImage 2 1 3x8", "drawImage 3 2 1x4"}));
    EXPECT_EQ(page.errors.count(), 1u);
    EXPECT_TRUE(page.errors.contains("'Missing'"));
}

TEST(ImageXObjectTest, StencilMasksTakeOneBitAndTheirDecodeInverts) {
    ContentRun page("<< /XObject << /Plain " + streamText("/Subtype /Image /W 8 /H 1 /IM true", "a") +
                    " /Inverted " + streamText("/Subtype /Image /W 8 /H 1 /IM true /D [1 0]", "a") +
                    " /Deep " + streamText("/Subtype /Image /W 8 /H 1 /IM true /BPC 8", "a") + " >> >>");
    page.run("/Plain Do /Inverted Do /Deep Do");
    EXPECT_EQ(images(page.device), Lines({"drawStencilMask 8 1", "drawStencilMask 8 1 invert"}));
    EXPECT_EQ(countReports(page.errors, "Bad image parameters"), 1);
}

// Sizes of 0 or below would reach the devices' row and bitmap sizes.
TEST(ImageXObjectTest, BadParametersLeaveTheImageUndrawnWithOneMessage) {
    ContentRun page("<< /XObject << /Zero " + streamText("/Subtype /Image /W 0 /H 4 /BPC 8 /CS /G", "") +
                    " /Negative " + streamText("/Subtype /Image /W 4 /H -1 /BPC 8 /CS /G", "") + " /NoBits " +
                    streamText("/Subtype /Image /W 4 /H 1 /CS /G", "") + " /NoSpace " +
                    streamText("/Subtype /Image /W 4 /H 1 /BPC 8", "") + " /BadMap " +
                    streamText("/Subtype /Image /W 4 /H 1 /BPC 17 /CS /G", "") + " /RealWidth " +
                    streamText("/Subtype /Image /W 4.5 /H 1 /BPC 8 /CS /G", "") + " /NoSubtype " +
                    streamText("/W 4 /H 1", "") + " /Odd " + streamText("/Subtype /Other", "") +
                    " /Dict << /Subtype /Image >> >> >>");
    page.run(
        "/Zero Do /Negative Do /NoBits Do /NoSpace Do /BadMap Do /RealWidth Do /NoSubtype Do /Odd Do "
        "/Dict Do 0 0 m 1 1 l S");
    EXPECT_EQ(images(page.device), Lines());
    EXPECT_EQ(countReports(page.errors, "Bad image parameters"), 6);
    EXPECT_TRUE(page.errors.contains("no Subtype"));
    EXPECT_TRUE(page.errors.contains("'Other' unknown"));
    EXPECT_TRUE(page.errors.contains("not a stream"));
    EXPECT_EQ(page.device.paths(), Lines({"stroke M 0 0 L 1 1"}));
}

TEST(ImageXObjectTest, ColourSpaceNamesAreLookedUpAmongTheResources) {
    ContentRun page("<< /ColorSpace << /Pal [/Indexed /DeviceRGB 1 <FF000000FF00>] >> /XObject << /I " +
                    streamText("/Subtype /Image /W 2 /H 1 /BPC 1 /CS /Pal", "a") + " >> >>");
    page.run("/I Do");
    EXPECT_EQ(images(page.device), Lines({"drawImage 2 1 1x1"}));
}

TEST(ImageXObjectTest, ColourKeyArraysPassAtMostSixtyFourZeroFilledValues) {
    std::string seventy;
    for (int i = 1; i <= 70; ++i)
        seventy += std::to_string(i) + " ";
    ContentRun page("<< /XObject << /Long " +
                    streamText("/Subtype /Image /W 1 /H 1 /BPC 8 /CS /G /Mask [" + seventy + "]", "a") +
                    " /Grey " + streamText("/Subtype /Image /W 1 /H 1 /BPC 8 /CS /G /Mask [3 9]", "a") +
                    " /Short " +
                    streamText("/Subtype /Image /W 1 /H 1 /BPC 8 /CS /RGB /Mask [0 1 2 3]", "a") + " >> >>");
    page.run("/Long Do");
    ASSERT_EQ(page.device.lastMaskColors.size(), 64u);
    EXPECT_EQ(page.device.lastMaskColors[63], 64);
    page.run("/Grey Do");
    EXPECT_EQ(page.device.lastMaskColors[1], 9);
    EXPECT_EQ(page.device.lastMaskColors[2], 0);
    EXPECT_EQ(page.device.lastMaskColors[63], 0);
    // Three components need six values: the image is refused.
    page.run("/Short Do");
    EXPECT_EQ(images(page.device),
              Lines({"drawImage 1 1 1x8 key 1 2 3 4 5 6 7 8", "drawImage 1 1 1x8 key 3 9 0 0 0 0 0 0"}));
    EXPECT_EQ(countReports(page.errors, "Bad image parameters"), 1);
}

TEST(ImageXObjectTest, ExplicitAndSoftMasksGoToTheirSlots) {
    const std::string mask = streamText("/W 16 /H 2 /ImageMask true /Decode [1 0]", "abcd");
    const std::string soft = streamText("/Width 4 /Height 4 /BitsPerComponent 8 /ColorSpace /DeviceGray", "");
    ContentRun page(
        "<< /XObject << /M " +
        streamText("/Subtype /Image /W 4 /H 2 /BPC 8 /CS /G /Mask " + mask, "abcdefgh") + " /S " +
        streamText("/Subtype /Image /W 4 /H 2 /BPC 8 /CS /G /SMask " + soft, "abcdefgh") + " /RgbSoft " +
        streamText("/Subtype /Image /W 4 /H 2 /BPC 8 /CS /G /SMask " +
                       streamText("/W 4 /H 4 /BPC 8 /CS /DeviceRGB", ""),
                   "") +
        " /NotStencil " +
        streamText("/Subtype /Image /W 4 /H 2 /BPC 8 /CS /G /Mask " + streamText("/W 4 /H 4", ""), "") +
        " >> >>");
    page.run("/M Do /S Do /RgbSoft Do /NotStencil Do");
    EXPECT_EQ(images(page.device),
              Lines({"drawImageWithMask 4 2 mask 16 2 invert", "drawImageWithSoftMask 4 2 mask 4 4 8"}));
    EXPECT_EQ(countReports(page.errors, "Bad image parameters"), 2);
}

// Data that no decoder here reads would draw as a solid box: such an image
// is left out, and so is an image whose mask is such data; inline data is
// still skipped to its EI.
TEST(ImageXObjectTest, ImagesAndMasksWithoutADecoderAreLeftOut) {
    const std::string fax = streamText("/W 8 /H 1 /IM true /F /NoSuchDecode", "\x26\xa0");
    ContentRun page(
        "<< /XObject << /Fax " + streamText("/Subtype /Image /W 8 /H 1 /IM true /F /NoSuchDecode", "ab") +
        " /Chain " + streamText("/Subtype /Image /W 2 /H 1 /BPC 8 /CS /G /F [/NoSuchDecode /AHx]", "4142>") +
        " /Masked " + streamText("/Subtype /Image /W 4 /H 2 /BPC 8 /CS /G /Mask " + fax, "abcdefgh") +
        " /Soft " +
        streamText("/Subtype /Image /W 4 /H 2 /BPC 8 /CS /G /SMask " +
                       streamText("/W 4 /H 2 /BPC 8 /CS /G /F /NoSuchDecode", "xx"),
                   "abcdefgh") +
        " /Plain " + streamText("/Subtype /Image /W 4 /H 2 /BPC 8 /CS /G", "abcdefgh") + " >> >>");
    page.run(
        "/Fax Do /Chain Do /Masked Do /Soft Do /Plain Do BI /W 8 /H 1 /IM true /F /NoSuchDecode ID abc EI 0 "
        "0 m 1 1 l "
        "S");
    EXPECT_EQ(images(page.device), Lines({"drawImage 4 2 1x8"}));
    EXPECT_EQ(page.device.paths(), Lines({"stroke M 0 0 L 1 1"}));
    EXPECT_EQ(countReports(page.errors, "Bad image parameters"), 0);
}

TEST(ImageXObjectTest, DevicesWithoutNonTextDrawNoImages) {
    ContentRun page("<< /XObject << /I " + streamText("/Subtype /Image /W 1 /H 1 /BPC 8 /CS /G", "a") +
                    " >> >>");
    page.device.nonText = false;
    page.run("/I Do BI /W 1 /H 1 /BPC 8 /CS /G ID x EI");
    EXPECT_TRUE(images(page.device).empty());
}

TEST(FormXObjectTest, FormsRunInTheirBoxWithTheirMatrix) {
    ContentRun page("<< /XObject << /F " +
                    streamText("/Subtype /Form /BBox [0 0 10 20] /Matrix [2 0 0 2 5 5]", "0 0 m 1 1 l S") +
                    " /NoBox " + streamText("/Subtype /Form", "0 0 m 9 9 l S") + " >> >>");
    page.run("/F Do /NoBox Do");
    EXPECT_EQ(page.device.only({"updateMatrix", "clip", "stroke"}),
              Lines({"updateMatrix 2 0 0 2 5 5", "clip M 0 0 L 10 0 L 10 20 L 0 20 L 0 0 Z",
                     "stroke M 0 0 L 1 1"}));
    EXPECT_TRUE(page.errors.contains("without a BBox"));
}

TEST(FormXObjectTest, TransparencyGroupsStartNeutralAndArePainted) {
    ContentRun page(
        "<< /ExtGState << /G << /BM /Multiply /ca 0.5 >> >> /XObject << /F " +
        streamText("/Subtype /Form /BBox [0 0 10 20] /Group << /S /Transparency /CS /DeviceRGB /I "
                   "true /K true >>",
                   "0 0 m 1 1 l S") +
        " >> >>");
    page.run("/G gs /F Do");
    EXPECT_EQ(page.device.only({"updateBlendMode", "updateFillOpacity", "clearSoftMask",
                                "beginTransparencyGroup", "endTransparencyGroup", "paintTransparencyGroup"}),
              Lines({"updateBlendMode 1", "updateFillOpacity 0.5", "updateBlendMode 0", "updateFillOpacity 1",
                     "clearSoftMask", "beginTransparencyGroup 0 0 10 20 DeviceRGB isolated knockout",
                     "endTransparencyGroup", "paintTransparencyGroup"}));
}

TEST(FormXObjectTest, FormsByReferenceGoToDevicesThatDrawForms) {
    ContentRun page("<< /XObject << /F " + streamText("/Subtype /Form /BBox [0 0 1 1]", "0 0 m 1 1 l S") +
                    " /P " + streamText("/Subtype /PS", "") + " >> >>");
    page.device.forms = true;
    // A direct stream has no reference: it is run.
    page.run("/F Do /P Do");
    EXPECT_TRUE(page.device.only({"drawForm"}).empty());
    EXPECT_EQ(page.device.only({"stroke", "postScriptXObject"}),
              Lines({"stroke M 0 0 L 1 1", "postScriptXObject"}));
}

TEST(FormXObjectTest, AFormThatDrawsItselfStopsAtTheNestingBound) {
    // The form names itself through the page's resources.
    ContentRun page("<< /XObject << /F " +
                    streamText("/Subtype /Form /BBox [0 0 1 1]", "0 0 m 1 1 l S /F Do") + " >> >>");
    page.run("/F Do");
    EXPECT_EQ(page.device.only({"stroke"}).size(), size_t(ContentInterpreter::kMaxNesting));
    EXPECT_EQ(page.interpreter().getFormDepth(), 0);
}

TEST(InlineImageDrawTest, InlineImagesAreDrawnWithShortKeysAndTheContentGoesOn) {
    ContentRun page;
    page.run(
        "BI /W 2 /H 1 /BPC 8 /CS /RGB /F /AHx ID 454920454920> EI 0 0 m 1 1 l S\n"
        "BI /IM true /W 16 /H 1 /D [1 0] ID EI EI 2 2 m 3 3 l S");
    EXPECT_EQ(images(page.device), Lines({"drawImage 2 1 3x8 inline", "drawStencilMask 16 1 invert inline"}));
    EXPECT_EQ(page.device.paths(), Lines({"stroke M 0 0 L 1 1", "stroke M 2 2 L 3 3"}));
}

TEST(InlineImageDrawTest, InlineMasksAreIgnoredAndBadImagesSkippedToTheirEnd) {
    ContentRun page;
    page.run(
        "BI /W 1 /H 1 /BPC 8 /CS /G /SMask 3 ID x EI BI /W 0 /H 1 /BPC 8 /CS /G ID xE xEI 0 0 m 1 1 l S");
    EXPECT_EQ(images(page.device), Lines({"drawImage 1 1 1x8 inline"}));
    EXPECT_EQ(countReports(page.errors, "Bad image parameters"), 1);
    EXPECT_EQ(page.device.paths(), Lines({"stroke M 0 0 L 1 1"}));
}

}  // namespace
}  // namespace rendova::test
