// The text of corpus pages as our interpreter shows it, glyph by glyph (the
// Unicode values that drawChar receives, in order), against the text that
// mutool draw -F txt extracts from the same pages, with white space ignored.
//
// Pages left out, and why: made-gs-camlidl-dvips1999-type3.pdf, whose Type 3
// fonts name their glyphs with two hexadecimal digits (/AC, /B8 ...): our
// glyph-name rule reads those names as the codes they spell, the peer uses
// the character codes; made-gs-cjk-aj.pdf, which shows part of a line
// beyond the page's right edge, where the peer extracts nothing.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/content/OutputDevice.h"
#include "engine/core/DynString.h"
#include "engine/core/GlobalSettings.h"
#include "engine/core/PdfDocument.h"
#include "tests/support/ErrorCapture.h"

namespace rendova::test {
namespace {

// Collects the Unicode values of every glyph, in the order shown.
class TextCollector : public OutputDevice {
public:
    std::u32string text;
    bool yAxisPointsDown() override { return true; }
    bool wantsGlyphByGlyphText() override { return true; }
    bool runsType3Glyphs() override { return false; }
    bool wantsNonText() override { return false; }
    void drawChar(GraphicsState*, double, double, double, double, double, double, unsigned, int,
                  const unsigned* unicode, int count) override {
        if (count == 0) {
            text += U'\uFFFD';
            return;
        }
        for (int i = 0; i < count; ++i)
            text += static_cast<char32_t>(unicode[i]);
    }
};

std::u32string fromUtf8(const std::string& s) {
    std::u32string out;
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        int n = c < 0x80 ? 1 : c < 0xe0 ? 2 : c < 0xf0 ? 3 : 4;
        char32_t v = n == 1 ? c : n == 2 ? c & 0x1f : n == 3 ? c & 0x0f : c & 0x07;
        for (int k = 1; k < n && i + k < s.size(); ++k)
            v = (v << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3f);
        out += v;
        i += static_cast<size_t>(n);
    }
    return out;
}

std::string toUtf8(const std::u32string& s) {
    std::string out;
    for (char32_t v : s) {
        if (v < 0x80) {
            out += static_cast<char>(v);
        } else if (v < 0x800) {
            out += static_cast<char>(0xc0 | (v >> 6));
            out += static_cast<char>(0x80 | (v & 0x3f));
        } else if (v < 0x10000) {
            out += static_cast<char>(0xe0 | (v >> 12));
            out += static_cast<char>(0x80 | ((v >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (v & 0x3f));
        } else {
            out += static_cast<char>(0xf0 | (v >> 18));
            out += static_cast<char>(0x80 | ((v >> 12) & 0x3f));
            out += static_cast<char>(0x80 | ((v >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (v & 0x3f));
        }
    }
    return out;
}

// Without white space, and with the Latin ligatures spelt out (the peer
// expands them when it extracts).
std::u32string normalise(const std::u32string& s) {
    static const char32_t* const kLigatures[] = {U"ff", U"fi", U"fl", U"ffi", U"ffl", U"st", U"st"};
    std::u32string out;
    for (char32_t c : s) {
        if (c == U' ' || c == U'\t' || c == U'\n' || c == U'\r' || c == U'\f' || c == 0xa0 || c == 0x3000 ||
            (c >= 0x2000 && c <= 0x200b))
            continue;
        if (c >= 0xfb00 && c <= 0xfb06) {
            out += kLigatures[c - 0xfb00];
            continue;
        }
        out += c;
    }
    return out;
}

std::string peerText(const std::string& file, int page) {
    const std::string command =
        "mutool draw -q -F txt -o - '" + file + "' " + std::to_string(page) + " 2>/dev/null";
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

struct Case {
    const char* file;
    int page;
    const char* what;
};

class TextExtractionCorpusTest : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        if (std::system("mutool -v > /dev/null 2>&1") != 0)
            GTEST_SKIP() << "mutool is not installed";
        m_settings = std::make_unique<GlobalSettings>("/nonexistent/rendova-test.conf");
        globalSettings = m_settings.get();
    }
    void TearDown() override { globalSettings = nullptr; }
    std::unique_ptr<GlobalSettings> m_settings;
    ErrorCapture m_errors;  // documents' defects are not this test's subject
};

TEST_P(TextExtractionCorpusTest, GlyphOrderAndUnicodeMatchThePeersText) {
    const Case& c = GetParam();
    const std::string path = std::string(RENDOVA_CORPUS_DIR) + "/" + c.file;
    if (!std::filesystem::exists(path))
        GTEST_SKIP() << path << " is missing";
    PdfDocument doc(std::make_unique<DynString>(path.c_str()), nullptr, nullptr);
    ASSERT_TRUE(doc.isOk()) << c.file;
    TextCollector device;
    doc.displayPage(&device, c.page, 72, 72, 0, false, true, false);
    const std::u32string ours = normalise(device.text);
    const std::u32string theirs = normalise(fromUtf8(peerText(path, c.page)));
    ASSERT_FALSE(theirs.empty()) << c.file << " page " << c.page << ": the peer extracted nothing";
    size_t at = 0;
    while (at < ours.size() && at < theirs.size() && ours[at] == theirs[at])
        ++at;
    const size_t from = at > 20 ? at - 20 : 0;
    EXPECT_EQ(ours, theirs) << c.file << " page " << c.page << " (" << c.what << "): first difference at "
                            << at << " of " << ours.size() << " / " << theirs.size()
                            << "\n  ours:   " << toUtf8(ours.substr(from, 60))
                            << "\n  theirs: " << toUtf8(theirs.substr(from, 60));
}

INSTANTIATE_TEST_SUITE_P(
    Corpus, TextExtractionCorpusTest,
    ::testing::Values(Case{"gh-pdf20-simple.pdf", 1, "standard 14, not embedded"},
                      Case{"made-gs-waterfal-std14.pdf", 1, "standard 14 at many sizes"},
                      Case{"deb-camlidl-pdftex013.pdf", 1, "embedded Type 1"},
                      Case{"deb-r-intro.pdf", 5, "embedded Type 1, object streams"},
                      Case{"deb-reportlab-userguide.pdf", 3, "embedded TrueType and Type 1"},
                      Case{"deb-valgrind-manual-fop.pdf", 2, "standard 14 from FOP"},
                      Case{"made-cairo-features-cjk-emoji.pdf", 1, "CID-keyed CFF and TrueType"},
                      Case{"gh-ocr-cmyk-photoshop.pdf", 1, "CID-keyed TrueType"},
                      Case{"gh-ocr-type3-nomapping.pdf", 1, "Type 3"}),
    [](const ::testing::TestParamInfo<Case>& param) {
        std::string name = param.param.file;
        name = name.substr(0, name.size() - 4) + "_p" + std::to_string(param.param.page);
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return name;
    });

}  // namespace
}  // namespace rendova::test
