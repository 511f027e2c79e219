// The DCT decoder against libjpeg (accurate integer transform, upsampling by
// replication) on JPEG files that cjpeg, ImageMagick and libjpeg write at
// test time, and on small files built here to reach the defects that no
// encoder writes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "engine/core/DataStream.h"
#include "engine/core/JpegDecoder.h"
#include "engine/core/Memory.h"
#include "engine/core/PdfValue.h"
#include "tests/engine/core/StreamTestHelpers.h"
#include "tests/support/ErrorCapture.h"
#include "tests/support/JpegReference.h"

namespace rendova {
namespace {

namespace fs = std::filesystem;
using test::ErrorCapture;
using test::memoryStream;
using test::readAll;
using test::ReferenceImage;

// --- files made by the encoders ---

bool run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

fs::path workDir() {
    const fs::path dir = fs::path(RENDOVA_TEST_OUTPUT_DIR) / "jpeg-decoder";
    fs::create_directories(dir);
    return dir;
}

// A picture with smooth gradients, hard edges and noise, so that the blocks
// hold every frequency and the chroma differs from pixel to pixel.
std::vector<unsigned char> testPicture(int width, int height, int components) {
    std::vector<unsigned char> samples;
    uint32_t seed = 12345;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < components; ++c) {
                seed = seed * 1103515245u + 12345u;
                const int noise = int((seed >> 16) % 25) - 12;
                int v = 0;
                switch (c) {
                    case 0:
                        v = x * 255 / width;
                        break;
                    case 1:
                        v = y * 255 / height;
                        break;
                    case 2:
                        v = ((x / 7 + y / 5) & 1) ? 220 : 30;
                        break;
                    default:
                        v = (x * y) & 255;
                        break;
                }
                if ((x - width / 2) * (x - width / 2) + (y - height / 3) * (y - height / 3) <
                    width * height / 16)
                    v = 255 - v;
                v += noise;
                samples.push_back(static_cast<unsigned char>(v < 0 ? 0 : v > 255 ? 255 : v));
            }
        }
    }
    return samples;
}

// cjpeg's output for the test picture; empty when cjpeg is missing.
std::string cjpeg(const std::string& name, int width, int height, int components, const std::string& options,
                  const std::string& scans = "") {
    const fs::path dir = workDir();
    const fs::path input = dir / (name + (components == 1 ? ".pgm" : ".ppm"));
    const std::vector<unsigned char> pixels = testPicture(width, height, components);
    std::string pnm = (components == 1 ? "P5\n" : "P6\n") + std::to_string(width) + " " +
                      std::to_string(height) + "\n255\n";
    pnm.append(pixels.begin(), pixels.end());
    writeFile(input, pnm);
    std::string command = "cjpeg " + options;
    if (!scans.empty()) {
        writeFile(dir / (name + ".scans"), scans);
        command += " -scans " + (dir / (name + ".scans")).string();
    }
    const fs::path output = dir / (name + ".jpg");
    fs::remove(output);
    if (!run(command + " -outfile " + output.string() + " " + input.string()))
        return {};
    return readFile(output);
}

std::string decodeOurs(const std::string& jpeg, int colorTransform = -1) {
    RefPtr<DataStream> decoder =
        RefPtr<DataStream>::adopt(new JpegDecoder(memoryStream(jpeg), colorTransform));
    return readAll(decoder.get());
}

// The largest difference of any sample; 256 when the sizes differ.
int maxDifference(const std::string& ours, const ReferenceImage& reference, size_t samples) {
    if (ours.size() != samples || reference.samples.size() < samples)
        return 256;
    int worst = 0;
    for (size_t i = 0; i < samples; ++i) {
        const int d = std::abs(int(static_cast<unsigned char>(ours[i])) - int(reference.samples[i]));
        if (d > worst)
            worst = d;
    }
    return worst;
}

int maxDifference(const std::string& ours, const ReferenceImage& reference) {
    return maxDifference(ours, reference, reference.samples.size());
}

// --- small files built byte by byte ---

std::string big16(int v) {
    return {char((v >> 8) & 0xFF), char(v & 0xFF)};
}

std::string segment(int marker, const std::string& payload) {
    return std::string("\xFF") + char(marker) + big16(int(payload.size()) + 2) + payload;
}

const std::string kSoi = "\xFF\xD8";
const std::string kEoi = "\xFF\xD9";

std::string jfif() {
    return segment(0xE0, std::string("JFIF\0\x01\x02\0\0\x01\0\x01\0\0", 14));
}

std::string adobe(int transform) {
    return segment(0xEE, std::string("Adobe\0\x64\0\0\0\0", 11) + char(transform));
}

// Quantisation table index with every value the same.
std::string dqt(int index, int value) {
    if (value > 255)
        return segment(
            0xDB, std::string(1, char(0x10 | index)) + [&] {
                std::string s;
                for (int i = 0; i < 64; ++i)
                    s += big16(value);
                return s;
            }());
    return segment(0xDB, std::string(1, char(index)) + std::string(64, char(value)));
}

struct FrameComponent {
    int id;
    int factors;
    int quant;
};

std::string sof(int marker, int width, int height, std::initializer_list<FrameComponent> components,
                int precision = 8) {
    std::string p = std::string(1, char(precision)) + big16(height) + big16(width) + char(components.size());
    for (const FrameComponent& c : components)
        p += std::string{char(c.id), char(c.factors), char(c.quant)};
    return segment(marker, p);
}

// A Huffman table whose codes all have the same length: symbol i has code i.
std::string dht(int classAndIndex, int length, const std::vector<int>& symbols) {
    std::string p(1, char(classAndIndex));
    for (int len = 1; len <= 16; ++len)
        p += char(len == length ? symbols.size() : 0);
    for (int s : symbols)
        p += char(s);
    return segment(0xC4, p);
}

struct ScanComponent {
    int id;
    int tables;
};

std::string sos(std::initializer_list<ScanComponent> components, int start = 0, int end = 63,
                int approx = 0) {
    std::string p(1, char(components.size()));
    for (const ScanComponent& c : components)
        p += std::string{char(c.id), char(c.tables)};
    p += std::string{char(start), char(end), char(approx)};
    return segment(0xDA, p);
}

// Entropy-coded bits, FF bytes stuffed, the last byte filled with ones.
class BitWriter {
public:
    BitWriter& put(uint32_t bits, int length) {
        for (int i = length - 1; i >= 0; --i) {
            m_byte = (m_byte << 1) | ((bits >> i) & 1);
            if (++m_count == 8)
                emit();
        }
        return *this;
    }
    // A value of magnitude category s, as T.81 F.1.2.1 writes it.
    BitWriter& value(int v, int s) { return put(uint32_t(v >= 0 ? v : v + (1 << s) - 1), s); }
    std::string finish() {
        while (m_count)
            put(1, 1);
        return m_bytes;
    }

private:
    void emit() {
        m_bytes += char(m_byte);
        if (m_byte == 0xFF)
            m_bytes += '\0';
        m_byte = 0;
        m_count = 0;
    }
    std::string m_bytes;
    uint32_t m_byte = 0;
    int m_count = 0;
};

// The tables of the built files: DC categories 0 to 15 as 4-bit codes, and
// these AC symbols as 8-bit codes (the code is the index).
const std::vector<int> kDcSymbols = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
const std::vector<int> kAcSymbols = {0x00, 0xF0, 0x01, 0x11, 0xF1, 0x51, 0x0F, 0x02, 0x10, 0x20};
int acCode(int symbol) {
    for (size_t i = 0; i < kAcSymbols.size(); ++i)
        if (kAcSymbols[i] == symbol)
            return int(i);
    return -1;
}

int category(int v) {
    int s = 0;
    for (int a = v < 0 ? -v : v; a; a >>= 1)
        ++s;
    return s;
}

// One baseline block: a DC difference, then end of block.
void dcOnlyBlock(BitWriter& bits, int diff) {
    const int s = category(diff);
    bits.put(uint32_t(s), 4);
    if (s)
        bits.value(diff, s);
    bits.put(uint32_t(acCode(0x00)), 8);
}

std::string tables() {
    return dqt(0, 1) + dht(0x00, 4, kDcSymbols) + dht(0x10, 8, kAcSymbols);
}

// A baseline grey file of width x 8 with one block per 8 columns.
std::string greyFile(int width, const std::string& data, const std::string& head = tables()) {
    return kSoi + head + sof(0xC0, width, 8, {{1, 0x11, 0}}) + sos({{1, 0x00}}) + data + kEoi;
}

// --- comparison with libjpeg on the encoders' files ---

struct EncodedCase {
    const char* name;
    int width;
    int height;
    int components;
    const char* options;
    const char* scans;
};

// Successive approximation on every band, DC in two steps, with spectral
// selection splitting the AC terms of the luma.
const char* const kApproxScans =
    "0,1,2: 0-0, 0, 1;\n"
    "0: 1-5, 0, 2;\n"
    "2: 1-63, 0, 1;\n"
    "1: 1-63, 0, 1;\n"
    "0: 6-63, 0, 2;\n"
    "0: 1-63, 2, 1;\n"
    "0,1,2: 0-0, 1, 0;\n"
    "2: 1-63, 1, 0;\n"
    "1: 1-63, 1, 0;\n"
    "0: 1-63, 1, 0;\n";

const EncodedCase kEncodedCases[] = {
    {"grey", 61, 47, 1, "-grayscale -quality 85", ""},
    {"grey_progressive", 61, 47, 1, "-grayscale -progressive", ""},
    {"ycc420", 77, 53, 3, "-sample 2x2 -quality 90", ""},
    {"ycc422", 77, 53, 3, "-sample 2x1", ""},
    {"ycc444", 77, 53, 3, "-sample 1x1 -quality 95", ""},
    {"ycc440", 77, 53, 3, "-sample 1x2", ""},
    {"ycc411", 77, 53, 3, "-sample 4x1", ""},
    {"ycc420_q100", 64, 64, 3, "-quality 100", ""},
    {"ycc420_q5", 64, 64, 3, "-quality 5", ""},
    {"optimized", 77, 53, 3, "-optimize", ""},
    {"restart_rows", 77, 53, 3, "-restart 1", ""},
    {"restart_blocks", 77, 53, 3, "-sample 1x1 -restart 3B", ""},
    {"progressive420", 77, 53, 3, "-progressive", ""},
    {"progressive444", 77, 53, 3, "-sample 1x1 -progressive", ""},
    {"progressive_restart", 77, 53, 3, "-progressive -restart 2B", ""},
    {"approximation", 77, 53, 3, "-sample 1x1", kApproxScans},
    {"approximation420", 77, 53, 3, "-sample 2x2 -restart 1", kApproxScans},
    {"sequential_scans", 77, 53, 3, "-sample 2x2", "0;\n1;\n2;\n"},
    {"sequential_pair", 77, 53, 3, "-sample 2x2", "0;\n1,2;\n"},
    {"large", 640, 480, 3, "-quality 80", ""},
};

class EncodedJpegTest : public ::testing::TestWithParam<EncodedCase> {};

// Before the colour transform our samples are within 2 of libjpeg's (in
// fact within 1). After it, libjpeg's own conversion of its chroma carries
// that difference of 1 scaled by up to 1.772 (Cb into blue), so RGB and the
// colour part of YCCK are compared within 3.
void expectMatchesLibjpeg(const std::string& jpeg, const char* what) {
    ReferenceImage raw;
    ASSERT_TRUE(test::referenceDecodeUnconverted(jpeg, &raw)) << what;
    ErrorCapture errors;
    const std::string oursRaw = decodeOurs(test::withoutAdobeSegment(jpeg), 0);
    EXPECT_EQ(oursRaw.size(), raw.samples.size()) << what;
    EXPECT_LE(maxDifference(oursRaw, raw), 2) << what;

    ReferenceImage own;
    ASSERT_TRUE(test::referenceDecode(jpeg, &own, raw.components == 4 ? JCS_CMYK : JCS_UNKNOWN)) << what;
    const std::string ours = decodeOurs(jpeg);
    const bool converted = raw.fileSpace == JCS_YCbCr || raw.fileSpace == JCS_YCCK;
    EXPECT_LE(maxDifference(ours, own), converted ? 3 : 2) << what;
    EXPECT_TRUE(errors.empty()) << what << ": " << errors.reports()[0].message;
}

TEST_P(EncodedJpegTest, MatchesLibjpeg) {
    const EncodedCase& c = GetParam();
    if (!run("cjpeg -version"))
        GTEST_SKIP() << "cjpeg is not installed";
    const std::string jpeg = cjpeg(c.name, c.width, c.height, c.components, c.options, c.scans);
    ASSERT_FALSE(jpeg.empty()) << "cjpeg failed";
    expectMatchesLibjpeg(jpeg, c.name);
}

INSTANTIATE_TEST_SUITE_P(Cjpeg, EncodedJpegTest, ::testing::ValuesIn(kEncodedCases),
                         [](const ::testing::TestParamInfo<EncodedCase>& param) { return param.param.name; });

TEST(JpegDecoderTest, YcckFromImageMagickMatchesLibjpeg) {
    if (!run("convert -version") || !run("cjpeg -version"))
        GTEST_SKIP() << "ImageMagick or cjpeg is not installed";
    const std::string rgb = cjpeg("cmyk_source", 67, 45, 3, "-sample 1x1 -quality 100");
    const fs::path dir = workDir();
    writeFile(dir / "cmyk_source.jpg", rgb);
    for (const char* sampling : {"1x1", "2x2"}) {
        // ImageMagick writes its CMYK as YCCK, with an Adobe segment.
        const fs::path out = dir / (std::string("cmyk_") + sampling + ".jpg");
        ASSERT_TRUE(run("convert " + (dir / "cmyk_source.jpg").string() +
                        " -colorspace CMYK -sampling-factor " + sampling + " -quality 90 " + out.string()));
        const std::string jpeg = readFile(out);
        ReferenceImage reference;
        ASSERT_TRUE(test::referenceDecode(jpeg, &reference));
        EXPECT_EQ(reference.fileSpace, JCS_YCCK);
        expectMatchesLibjpeg(jpeg, sampling);
    }
}

TEST(JpegDecoderTest, CmykAndYcckFromLibjpegMatch) {
    const int width = 53, height = 41;
    const std::vector<unsigned char> cmyk = testPicture(width, height, 4);
    for (J_COLOR_SPACE space : {JCS_CMYK, JCS_YCCK}) {
        for (int quality : {75, 100}) {
            const std::string jpeg = test::referenceEncode(cmyk, width, height, 4, JCS_CMYK, space, quality);
            ASSERT_FALSE(jpeg.empty());
            expectMatchesLibjpeg(jpeg, space == JCS_CMYK ? "CMYK" : "YCCK");
        }
    }
}

// Flat bands three rows high over two thirds of the width, so that rows
// repeat inside MCU rows and change in their middle, beside a textured
// stretch that keeps every row different; and flat blocks without any AC
// terms.
std::vector<unsigned char> bandedPicture(int width, int height, int components) {
    std::vector<unsigned char> samples;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < components; ++c) {
                const bool textured = x >= width * 2 / 3 && y >= height / 2;
                const int v = textured ? (x * 31 + y * 17 + c * 53) % 256
                                       : ((y / 3) * 40 + c * 70 + (x / 16) * 9) % 256;
                samples.push_back(static_cast<unsigned char>(v));
            }
        }
    }
    return samples;
}

TEST(JpegDecoderTest, RepeatedRowsAndFlatBlocksMatchLibjpeg) {
    const int width = 75, height = 50;
    const std::string ycc =
        test::referenceEncode(bandedPicture(width, height, 3), width, height, 3, JCS_RGB, JCS_YCbCr, 90);
    ASSERT_FALSE(ycc.empty());
    expectMatchesLibjpeg(ycc, "YCbCr");
    const std::vector<unsigned char> cmyk = bandedPicture(width, height, 4);
    for (J_COLOR_SPACE space : {JCS_CMYK, JCS_YCCK}) {
        const std::string jpeg = test::referenceEncode(cmyk, width, height, 4, JCS_CMYK, space, 95);
        ASSERT_FALSE(jpeg.empty());
        expectMatchesLibjpeg(jpeg, space == JCS_CMYK ? "CMYK" : "YCCK");
    }
}

// Baseline data is decoded a block at a time with shortcuts for flat
// blocks; progressive data with the same coefficients goes through the full
// transform of the buffered frame. Both must give the same bytes.
TEST(JpegDecoderTest, StreamedAndBufferedFramesAgreeExactly) {
    const int width = 75, height = 50;
    for (int components : {1, 3, 4}) {
        for (bool fullSize : {false, true}) {
            const std::vector<unsigned char> picture = bandedPicture(width, height, components);
            const J_COLOR_SPACE in = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
            const J_COLOR_SPACE file = components == 1   ? JCS_GRAYSCALE
                                       : components == 3 ? JCS_YCbCr
                                                         : JCS_YCCK;
            const std::string baseline =
                test::referenceEncode(picture, width, height, components, in, file, 90, {false, fullSize});
            const std::string progressive =
                test::referenceEncode(picture, width, height, components, in, file, 90, {true, fullSize});
            ASSERT_FALSE(baseline.empty() || progressive.empty());
            const std::string ours = decodeOurs(baseline);
            EXPECT_EQ(ours.size(), size_t(width) * height * components);
            EXPECT_TRUE(ours == decodeOurs(progressive)) << components << " components, full " << fullSize;
        }
    }
}

// The colour transform, pixel by pixel by its formula, from the samples
// decoded without it: the conversion's tables and its shortcut for runs of
// one colour must give exactly what the formula gives.
TEST(JpegColorTransformTest, TransformIsItsFormulaExactly) {
    const int width = 75, height = 50;
    const auto clip = [](int v) { return v < 0 ? 0 : v > 255 ? 255 : v; };
    for (int components : {3, 4}) {
        for (bool fullSize : {false, true}) {
            const std::vector<unsigned char> picture = bandedPicture(width, height, components);
            const std::string jpeg = test::referenceEncode(
                picture, width, height, components, components == 3 ? JCS_RGB : JCS_CMYK,
                components == 3 ? JCS_YCbCr : JCS_YCCK, 90, {false, fullSize});
            ASSERT_FALSE(jpeg.empty());
            const std::string raw = decodeOurs(test::withoutAdobeSegment(jpeg), 0);
            const std::string converted = decodeOurs(test::withoutAdobeSegment(jpeg), 1);
            ASSERT_EQ(raw.size(), size_t(width) * height * components);
            std::string expected = raw;
            for (size_t p = 0; p < raw.size(); p += size_t(components)) {
                const int y = static_cast<unsigned char>(raw[p]);
                const int cb = static_cast<unsigned char>(raw[p + 1]) - 128;
                const int cr = static_cast<unsigned char>(raw[p + 2]) - 128;
                const int rgb[3] = {clip(y + ((91881 * cr + 32768) >> 16)),
                                    clip(y + ((-22553 * cb - 46802 * cr + 32768) >> 16)),
                                    clip(y + ((116130 * cb + 32768) >> 16))};
                for (int k = 0; k < 3; ++k)
                    expected[p + size_t(k)] = static_cast<char>(components == 4 ? 255 - rgb[k] : rgb[k]);
            }
            EXPECT_TRUE(converted == expected) << components << " components, full " << fullSize;
        }
    }
}

TEST(JpegDecoderTest, EveryLoneAcTermShapesItsBlock) {
    // Block k of a grey row holds one AC term, at zig-zag position k, and
    // nothing else but a DC of 0: none of them may come out flat.
    std::vector<int> acSymbols = {0x00, 0xF0};
    for (int run = 0; run < 16; ++run)
        acSymbols.push_back(run << 4 | 1);
    auto code = [&](int symbol) {
        for (size_t i = 0; i < acSymbols.size(); ++i)
            if (acSymbols[i] == symbol)
                return uint32_t(i);
        return uint32_t(0);
    };
    BitWriter bits;
    for (int k = 1; k < 64; ++k) {
        bits.put(0, 4);  // DC difference 0
        for (int zeros = k - 1; zeros >= 16; zeros -= 16)
            bits.put(code(0xF0), 8);
        bits.put(code(((k - 1) % 16) << 4 | 1), 8).value(1, 1);
        if (k < 63)
            bits.put(code(0x00), 8);
    }
    // (Only DC category 0: libjpeg refuses the all-ones code of the usual
    // built table.)
    const std::string head = dqt(0, 200) + dht(0x00, 4, {0}) + dht(0x10, 8, acSymbols);
    const std::string jpeg = greyFile(63 * 8, bits.finish(), head);
    ReferenceImage reference;
    ASSERT_TRUE(test::referenceDecode(jpeg, &reference));
    const std::string ours = decodeOurs(jpeg);
    EXPECT_LE(maxDifference(ours, reference), 2);
    for (int k = 1; k < 64; ++k) {
        int lowest = 255, highest = 0;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) {
                const int v = static_cast<unsigned char>(ours[size_t(y) * 63 * 8 + size_t(k - 1) * 8 + x]);
                lowest = std::min(lowest, v);
                highest = std::max(highest, v);
            }
        EXPECT_GT(highest - lowest, 10) << "term " << k;
    }
}

TEST(JpegDecoderTest, BlocksReadWhatGetCharReads) {
    const int width = 75, height = 50;
    const std::string jpeg =
        test::referenceEncode(bandedPicture(width, height, 3), width, height, 3, JCS_RGB, JCS_YCbCr, 90);
    ASSERT_FALSE(jpeg.empty());
    const std::string expected = decodeOurs(jpeg);
    ASSERT_EQ(expected.size(), size_t(width) * height * 3);
    for (const std::vector<int>& sizes : {std::vector<int>{1}, {7, 225, 1000}, {20000}}) {
        RefPtr<DataStream> decoder = RefPtr<DataStream>::adopt(new JpegDecoder(memoryStream(jpeg), -1));
        bool full = false;
        EXPECT_EQ(test::readAllInBlocks(decoder.get(), sizes, &full), expected);
        EXPECT_TRUE(full);
    }
}

// --- colour transform decisions ---

// One 8 x 8 block per component: Y 138, Cb 128, Cr 148 (and K 50).
std::string colourFile(std::initializer_list<int> ids, const std::string& markers) {
    BitWriter bits;
    const int diffs[4] = {80, 0, 160, -624};
    const int count = int(ids.size());
    for (int i = 0; i < count; ++i)
        dcOnlyBlock(bits, diffs[i]);
    std::string frame = std::string(1, char(8)) + big16(8) + big16(8) + char(count);
    std::string scan(1, char(count));
    for (int id : ids) {
        frame += std::string{char(id), char(0x11), char(0)};
        scan += std::string{char(id), char(0)};
    }
    scan += std::string{char(0), char(63), char(0)};
    return kSoi + markers + tables() + segment(0xC0, frame) + segment(0xDA, scan) + bits.finish() + kEoi;
}

std::string pixelOf(std::initializer_list<int> values) {
    std::string pixel;
    for (int v : values)
        pixel += char(v);
    std::string all;
    for (int i = 0; i < 64; ++i)
        all += pixel;
    return all;
}

const std::string kYcc = pixelOf({138, 128, 148});
const std::string kRgb = pixelOf({166, 124, 138});

TEST(JpegColorTransformTest, ThreeComponentsAreYcbcrWhateverTheirIds) {
    ErrorCapture errors;
    EXPECT_EQ(decodeOurs(colourFile({1, 2, 3}, "")), kRgb);
    // Ids R, G, B mark RGB only for stand-alone JPEG readers; PDF readers
    // transform them as any three components without an Adobe segment.
    EXPECT_EQ(decodeOurs(colourFile({'R', 'G', 'B'}, "")), kRgb);
    EXPECT_EQ(decodeOurs(colourFile({'R', 'G', 'B'}, jfif())), kRgb);
    EXPECT_TRUE(errors.empty());
}

TEST(JpegColorTransformTest, ParameterDecidesUnlessAnAdobeSegmentDoes) {
    EXPECT_EQ(decodeOurs(colourFile({1, 2, 3}, jfif()), 0), kYcc);
    EXPECT_EQ(decodeOurs(colourFile({'R', 'G', 'B'}, ""), 1), kRgb);
    // Adobe transform 0 wins over ColorTransform 1.
    EXPECT_EQ(decodeOurs(colourFile({1, 2, 3}, adobe(0)), 1), kYcc);
    EXPECT_EQ(decodeOurs(colourFile({'R', 'G', 'B'}, adobe(1)), 0), kRgb);
}

TEST(JpegColorTransformTest, FourComponentsAreInvertedCmykOutOfYcck) {
    // Adobe transform 2 (YCCK): the colour part transformed and inverted,
    // K as it is.
    EXPECT_EQ(decodeOurs(colourFile({1, 2, 3, 4}, adobe(2))), pixelOf({255 - 166, 255 - 124, 255 - 138, 50}));
    // Adobe transform 0, and no Adobe segment at all: CMYK as stored.
    EXPECT_EQ(decodeOurs(colourFile({1, 2, 3, 4}, adobe(0))), pixelOf({138, 128, 148, 50}));
    EXPECT_EQ(decodeOurs(colourFile({1, 2, 3, 4}, "")), pixelOf({138, 128, 148, 50}));
    // One and two components never transform.
    EXPECT_EQ(decodeOurs(colourFile({1, 2}, adobe(1)), 1), pixelOf({138, 128}));
}

TEST(JpegColorTransformTest, FilterParameterReachesTheDecoder) {
    PdfValue params;
    params.initDict(nullptr);
    PdfValue zero;
    zero.initInt(0);
    params.getDict()->add(copyString("ColorTransform"), std::move(zero));
    RefPtr<DataStream> s =
        DataStream::makeFilter("DCTDecode", memoryStream(colourFile({1, 2, 3}, jfif())), params);
    EXPECT_EQ(s->getKind(), DataStream::kDctKind);
    EXPECT_EQ(readAll(s.get()), kYcc);
    RefPtr<DataStream> plain =
        DataStream::makeFilter("DCT", memoryStream(colourFile({1, 2, 3}, jfif())), PdfValue());
    EXPECT_EQ(readAll(plain.get()), kRgb);
}

// --- upsampling ---

TEST(JpegDecoderTest, Chroma420IsRepeatedInTwoByTwoBlocks) {
    if (!run("cjpeg -version"))
        GTEST_SKIP() << "cjpeg is not installed";
    const std::string jpeg = cjpeg("repeat420", 48, 32, 3, "-sample 2x2");
    const std::string ycc = decodeOurs(jpeg, 0);
    ASSERT_EQ(ycc.size(), 48u * 32u * 3u);
    bool repeated = true;
    bool lumaVaries = false;
    for (int y = 0; y < 32; y += 2) {
        for (int x = 0; x < 48; x += 2) {
            const size_t at = (size_t(y) * 48 + size_t(x)) * 3;
            for (int c = 1; c < 3; ++c) {
                const char v = ycc[at + size_t(c)];
                repeated = repeated && ycc[at + 3 + size_t(c)] == v && ycc[at + 48 * 3 + size_t(c)] == v &&
                           ycc[at + 48 * 3 + 3 + size_t(c)] == v;
            }
            lumaVaries = lumaVaries || ycc[at] != ycc[at + 3];
        }
    }
    EXPECT_TRUE(repeated);
    EXPECT_TRUE(lumaVaries);
}

// --- defects in the headers: reported, empty stream ---

TEST(JpegHeaderTest, ValidBuiltFileDecodes) {
    BitWriter bits;
    dcOnlyBlock(bits, 8);
    ErrorCapture errors;
    EXPECT_EQ(decodeOurs(greyFile(8, bits.finish())), std::string(64, char(129)));
    EXPECT_TRUE(errors.empty());
}

TEST(JpegHeaderTest, DefectsGiveAnEmptyStreamAndAReport) {
    BitWriter bits;
    dcOnlyBlock(bits, 8);
    const std::string data = bits.finish();
    const std::string scan = sos({{1, 0x00}}) + data + kEoi;
    std::string manyCodes(1, char(0x00));
    for (int len = 1; len <= 16; ++len)
        manyCodes += char(len == 16 ? 255 : len == 15 ? 2 : 0);
    manyCodes += std::string(257, '\x01');
    std::string overfull(1, char(0x00));
    for (int len = 1; len <= 16; ++len)
        overfull += char(len == 2 ? 5 : 0);
    overfull += std::string(5, '\x01');
    std::string cutShort(1, char(0x00));
    for (int len = 1; len <= 16; ++len)
        cutShort += char(len == 4 ? 10 : 0);
    cutShort += std::string(5, '\x01');

    const struct {
        const char* what;
        std::string file;
    } cases[] = {
        {"12-bit precision", kSoi + tables() + sof(0xC0, 8, 8, {{1, 0x11, 0}}, 12) + scan},
        {"sampling factor 0", kSoi + tables() + sof(0xC0, 8, 8, {{1, 0x11, 0}, {2, 0x01, 0}}) + scan},
        {"sampling factor 5", kSoi + tables() + sof(0xC0, 8, 8, {{1, 0x51, 0}, {2, 0x11, 0}}) + scan},
        {"quantisation index 4", kSoi + tables() + sof(0xC0, 8, 8, {{1, 0x11, 4}}) + scan},
        {"five components",
         kSoi + tables() + sof(0xC0, 8, 8, {{1, 17, 0}, {2, 17, 0}, {3, 17, 0}, {4, 17, 0}, {5, 17, 0}}) +
             scan},
        {"zero height", kSoi + tables() + sof(0xC0, 8, 0, {{1, 0x11, 0}}) + scan},
        {"Huffman index 4",
         kSoi + dqt(0, 1) + dht(0x04, 4, kDcSymbols) + sof(0xC0, 8, 8, {{1, 0x11, 0}}) + scan},
        {"257 Huffman symbols",
         kSoi + tables() + segment(0xC4, manyCodes) + sof(0xC0, 8, 8, {{1, 0x11, 0}}) + scan},
        {"codes too many for their length",
         kSoi + tables() + segment(0xC4, overfull) + sof(0xC0, 8, 8, {{1, 0x11, 0}}) + scan},
        {"Huffman table past its segment",
         kSoi + tables() + segment(0xC4, cutShort) + sof(0xC0, 8, 8, {{1, 0x11, 0}}) + scan},
        {"quantisation index 4 in DQT", kSoi + tables() + dqt(4, 1) + sof(0xC0, 8, 8, {{1, 0x11, 0}}) + scan},
        {"scan table index 4",
         kSoi + tables() + sof(0xC0, 8, 8, {{1, 0x11, 0}}) + sos({{1, 0x40}}) + data + kEoi},
        {"scan of an unknown component",
         kSoi + tables() + sof(0xC0, 8, 8, {{1, 0x11, 0}}) + sos({{7, 0x00}}) + data + kEoi},
        {"spectral end 64",
         kSoi + tables() + sof(0xC0, 8, 8, {{1, 0x11, 0}}) + sos({{1, 0x00}}, 0, 64) + data + kEoi},
        {"undefined Huffman table",
         kSoi + tables() + sof(0xC0, 8, 8, {{1, 0x11, 0}}) + sos({{1, 0x11}}) + data + kEoi},
        {"arithmetic coding", kSoi + tables() + sof(0xC9, 8, 8, {{1, 0x11, 0}}) + scan},
        {"restart interval of length 5",
         kSoi + tables() + segment(0xDD, std::string("\0\1\0", 3)) + sof(0xC0, 8, 8, {{1, 0x11, 0}}) + scan},
        {"no frame", kSoi + tables() + scan},
        {"data ends in the headers", kSoi + tables() + sof(0xC0, 8, 8, {{1, 0x11, 0}})},
    };
    for (const auto& c : cases) {
        ErrorCapture errors;
        EXPECT_EQ(decodeOurs(c.file), "") << c.what;
        EXPECT_GE(errors.count(), 1u) << c.what;
    }
}

TEST(JpegHeaderTest, HugeDeclaredFrameIsRefusedWithoutAllocating) {
    BitWriter bits;
    dcOnlyBlock(bits, 8);
    // A progressive frame of 65535 x 65535 x 3 would need 25 GB of
    // coefficients.
    const std::string file = kSoi + tables() +
                             sof(0xC2, 65535, 65535, {{1, 0x22, 0}, {2, 0x11, 0}, {3, 0x11, 0}}) +
                             sos({{1, 0x00}, {2, 0x00}, {3, 0x00}}, 0, 0, 0) + bits.finish() + kEoi;
    ErrorCapture errors;
    EXPECT_EQ(decodeOurs(file), "");
    EXPECT_TRUE(errors.contains("too large"));
}

TEST(JpegHeaderTest, HugeBaselineFrameStreamsWhatItHas) {
    // A baseline frame needs no full frame: the declared size costs nothing
    // and the data, which ends at once, ends the stream.
    BitWriter bits;
    dcOnlyBlock(bits, 8);
    const std::string file =
        kSoi + tables() + sof(0xC0, 65535, 65535, {{1, 0x11, 0}}) + sos({{1, 0x00}}) + bits.finish() + kEoi;
    ErrorCapture errors;
    EXPECT_EQ(decodeOurs(file), "");
    EXPECT_GE(errors.count(), 1u);
}

TEST(JpegHeaderTest, ForeignApp14SegmentsAreSkipped) {
    BitWriter bits;
    dcOnlyBlock(bits, 8);
    const std::string data = bits.finish();
    ErrorCapture errors;
    const std::string expected(64, char(129));
    EXPECT_EQ(decodeOurs(greyFile(8, data, segment(0xEE, "Photoshop 3.0 data, not Adobe's") + tables())),
              expected);
    EXPECT_EQ(decodeOurs(greyFile(8, data, segment(0xEE, "Ado") + tables())), expected);
    EXPECT_EQ(decodeOurs(greyFile(8, data, segment(0xEE, "") + tables())), expected);
    EXPECT_TRUE(errors.empty());
}

TEST(JpegHeaderTest, ForeignApp14InAnEncodedFileChangesNothing) {
    if (!run("cjpeg -version"))
        GTEST_SKIP() << "cjpeg is not installed";
    const std::string jpeg = cjpeg("app14", 40, 24, 3, "");
    const std::string patched = kSoi + segment(0xEE, "Ducky and friends: app data") + jpeg.substr(2);
    ErrorCapture errors;
    EXPECT_EQ(decodeOurs(patched), decodeOurs(jpeg));
    EXPECT_TRUE(errors.empty());
}

// --- defects in the data ---

TEST(JpegDataTest, AcRunPastTheBlockEndsTheBlock) {
    BitWriter bits;
    // Block 1: DC 0, three runs of 16 zeros (to position 49), then a run of
    // 15 more and a value: position 64 is past the block.
    bits.put(0, 4);
    for (int i = 0; i < 3; ++i)
        bits.put(uint32_t(acCode(0xF0)), 8);
    bits.put(uint32_t(acCode(0xF1)), 8).value(1, 1);
    // Block 2 reads on: DC 8.
    dcOnlyBlock(bits, 8);
    ErrorCapture errors;
    const std::string ours = decodeOurs(greyFile(16, bits.finish()));
    ASSERT_EQ(ours.size(), 128u);
    for (int y = 0; y < 8; ++y) {
        EXPECT_EQ(ours.substr(size_t(y) * 16, 8), std::string(8, char(128)));
        EXPECT_EQ(ours.substr(size_t(y) * 16 + 8, 8), std::string(8, char(129)));
    }
    EXPECT_TRUE(errors.contains("past the end"));
}

TEST(JpegDataTest, FourthZeroRunEndsTheBlock) {
    BitWriter bits;
    bits.put(0, 4);
    for (int i = 0; i < 4; ++i)
        bits.put(uint32_t(acCode(0xF0)), 8);
    dcOnlyBlock(bits, -8);
    ErrorCapture errors;
    const std::string ours = decodeOurs(greyFile(16, bits.finish()));
    ASSERT_EQ(ours.size(), 128u);
    EXPECT_EQ(ours.substr(0, 8), std::string(8, char(128)));
    EXPECT_EQ(ours.substr(8, 8), std::string(8, char(127)));
}

TEST(JpegDataTest, SamplesFarOutOfRangeAreClamped) {
    // 16-bit quantisers of 65535 and DC values of +-32767: the transform
    // gives values millions beyond 0-255.
    BitWriter bits;
    dcOnlyBlock(bits, 32767);
    dcOnlyBlock(bits, -32767);
    dcOnlyBlock(bits, -32767);
    // An AC term as large as it gets on top.
    bits.put(0, 4);
    bits.put(uint32_t(acCode(0x0F)), 8).value(-32767, 15);
    bits.put(uint32_t(acCode(0x00)), 8);
    const std::string head = dqt(0, 65535) + dht(0x00, 4, kDcSymbols) + dht(0x10, 8, kAcSymbols);
    ErrorCapture errors;
    const std::string ours = decodeOurs(greyFile(32, bits.finish(), head));
    ASSERT_EQ(ours.size(), 256u);
    EXPECT_EQ(ours.substr(0, 8), std::string(8, char(255)));
    EXPECT_EQ(ours.substr(8, 8), std::string(8, char(128)));
    EXPECT_EQ(ours.substr(16, 8), std::string(8, '\0'));
    for (int i = 24; i < 32; ++i) {
        const int s = static_cast<unsigned char>(ours[size_t(i)]);
        EXPECT_TRUE(s == 0 || s == 255) << s;
    }
    EXPECT_TRUE(errors.empty());
}

TEST(JpegDataTest, CodeMissingFromTheTableEndsTheData) {
    BitWriter bits;
    dcOnlyBlock(bits, 8);
    // Sixteen one bits: the DC table has codes 0000 to 1011 only.
    bits.put(0xFFFF, 16);
    const std::vector<int> twelve(kDcSymbols.begin(), kDcSymbols.begin() + 12);
    const std::string head = dqt(0, 1) + dht(0x00, 4, twelve) + dht(0x10, 8, kAcSymbols);
    ErrorCapture errors;
    EXPECT_EQ(decodeOurs(greyFile(16, bits.finish(), head)), "");
    EXPECT_TRUE(errors.contains("Huffman"));
}

TEST(JpegDataTest, ProgressiveAcRunPastTheBandIsRefused) {
    BitWriter dc;
    dc.put(4, 4).value(8, 4);
    BitWriter ac;
    // Band 1 to 5: a run of 5 from position 1 lands on 6.
    ac.put(uint32_t(acCode(0x51)), 8).value(1, 1);
    const std::string file = kSoi + tables() + sof(0xC2, 8, 8, {{1, 0x11, 0}}) + sos({{1, 0x00}}, 0, 0, 0) +
                             dc.finish() + sos({{1, 0x00}}, 1, 5, 0) + ac.finish() + kEoi;
    ErrorCapture errors;
    EXPECT_EQ(decodeOurs(file), std::string(64, char(129)));
    EXPECT_TRUE(errors.contains("past the end"));
}

TEST(JpegDataTest, BadProgressiveScansEndTheScans) {
    BitWriter dc;
    dc.put(4, 4).value(8, 4);
    const std::string dcData = dc.finish();
    const std::string head = kSoi + tables() + sof(0xC2, 8, 8, {{1, 0x11, 0}});
    // DC and AC in one scan; an approximation bit of 14; a second frame.
    for (const std::string& second :
         {sos({{1, 0x00}}, 0, 5, 0), sos({{1, 0x00}}, 1, 5, 0xE0), sof(0xC2, 16, 16, {{1, 0x11, 0}})}) {
        ErrorCapture errors;
        EXPECT_EQ(decodeOurs(head + sos({{1, 0x00}}, 0, 0, 0) + dcData + second + dcData + kEoi),
                  std::string(64, char(129)));
        EXPECT_EQ(errors.count(), 1u);
    }
}

TEST(JpegDataTest, ScansPastTheFramesLimitAreSkipped) {
    // A DC scan to bit 1, then refinements of it: each one a pass over the
    // frame, so a small file of many would run for minutes on a large one.
    BitWriter dc;
    dc.put(4, 4).value(8, 4);
    std::string file =
        kSoi + tables() + sof(0xC2, 8, 8, {{1, 0x11, 0}}) + sos({{1, 0x00}}, 0, 0, 1) + dc.finish();
    for (int i = 0; i < 1100; ++i)
        file += sos({{1, 0x00}}, 0, 0, 0x10) + BitWriter().put(0, 1).finish();
    ErrorCapture errors;
    EXPECT_EQ(decodeOurs(file + kEoi).size(), 64u);
    EXPECT_TRUE(errors.contains("more than 1000 scans"));
    EXPECT_EQ(JpegDecoder::maxScans(int64_t(1) << 28), 32);
    EXPECT_EQ(JpegDecoder::maxScans(1 << 20), 1000);
}

// --- encoded files damaged ---

TEST(JpegDataTest, RestartMarkerOutOfSequenceStopsDecodingThere) {
    if (!run("cjpeg -version"))
        GTEST_SKIP() << "cjpeg is not installed";
    const std::string jpeg = cjpeg("restart_damaged", 64, 80, 3, "-sample 2x2 -restart 1");
    // The second restart marker (D1) becomes D3: two MCU rows of 16 decode.
    const size_t sos = jpeg.find("\xFF\xDA");
    const size_t d1 = jpeg.find("\xFF\xD1", sos);
    ASSERT_NE(d1, std::string::npos);
    std::string damaged = jpeg;
    damaged[d1 + 1] = char(0xD3);
    ReferenceImage reference;
    ASSERT_TRUE(test::referenceDecode(jpeg, &reference));
    ErrorCapture errors;
    const std::string ours = decodeOurs(damaged);
    EXPECT_EQ(ours.size(), 64u * 32u * 3u);
    EXPECT_LE(maxDifference(ours, reference, ours.size()), 2);
    EXPECT_TRUE(errors.contains("restart"));
}

TEST(JpegDataTest, TruncatedBaselineDeliversTheWholeMcuRowsBeforeTheCut) {
    if (!run("cjpeg -version"))
        GTEST_SKIP() << "cjpeg is not installed";
    const std::string jpeg = cjpeg("truncated", 64, 64, 3, "-sample 2x2");
    ReferenceImage reference;
    ASSERT_TRUE(test::referenceDecode(jpeg, &reference));
    ErrorCapture errors;
    const std::string ours = decodeOurs(jpeg.substr(0, jpeg.size() * 2 / 3));
    EXPECT_GT(ours.size(), 0u);
    EXPECT_LT(ours.size(), reference.samples.size());
    EXPECT_EQ(ours.size() % (64 * 16 * 3), 0u);
    EXPECT_LE(maxDifference(ours, reference, ours.size()), 2);
    EXPECT_TRUE(errors.contains("ends"));
}

TEST(JpegDataTest, TruncatedProgressiveDeliversTheFrameAsFilled) {
    if (!run("cjpeg -version"))
        GTEST_SKIP() << "cjpeg is not installed";
    const std::string jpeg = cjpeg("truncated_progressive", 64, 64, 3, "-progressive");
    ErrorCapture errors;
    const std::string ours = decodeOurs(jpeg.substr(0, jpeg.size() / 2));
    EXPECT_EQ(ours.size(), 64u * 64u * 3u);
    EXPECT_GE(errors.count(), 1u);
}

TEST(JpegDataTest, MarkerInsideTheDataEndsIt) {
    if (!run("cjpeg -version"))
        GTEST_SKIP() << "cjpeg is not installed";
    const std::string jpeg = cjpeg("marker_inside", 64, 64, 1, "-grayscale");
    const size_t sos = jpeg.find("\xFF\xDA");
    ASSERT_NE(sos, std::string::npos);
    // A restart marker where the file has none, in the middle of the data.
    const size_t at = sos + (jpeg.size() - sos) / 2;
    const std::string damaged = jpeg.substr(0, at) + "\xFF\xD0" + jpeg.substr(at);
    ErrorCapture errors;
    const std::string ours = decodeOurs(damaged);
    EXPECT_LT(ours.size(), 64u * 64u);
    EXPECT_TRUE(errors.contains("marker d0"));
}

// --- the stream interface ---

TEST(JpegDecoderTest, ResetDecodesAgainAndPeekAgrees) {
    if (!run("cjpeg -version"))
        GTEST_SKIP() << "cjpeg is not installed";
    for (const char* options : {"-sample 2x1", "-progressive"}) {
        const std::string jpeg = cjpeg("reread", 33, 21, 3, options);
        RefPtr<DataStream> decoder = RefPtr<DataStream>::adopt(new JpegDecoder(memoryStream(jpeg), -1));
        // A hundred samples, then a whole reading from the start.
        decoder->reset();
        for (int i = 0; i < 100; ++i)
            decoder->getChar();
        bool agreed = false;
        const std::string whole = test::readAllPeeking(decoder.get(), &agreed);
        EXPECT_TRUE(agreed);
        EXPECT_EQ(whole.size(), 33u * 21u * 3u);
        EXPECT_EQ(readAll(decoder.get()), whole);
        // After close the buffers are gone and nothing more comes.
        EXPECT_EQ(decoder->getChar(), -1);
    }
}

TEST(JpegDecoderTest, PrintFilterNamesDctDecode) {
    RefPtr<DataStream> decoder = RefPtr<DataStream>::adopt(new JpegDecoder(memoryStream(""), -1));
    EXPECT_FALSE(decoder->getPrintFilter(1, "  "));
    std::unique_ptr<DynString> text = decoder->getPrintFilter(2, "  ");
    ASSERT_TRUE(text);
    EXPECT_STREQ(text->getCString(), "  << >> /DCTDecode filter\n");
    EXPECT_EQ(decoder->getKind(), DataStream::kDctKind);
}

}  // namespace
}  // namespace rendova
