// The JPEG 2000 decoder on streams that opj_compress writes at test time
// (against their source samples, or against opj_decompress's), on their
// packed-header and palette forms made here, and on small files built here
// for the box rules and the defects that no encoder writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/core/DataStream.h"
#include "engine/core/Jpeg2000Decoder.h"
#include "tests/engine/core/StreamTestHelpers.h"
#include "tests/support/ErrorCapture.h"
#include "tests/support/Jpeg2000Files.h"

namespace rendova {
namespace {

using test::be16;
using test::be32;
using test::ErrorCapture;
using test::memoryStream;
using test::OpenJpegTools;
using test::readAll;

// Samples of a picture with gradients, edges and noise, components
// interleaved, each below 2^bits.
std::vector<uint32_t> testSamples(int width, int height, int components, int bits) {
    std::vector<uint32_t> samples;
    uint32_t seed = 2024;
    const uint32_t max = (uint32_t(1) << bits) - 1;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < components; ++c) {
                seed = seed * 1103515245u + 12345u;
                const double smooth = (double(x) / width * (c + 1) + double(y) / height * (2 - c % 2)) / 3.0;
                double v =
                    smooth + ((x / 8 + y / 5) % 3 == 0 ? 0.3 : 0.0) + double(seed >> 16 & 0xFF) / 2550.0;
                v -= int(v);
                samples.push_back(uint32_t(v * max + 0.5) & max);
            }
        }
    }
    return samples;
}

// The samples as the decoder hands them out: packed at the precision, each
// row starting on a byte boundary.
std::string packRows(const std::vector<uint32_t>& samples, int width, int height, int components, int bits) {
    std::string out;
    size_t i = 0;
    for (int y = 0; y < height; ++y) {
        uint64_t acc = 0;
        int count = 0;
        for (int k = 0; k < width * components; ++k) {
            acc = acc << bits | samples[i++];
            count += bits;
            while (count >= 8) {
                count -= 8;
                out.push_back(char(acc >> count));
            }
        }
        if (count > 0)
            out.push_back(char(acc << (8 - count)));
    }
    return out;
}

std::string decode(const std::string& stream, PdfValue&& dict = PdfValue()) {
    RefPtr<DataStream> s =
        DataStream::makeFilter("JPXDecode", memoryStream(stream, std::move(dict)), PdfValue());
    return readAll(s.get());
}

// The largest difference between our samples (bytes of 8 or 16 bits) and
// the reference's; INT_MAX when their counts differ.
int largestDifference(const std::string& ours, const std::vector<uint32_t>& reference, int bits) {
    const size_t bytes = bits > 8 ? 2 : 1;
    if (ours.size() != reference.size() * bytes)
        return INT_MAX;
    int worst = 0;
    for (size_t i = 0; i < reference.size(); ++i) {
        const int v = bytes == 2 ? uint8_t(ours[2 * i]) << 8 | uint8_t(ours[2 * i + 1]) : uint8_t(ours[i]);
        worst = std::max(worst, std::abs(v - int(reference[i])));
    }
    return worst;
}

class Jpeg2000EncodedTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!OpenJpegTools::available())
            GTEST_SKIP() << "opj_compress or opj_decompress missing";
    }
    OpenJpegTools m_tools;
};

TEST_F(Jpeg2000EncodedTest, ReversibleStreamsDecodeToTheirSource) {
    const struct {
        const char* name;
        int width, height, components, bits;
        const char* options;
    } cases[] = {
        {"grey defaults", 67, 45, 1, 8, ""},
        {"one level", 40, 30, 1, 8, "-n 1"},
        {"no levels", 19, 11, 1, 8, "-n 1 -b 4,4"},
        {"six levels small blocks", 150, 97, 1, 8, "-n 6 -b 16,8"},
        {"tall blocks", 70, 90, 1, 8, "-b 8,64"},
        {"tiles", 101, 77, 3, 8, "-t 32,24 -n 3"},
        {"odd image origin", 53, 41, 3, 8, "-d 7,3"},
        {"odd image and tile origins", 60, 50, 1, 8, "-d 13,9 -T 5,4 -t 16,16 -n 3"},
        {"rgb with transform", 64, 48, 3, 8, ""},
        {"rgb without transform", 64, 48, 3, 8, "-mct 0"},
        {"sop and eph", 50, 40, 3, 8, "-SOP -EPH -r 10,1"},
        {"tile-parts by resolution", 64, 48, 3, 8, "-t 32,32 -n 3 -TP R"},
        {"one precinct larger than the image", 64, 48, 1, 8, "-c [128,128] -n 3"},
        {"twelve bits", 45, 38, 1, 12, ""},
        {"sixteen bits rgb", 40, 30, 3, 16, "-n 4"},
        {"one bit 13 wide", 13, 9, 1, 1, "-n 2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint32_t> samples = testSamples(c.width, c.height, c.components, c.bits);
        const std::string stream =
            m_tools.encode(samples, c.width, c.height, c.components, c.bits, c.options);
        ASSERT_FALSE(stream.empty());
        EXPECT_EQ(decode(stream), packRows(samples, c.width, c.height, c.components, c.bits));
    }
}

// Every option of the encoder that shapes the codestream: reversible streams
// (lossless or not) decode to the reference's samples exactly, irreversible
// ones within two levels of 8 bits.
TEST_F(Jpeg2000EncodedTest, StreamsDecodeAsTheReferenceDoes) {
    const struct {
        const char* name;
        int width, height, components, bits;
        const char* options;
    } cases[] = {
        // Precincts, in every progression order, over tiles whose origins
        // cut the first precincts.
        {"precincts", 203, 150, 3, 8, "-c [128,128],[64,64] -n 5"},
        {"small precincts and blocks", 120, 90, 1, 8, "-c [32,32],[16,16],[8,8] -b 8,8 -n 4"},
        {"precincts wider than high", 150, 100, 1, 8, "-c [64,16],[32,8] -b 16,4 -n 3"},
        {"precincts lrcp", 170, 130, 3, 8, "-p LRCP -c [64,64],[32,32] -r 30,10,1"},
        {"precincts rlcp", 170, 130, 3, 8, "-p RLCP -c [64,64],[32,32] -r 30,10,1"},
        {"precincts rpcl", 170, 130, 3, 8, "-p RPCL -c [64,64],[32,32] -r 30,10,1"},
        {"precincts pcrl", 170, 130, 3, 8, "-p PCRL -c [64,64],[32,32] -r 30,10,1"},
        {"precincts cprl", 170, 130, 3, 8, "-p CPRL -c [64,64],[32,32] -r 30,10,1"},
        {"rpcl tiles odd origins", 150, 120, 3, 8, "-p RPCL -c [32,32],[16,16] -t 70,50 -T 7,5 -d 9,11 -n 3"},
        {"pcrl tiles odd origins", 150, 120, 3, 8, "-p PCRL -c [32,32],[16,16] -t 70,50 -T 7,5 -d 9,11 -n 3"},
        {"cprl tiles odd origins", 150, 120, 1, 8, "-p CPRL -c [32,32],[16,16] -t 70,50 -T 7,5 -d 9,11 -n 3"},
        // Code-block styles, alone and together, over several layers.
        {"bypass", 130, 100, 3, 8, "-M 1 -r 20,5,1"},
        {"reset", 100, 80, 1, 8, "-M 2 -r 10,1"},
        {"termination on each pass", 100, 80, 3, 8, "-M 4 -r 20,5,1"},
        {"causal contexts", 100, 80, 1, 8, "-M 8"},
        {"predictable termination", 100, 80, 1, 8, "-M 16 -r 10,1"},
        {"segmentation symbols", 100, 80, 1, 8, "-M 32"},
        {"bypass and termination", 130, 100, 3, 8, "-M 5 -r 20,5,1"},
        {"bypass reset predictable", 130, 100, 1, 16, "-M 19 -r 20,5,1"},
        {"every style", 130, 100, 3, 8, "-M 63 -r 40,10,3,1 -c [64,64],[32,32]"},
        {"every style sixteen bits", 90, 70, 1, 16, "-M 63 -r 10,1"},
        // Progression changes in the tile-part header.
        {"poc", 120, 90, 3, 8, "-n 5 -r 20,10,1 -POC T1=0,0,1,3,3,RLCP/T1=0,0,3,6,3,LRCP"},
        {"poc precincts", 140, 100, 3, 8,
         "-n 4 -c [32,32] -r 20,10,1 -POC T1=0,0,2,5,3,CPRL/T1=0,0,3,5,3,RPCL"},
        // Tiles, tile-parts, layers, lengths.
        {"tile-parts by layer", 100, 80, 3, 8, "-t 48,48 -r 20,5,1 -TP L"},
        {"tile-parts by component", 100, 80, 3, 8, "-t 48,48 -TP C -p CPRL"},
        {"many layers", 120, 90, 3, 8, "-r 160,80,40,20,10,8,6,4,2,1 -c [64,64],[32,32]"},
        {"dropped layers", 120, 90, 3, 8, "-r 60,30"},
        {"quality layers", 120, 90, 3, 8, "-q 25,35,45 -c [64,64]"},
        {"plt and tlm", 120, 90, 3, 8, "-PLT -TLM -t 64,64 -c [32,32]"},
        // Irreversible.
        {"irreversible precincts and ten layers", 203, 150, 3, 8,
         "-I -r 160,80,40,20,10,8,6,4,2,1 -c [128,128],[64,64] -p RPCL"},
        {"irreversible every style", 130, 100, 3, 8, "-I -M 63 -r 30,10,5 -c [32,32]"},
        {"irreversible bypass tiles", 150, 110, 3, 8, "-I -M 1 -t 64,64 -q 30,40"},
        {"irreversible sixteen bits", 50, 40, 1, 16, "-I -n 4 -M 4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint32_t> samples = testSamples(c.width, c.height, c.components, c.bits);
        const std::string stream =
            m_tools.encode(samples, c.width, c.height, c.components, c.bits, c.options);
        ASSERT_FALSE(stream.empty());
        int components = 0;
        const std::vector<uint32_t> expected = m_tools.decode(stream, components);
        ASSERT_EQ(expected.size(), samples.size());
        const bool reversible = std::string(c.options).find("-I") == std::string::npos;
        EXPECT_LE(largestDifference(decode(stream), expected, c.bits), reversible ? 0 : 2 << (c.bits - 8));
    }
}

// The mean difference of 8-bit samples from the source's.
double meanDifference(const std::string& samples, const std::vector<uint32_t>& source) {
    if (samples.size() != source.size())
        return 255;
    int64_t sum = 0;
    for (size_t i = 0; i < source.size(); ++i)
        sum += std::abs(int(uint8_t(samples[i])) - int(source[i]));
    return double(sum) / double(source.size());
}

// Streams that end inside a layer: what arrived is decoded, a picture as
// close to the source as the reference makes of it. (The reference drops
// more of the last packet, so the samples themselves differ.)
TEST_F(Jpeg2000EncodedTest, CutStreamsKeepThePacketsThatArrived) {
    const struct {
        const char* name;
        const char* options;
        double share;
    } cases[] = {
        {"inside the last layers", "-p RLCP -r 50,10,1", 0.67},
        {"inside a precinct's packet", "-p LRCP -c [32,32] -r 30,8,1", 0.5},
        {"inside the second layer", "-p LRCP -r 30,8,1", 0.45},
        {"raw passes", "-M 1 -r 20,5,1", 0.7},
        {"every pass terminated", "-M 4 -c [32,32] -r 20,5,1", 0.6},
        {"tiles", "-t 40,40 -r 20,5,1", 0.55},
    };
    const std::vector<uint32_t> samples = testSamples(96, 80, 1, 8);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string stream = m_tools.encode(samples, 96, 80, 1, 8, c.options, "j2k");
        ASSERT_FALSE(stream.empty());
        const std::string cut = stream.substr(0, size_t(double(stream.size()) * c.share));
        int components = 0;
        const std::vector<uint32_t> reference = m_tools.decode(cut, components, "-allow-partial");
        ASSERT_EQ(reference.size(), samples.size());
        std::string theirs;
        for (uint32_t v : reference)
            theirs.push_back(char(v));
        ErrorCapture errors;
        const std::string ours = decode(cut);
        EXPECT_FALSE(errors.empty());
        EXPECT_LE(meanDifference(ours, samples), meanDifference(theirs, samples) + 0.5);
    }
}

// A stream cut inside the header of its second tile's part keeps the first
// tile (it used to give an empty stream) and reports the rest.
TEST_F(Jpeg2000EncodedTest, CutTilePartHeaderKeepsTheTilesBeforeIt) {
    const std::vector<uint32_t> samples = testSamples(64, 40, 1, 8);
    const std::string stream = m_tools.encode(samples, 64, 40, 1, 8, "-t 32,40 -n 3", "j2k");
    const size_t second = stream.find("\xFF\x90", stream.find("\xFF\x90") + 2);
    ASSERT_NE(second, std::string::npos);
    ErrorCapture errors;
    const std::string ours = decode(stream.substr(0, second + 5));
    EXPECT_FALSE(errors.empty());
    ASSERT_EQ(ours.size(), samples.size());
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 32; ++x)
            ASSERT_EQ(uint8_t(ours[size_t(y * 64 + x)]), samples[size_t(y * 64 + x)]) << x << "," << y;
    }
}

TEST_F(Jpeg2000EncodedTest, PackedPacketHeadersDecodeAsInPlaceOnes) {
    const struct {
        const char* name;
        bool ppm;
        const char* options;
    } cases[] = {
        {"ppm", true, "-r 20,5,1 -c [32,32]"},
        {"ppm tiles and tile-parts", true, "-t 48,40 -TP R -r 20,1 -p RPCL"},
        {"ppt", false, "-r 20,5,1 -c [32,32]"},
        // The encoder's tile-parts by layer or by resolution in LRCP order do
        // not hold together with SOP and EPH markers.
        {"ppt tiles and tile-parts", false, "-t 48,40 -TP C -r 20,5,1 -M 5 -p CPRL"},
    };
    const std::vector<uint32_t> samples = testSamples(110, 90, 3, 8);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string stream =
            m_tools.encode(samples, 110, 90, 3, 8, std::string(c.options) + " -SOP -EPH", "j2k");
        const std::string packed = test::packPacketHeaders(stream, c.ppm);
        ASSERT_FALSE(packed.empty());
        ASSERT_NE(packed.find(c.ppm ? "\xFF\x60" : "\xFF\x61"), std::string::npos);
        EXPECT_EQ(decode(packed), packRows(samples, 110, 90, 3, 8));
        int components = 0;
        EXPECT_EQ(m_tools.decode(packed, components), samples);  // the reference agrees on the form
    }
}

TEST_F(Jpeg2000EncodedTest, BareCodestreamDecodesAfterAReport) {
    const std::vector<uint32_t> samples = testSamples(30, 20, 3, 8);
    const std::string stream = m_tools.encode(samples, 30, 20, 3, 8, "-n 3", "j2k");
    ASSERT_EQ(uint8_t(stream[0]), 0xFF);
    ErrorCapture errors;
    RefPtr<DataStream> s = DataStream::makeFilter("JPXDecode", memoryStream(stream), PdfValue());
    EXPECT_EQ(readAll(s.get()), packRows(samples, 30, 20, 3, 8));
    EXPECT_TRUE(errors.contains("bare codestream"));
    int bits = 0, mode = 0;
    s->getImageFormatInfo(bits, mode);
    EXPECT_EQ(bits, 8);
    EXPECT_EQ(mode, 2);
}

PdfValue dictWithColourSpace(const char* space) {
    PdfValue name;
    name.initName(copyString(space));
    PdfValue dict;
    dict.initDict(nullptr);
    dict.getDict()->add(copyString("ColorSpace"), std::move(name));
    return dict;
}

// A palette file made here from a codestream of indices: without a colour
// space in the image dictionary the palette's colours come out, with one the
// indices do, for that colour space to map.
TEST_F(Jpeg2000EncodedTest, PaletteGivesColoursOrIndices) {
    const struct {
        const char* name;
        std::vector<int> depths;
        uint32_t space;
        int mode;
    } cases[] = {
        {"rgb", {7, 7, 7}, 16, 2},
        {"grey of 12 bits", {11}, 17, 1},
        {"cmyk", {7, 7, 7, 7}, 12, 3},
    };
    const int width = 37, height = 23, entries = 200;
    std::vector<uint32_t> indices = testSamples(width, height, 1, 8);
    for (uint32_t& v : indices)
        v %= entries;
    const std::string code = m_tools.encode(indices, width, height, 1, 8, "-n 3", "j2k");
    ASSERT_FALSE(code.empty());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int columns = int(c.depths.size());
        const int bits = (c.depths[0] & 0x7F) + 1;
        std::vector<int32_t> values;
        for (int e = 0; e < entries; ++e)
            for (int k = 0; k < columns; ++k)
                values.push_back((e * 37 + k * 101) % (1 << bits));
        const std::string file = test::paletteJp2(code, width, height, 8, c.depths, values, c.space);
        std::vector<uint32_t> colours;
        for (uint32_t index : indices)
            for (int k = 0; k < columns; ++k)
                colours.push_back(uint32_t(values[index * uint32_t(columns) + uint32_t(k)]));

        RefPtr<DataStream> s = DataStream::makeFilter("JPXDecode", memoryStream(file), PdfValue());
        int formatBits = 0, mode = 0;
        s->getImageFormatInfo(formatBits, mode);
        EXPECT_EQ(formatBits, bits);
        EXPECT_EQ(mode, c.mode);
        EXPECT_EQ(readAll(s.get()), packRows(colours, width, height, columns, bits));
        if (columns == 3 && bits == 8) {
            int components = 0;
            EXPECT_EQ(m_tools.decode(file, components), colours);  // the reference reads the file alike
        }

        s = DataStream::makeFilter("JPXDecode", memoryStream(file, dictWithColourSpace("Indexed")),
                                   PdfValue());
        formatBits = 0;
        s->getImageFormatInfo(formatBits, mode);
        EXPECT_EQ(formatBits, 8);
        EXPECT_EQ(readAll(s.get()), packRows(indices, width, height, 1, 8));
    }
}

// --- streams built here ---

// A codestream of one tile whose single packet is empty: every coefficient
// is 0, so each sample is the level shift (128 at 8 bits).
struct Codestream {
    uint32_t width = 4, height = 3, xOffset = 0, yOffset = 0;
    uint32_t tileWidth = 4, tileHeight = 3;
    int components = 1;
    int sizPrecision = 7;  // Ssiz: bits - 1, bit 7 for signed
    int xSeparation = 1, ySeparation = 1;
    int levels = 0, blockWidth = 4, blockHeight = 4, blockStyle = 0;
    int codingStyle = 0;
    std::string precincts;
    int steps = -1;         // QCD step count; -1 for 3 x levels + 1
    std::string mainExtra;  // marker segments after QCD
    bool quantFirst = false;
    bool unsizedPart = false;  // the tile-part's length 0: it runs to EOC

    std::string build() const {
        std::string siz = be16(0) + be32(width) + be32(height) + be32(xOffset) + be32(yOffset) +
                          be32(tileWidth) + be32(tileHeight) + be32(0) + be32(0) + be16(uint32_t(components));
        for (int c = 0; c < components; ++c)
            siz += std::string{char(sizPrecision), char(xSeparation), char(ySeparation)};
        const std::string cod =
            std::string{char(codingStyle), 0} + be16(1) +
            std::string{0, char(levels), char(blockWidth), char(blockHeight), char(blockStyle), 1} +
            precincts;
        const int count = steps < 0 ? 3 * levels + 1 : steps;
        const std::string qcd = std::string(1, char(0x40)) + std::string(size_t(count), char(10 << 3));
        auto segment = [](int marker, const std::string& body) {
            return be16(uint32_t(marker)) + be16(uint32_t(body.size() + 2)) + body;
        };
        std::string main = "\xFF\x4F" + segment(0xFF51, siz);
        main += quantFirst ? segment(0xFF5C, qcd) + segment(0xFF52, cod)
                           : segment(0xFF52, cod) + segment(0xFF5C, qcd);
        main += mainExtra;
        const std::string body(size_t(levels + 1) * size_t(components), '\0');
        const uint32_t partLength = unsizedPart ? 0 : uint32_t(14 + body.size());
        return main + "\xFF\x90" + be16(10) + be16(0) + be32(partLength) + std::string{0, 1} + "\xFF\x93" +
               body + "\xFF\xD9";
    }
};

std::string box(const char* type, const std::string& data) {
    return test::jp2Box(type, data);
}

// The header of the 4 x 3 image of Codestream.
std::string imageHeader(int components, int depth) {
    return test::jp2ImageHeader(4, 3, components, depth);
}

std::string colourBox(int precedence, uint32_t space, const std::string& extra = "") {
    return test::jp2ColourBox(precedence, space, extra);
}

using test::jp2File;

TEST(Jpeg2000DecoderTest, RefusesHeaderValuesItCannotDecode) {
    auto with = [](auto change) {
        Codestream c;
        change(c);
        return c.build();
    };
    const struct {
        const char* name;
        std::string stream;
    } cases[] = {
        {"tile width 0", with([](Codestream& c) { c.tileWidth = 0; })},
        {"tile height 0", with([](Codestream& c) { c.tileHeight = 0; })},
        {"separation 0", with([](Codestream& c) { c.ySeparation = 0; })},
        {"width at its offset", with([](Codestream& c) { c.xOffset = 4; })},
        {"precision 32", with([](Codestream& c) { c.sizPrecision = 31; })},
        {"tiles past the cap", with([](Codestream& c) {
             c.width = c.height = 1000;
             c.tileWidth = c.tileHeight = 1;
         })},
        {"samples past the cap",
         with([](Codestream& c) { c.width = c.height = c.tileWidth = c.tileHeight = 200000; })},
        // Few samples, but rows of the full width.
        {"rows past the cap", with([](Codestream& c) {
             c.width = c.tileWidth = 0x7FFFFFFF;
             c.xSeparation = 255;
         })},
        // The channels of a palette are copies of the samples.
        {"palette channels past the cap",
         test::paletteJp2(with([](Codestream& c) { c.width = c.height = c.tileWidth = c.tileHeight = 1200; }),
                          1200, 1200, 8, std::vector<int>(255, 7), std::vector<int32_t>(255, 0), 16)},
        // The only tile-part's header cut before its SOD: no tile was read.
        {"first tile-part header cut",
         [] {
             const std::string s = Codestream().build();
             return s.substr(0, s.find("\xFF\x90") + 12);
         }()},
        {"33 levels", with([](Codestream& c) { c.levels = 33; })},
        {"a block coder of a later part", with([](Codestream& c) { c.blockStyle = 0x40; })},
        {"block width 2^11", with([](Codestream& c) { c.blockWidth = 9; })},
        {"block area 2^14", with([](Codestream& c) { c.blockWidth = c.blockHeight = 5; })},
        {"too few steps", with([](Codestream& c) {
             c.levels = 2;
             c.steps = 6;
         })},
        {"COC component past the count", with([](Codestream& c) {
             c.mainExtra = std::string("\xFF\x53") + be16(9) + std::string{1, 0, 0, 4, 4, 0, 1};
         })},
        {"POC order past CPRL", with([](Codestream& c) {
             c.mainExtra = std::string("\xFF\x5F") + be16(9) + std::string{0, 0, 0, 1, 1, 0, 5};
         })},
        {"one-sample precinct above the lowest resolution", with([](Codestream& c) {
             c.levels = 1;
             c.codingStyle = 1;
             c.precincts = std::string("\x00\x00", 2);
         })},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ErrorCapture errors;
        EXPECT_EQ(decode(c.stream), "");
        EXPECT_FALSE(errors.empty());
    }
}

// A last tile-part whose length is 0 runs to the EOC marker, which ends
// the codestream as it should.
TEST(Jpeg2000DecoderTest, UnsizedLastTilePartEndsAtEoc) {
    Codestream c;
    c.unsizedPart = true;
    ErrorCapture errors;
    EXPECT_EQ(decode(c.build()), std::string(12, char(128)));
    EXPECT_FALSE(errors.contains("EOC"));
}

TEST(Jpeg2000DecoderTest, TileBeforeQuantisationGivesAnEmptyStream) {
    Codestream c;
    std::string stream = c.build();
    // Move QCD after SOT's position by dropping it from the main header.
    const size_t qcd = stream.find("\xFF\x5C");
    stream.erase(qcd, 5);
    ErrorCapture errors;
    EXPECT_EQ(decode(stream), "");
    EXPECT_TRUE(errors.contains("QCD"));
}

TEST(Jpeg2000DecoderTest, RowsStartOnByteBoundaries) {
    const struct {
        const char* name;
        Codestream stream;
        std::string expected;
    } cases[] = {
        {"8 bits", Codestream(), std::string(12, '\x80')},
        // 13 one-bit samples of value 1 a row, then padding.
        {"1 bit, 13 wide",
         [] {
             Codestream c;
             c.width = c.tileWidth = 13;
             c.sizPrecision = 0;
             return c;
         }(),
         std::string("\xFF\xF8\xFF\xF8\xFF\xF8", 6)},
        // The last column of a component at separation 2 maps past its
        // samples: it takes the last one.
        {"separation 2",
         [] {
             Codestream c;
             c.xSeparation = 2;
             c.levels = 1;
             return c;
         }(),
         std::string(12, '\x80')},
        {"signed",
         [] {
             Codestream c;
             c.sizPrecision = 0x87;
             return c;
         }(),
         std::string(12, '\0')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decode(c.stream.build()), c.expected);
    }
}

TEST(Jpeg2000DecoderTest, BoxesGiveTheFormatAndTheColourPrecedence) {
    const std::string code = Codestream().build();
    const struct {
        const char* name;
        std::string header;
        int bits, mode;
        bool decodes;
    } cases[] = {
        {"higher precedence wins", imageHeader(1, 7) + colourBox(0, 16) + colourBox(1, 17), 8, 1, true},
        {"tie keeps the first", imageHeader(1, 7) + colourBox(1, 16) + colourBox(1, 17), 8, 2, true},
        {"Lab of 7 bytes takes the defaults", imageHeader(1, 7) + colourBox(0, 14), 8, 1, true},
        {"Lab of 35 bytes", imageHeader(1, 7) + colourBox(0, 14, std::string(28, '\x01')), 8, 1, true},
        {"Lab of another length", imageHeader(1, 7) + colourBox(0, 14, std::string(4, '\x01')), 8, 1, false},
        {"refused space", imageHeader(1, 7) + colourBox(0, 5), 8, 1, false},
        {"signed depth loses its sign bit", imageHeader(1, 0x87) + colourBox(0, 17), 8, 1, true},
        {"varying depths read bpcc", imageHeader(1, 255) + box("bpcc", "\x0B") + colourBox(0, 17), 12, 1,
         true},
        {"CMYK", imageHeader(1, 7) + colourBox(0, 12), 8, 3, true},
        {"no colour box takes SIZ", imageHeader(1, 3), 8, 1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ErrorCapture errors;
        RefPtr<DataStream> s =
            DataStream::makeFilter("JPXDecode", memoryStream(jp2File(c.header, code)), PdfValue());
        int bits = 0, mode = 0;
        s->getImageFormatInfo(bits, mode);
        EXPECT_EQ(bits, c.bits);
        EXPECT_EQ(mode, c.mode);
        EXPECT_EQ(readAll(s.get()), c.decodes ? std::string(12, '\x80') : "");
    }
}

// A codestream that is not the image its file header describes, or whose
// tiles are mostly missing, gives no samples and a report; the image is
// then not drawn.
TEST(Jpeg2000DecoderTest, ContradictingSizesOrMostlyMissingTilesGiveNoImage) {
    auto tiled = [](uint32_t tileWidth, uint32_t tileHeight) {
        Codestream c;
        c.tileWidth = tileWidth;
        c.tileHeight = tileHeight;
        return c.build();
    };
    const std::string plain = Codestream().build();
    const struct {
        const char* name;
        std::string stream;
        const char* report;  // null where the image decodes
    } cases[] = {
        {"header of the codestream's size", jp2File(imageHeader(1, 7), plain), nullptr},
        {"header wider", jp2File(test::jp2ImageHeader(5, 3, 1, 7), plain), "differs"},
        {"header shorter", jp2File(test::jp2ImageHeader(4, 2, 1, 7), plain), "differs"},
        // The codestream's size less its offset is the image's.
        {"offset image",
         jp2File(imageHeader(1, 7),
                 [] {
                     Codestream c;
                     c.width = c.tileWidth = 5;
                     c.xOffset = 1;
                     return c.build();
                 }()),
         nullptr},
        // One tile-part, for tile 0: of two tiles half the image is there.
        {"one of two tiles", tiled(2, 3), nullptr},
        {"one of four tiles", tiled(1, 3), "mostly absent"},
        {"one of twelve tiles", jp2File(imageHeader(1, 7), tiled(1, 1)), "mostly absent"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ErrorCapture errors;
        const std::string samples = decode(c.stream);
        if (!c.report) {
            EXPECT_EQ(samples.size(), 12u);
        } else {
            EXPECT_EQ(samples, "");
            EXPECT_TRUE(errors.contains(c.report));
        }
    }
}

TEST(Jpeg2000DecoderTest, OpacityChannelsAreLeftOut) {
    Codestream c;
    c.components = 2;
    const std::string header =
        imageHeader(2, 7) + colourBox(0, 17) +
        box("cdef", be16(2) + be16(0) + be16(0) + be16(1) + be16(1) + be16(1) + be16(0));
    EXPECT_EQ(decode(jp2File(header, c.build())), std::string(12, '\x80'));
}

}  // namespace
}  // namespace rendova
