// Whole pages through the renderer facade against reference renderings:
// every file of tests/render/manifest is rendered with our facade and with
// `mutool draw` at the same resolution, page by page. Where that is farther
// than the file's tolerance, the page is held against the other references
// in turn: the expected picture that may lie beside a corpus document
// (NAME.expected.N.png, page N+1 at 72 dpi) and Ghostscript's rendering. A
// page holds when it is within tolerance of the nearest of them. For each
// page the share of differing pixels and the PSNR against the nearest are
// printed; a failing page leaves our rendering, the peers' and a difference
// image against the nearest reference in the test output folder
// (render/<file>-<dpi>-p<n>-*.png).
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

#include <algorithm>
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

// One picture a page is held against and how far ours is from it.
struct Reference {
    std::string name;  // "mutool", "expected" or "gs"
    std::string path;  // the picture's file
    bool usable = false;
    std::string note;  // why it is not usable, or the distance
    Comparison comparison;
};

// The renderings of one page that ours is held against, made or read one at
// a time: the next is only needed while none so far is within tolerance.
class PageReferences {
public:
    PageReferences(const ManifestEntry& e, std::string document, std::string peerDocument, int page,
                   std::string base)
        : m_entry(e),
          m_document(std::move(document)),
          m_peerDocument(std::move(peerDocument)),
          m_page(page),
          m_base(std::move(base)) {}

    // The reference of that kind compared with ours; `usable` false when it
    // is not there, fails, or shows another page size.
    Reference compare(const std::string& kind, const RgbImage& ours) const {
        Reference r;
        r.name = kind;
        RgbImage picture;
        bool read = false;
        if (kind == "mutool") {
            r.path = m_base + "-peer.png";
            read = renderWithPeer(m_peerDocument, m_page, m_entry.dpi, m_entry.password, r.path, picture);
        } else if (kind == "gs") {
            r.path = m_base + "-gs.png";
            read =
                renderWithGhostscript(m_peerDocument, m_page, m_entry.dpi, m_entry.password, r.path, picture);
        } else {
            r.path = expectedPicturePath(m_document, m_page, m_entry.dpi);
            if (r.path.empty()) {
                r.note = "none";
                return r;
            }
            read = readPng(r.path, picture);
        }
        if (!read) {
            r.note = "failed";
            return r;
        }
        // Renderers may round a fractional page size to different pixels.
        if (std::abs(ours.width - picture.width) > 1 || std::abs(ours.height - picture.height) > 1) {
            r.note = "is " + std::to_string(picture.width) + "x" + std::to_string(picture.height);
            return r;
        }
        r.usable = true;
        r.comparison = compareImages(ours, picture);
        char text[32];
        std::snprintf(text, sizeof text, "%.3f%%", r.comparison.share * 100);
        r.note = text;
        return r;
    }

private:
    const ManifestEntry& m_entry;
    std::string m_document;
    std::string m_peerDocument;
    int m_page;
    std::string m_base;
};

// Ours against mutool, then the expected picture, then Ghostscript, until
// one is within tolerance; the nearest of those tried comes first.
std::vector<Reference> holdAgainstReferences(const PageReferences& references, const RgbImage& ours,
                                             double tolerance) {
    std::vector<Reference> tried;
    for (const char* kind : {"mutool", "expected", "gs"}) {
        tried.push_back(references.compare(kind, ours));
        if (tried.back().usable && tried.back().comparison.share <= tolerance)
            break;
    }
    std::stable_sort(tried.begin(), tried.end(), [](const Reference& a, const Reference& b) {
        return a.usable > b.usable || (a.usable && b.usable && a.comparison.share < b.comparison.share);
    });
    return tried;
}

std::string describe(const std::vector<Reference>& tried) {
    std::string text;
    for (const Reference& r : tried)
        text += (text.empty() ? "" : ", ") + r.name + " " + r.note;
    return text;
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

TEST_P(RenderManifestTest, PagesMatchAReference) {
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
        ASSERT_EQ(renderer.renderPage(page), 1) << "page " << page;
        int blockSize = 0;
        const RgbImage ours = fromBmpBlock(renderer.getBitmap(blockSize));
        const PageReferences references(e, path, peerPath, page, base);
        const std::vector<Reference> tried = holdAgainstReferences(references, ours, e.tolerance);
        const Reference& nearest = tried.front();
        ASSERT_TRUE(nearest.usable) << e.file << " page " << page << ": no reference to compare with ("
                                    << describe(tried) << ")";
        const Comparison& c = nearest.comparison;
        std::printf(
            "[ render ] %-34s p%-3d %4d dpi %5dx%-5d %7.3f%% differ from %-8s (limit %.3f%%), PSNR "
            "%5.1f dB\n",
            e.file.c_str(), page, e.dpi, c.width, c.height, c.share * 100, nearest.name.c_str(),
            e.tolerance * 100, c.psnr);
        EXPECT_LE(c.share, e.tolerance) << e.file << " page " << page << ": " << describe(tried) << "; see "
                                        << base << "-diff.png (against " << nearest.name << ")";
        if (c.share > e.tolerance) {
            writePng(base + "-ours.png", ours);
            writePng(base + "-diff.png", c.diff);
        } else {
            std::filesystem::remove(base + "-peer.png");
            std::filesystem::remove(base + "-gs.png");
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
