// The font-file readers over the fonts embedded in the corpus documents,
// compared with FreeType. The fonts are extracted at test time with MuPDF's
// `mutool extract`, which writes each embedded font program as a file named
// after its kind (.ttf TrueType, .cff compact, .cid CID-keyed compact, .pfa
// Type 1).

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "tests/engine/content/FontCheck.h"

namespace rendova {
namespace {

namespace fs = std::filesystem;
using namespace test;

// Extracts the fonts of the corpus documents that embed fonts into `root`, a
// folder for each document, and answers the font files by extension.
std::map<std::string, std::vector<std::string>> extractCorpusFonts(const fs::path& root) {
    std::map<std::string, std::vector<std::string>> fonts;
    fs::remove_all(root);
    // The documents whose manifest line lists embedded font files.
    std::ifstream manifest(std::string(RENDOVA_CORPUS_DIR) + "/MANIFEST.tsv");
    std::vector<fs::path> documents;
    for (std::string line; std::getline(manifest, line);) {
        if (line.find("FontFile") != std::string::npos && line.find(".pdf\t") != std::string::npos)
            documents.push_back(fs::path(RENDOVA_CORPUS_DIR) / line.substr(0, line.find('\t')));
    }
    for (const fs::path& document : documents) {
        if (!fs::exists(document))
            continue;
        fs::path dir = root / document.stem();
        fs::create_directories(dir);
        std::string command =
            "cd '" + dir.string() + "' && mutool extract '" + document.string() + "' >/dev/null 2>&1";
        (void)std::system(command.c_str());
        for (const auto& file : fs::directory_iterator(dir)) {
            std::string extension = file.path().extension().string();
            if (extension == ".ttf" || extension == ".cff" || extension == ".cid" || extension == ".pfa" ||
                extension == ".otf")
                fonts[extension].push_back(file.path().string());
            else
                fs::remove(file.path());
        }
    }
    for (auto& [extension, files] : fonts)
        std::sort(files.begin(), files.end());
    return fonts;
}

class FontFileCorpus : public ::testing::Test {
protected:
    // Once per test process, in a folder of the process's own under the test
    // output folder (CTest runs the tests of a suite in parallel processes).
    static fs::path root() {
        return fs::path(RENDOVA_TEST_OUTPUT_DIR) / ("fontfile-corpus-" + std::to_string(getpid()));
    }
    static void SetUpTestSuite() {
        if (std::system("mutool -v >/dev/null 2>&1") == 0)
            s_fonts = new std::map<std::string, std::vector<std::string>>(extractCorpusFonts(root()));
    }
    static void TearDownTestSuite() {
        delete s_fonts;
        s_fonts = nullptr;
        fs::remove_all(root());
    }
    void SetUp() override {
        if (!s_fonts)
            GTEST_SKIP() << "mutool is not installed";
    }
    static const std::vector<std::string>& files(const char* extension) { return (*s_fonts)[extension]; }

    FreeTypeLibrary m_library;
    static std::map<std::string, std::vector<std::string>>* s_fonts;
};

std::map<std::string, std::vector<std::string>>* FontFileCorpus::s_fonts = nullptr;

TEST_F(FontFileCorpus, EmbeddedType1FontsMatchFreeType) {
    ASSERT_FALSE(files(".pfa").empty());
    for (const std::string& file : files(".pfa"))
        expectType1MatchesFreeType(m_library, file);
}

TEST_F(FontFileCorpus, EmbeddedCompactFontsMatchFreeType) {
    ASSERT_FALSE(files(".cff").empty());
    ASSERT_FALSE(files(".cid").empty());
    for (const char* extension : {".cff", ".cid"}) {
        for (const std::string& file : files(extension))
            expectCffMatchesFreeType(m_library, file);
    }
}

TEST_F(FontFileCorpus, EmbeddedTrueTypeFontsMatchFreeTypeAndConvertCleanly) {
    ASSERT_FALSE(files(".ttf").empty());
    for (const std::string& file : files(".ttf")) {
        expectTrueTypeMatchesFreeType(m_library, file);
        expectConvertKeepsOutlines(m_library, file, file, file + ".converted");
    }
}

}  // namespace
}  // namespace rendova
