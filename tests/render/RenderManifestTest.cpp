// Whole pages through the renderer facade against the peer: every file of
// tests/render/manifest is rendered with our facade and with `mutool draw`
// at the same resolution, page by page. For each page the share of
// differing pixels and the PSNR are printed; a page fails when the share is
// above the file's tolerance, and then leaves our rendering, the peer's and
// a difference image in the test output folder (render/<file>-<dpi>-p<n>-*.png).
//
// Manifest lines: file pages dpi tolerance [password=...] [peer=...] [reason...]
//   file       corpus:<name in the corpus folder> or built:<page of VectorPages.h
//              or ImagePages.h>
//   pages      all, a number, a range 2-5, or a list 1,3
//   dpi        the resolution of both renderings
//   tolerance  the largest share of differing pixels (0.004 is 0.4 %)
//   peer       a corpus file whose peer rendering stands for this file's:
//              for a set of files that all hold one picture, where the peer
//              fails on some of them
//   reason     why the tolerance is above the usual one, or what is not
//              compared yet; required for any exception
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/raster/PdfRenderer.h"
#include "tests/render/ImagePages.h"
#include "tests/render/RenderCompare.h"
#include "tests/support/ScopedEnvironment.h"

namespace rendova::test {
namespace {

// Anti-aliased edges are the only differences expected on a page that both
// renderers draw completely; above this a manifest line gives its reason.
constexpr double kUsualTolerance = 0.005;

struct ManifestEntry {
    std::string file;
    std::string pages;
    int dpi = 72;
    double tolerance = 0;
    std::string password;
    std::string peerFile;
    std::string reason;
    int line = 0;
};

// Test names print the line, not the bytes of the entry.
void PrintTo(const ManifestEntry& e, std::ostream* out) {
    *out << e.file << " (manifest line " << e.line << ")";
}

std::vector<ManifestEntry> readManifest() {
    std::vector<ManifestEntry> entries;
    std::ifstream in(std::string(RENDOVA_SOURCE_DIR) + "/tests/render/manifest");
    std::string text;
    int lineNumber = 0;
    while (std::getline(in, text)) {
        ++lineNumber;
        const size_t start = text.find_first_not_of(" \t");
        if (start == std::string::npos || text[start] == '#')
            continue;
        std::istringstream line(text);
        ManifestEntry e;
        e.line = lineNumber;
        line >> e.file >> e.pages >> e.dpi >> e.tolerance;
        std::string word;
        while (line >> word) {
            if (e.reason.empty() && word.rfind("password=", 0) == 0) {
                e.password = word.substr(9);
                continue;
            }
            if (e.reason.empty() && word.rfind("peer=", 0) == 0) {
                e.peerFile = word.substr(5);
                continue;
            }
            e.reason += (e.reason.empty() ? "" : " ") + word;
        }
        entries.push_back(e);
    }
    return entries;
}

// The page numbers of a pages field, within 1 .. count.
std::vector<int> pageList(const std::string& field, int count) {
    std::vector<int> pages;
    if (field == "all") {
        for (int i = 1; i <= count; ++i)
            pages.push_back(i);
        return pages;
    }
    std::istringstream in(field);
    std::string item;
    while (std::getline(in, item, ',')) {
        const size_t dash = item.find('-');
        const int first = std::stoi(item.substr(0, dash));
        const int last = dash == std::string::npos ? first : std::stoi(item.substr(dash + 1));
        for (int i = first; i <= last && i <= count; ++i)
            pages.push_back(i);
    }
    return pages;
}

// A name usable in test names and file names.
std::string safeName(const std::string& text) {
    std::string out;
    for (char c : text)
        out += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return out;
}

class RenderManifestTest : public ::testing::TestWithParam<ManifestEntry> {};

TEST(RenderManifest, EveryLineIsWellFormed) {
    const std::vector<ManifestEntry> entries = readManifest();
    ASSERT_FALSE(entries.empty()) << "tests/render/manifest is missing or empty";
    const auto built = builtPages();
    for (const ManifestEntry& e : entries) {
        EXPECT_TRUE(e.file.rfind("corpus:", 0) == 0 || e.file.rfind("built:", 0) == 0)
            << "line " << e.line << ": " << e.file;
        if (e.file.rfind("built:", 0) == 0) {
            EXPECT_TRUE(built.count(e.file.substr(6))) << "line " << e.line << ": no built page " << e.file;
        }
        EXPECT_GT(e.dpi, 0) << "line " << e.line;
        EXPECT_GT(e.tolerance, 0) << "line " << e.line;
        if (e.tolerance > kUsualTolerance) {
            EXPECT_FALSE(e.reason.empty())
                << "line " << e.line << ": a tolerance above " << kUsualTolerance << " needs a reason";
        }
    }
}

TEST_P(RenderManifestTest, PagesMatchThePeer) {
    const ManifestEntry& e = GetParam();
    if (!havePeer())
        GTEST_SKIP() << "mutool is not installed";
    const std::filesystem::path outDir = std::filesystem::path(RENDOVA_TEST_OUTPUT_DIR) / "render";
    std::filesystem::create_directories(outDir / "home");
    // No configuration file: the settings' defaults, as in a fresh install.
    ScopedEnvironment home("HOME", (outDir / "home").string());

    std::string path;
    if (e.file.rfind("built:", 0) == 0) {
        const auto pages = builtPages();
        const auto it = pages.find(e.file.substr(6));
        ASSERT_NE(it, pages.end()) << e.file;
        // Named after the resolution too: tests run in parallel processes.
        path = (outDir / (it->first + "-" + std::to_string(e.dpi) + ".pdf")).string();
        const std::string bytes = buildVectorPdf(it->second);
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    } else {
        path = std::string(RENDOVA_CORPUS_DIR) + "/" + e.file.substr(7);
        if (!std::filesystem::exists(path))
            GTEST_SKIP() << "not in the corpus: " << path;
    }
    const std::string peerPath =
        e.peerFile.empty() ? path : std::string(RENDOVA_CORPUS_DIR) + "/" + e.peerFile;

    PdfRenderer renderer;
    ASSERT_EQ(renderer.openDocument(path.c_str(), nullptr, e.password.empty() ? nullptr : e.password.c_str()),
              1)
        << path;
    ASSERT_EQ(renderer.setOption(PdfRenderer::kOptionResolution, e.dpi, e.dpi), 1);
    const std::vector<int> pages = pageList(e.pages, renderer.getPageCount());
    ASSERT_FALSE(pages.empty()) << "no pages selected by " << e.pages;
    const std::string stem = safeName(e.file.substr(e.file.find(':') + 1)) + "-" + std::to_string(e.dpi);
    for (int page : pages) {
        const std::string base = (outDir / (stem + "-p" + std::to_string(page))).string();
        RgbImage peer;
        ASSERT_TRUE(renderWithPeer(peerPath, page, e.dpi, e.password, base + "-peer.png", peer))
            << "mutool failed on " << peerPath << " page " << page;
        ASSERT_EQ(renderer.renderPage(page), 1) << "page " << page;
        int blockSize = 0;
        const RgbImage ours = fromBmpBlock(renderer.getBitmap(blockSize));
        // The two may round a fractional page size to different pixels.
        EXPECT_LE(std::abs(ours.width - peer.width), 1) << "page " << page;
        EXPECT_LE(std::abs(ours.height - peer.height), 1) << "page " << page;

        const Comparison c = compareImages(ours, peer);
        std::printf("[ render ] %-34s p%-3d %4d dpi %5dx%-5d %7.3f%% differ (limit %.3f%%), PSNR %5.1f dB\n",
                    e.file.c_str(), page, e.dpi, c.width, c.height, c.share * 100, e.tolerance * 100, c.psnr);
        EXPECT_LE(c.share, e.tolerance) << e.file << " page " << page << ": see " << base << "-diff.png";
        if (c.share > e.tolerance) {
            writePng(base + "-ours.png", ours);
            writePng(base + "-diff.png", c.diff);
        } else {
            std::filesystem::remove(base + "-peer.png");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Manifest, RenderManifestTest, ::testing::ValuesIn(readManifest()),
                         [](const ::testing::TestParamInfo<ManifestEntry>& param) {
                             const ManifestEntry& e = param.param;
                             return safeName(e.file.substr(e.file.find(':') + 1)) + "_" +
                                    std::to_string(e.dpi);
                         });

}  // namespace
}  // namespace rendova::test
