// The JPEG 2000 decoder on streams that opj_compress writes at test time
// (reversible ones against their source samples, irreversible ones against
// opj_decompress), and on small files built here for the box rules and the
// defects that no encoder writes.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/core/DataStream.h"
#include "engine/core/Jpeg2000Decoder.h"
#include "tests/engine/core/StreamTestHelpers.h"
#include "tests/support/ErrorCapture.h"

namespace rendova {
namespace {

namespace fs = std::filesystem;
using test::ErrorCapture;
using test::memoryStream;
using test::readAll;

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

// A PGM or PPM file of the samples (two bytes a sample above 8 bits).
std::string pnmFile(const std::vector<uint32_t>& samples, int width, int height, int components, int bits) {
    std::string out = std::string(components == 1 ? "P5" : "P6") + "\n" + std::to_string(width) + " " +
                      std::to_string(height) + "\n" + std::to_string((1u << bits) - 1) + "\n";
    for (uint32_t v : samples) {
        if (bits > 8)
            out.push_back(char(v >> 8));
        out.push_back(char(v));
    }
    return out;
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

// Samples of a PNM file that opj_decompress wrote.
std::vector<uint32_t> pnmSamples(const std::string& file, int& width, int& height) {
    std::vector<uint32_t> samples;
    size_t pos = 2;
    int fields[3] = {};
    for (int f = 0; f < 3; ++f) {
        while (pos < file.size() && (std::isspace(uint8_t(file[pos])) || file[pos] == '#')) {
            if (file[pos] == '#')
                pos = file.find('\n', pos);
            else
                ++pos;
        }
        while (pos < file.size() && std::isdigit(uint8_t(file[pos])))
            fields[f] = fields[f] * 10 + (file[pos++] - '0');
    }
    ++pos;
    width = fields[0];
    height = fields[1];
    const bool wide = fields[2] > 255;
    for (; pos < file.size(); pos += wide ? 2 : 1)
        samples.push_back(wide ? uint32_t(uint8_t(file[pos])) << 8 | uint8_t(file[pos + 1])
                               : uint8_t(file[pos]));
    return samples;
}

class Jpeg2000EncodedTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!run("command -v opj_compress") || !run("command -v opj_decompress"))
            GTEST_SKIP() << "opj_compress or opj_decompress missing";
        std::string pattern = (fs::temp_directory_path() / "jpx-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
    }
    void TearDown() override {
        if (!m_dir.empty())
            fs::remove_all(m_dir);
    }

    // The stream that opj_compress makes of the samples with the options.
    std::string encode(const std::vector<uint32_t>& samples, int width, int height, int components, int bits,
                       const std::string& options, const std::string& extension = "jp2") {
        const fs::path in = m_dir / (components == 1 ? "in.pgm" : "in.ppm");
        fs::path raw;
        std::string input;
        if (components == 1 && bits == 1) {
            // opj_compress keeps one bit only from a bilevel PNG.
            writeFile(in, pnmFile(samples, width, height, components, bits));
            const fs::path png = m_dir / "in.png";
            if (!run("convert " + in.string() + " -depth 1 -type bilevel " + png.string()))
                return "";
            input = "-i " + png.string();
        } else if (components == 1 || components == 3) {
            writeFile(in, pnmFile(samples, width, height, components, bits));
            input = "-i " + in.string();
        } else {
            // Other counts go through raw planar files.
            raw = m_dir / "in.raw";
            std::string planar;
            for (int c = 0; c < components; ++c)
                for (size_t i = size_t(c); i < samples.size(); i += size_t(components)) {
                    if (bits > 8)
                        planar.push_back(char(samples[i] >> 8));
                    planar.push_back(char(samples[i]));
                }
            writeFile(raw, planar);
            input = "-i " + raw.string() + " -F " + std::to_string(width) + "," + std::to_string(height) +
                    "," + std::to_string(components) + "," + std::to_string(bits) + ",u";
        }
        const fs::path out = m_dir / ("out." + extension);
        fs::remove(out);
        const std::string command = "opj_compress " + input + " -o " + out.string() + " " + options;
        if (!run(command))
            ADD_FAILURE() << command;
        return readFile(out);
    }

    // opj_decompress's samples of a stream.
    std::vector<uint32_t> reference(const std::string& stream, bool grey, int& width, int& height) {
        const fs::path in = m_dir / "ref.jp2";
        const fs::path out = m_dir / (grey ? "ref.pgm" : "ref.ppm");
        writeFile(in, stream);
        fs::remove(out);
        if (!run("opj_decompress -i " + in.string() + " -o " + out.string()))
            return {};
        return pnmSamples(readFile(out), width, height);
    }

    fs::path m_dir;
};

std::string decode(const std::string& stream) {
    RefPtr<DataStream> s = DataStream::makeFilter("JPXDecode", memoryStream(stream), PdfValue());
    return readAll(s.get());
}

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
        {"lrcp layers", 80, 60, 3, 8, "-p LRCP -r 40,10,1"},
        {"rlcp", 80, 60, 3, 8, "-p RLCP -r 20,1"},
        {"rpcl", 80, 60, 3, 8, "-p RPCL -r 20,1"},
        {"pcrl", 80, 60, 3, 8, "-p PCRL -r 20,1"},
        {"cprl", 80, 60, 3, 8, "-p CPRL -r 20,1"},
        {"sop and eph", 50, 40, 3, 8, "-SOP -EPH -r 10,1"},
        {"tile-parts by resolution", 64, 48, 3, 8, "-t 32,32 -n 3 -TP R"},
        {"one precinct larger than the image", 64, 48, 1, 8, "-c [128,128] -n 3"},
        {"four components", 33, 21, 4, 8, "-n 3"},
        {"twelve bits", 45, 38, 1, 12, ""},
        {"sixteen bits rgb", 40, 30, 3, 16, "-n 4"},
        {"one bit 13 wide", 13, 9, 1, 1, "-n 2"},
        {"context reset", 60, 40, 3, 8, "-n 3 -M 2"},
        {"causal contexts", 60, 40, 1, 8, "-n 3 -M 8"},
        {"reset, causal, predictable, segmentation", 60, 40, 3, 8, "-n 3 -M 58 -r 10,1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint32_t> samples = testSamples(c.width, c.height, c.components, c.bits);
        const std::string stream = encode(samples, c.width, c.height, c.components, c.bits, c.options);
        ASSERT_FALSE(stream.empty());
        EXPECT_EQ(decode(stream), packRows(samples, c.width, c.height, c.components, c.bits));
    }
}

TEST_F(Jpeg2000EncodedTest, StreamsDecodeCloseToTheReference) {
    const struct {
        const char* name;
        int width, height, components, bits;
        const char* options;
    } cases[] = {
        {"grey", 70, 50, 1, 8, "-I"},
        {"rgb", 90, 61, 3, 8, "-I"},
        {"rgb lossy layers", 64, 64, 3, 8, "-I -r 30,10"},
        {"rgb tiles odd origin", 77, 55, 3, 8, "-I -t 32,32 -d 3,5 -n 4"},
        {"sixteen bits", 50, 40, 1, 16, "-I -n 4"},
        // A lone sample at an odd column was doubled by the analysis (the
        // encoder does not restore it, so the source cannot be the reference).
        {"reversible last tile one column wide", 57, 50, 1, 8, "-d 13,9 -T 5,4 -t 16,16 -n 3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint32_t> samples = testSamples(c.width, c.height, c.components, c.bits);
        const std::string stream = encode(samples, c.width, c.height, c.components, c.bits, c.options);
        ASSERT_FALSE(stream.empty());
        int width = 0, height = 0;
        const std::vector<uint32_t> expected = reference(stream, c.components == 1, width, height);
        ASSERT_EQ(expected.size(), samples.size());
        const std::string ours = decode(stream);
        const size_t bytes = c.bits > 8 ? 2 : 1;
        ASSERT_EQ(ours.size(), expected.size() * bytes);
        int worst = 0;
        for (size_t i = 0; i < expected.size(); ++i) {
            const int v =
                bytes == 2 ? uint8_t(ours[2 * i]) << 8 | uint8_t(ours[2 * i + 1]) : uint8_t(ours[i]);
            worst = std::max(worst, std::abs(v - int(expected[i])));
        }
        // Two levels of 8 bits, scaled to the precision.
        EXPECT_LE(worst, 2 << (c.bits - 8));
    }
}

TEST_F(Jpeg2000EncodedTest, CutStreamKeepsThePacketsThatArrived) {
    const std::vector<uint32_t> samples = testSamples(64, 64, 1, 8);
    const std::string stream = encode(samples, 64, 64, 1, 8, "-p RLCP -r 50,10,1");
    ASSERT_FALSE(stream.empty());
    ErrorCapture errors;
    const std::string ours = decode(stream.substr(0, stream.size() * 2 / 3));
    EXPECT_FALSE(errors.empty());
    // The low resolutions arrived: the image is there, if blurred.
    ASSERT_EQ(ours.size(), samples.size());
    int64_t error = 0;
    for (size_t i = 0; i < samples.size(); ++i)
        error += std::abs(int(uint8_t(ours[i])) - int(samples[i]));
    EXPECT_LT(error / int64_t(samples.size()), 40);
}

TEST_F(Jpeg2000EncodedTest, BareCodestreamDecodesAfterAReport) {
    const std::vector<uint32_t> samples = testSamples(30, 20, 3, 8);
    const std::string stream = encode(samples, 30, 20, 3, 8, "-n 3", "j2k");
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

// --- streams built here ---

std::string be16(uint32_t v) {
    return {char(v >> 8), char(v)};
}
std::string be32(uint32_t v) {
    return be16(v >> 16) + be16(v & 0xFFFF);
}

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
        return main + "\xFF\x90" + be16(10) + be16(0) + be32(uint32_t(14 + body.size())) + std::string{0, 1} +
               "\xFF\x93" + body + "\xFF\xD9";
    }
};

std::string box(const char* type, const std::string& data) {
    return be32(uint32_t(data.size() + 8)) + type + data;
}

std::string imageHeader(int components, int bits) {
    return box("ihdr", be32(3) + be32(4) + be16(uint32_t(components)) + std::string{char(bits), 7, 0, 0});
}

std::string colourBox(int precedence, uint32_t space, const std::string& extra = "") {
    return box("colr", std::string{1, char(precedence), 0} + be32(space) + extra);
}

// A JP2 file: the signature, the header boxes given and the codestream.
std::string jp2File(const std::string& header, const std::string& codestream) {
    return box("jP  ", "\x0D\x0A\x87\x0A") + box("ftyp", "jp2 " + be32(0) + "jp2 ") + box("jp2h", header) +
           box("jp2c", codestream);
}

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
        {"33 levels", with([](Codestream& c) { c.levels = 33; })},
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
