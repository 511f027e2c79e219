#include "platform/MetafileWriter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "tests/support/MetafileRecords.h"

namespace {

namespace fs = std::filesystem;
using platform::MetafileWriter;
using platform::MetaRect;
using rendova::test::emfRecords;
using rendova::test::le16;
using rendova::test::le32;
using rendova::test::les16;
using rendova::test::les32;
using rendova::test::readBytes;
using rendova::test::wmfRecords;

std::string outputPath(const std::string& name) {
    fs::create_directories("metafile-writer");
    return "metafile-writer/" + name;
}

// A 2 x 2 24-bit bitmap: its 40-byte info header and two rows of 8 bytes.
struct SmallDib {
    uint8_t info[40] = {};
    uint8_t bits[16] = {};
    SmallDib() {
        info[0] = 40;
        info[4] = 2;   // width
        info[8] = 2;   // height
        info[12] = 1;  // planes
        info[14] = 24;
        for (int i = 0; i < 16; ++i)
            bits[i] = uint8_t(i * 16);
    }
};

// The calls a page writer makes, on either kind of file.
void recordPage(MetafileWriter& writer, int32_t width, int32_t height, const SmallDib& dib) {
    const uint32_t pen = writer.createPen(platform::kPenSolid, 1, 0xFFFFFF);
    EXPECT_EQ(writer.selectObject(pen), platform::kStockBlackPen);
    const uint32_t brush = writer.createSolidBrush(0xFFFFFF);
    EXPECT_EQ(writer.selectObject(brush), platform::kStockWhiteBrush);
    EXPECT_TRUE(writer.rectangle(0, 0, width, height));
    EXPECT_EQ(writer.selectObject(platform::kStockBlackPen), pen);
    EXPECT_EQ(writer.selectObject(platform::kStockWhiteBrush), brush);
    EXPECT_TRUE(writer.deleteObject(pen));
    EXPECT_TRUE(writer.deleteObject(brush));
    EXPECT_EQ(writer.setStretchBltMode(3), platform::kStretchBlackOnWhite);
    EXPECT_EQ(writer.stretchDibits(0, 0, width, height, 0, 0, 2, 2, dib.bits, sizeof dib.bits, dib.info,
                                   sizeof dib.info, 0, 0x00CC0020),
              2);
}

TEST(MetafileWriter, ScreenIsNinetySixDotsPerInchOnWholeMillimetres) {
    using namespace platform;
    EXPECT_EQ(screenDeviceCaps(kDeviceCapLogPixelsX), 96);
    EXPECT_EQ(screenDeviceCaps(kDeviceCapLogPixelsY), 96);
    // Pixels over inches (millimetres / 25.4) give the same 96 in both axes.
    EXPECT_EQ(screenDeviceCaps(kDeviceCapHorzRes) * 254, 96 * screenDeviceCaps(kDeviceCapHorzSize) * 10);
    EXPECT_EQ(screenDeviceCaps(kDeviceCapVertRes) * 254, 96 * screenDeviceCaps(kDeviceCapVertSize) * 10);
    EXPECT_EQ(screenDeviceCaps(12), 0);
}

TEST(MetafileWriter, EnhancedFileHasHeaderRecordsAndEndInPublishedLayout) {
    const std::string path = outputPath("page.emf");
    const SmallDib dib;
    {
        auto writer =
            MetafileWriter::createEnhMetaFile(path, MetaRect{0, 0, 2646, 3969}, std::string("App\0Pic\0", 8));
        ASSERT_NE(writer, nullptr);
        recordPage(*writer, 100, 150, dib);
        EXPECT_TRUE(writer->close());
    }
    const std::vector<uint8_t> file = readBytes(path);
    const auto records = emfRecords(file);
    ASSERT_EQ(records.size(), 13u);
    const std::vector<uint32_t> types = {1, 38, 37, 39, 37, 43, 37, 37, 40, 40, 21, 81, 14};
    for (size_t i = 0; i < types.size(); ++i)
        EXPECT_EQ(records[i].type, types[i]) << i;

    // Header: bounds of what was drawn (inclusive), the frame as given, the
    // signature, file size, record count, handle count, description, device.
    EXPECT_EQ(records[0].size, 108u + 20);  // "App\0Pic\0\0" as 16-bit characters, padded
    EXPECT_EQ(les32(file, 8), 0);
    EXPECT_EQ(les32(file, 12), 0);
    EXPECT_EQ(les32(file, 16), 99);
    EXPECT_EQ(les32(file, 20), 149);
    EXPECT_EQ(les32(file, 24), 0);
    EXPECT_EQ(les32(file, 32), 2646);
    EXPECT_EQ(les32(file, 36), 3969);
    EXPECT_EQ(le32(file, 40), 0x464D4520u);
    EXPECT_EQ(le32(file, 44), 0x10000u);
    EXPECT_EQ(le32(file, 48), file.size());
    EXPECT_EQ(le32(file, 52), 13u);
    EXPECT_EQ(le16(file, 56), 3);  // slot 0 and the pen and brush
    EXPECT_EQ(le32(file, 60), 9u);
    EXPECT_EQ(le32(file, 64), 108u);
    EXPECT_EQ(le16(file, 108), 'A');
    EXPECT_EQ(le16(file, 114), 0);
    EXPECT_EQ(le16(file, 116), 'P');
    EXPECT_EQ(le32(file, 72), 1920u);
    EXPECT_EQ(le32(file, 76), 1440u);
    EXPECT_EQ(le32(file, 80), 508u);
    EXPECT_EQ(le32(file, 84), 381u);
    EXPECT_EQ(le32(file, 100), 508000u);

    // Pen: index 1, solid, width 1, white. Brush: index 2. Rectangle box is
    // inclusive.
    EXPECT_EQ(records[1].size, 28u);
    EXPECT_EQ(le32(file, records[1].offset + 8), 1u);
    EXPECT_EQ(le32(file, records[1].offset + 16), 1u);
    EXPECT_EQ(le32(file, records[1].offset + 24), 0xFFFFFFu);
    EXPECT_EQ(le32(file, records[3].offset + 8), 2u);
    EXPECT_EQ(les32(file, records[5].offset + 16), 99);
    EXPECT_EQ(les32(file, records[5].offset + 20), 149);
    EXPECT_EQ(le32(file, records[6].offset + 8), platform::kStockBlackPen);
    EXPECT_EQ(le32(file, records[10].offset + 8), 3u);

    // The stretch: bounds, source, offsets of the info and the bits, their
    // sizes, operation and destination size, then the bitmap itself.
    const size_t s = records[11].offset;
    EXPECT_EQ(records[11].size, 80u + 40 + 16);
    EXPECT_EQ(les32(file, s + 16), 99);
    EXPECT_EQ(les32(file, s + 40), 2);  // source width
    EXPECT_EQ(le32(file, s + 48), 80u);
    EXPECT_EQ(le32(file, s + 52), 40u);
    EXPECT_EQ(le32(file, s + 56), 120u);
    EXPECT_EQ(le32(file, s + 60), 16u);
    EXPECT_EQ(le32(file, s + 68), 0x00CC0020u);
    EXPECT_EQ(les32(file, s + 72), 100);
    EXPECT_EQ(les32(file, s + 76), 150);
    EXPECT_EQ(file[s + 120 + 15], 240);
    EXPECT_EQ(records[12].size, 20u);
    EXPECT_EQ(le32(file, records[12].offset + 16), 20u);
}

TEST(MetafileWriter, WindowsFileHasPlaceableBoundsAndWordSizedRecords) {
    const std::string path = outputPath("page.wmf");
    const SmallDib dib;
    {
        auto writer = MetafileWriter::createMetaFile(path);
        ASSERT_NE(writer, nullptr);
        recordPage(*writer, 100, 150, dib);
        EXPECT_TRUE(writer->close());
    }
    const std::vector<uint8_t> file = readBytes(path);
    // Placeable header: key, bounds (right and bottom exclusive), 96 units
    // per inch, and the checksum of its first ten words.
    EXPECT_EQ(le32(file, 0), 0x9AC6CDD7u);
    EXPECT_EQ(les16(file, 6), 0);
    EXPECT_EQ(les16(file, 10), 100);
    EXPECT_EQ(les16(file, 12), 150);
    EXPECT_EQ(le16(file, 14), 96);
    uint16_t checksum = 0;
    for (size_t i = 0; i < 20; i += 2)
        checksum ^= le16(file, i);
    EXPECT_EQ(le16(file, 20), checksum);
    // Metafile header: type, 9 words, version 3, size in words, objects,
    // largest record.
    EXPECT_EQ(le16(file, 22), 1);
    EXPECT_EQ(le16(file, 24), 9);
    EXPECT_EQ(le16(file, 26), 0x0300);
    EXPECT_EQ(uint64_t(le32(file, 28)) * 2, file.size() - 22);
    EXPECT_EQ(le16(file, 32), 2);

    const auto records = wmfRecords(file);
    // No stock objects in this format: selecting the defaults again leaves
    // no record.
    const std::vector<uint32_t> functions = {0x02FA, 0x012D, 0x02FC, 0x012D, 0x041B,
                                             0x01F0, 0x01F0, 0x0107, 0x0F43, 0x0000};
    ASSERT_EQ(records.size(), functions.size());
    for (size_t i = 0; i < functions.size(); ++i)
        EXPECT_EQ(records[i].type, functions[i]) << i;
    EXPECT_EQ(records[0].size, 16u);
    EXPECT_EQ(records[2].size, 14u);
    EXPECT_EQ(le16(file, records[3].offset + 6), 1);  // the brush took slot 1
    // Rectangle parameters in reverse order: bottom, right, top, left.
    EXPECT_EQ(les16(file, records[4].offset + 6), 150);
    EXPECT_EQ(les16(file, records[4].offset + 8), 100);
    const size_t s = records[8].offset;
    EXPECT_EQ(records[8].size, 28u + 40 + 16);
    EXPECT_EQ(le32(file, 34), records[8].size / 2);  // the largest record
    EXPECT_EQ(le32(file, s + 6), 0x00CC0020u);
    EXPECT_EQ(les16(file, s + 12), 2);    // source height
    EXPECT_EQ(les16(file, s + 20), 150);  // destination height
    EXPECT_EQ(les16(file, s + 22), 100);  // destination width
    EXPECT_EQ(records[9].size, 6u);
}

TEST(MetafileWriter, WindowsFileRefusesCoordinatesBeyondSixteenBitsAndLeavesNoFile) {
    const std::string path = outputPath("wide.wmf");
    const SmallDib dib;
    auto writer = MetafileWriter::createMetaFile(path);
    ASSERT_NE(writer, nullptr);
    EXPECT_FALSE(writer->rectangle(0, 0, 40000, 10));
    EXPECT_TRUE(writer->failed());
    EXPECT_EQ(writer->stretchDibits(0, 0, 40000, 10, 0, 0, 2, 2, dib.bits, 16, dib.info, 40, 0, 0), 0);
    EXPECT_FALSE(writer->close());
    EXPECT_FALSE(fs::exists(path));
    // The 32-bit enhanced format takes the same page.
    auto enhanced = MetafileWriter::createEnhMetaFile(outputPath("wide.emf"), MetaRect{0, 0, 1, 1}, "");
    ASSERT_NE(enhanced, nullptr);
    EXPECT_TRUE(enhanced->rectangle(0, 0, 40000, 10));
    EXPECT_TRUE(enhanced->close());
}

TEST(MetafileWriter, EmptyPictureHasEmptyBoundsAndObjectSlotsAreReused) {
    const std::string path = outputPath("empty.emf");
    {
        auto writer = MetafileWriter::createEnhMetaFile(path, MetaRect{0, 0, 10, 10}, "");
        ASSERT_NE(writer, nullptr);
        const uint32_t first = writer->createSolidBrush(0);
        EXPECT_TRUE(writer->deleteObject(first));
        EXPECT_EQ(writer->createSolidBrush(0), first);
        EXPECT_EQ(writer->selectObject(12345), 0u);
        EXPECT_FALSE(writer->deleteObject(12345));
        EXPECT_FALSE(writer->failed());
    }  // destroying the writer closes the file
    const std::vector<uint8_t> file = readBytes(path);
    ASSERT_FALSE(emfRecords(file).empty());
    EXPECT_EQ(les32(file, 8), 0);
    EXPECT_EQ(les32(file, 16), -1);
    EXPECT_EQ(les32(file, 20), -1);
    EXPECT_EQ(le32(file, 60), 0u);  // no description
    EXPECT_EQ(le32(file, 64), 0u);
    EXPECT_EQ(le16(file, 56), 2);
}

TEST(MetafileWriter, UnwritablePathGivesNoWriter) {
    EXPECT_EQ(MetafileWriter::createMetaFile("no-such-folder/x/y.wmf"), nullptr);
    EXPECT_EQ(MetafileWriter::createEnhMetaFile("no-such-folder/x/y.emf", MetaRect{}, ""), nullptr);
}

}  // namespace
