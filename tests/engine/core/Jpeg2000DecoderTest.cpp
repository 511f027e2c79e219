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
                double v = smooth + ((x / 8 + y / 5) % 3 == 0 ? 0.3 : 0.0) + double(seed >> 16 & 0xFF) / 2550.0;
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
        samples.push_back(wide ? uint32_t(uint8_t(file[pos])) << 8 | uint8_t(file[pos + 1]) : uint8_t(file[pos]));
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
            input = "-i " + raw.string() + " -F " + std::to_string(width) + "," + std::to_string(height) + "," +
                    std::to_string(components) + "," + std::to_string(bits) + ",u";
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
        {"four components", 33, 21, 4, 8, "-n 3"},
        {"twelve bits", 45, 38, 1, 12, ""},
        {"sixteen bits rgb", 40, 30, 3, 16, "-n 4"},
        {"one bit 13 wide", 13, 9, 1, 1, "-n 2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint32_t> samples = testSamples(c.width, c.height, c.components, c.bits);
        const std::string stream = encode(samples, c.width, c.height, c.components, c.bits, c.options);
        ASSERT_FALSE(stream.empty());
        EXPECT_EQ(decode(stream), packRows(samples, c.width, c.height, c.components, c.bits));
    }
}

TEST_F(Jpeg2000EncodedTest, IrreversibleStreamsDecodeCloseToTheReference) {
    const struct {
        const char* name;
        int width, height, components;
        const char* options;
    } cases[] = {
        {"grey", 70, 50, 1, "-I"},
        {"rgb", 90, 61, 3, "-I"},
        {"rgb lossy layers", 64, 64, 3, "-I -r 30,10"},
        {"rgb tiles odd origin", 77, 55, 3, "-I -t 32,32 -d 3,5 -n 4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint32_t> samples = testSamples(c.width, c.height, c.components, 8);
        const std::string stream = encode(samples, c.width, c.height, c.components, 8, c.options);
        ASSERT_FALSE(stream.empty());
        int width = 0, height = 0;
        const std::vector<uint32_t> expected = reference(stream, c.components == 1, width, height);
        ASSERT_EQ(expected.size(), samples.size());
        const std::string ours = decode(stream);
        ASSERT_EQ(ours.size(), expected.size());
        int worst = 0;
        for (size_t i = 0; i < expected.size(); ++i)
            worst = std::max(worst, std::abs(int(uint8_t(ours[i])) - int(expected[i])));
        EXPECT_LE(worst, 2);
    }
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

}  // namespace
}  // namespace rendova
