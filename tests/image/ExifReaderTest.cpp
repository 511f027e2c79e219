// The EXIF reader over hand-built marker sections and directories: the
// resolution rules, hostile directory links and offsets, the section and
// comment limits, and carrying an EXIF block into a newly encoded file.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "image/ExifReader.h"
#include "image/MemoryStream.h"
#include "image/RasterImageJPG.h"
#include "tests/image/CodecTestUtil.h"

namespace rendova {
namespace {

using test::append16;
using test::append32;
using test::Bytes;

// One directory entry, little-endian.
void entry(Bytes& out, uint16_t tag, uint16_t format, uint32_t count, uint32_t value) {
    append16(out, tag);
    append16(out, format);
    append32(out, count);
    append32(out, value);
}

// The TIFF header ("II", 42, first directory at 8).
Bytes tiffHeader() {
    Bytes out = {'I', 'I'};
    append16(out, 42);
    append32(out, 8);
    return out;
}

// An APP1 section holding "Exif" and the given TIFF structure.
Bytes exifSection(const Bytes& tiff) {
    Bytes out = {0xFF, 0xE1};
    const size_t length = 2 + 6 + tiff.size();
    out.push_back(uint8_t(length >> 8));
    out.push_back(uint8_t(length));
    for (char c : std::string("Exif"))
        out.push_back(uint8_t(c));
    out.push_back(0);
    out.push_back(0);
    out.insert(out.end(), tiff.begin(), tiff.end());
    return out;
}

Bytes segment(uint8_t marker, const Bytes& payload) {
    Bytes out = {0xFF, marker, uint8_t((payload.size() + 2) >> 8), uint8_t(payload.size() + 2)};
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

// `sections` inserted right after the start-of-image marker of `jpeg`.
Bytes insertAfterStart(const Bytes& jpeg, const Bytes& sections) {
    Bytes out(jpeg.begin(), jpeg.begin() + 2);
    out.insert(out.end(), sections.begin(), sections.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

Bytes smallJpeg() {
    RasterImage image;
    test::paintPicture(image, 16, 16);
    image.SetDpiX(72);
    image.SetDpiY(72);
    return test::encodeBytes(image, kFormatJpeg);
}

// A first directory with x and y resolution and the resolution unit.
Bytes resolutionTiff(uint32_t numerator, uint16_t unit) {
    Bytes tiff = tiffHeader();
    append16(tiff, 3);
    const uint32_t data = 8 + 2 + 3 * 12 + 4;
    entry(tiff, 282, 5, 1, data);
    entry(tiff, 283, 5, 1, data + 8);
    entry(tiff, 296, 3, 1, unit);
    append32(tiff, 0);
    for (int i = 0; i < 2; ++i) {
        append32(tiff, numerator);
        append32(tiff, 1);
    }
    return tiff;
}

bool decodeExif(ExifReader& reader, const Bytes& bytes, int mode = ExifReader::kParseExif) {
    Bytes copy = bytes;
    MemoryStream stream(copy.data(), int32_t(copy.size()));
    return reader.DecodeExif(&stream, mode);
}

TEST(ExifReader, ResolutionInItsUnitWinsOverTheJfifDensity) {
    const Bytes jpeg = smallJpeg();
    ASSERT_FALSE(jpeg.empty());
    RasterImage inches;
    ASSERT_TRUE(
        test::decodeBytes(inches, insertAfterStart(jpeg, exifSection(resolutionTiff(300, 2))), kFormatJpeg));
    EXPECT_EQ(inches.GetDpiX(), 300);
    EXPECT_EQ(inches.GetDpiY(), 300);

    // 118 dots per centimetre are 299.7 dots per inch, truncated.
    RasterImage centimetres;
    ASSERT_TRUE(test::decodeBytes(centimetres, insertAfterStart(jpeg, exifSection(resolutionTiff(118, 3))),
                                  kFormatJpeg));
    EXPECT_EQ(centimetres.GetDpiX(), 299);

    // Without a resolution unit the EXIF resolution is not used.
    Bytes noUnit = tiffHeader();
    append16(noUnit, 1);
    entry(noUnit, 282, 5, 1, 8 + 2 + 12 + 4);
    append32(noUnit, 0);
    append32(noUnit, 600);
    append32(noUnit, 1);
    RasterImage jfif;
    ASSERT_TRUE(test::decodeBytes(jfif, insertAfterStart(jpeg, exifSection(noUnit)), kFormatJpeg));
    EXPECT_EQ(jfif.GetDpiX(), 72);
}

TEST(ExifReader, SelfLinkedAndCyclicDirectoriesEndAtOnce) {
    // The first directory links to itself as its successor and names
    // itself as its EXIF sub-directory; a second cycle runs through a
    // sub-directory that links back to the first.
    Bytes tiff = tiffHeader();
    append16(tiff, 2);
    entry(tiff, 274, 3, 1, 6);
    entry(tiff, 0x8769, 4, 1, 8);
    append32(tiff, 8);
    const Bytes jpeg = insertAfterStart(smallJpeg(), exifSection(tiff));

    const auto start = std::chrono::steady_clock::now();
    ExifReader reader;
    EXPECT_TRUE(decodeExif(reader, jpeg));
    EXPECT_EQ(reader.data().isExif, 1);
    EXPECT_EQ(reader.data().orientation, 6);

    Bytes cycle = tiffHeader();
    append16(cycle, 1);
    entry(cycle, 0xA005, 4, 1, 8 + 2 + 12 + 4);
    append32(cycle, 0);
    append16(cycle, 1);                   // the sub-directory
    entry(cycle, 272, 2, 4, 0x00544F42);  // "BOT"
    append32(cycle, 8);                   // back to the first
    ExifReader second;
    EXPECT_TRUE(decodeExif(second, insertAfterStart(smallJpeg(), exifSection(cycle))));
    EXPECT_STREQ(second.data().cameraModel, "BOT");

    // A long chain of distinct directories is cut off, not followed forever.
    Bytes chain = tiffHeader();
    for (uint32_t i = 0; i < 200; ++i) {
        append16(chain, 0);
        append32(chain, 8 + 6 * (i + 1));
    }
    append16(chain, 0);
    append32(chain, 0);
    ExifReader third;
    EXPECT_TRUE(decodeExif(third, insertAfterStart(smallJpeg(), exifSection(chain))));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(ExifReader, OffsetsAreCheckedWithoutWrapping) {
    // 2^29 rationals are 2^32 bytes: a 32-bit byte count would wrap to 0.
    Bytes wrapping = tiffHeader();
    append16(wrapping, 1);
    entry(wrapping, 282, 5, 0x20000000, 16);
    append32(wrapping, 0);
    ExifReader reader;
    EXPECT_TRUE(decodeExif(reader, insertAfterStart(smallJpeg(), exifSection(wrapping))));
    EXPECT_EQ(reader.data().isExif, 0);
    EXPECT_STREQ(reader.errorText(), "Illegal pointer offset value in EXIF.");

    // An offset near 2^32 whose sum with the count wraps past the block.
    Bytes nearTop = tiffHeader();
    append16(nearTop, 1);
    entry(nearTop, 271, 2, 16, 0xFFFFFFF8);
    append32(nearTop, 0);
    ExifReader second;
    EXPECT_TRUE(decodeExif(second, insertAfterStart(smallJpeg(), exifSection(nearTop))));
    EXPECT_EQ(second.data().isExif, 0);
    EXPECT_STREQ(second.errorText(), "Illegal pointer offset value in EXIF.");

    Bytes badLink = tiffHeader();
    append16(badLink, 1);
    entry(badLink, 0x8769, 4, 1, 0xFFFFFFF0);
    append32(badLink, 0);
    ExifReader third;
    EXPECT_TRUE(decodeExif(third, insertAfterStart(smallJpeg(), exifSection(badLink))));
    EXPECT_STREQ(third.errorText(), "Illegal subdirectory link");

    Bytes tooManyEntries = tiffHeader();
    append16(tooManyEntries, 0xFFFF);
    ExifReader fourth;
    EXPECT_TRUE(decodeExif(fourth, insertAfterStart(smallJpeg(), exifSection(tooManyEntries))));
    EXPECT_STREQ(fourth.errorText(), "Illegally sized directory");

    // A zero-count double sits in its entry: it is not read at all.
    Bytes emptyValue = tiffHeader();
    append16(emptyValue, 1);
    entry(emptyValue, 282, 12, 0, 0);
    append32(emptyValue, 0);
    ExifReader fifth;
    EXPECT_TRUE(decodeExif(fifth, insertAfterStart(smallJpeg(), exifSection(emptyValue))));
    EXPECT_EQ(fifth.data().isExif, 1);
    EXPECT_EQ(fifth.data().xResolution, 0.0f);
}

TEST(ExifReader, TagsAndUndefinedOrientation) {
    Bytes tiff = {'M', 'M', 0, 42, 0, 0, 0, 8};  // big-endian this time
    const auto put16 = [&](uint32_t v) {
        tiff.push_back(uint8_t(v >> 8));
        tiff.push_back(uint8_t(v));
    };
    const auto put32 = [&](uint32_t v) {
        put16(v >> 16);
        put16(v & 0xFFFF);
    };
    put16(3);
    const uint32_t data = 8 + 2 + 3 * 12 + 4;
    put16(271), put16(2), put32(8), put32(data);  // make, 8 bytes
    put16(274), put16(3), put32(1), put32(9u << 16);
    put16(34855), put16(3), put32(1), put32(2u << 16);
    put32(0);
    for (char c : std::string("Rendova"))
        tiff.push_back(uint8_t(c));
    tiff.push_back(0);
    ExifReader reader;
    ASSERT_TRUE(decodeExif(reader, insertAfterStart(smallJpeg(), exifSection(tiff))));
    EXPECT_EQ(reader.data().isExif, 1);
    EXPECT_STREQ(reader.data().cameraMake, "Rendova");
    EXPECT_EQ(reader.data().orientation, 0);
    EXPECT_EQ(reader.data().isoEquivalent, 400);  // small values are in units of 200
    EXPECT_EQ(reader.data().width, 16);
    EXPECT_EQ(reader.data().height, 16);
    EXPECT_EQ(reader.data().isColour, 1);
}

TEST(ExifReader, CommentKeepsAtMost999Characters) {
    Bytes text(1500, 'a');
    text[0] = '\r';
    text[1] = '\n';
    text[2] = 0x01;
    ExifReader reader;
    ASSERT_TRUE(decodeExif(reader, insertAfterStart(smallJpeg(), segment(0xFE, text))));
    const char* comment = reader.data().comment;
    EXPECT_EQ(std::strlen(comment), 999u);
    EXPECT_EQ(comment[0], '\n');  // CR LF became LF
    EXPECT_EQ(comment[1], '?');   // not printable
}

TEST(ExifReader, SectionTableNeverTakesMoreThanTwenty) {
    Bytes many;
    for (int i = 0; i < 25; ++i) {
        const Bytes s = segment(0xE2, Bytes(4, uint8_t(i)));
        many.insert(many.end(), s.begin(), s.end());
    }
    ExifReader reader;
    EXPECT_FALSE(decodeExif(reader, insertAfterStart(smallJpeg(), many)));
    EXPECT_STREQ(reader.errorText(), "Too many sections in jpg file");
    EXPECT_EQ(reader.sectionCount(), ExifReader::kMaxSections);

    // Nineteen sections and the start of scan fill the table: the image
    // data would be a twenty-first entry.
    Bytes full = {0xFF, 0xD8};
    for (int i = 0; i < 19; ++i) {
        const Bytes s = segment(0xE2, Bytes(4, uint8_t(i)));
        full.insert(full.end(), s.begin(), s.end());
    }
    const Bytes sos = segment(0xDA, Bytes(10, 0));
    full.insert(full.end(), sos.begin(), sos.end());
    full.insert(full.end(), {0x12, 0x34, 0xFF, 0xD9});
    ExifReader second;
    EXPECT_FALSE(decodeExif(second, full, ExifReader::kReadImageData));
    EXPECT_STREQ(second.errorText(), "Too many sections in jpg file");
    EXPECT_EQ(second.sectionCount(), ExifReader::kMaxSections);
    ExifReader headersOnly;
    EXPECT_TRUE(decodeExif(headersOnly, full, ExifReader::kParseExif));
}

TEST(ExifReader, MalformedSectionsFail) {
    ExifReader notJpeg;
    EXPECT_FALSE(decodeExif(notJpeg, Bytes{0x89, 'P', 'N', 'G'}));
    ExifReader padding;
    EXPECT_FALSE(decodeExif(padding, Bytes{0xFF, 0xD8, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xE1}));
    EXPECT_STREQ(padding.errorText(), "too many padding bytes");
    ExifReader shortLength;
    EXPECT_FALSE(decodeExif(shortLength, Bytes{0xFF, 0xD8, 0xFF, 0xE2, 0x00, 0x01}));
    EXPECT_STREQ(shortLength.errorText(), "invalid marker");
    ExifReader truncated;
    EXPECT_FALSE(decodeExif(truncated, Bytes{0xFF, 0xD8, 0xFF, 0xE2, 0x00, 0x10, 1, 2}));
    EXPECT_STREQ(truncated.errorText(), "Premature end of file?");
    ExifReader noImage;
    EXPECT_FALSE(decodeExif(noImage, Bytes{0xFF, 0xD8, 0xFF, 0xD9, 0x00, 0x02}));
    EXPECT_STREQ(noImage.errorText(), "No image in jpeg!");
    ExifReader writer;
    MemoryStream stream;
    ASSERT_TRUE(stream.open());
    EXPECT_FALSE(writer.EncodeExif(&stream));
    EXPECT_STREQ(writer.errorText(), "Can't write exif : didn't read all");
}

TEST(ExifReader, EncodingWithTheSameCodecCarriesTheExifBlock) {
    Bytes tiff = resolutionTiff(300, 2);
    const Bytes source = insertAfterStart(smallJpeg(), exifSection(tiff));
    RasterImageJPG codec;
    {
        Bytes copy = source;
        MemoryStream in(copy.data(), int32_t(copy.size()));
        ASSERT_TRUE(codec.Decode(&in));
    }
    ASSERT_EQ(codec.exifData().isExif, 1);
    codec.SetDpiX(96);  // the JFIF density of the new file; EXIF still says 300
    codec.SetDpiY(96);
    MemoryStream out;
    ASSERT_TRUE(out.open());
    ASSERT_TRUE(codec.Encode(&out)) << codec.LastErrorText();
    const Bytes written(out.buffer(), out.buffer() + out.size());
    ASSERT_GT(written.size(), 20u);
    EXPECT_EQ(written[2], 0xFF);
    EXPECT_EQ(written[3], 0xE1);  // the EXIF section comes first

    RasterImage again;
    ASSERT_TRUE(test::decodeBytes(again, written, kFormatJpeg));
    EXPECT_EQ(again.GetDpiX(), 300);
    EXPECT_EQ(again.GetWidth(), 16);
}

}  // namespace
}  // namespace rendova
