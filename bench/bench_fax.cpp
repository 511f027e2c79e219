// CCITT fax decoding speed of the engine's decoder against libtiff's on the
// same strips in the same run, in MB of bitmap (packed rows) per second.
// Two pictures, each written by libtiff as one strip in Group 4, Group 3
// two-dimensional and Group 3 one-dimensional coding: a text page that
// Ghostscript rasterises at 300 dpi (when it is installed) and a synthetic
// picture of runs of every length, rows following the row above.
//
// Ours reads through getBlock into a 64 KB buffer, as the image readers do;
// libtiff decodes the whole strip into one buffer (TIFFReadEncodedStrip).
#include <benchmark/benchmark.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "bench/RateReporter.h"
#include "engine/core/FaxDecoder.h"
#include "engine/core/MemorySource.h"
#include "engine/core/PdfValue.h"

namespace {

using rendova::DataStream;
using rendova::RefPtr;

struct Picture {
    std::string name;
    int width = 0;
    int height = 0;
    // Packed rows, 1 = black.
    std::vector<uint8_t> rows;
    size_t rowBytes() const { return (size_t(width) + 7) / 8; }
};

struct Coding {
    std::string name;
    int compression;
    uint32_t group3Options;
    int k;
};

struct Dataset {
    std::string name;
    const Picture* picture;
    int k;
    std::string tiffPath;
    std::string strip;
};

// A 300 dpi letter page of text and rules from Ghostscript, or nothing.
Picture textPage(const std::string& dir) {
    Picture p;
    const std::string ps = dir + "/page.ps", pbm = dir + "/page.pbm";
    {
        std::ofstream out(ps);
        out << "/Times-Roman findfont 11 scalefont setfont\n";
        for (int line = 0; line < 60; ++line)
            out << "72 " << 740 - line * 11 << " moveto (Line " << line
                << ": the quick brown fox jumps over the lazy dog 0123456789 ABCDEFGHIJ) show\n";
        out << "2 setlinewidth 72 60 moveto 540 60 lineto stroke showpage\n";
    }
    const std::string command = "gs -q -dSAFER -dBATCH -dNOPAUSE -r300 -g2550x3300 -sDEVICE=pbmraw -o '" +
                                pbm + "' '" + ps + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0)
        return p;
    std::ifstream in(pbm, std::ios::binary);
    const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // "P4", comments, "2550 3300", one space, rows.
    size_t at = 0;
    int fields = 0;
    while (fields < 3 && at < data.size()) {
        if (data[at] == '#')
            at = data.find('\n', at);
        else if (std::isspace(uint8_t(data[at])))
            ++at;
        else {
            at = data.find_first_of(" \t\r\n", at);
            ++fields;
        }
    }
    p.name = "text300";
    p.width = 2550;
    p.height = 3300;
    p.rows.assign(data.begin() + long(at + 1), data.end());
    if (p.rows.size() != p.rowBytes() * size_t(p.height))
        p.rows.clear();
    return p;
}

// Runs of every length, many rows shifted copies of the row above.
Picture syntheticPage() {
    Picture p;
    p.name = "runs";
    p.width = 2000;
    p.height = 2000;
    p.rows.assign(p.rowBytes() * size_t(p.height), 0);
    std::mt19937 random(1);
    std::vector<uint8_t> row(size_t(p.width)), above(size_t(p.width), 0);
    for (int y = 0; y < p.height; ++y) {
        if (random() % 4 && y > 0) {
            row = above;
            for (int x = 1; x < p.width; ++x)
                if (above[size_t(x)] != above[size_t(x) - 1] && random() % 3 == 0)
                    row[size_t(x) - 1] = above[size_t(x)];
        } else {
            uint8_t colour = 0;
            for (int x = 0; x < p.width;) {
                const int run = 1 + int(random() % (random() % 4 ? 40 : 400));
                for (int i = 0; i < run && x < p.width; ++i)
                    row[size_t(x++)] = colour;
                colour ^= 1;
            }
        }
        for (int x = 0; x < p.width; ++x)
            if (row[size_t(x)])
                p.rows[size_t(y) * p.rowBytes() + size_t(x / 8)] |= uint8_t(0x80 >> (x % 8));
        above = row;
    }
    return p;
}

// Writes the picture as one strip; gives the raw strip.
std::string writeTiff(const Picture& p, const Coding& c, const std::string& path) {
    TIFFSetWarningHandler(nullptr);
    TIFF* out = TIFFOpen(path.c_str(), "w");
    if (!out)
        return {};
    TIFFSetField(out, TIFFTAG_IMAGEWIDTH, uint32_t(p.width));
    TIFFSetField(out, TIFFTAG_IMAGELENGTH, uint32_t(p.height));
    TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, uint16_t(1));
    TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, uint16_t(1));
    TIFFSetField(out, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(out, TIFFTAG_COMPRESSION, uint16_t(c.compression));
    if (c.compression == COMPRESSION_CCITTFAX3)
        TIFFSetField(out, TIFFTAG_GROUP3OPTIONS, c.group3Options);
    TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, uint32_t(p.height));
    for (int y = 0; y < p.height; ++y)
        TIFFWriteScanline(out, const_cast<uint8_t*>(p.rows.data() + size_t(y) * p.rowBytes()), uint32_t(y),
                          0);
    TIFFClose(out);
    TIFF* in = TIFFOpen(path.c_str(), "r");
    if (!in)
        return {};
    std::string strip(size_t(TIFFRawStripSize(in, 0)), '\0');
    TIFFReadRawStrip(in, 0, strip.data(), tmsize_t(strip.size()));
    TIFFClose(in);
    return strip;
}

RefPtr<DataStream> ourDecoder(const Dataset& d) {
    RefPtr<DataStream> source = RefPtr<DataStream>::adopt(
        new rendova::MemorySource(d.strip.data(), 0, uint32_t(d.strip.size()), rendova::PdfValue()));
    return RefPtr<DataStream>::adopt(new rendova::FaxDecoder(
        std::move(source), d.k, false, false, d.picture->width, d.picture->height, false, true));
}

void benchOurs(benchmark::State& state, const Dataset* d) {
    RefPtr<DataStream> decoder = ourDecoder(*d);
    std::vector<uint8_t> buffer(65536);
    const size_t expected = d->picture->rows.size();
    for (auto _ : state) {
        decoder->reset();
        size_t total = 0;
        for (int n; (n = decoder->getBlock(buffer.data(), int(buffer.size()))) > 0;)
            total += size_t(n);
        benchmark::DoNotOptimize(buffer.data());
        if (total != expected)
            state.SkipWithError("decoded size differs");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(expected));
}

void benchLibtiff(benchmark::State& state, const Dataset* d) {
    TIFF* in = TIFFOpen(d->tiffPath.c_str(), "r");
    const size_t expected = d->picture->rows.size();
    std::vector<uint8_t> buffer(expected);
    for (auto _ : state) {
        const tmsize_t n = TIFFReadEncodedStrip(in, 0, buffer.data(), tmsize_t(buffer.size()));
        benchmark::DoNotOptimize(buffer.data());
        if (n != tmsize_t(expected))
            state.SkipWithError("decoded size differs");
    }
    TIFFClose(in);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(expected));
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    char dirTemplate[] = "/tmp/bench-fax-XXXXXX";
    const char* made = mkdtemp(dirTemplate);
    if (!made)
        return 1;
    const std::string dir = made;

    std::vector<Picture> pictures;
    Picture text = textPage(dir);
    if (!text.rows.empty())
        pictures.push_back(std::move(text));
    pictures.push_back(syntheticPage());
    const Coding codings[] = {{"g4", COMPRESSION_CCITTFAX4, 0, -1},
                              {"g3_2d", COMPRESSION_CCITTFAX3, GROUP3OPT_2DENCODING, 1},
                              {"g3", COMPRESSION_CCITTFAX3, 0, 0}};
    std::vector<Dataset> datasets;
    for (const Picture& p : pictures) {
        for (const Coding& c : codings) {
            Dataset d{p.name + "_" + c.name, &p, c.k, dir + "/" + p.name + "_" + c.name + ".tif", {}};
            d.strip = writeTiff(p, c, d.tiffPath);
            std::printf("%s: %dx%d, %zu bitmap bytes, %zu coded (%.1f:1)\n", d.name.c_str(), p.width,
                        p.height, p.rows.size(), d.strip.size(),
                        double(p.rows.size()) / double(d.strip.size()));
            if (!d.strip.empty())
                datasets.push_back(std::move(d));
        }
    }
    for (const Dataset& d : datasets) {
        for (auto* b : {benchmark::RegisterBenchmark(("libtiff/" + d.name).c_str(), benchLibtiff, &d),
                        benchmark::RegisterBenchmark(("ours/" + d.name).c_str(), benchOurs, &d)})
            rendova::bench::repeatForMedian(b);
    }

    rendova::bench::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\nFax decoding (MB/s = 10^6 bitmap bytes per second; ratio = libtiff's rate / ours)\n");
    for (const Dataset& d : datasets) {
        const double tiff = reporter.rate("libtiff/" + d.name) / 1e6;
        const double ours = reporter.rate("ours/" + d.name) / 1e6;
        if (tiff <= 0 || ours <= 0)
            continue;
        std::printf("%-14s libtiff %8.1f   ours %8.1f   ratio %.2f\n", d.name.c_str(), tiff, ours,
                    tiff / ours);
    }
    for (const Dataset& d : datasets)
        std::remove(d.tiffPath.c_str());
    std::remove((dir + "/page.ps").c_str());
    std::remove((dir + "/page.pbm").c_str());
    rmdir(dir.c_str());
    return 0;
}
