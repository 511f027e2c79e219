#include "library/PageImageWriter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "image/RasterImage.h"
#include "platform/MetafileWriter.h"
#include "platform/TempFile.h"
#include "tests/library/LibraryTestSupport.h"
#include "tests/support/MetafileRecords.h"

namespace {

using rendova::PageImageWriter;
using rendova::RasterImage;
using namespace rendova::test;

// A page block as the renderer lends it: the 54-byte BMP header, then
// bottom-up 24-bit rows padded to 4 bytes. The top quarter of the page is
// green; below it the left half is red and the right half blue. `plain`
// asks for a white page.
struct PageBlock {
    std::vector<uint8_t> bytes;
    int32_t width;
    int32_t height;

    PageBlock(int32_t w, int32_t h, bool plain = false) : width(w), height(h) {
        const size_t row = (size_t(w) * 3 + 3) / 4 * 4;
        bytes.assign(54 + row * size_t(h), 0xFF);
        auto put32 = [&](size_t at, uint32_t v) {
            for (int i = 0; i < 4; ++i)
                bytes[at + i] = uint8_t(v >> (8 * i));
        };
        bytes[0] = 'B';
        bytes[1] = 'M';
        put32(2, uint32_t(bytes.size()));
        put32(6, 0);
        put32(10, 54);
        put32(14, 40);
        put32(18, uint32_t(w));
        put32(22, uint32_t(h));
        bytes[26] = 1;
        bytes[27] = 0;
        bytes[28] = 24;
        bytes[29] = 0;
        put32(30, 0);
        put32(34, uint32_t(row * size_t(h)));
        for (size_t at = 38; at < 54; ++at)
            bytes[at] = 0;
        if (plain)
            return;
        for (int32_t y = 0; y < h; ++y) {
            uint8_t* p = bytes.data() + 54 + row * size_t(y);
            const bool top = y >= h - h / 4;  // rows are stored bottom-up
            for (int32_t x = 0; x < w; ++x, p += 3) {
                const bool left = x < w / 2;
                p[0] = !top && !left ? 255 : 0;  // blue
                p[1] = top ? 255 : 0;            // green
                p[2] = !top && left ? 255 : 0;   // red
            }
        }
    }
    uint8_t* data() { return bytes.data(); }
    int32_t size() const { return int32_t(bytes.size()); }
};

class PageImageWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_folder = freshFolder(std::string("writer-") + info->name());
    }

    // Writes the block as `type` with the given depth settings; the path.
    std::string write(PageBlock& block, int32_t type, const std::string& name, int32_t bits = 24,
                      int32_t greyscale = 0, int32_t compression = 0, int32_t rotation = 0) {
        const std::string path = m_folder + name;
        PageImageWriter writer;
        writer.setup(block.width, block.height, bits, greyscale, 0, 0x0000FF, type, path.c_str(),
                     block.data(), block.size(), 0, 120, 120);
        writer.setCompression(compression);
        writer.setRotation(rotation);
        m_saved = writer.save(path.c_str());
        return path;
    }

    std::string m_folder;
    bool m_saved = false;  // what the last write's save() answered
};

int32_t paletteDepthFor(int32_t type, int32_t bits, int32_t greyscale) {
    PageBlock block(4, 4);
    PageImageWriter writer;
    writer.setup(4, 4, bits, greyscale, 0, 0, type, nullptr, block.data(), block.size(), 0, 120, 120);
    return writer.paletteDepth();
}

TEST_F(PageImageWriterTest, OutputDepthFollowsTheRulesOfEachType) {
    EXPECT_EQ(paletteDepthFor(PageImageWriter::kTypeGif, 16, 0), 8);
    EXPECT_EQ(paletteDepthFor(PageImageWriter::kTypePng, 16, 0), 0);
    EXPECT_EQ(paletteDepthFor(PageImageWriter::kTypeJpeg, 1, 0), 0);
    EXPECT_EQ(paletteDepthFor(PageImageWriter::kTypeJpeg, 1, 1), 8);
    EXPECT_EQ(paletteDepthFor(PageImageWriter::kTypeBmp, 4, 0), 4);
    EXPECT_EQ(paletteDepthFor(PageImageWriter::kTypeTiff, 1, 1), 1);
    PageBlock block(4, 4);
    PageImageWriter writer;
    writer.setup(4, 4, 24, 0, 0, 0, 9, nullptr, block.data(), block.size(), 0, 120, 120);
    EXPECT_EQ(writer.imageType(), PageImageWriter::kTypeBmp);
}

TEST_F(PageImageWriterTest, QualityAndResolutionAreClampedIntoTheBlock) {
    PageBlock block(4, 4);
    PageImageWriter writer;
    writer.setXDpi(300);  // no block yet: nothing happens
    EXPECT_EQ(writer.xDpi(), 120);
    writer.setup(4, 4, 24, 0, 0, 0, 1, nullptr, block.data(), block.size(), 0, 30, 1200);
    EXPECT_EQ(writer.xDpi(), 72);
    EXPECT_EQ(writer.yDpi(), 600);
    EXPECT_EQ(le32(block.bytes, 38), 2835u);   // 72 dpi in pixels per metre
    EXPECT_EQ(le32(block.bytes, 42), 23622u);  // 600 dpi
    writer.setQuality(0);
    EXPECT_EQ(writer.quality(), 1);
    writer.setQuality(150);
    EXPECT_EQ(writer.quality(), 100);
}

TEST_F(PageImageWriterTest, TiffCompressionCodesFollowTheSettingAndDepth) {
    const uint32_t expected[8][4] = {
        {1, 1, 1, 1}, {5, 5, 5, 5}, {4, 5, 7, 7}, {4, 32773, 32773, 32773},
        {4, 5, 5, 5}, {3, 5, 5, 5}, {2, 5, 5, 5}, {4, 5, 5, 5},
    };
    const int32_t depths[4] = {1, 4, 8, 24};
    for (int32_t setting = 0; setting < 8; ++setting)
        for (int d = 0; d < 4; ++d)
            EXPECT_EQ(PageImageWriter::tiffCompressionCode(setting, depths[d]), expected[setting][d])
                << setting << " " << depths[d];
    EXPECT_EQ(PageImageWriter::tiffCompressionCode(-1, 1), 4u);
}

// The depth and TIFF compression of a written file, read back.
struct Written {
    bool loaded = false;
    int32_t bits = 0;
    uint32_t compression = 0;
    int32_t frames = 0;
    bool greyPalette = false;
};
Written readBack(const std::string& path, uint32_t format) {
    RasterImage image;
    Written w;
    w.loaded = image.Load(path.c_str(), format);
    w.bits = image.GetBpp();
    w.compression = image.GetFormatOption(format);
    w.frames = image.info().frameCount;
    w.greyPalette = image.HasGreyPalette();
    return w;
}

TEST_F(PageImageWriterTest, EachTypeWritesTheDepthItsRulesChose) {
    PageBlock block(64, 32);
    // PNG with 16 bits per pixel: full colour.
    Written png = readBack(write(block, PageImageWriter::kTypePng, "p.png", 16), rendova::kFormatPng);
    ASSERT_TRUE(png.loaded);
    EXPECT_EQ(png.bits, 24);
    // JPEG ignores the bits: 24-bit colour, or 8-bit grey when asked.
    Written jpeg = readBack(write(block, PageImageWriter::kTypeJpeg, "c.jpg", 1), rendova::kFormatJpeg);
    ASSERT_TRUE(jpeg.loaded);
    EXPECT_EQ(jpeg.bits, 24);
    Written grey = readBack(write(block, PageImageWriter::kTypeJpeg, "g.jpg", 1, 1), rendova::kFormatJpeg);
    ASSERT_TRUE(grey.loaded);
    EXPECT_EQ(grey.bits, 8);
    EXPECT_TRUE(grey.greyPalette);
    // BMP at 1, 4 and 8 bits goes through the palette reduction.
    for (int32_t bits : {1, 4, 8}) {
        Written bmp =
            readBack(write(block, PageImageWriter::kTypeBmp, "d" + std::to_string(bits) + ".bmp", bits),
                     rendova::kFormatBmp);
        ASSERT_TRUE(bmp.loaded) << bits;
        EXPECT_EQ(bmp.bits, bits);
    }
}

TEST_F(PageImageWriterTest, FullColourBmpFromTheBlockIsTheFileTheImageWrites) {
    // An odd width, so that the rows carry padding.
    PageBlock block(33, 17);
    const std::string direct = write(block, PageImageWriter::kTypeBmp, "direct.bmp");
    ASSERT_TRUE(m_saved);
    RasterImage image(rendova::kFormatUnknown);
    ASSERT_TRUE(image.CreateFromDib(block.data() + 14, size_t(block.size() - 14)));
    image.SetDpiX(120);
    image.SetDpiY(120);
    const std::string routed = m_folder + "routed.bmp";
    ASSERT_TRUE(image.Save(routed.c_str(), rendova::kFormatBmp));
    EXPECT_EQ(readBytes(direct), readBytes(routed));
    // A block that does not hold the recorded page goes through the image,
    // which reads the size from the block.
    PageImageWriter writer;
    writer.setup(33, 18, 24, 0, 0, 0, PageImageWriter::kTypeBmp, nullptr, block.data(), block.size(), 0, 120,
                 120);
    EXPECT_TRUE(writer.save((m_folder + "short.bmp").c_str()));
    EXPECT_EQ(readBytes(m_folder + "short.bmp"), readBytes(direct));
}

TEST_F(PageImageWriterTest, UnusedPaletteEntriesReachTheFileAsZeros) {
    // Three colours on the page; the 16-entry table of a 4-bit file holds
    // them and thirteen zero entries.
    PageBlock block(16, 8);
    const std::string path = write(block, PageImageWriter::kTypeBmp, "four.bmp", 4);
    const std::vector<uint8_t> file = readBytes(path);
    ASSERT_GE(file.size(), 54u + 64);
    EXPECT_EQ(file[28], 4);
    int nonZero = 0;
    for (int entry = 0; entry < 16; ++entry) {
        const uint32_t value = le32(file, 54 + 4 * size_t(entry));
        if (value != 0)
            ++nonZero;
    }
    EXPECT_EQ(nonZero, 3);
    for (int entry = 3; entry < 16; ++entry)
        EXPECT_EQ(le32(file, 54 + 4 * size_t(entry)), 0u) << entry;
}

TEST_F(PageImageWriterTest, GifAndPcxPagesAreWrittenAtTheirDepth) {
    PageBlock block(8, 8);
    const std::pair<int32_t, uint32_t> types[] = {{PageImageWriter::kTypeGif, rendova::kFormatGif},
                                                  {PageImageWriter::kTypePcx, rendova::kFormatPcx}};
    for (const auto& [type, format] : types) {
        for (const int32_t bits : {1, 4, 8}) {
            Written page = readBack(write(block, type, "page" + std::to_string(bits), bits), format);
            ASSERT_TRUE(page.loaded) << type << " " << bits;
            EXPECT_EQ(page.bits, bits) << type;
        }
    }
}

TEST_F(PageImageWriterTest, TiffDepthAndCompressionAsTheSettingsSay) {
    PageBlock block(64, 32);
    // 1 bit, setting 6: CCITT run length.
    Written rle =
        readBack(write(block, PageImageWriter::kTypeTiff, "rle.tif", 1, 0, 6), rendova::kFormatTiff);
    ASSERT_TRUE(rle.loaded);
    EXPECT_EQ(rle.bits, 1);
    EXPECT_EQ(rle.compression, 2u);
    // 1 bit, setting 2: the page is reduced to 1 bit and written as Group 4,
    // never handed over as 24 bits.
    Written g4 = readBack(write(block, PageImageWriter::kTypeTiff, "g4.tif", 1, 0, 2), rendova::kFormatTiff);
    ASSERT_TRUE(g4.loaded);
    EXPECT_EQ(g4.bits, 1);
    EXPECT_EQ(g4.compression, 4u);
    // 4 bits, setting 2: reduced to 4 bits, LZW.
    Written lzw =
        readBack(write(block, PageImageWriter::kTypeTiff, "lzw4.tif", 4, 0, 2), rendova::kFormatTiff);
    ASSERT_TRUE(lzw.loaded);
    EXPECT_EQ(lzw.bits, 4);
    EXPECT_EQ(lzw.compression, 5u);
    // 8 bits, setting 2: grey and JPEG.
    Written jpeg =
        readBack(write(block, PageImageWriter::kTypeTiff, "j8.tif", 8, 0, 2), rendova::kFormatTiff);
    ASSERT_TRUE(jpeg.loaded);
    EXPECT_EQ(jpeg.bits, 8);
    EXPECT_EQ(jpeg.compression, 7u);
    EXPECT_TRUE(jpeg.greyPalette);
    // 24 bits, setting 3: PackBits.
    Written packBits =
        readBack(write(block, PageImageWriter::kTypeTiff, "pb.tif", 24, 0, 3), rendova::kFormatTiff);
    ASSERT_TRUE(packBits.loaded);
    EXPECT_EQ(packBits.bits, 24);
    EXPECT_EQ(packBits.compression, 32773u);
}

TEST_F(PageImageWriterTest, KeptWriterAppendsOnePagePerCallAndReplacesAnOldFile) {
    const std::string path = m_folder + "doc.tif";
    std::ofstream(path) << "an older file of the same name";
    PageBlock block(32, 16);
    {
        PageImageWriter writer;
        for (int page = 1; page <= 3; ++page) {
            writer.setup(32, 16, 24, 0, 0, 0, PageImageWriter::kTypeTiff, path.c_str(), block.data(),
                         block.size(), 1, 120, 120);
            writer.setCompression(1);
            writer.save(path.c_str());
        }
        EXPECT_EQ(writer.tiffPagesWritten(), 3);
    }
    Written tiff = readBack(path, rendova::kFormatTiff);
    ASSERT_TRUE(tiff.loaded);
    EXPECT_EQ(tiff.frames, 3);
}

TEST_F(PageImageWriterTest, HugePageIsSpilledToATemporaryFileThatGoesWithTheWriter) {
    // 10000 x 10000 x 3 bytes exceed the 256 MiB limit.
    PageBlock block(10000, 10000, true);
    const std::string path = m_folder + "huge.jpg";
    std::string spill;
    {
        PageImageWriter writer;
        writer.setup(10000, 10000, 24, 1, 0, 0, PageImageWriter::kTypeJpeg, path.c_str(), block.data(),
                     block.size(), 0, 120, 120);
        spill = writer.spillFile();
        ASSERT_FALSE(spill.empty());
        EXPECT_EQ(fs::file_size(spill), block.bytes.size());
        EXPECT_EQ(spill.find(platform::tempDirectory()), 0u);
        writer.save(path.c_str());
    }
    EXPECT_FALSE(fs::exists(spill));
    Written jpeg = readBack(path, rendova::kFormatJpeg);
    EXPECT_TRUE(jpeg.loaded);
    fs::remove(path);
}

TEST_F(PageImageWriterTest, PageJustUnderTheLimitStaysInMemory) {
    PageBlock block(9000, 9000, true);  // 243,000,000 bytes
    PageImageWriter writer;
    writer.setup(9000, 9000, 24, 0, 0, 0, PageImageWriter::kTypeGif, nullptr, block.data(), block.size(), 0,
                 120, 120);
    EXPECT_TRUE(writer.spillFile().empty());
}

// --- Metafiles ----------------------------------------------------------

TEST_F(PageImageWriterTest, EmfPageIsFramedFromTheScreenAndLaidOnWhite) {
    PageBlock block(200, 100);
    const std::string path = write(block, PageImageWriter::kTypeEmf, "page.emf");
    const std::vector<uint8_t> file = readBytes(path);
    const auto records = emfRecords(file);
    ASSERT_FALSE(records.empty());
    // Frame: width x HORZSIZE x 100 / HORZRES, height x VERTSIZE x 100 / VERTRES.
    EXPECT_EQ(les32(file, 24), 0);
    EXPECT_EQ(les32(file, 28), 0);
    EXPECT_EQ(les32(file, 32), 200 * platform::kScreenHorzSize * 100 / platform::kScreenHorzRes);
    EXPECT_EQ(les32(file, 36), 100 * platform::kScreenVertSize * 100 / platform::kScreenVertRes);
    EXPECT_EQ(les32(file, 32), 5291);
    // Bounds: the page's pixels, inclusive.
    EXPECT_EQ(les32(file, 16), 199);
    EXPECT_EQ(les32(file, 20), 99);
    EXPECT_EQ(le32(file, 52), records.size());
    EXPECT_EQ(le32(file, 48), file.size());

    std::vector<uint32_t> types;
    for (const auto& r : records)
        types.push_back(r.type);
    EXPECT_EQ(types, (std::vector<uint32_t>{1, 38, 37, 39, 37, 43, 37, 37, 40, 40, 21, 81, 14}));
    // The pen and brush are white although the job asked for red.
    EXPECT_EQ(le32(file, records[1].offset + 24), 0xFFFFFFu);
    EXPECT_EQ(le32(file, records[3].offset + 16), 0xFFFFFFu);
    EXPECT_EQ(le32(file, records[10].offset + 8), 3u);  // colour on colour
    const size_t s = records[11].offset;
    EXPECT_EQ(records[11].size, 80u + 40 + 200 * 3 * 100);
    EXPECT_EQ(les32(file, s + 72), 200);
    EXPECT_EQ(les32(file, s + 76), 100);
    EXPECT_EQ(le32(file, s + 68), 0x00CC0020u);
    // The first stored row (the bottom of the page) starts red, ends blue;
    // the last (the top) is green.
    const size_t bits = s + le32(file, s + 56);
    EXPECT_EQ(file[bits + 2], 255);
    EXPECT_EQ(file[bits + 199 * 3], 255);
    EXPECT_EQ(file[bits + 99 * 600 + 1], 255);
}

TEST_F(PageImageWriterTest, RotatedMetafilePageTakesTheTurnedSize) {
    PageBlock block(200, 100);
    const std::string path = write(block, PageImageWriter::kTypeEmf, "turned.emf", 24, 0, 0, 90);
    const std::vector<uint8_t> file = readBytes(path);
    ASSERT_FALSE(emfRecords(file).empty());
    // A quarter turn swaps the sides (the rotation adds a small margin).
    EXPECT_GT(les32(file, 20), les32(file, 16));
    EXPECT_EQ(les32(file, 32),
              (les32(file, 16) + 1) * platform::kScreenHorzSize * 100 / platform::kScreenHorzRes);
}

TEST_F(PageImageWriterTest, WmfPageHasPlaceableBoundsAndTheBitmapRecord) {
    PageBlock block(200, 100);
    const std::string path = write(block, PageImageWriter::kTypeWmf, "page.wmf");
    const std::vector<uint8_t> file = readBytes(path);
    const auto records = wmfRecords(file);
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(les16(file, 10), 200);
    EXPECT_EQ(les16(file, 12), 100);
    EXPECT_EQ(le16(file, 14), 96);
    std::vector<uint32_t> functions;
    for (const auto& r : records)
        functions.push_back(r.type);
    EXPECT_EQ(functions, (std::vector<uint32_t>{0x02FA, 0x012D, 0x02FC, 0x012D, 0x041B, 0x01F0, 0x01F0,
                                                0x0107, 0x0F43, 0x0000}));
    EXPECT_EQ(records[8].size, 28u + 40 + 200 * 3 * 100);
    EXPECT_EQ(uint64_t(le32(file, 28)) * 2, file.size() - 22);
}

TEST_F(PageImageWriterTest, WmfPageBeyondSixteenBitsFailsCleanly) {
    PageBlock block(40000, 2, true);
    const std::string path = write(block, PageImageWriter::kTypeWmf, "wide.wmf");
    EXPECT_FALSE(fs::exists(path));
    // The same page as EMF is fine.
    EXPECT_TRUE(fs::exists(write(block, PageImageWriter::kTypeEmf, "wide.emf")));
}

// ImageMagick reads WMF through libwmf when its WMF coder is installed
// (Debian: libmagickcore-6.q16-6-extra).
bool imageMagickReadsWmf() {
    FILE* pipe = popen("convert -list format 2>/dev/null", "r");
    if (pipe == nullptr)
        return false;
    std::string text;
    char buffer[4096];
    while (size_t got = fread(buffer, 1, sizeof buffer, pipe))
        text.append(buffer, got);
    pclose(pipe);
    return text.find(" WMF") != std::string::npos;
}

TEST_F(PageImageWriterTest, ImageMagickShowsOurWmfPage) {
    if (!imageMagickReadsWmf())
        GTEST_SKIP() << "ImageMagick has no WMF coder here; the records are checked by our own reader above";
    PageBlock block(200, 100);
    const std::string path = write(block, PageImageWriter::kTypeWmf, "shown.wmf");
    const std::string png = m_folder + "shown.png";
    const std::string command = "convert -density 96 '" + path + "' '" + png + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    RasterImage image;
    ASSERT_TRUE(image.Load(png.c_str(), rendova::kFormatPng)) << image.LastErrorText();
    EXPECT_NEAR(image.GetWidth(), 200, 2);
    EXPECT_NEAR(image.GetHeight(), 100, 2);
    // Upright: green along the top; below it left half red, right half blue.
    const rendova::RgbQuad top = image.ReadColor(image.GetWidth() / 2, image.GetHeight() - 2);
    EXPECT_GT(top.green, 200);
    EXPECT_LT(top.red, 60);
    const int32_t y = image.GetHeight() / 4;
    const rendova::RgbQuad left = image.ReadColor(image.GetWidth() / 4, y);
    const rendova::RgbQuad right = image.ReadColor(image.GetWidth() * 3 / 4, y);
    EXPECT_GT(left.red, 200);
    EXPECT_LT(left.blue, 60);
    EXPECT_GT(right.blue, 200);
    EXPECT_LT(right.red, 60);
}

}  // namespace
