#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/PdfBuilder.h"

namespace rendova::test {

namespace fs = std::filesystem;

// A fresh, empty folder under the build's test output folder, named after
// the test, wherever the test is run from.
inline std::string freshFolder(const std::string& name) {
    const fs::path folder = fs::path(RENDOVA_TEST_OUTPUT_DIR) / "library-output" / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder.string() + "/";
}

inline std::string corpusFile(const std::string& name) {
    return std::string(RENDOVA_CORPUS_DIR) + "/" + name;
}

// Writes a PDF of `pages` empty pages with the media box "0 0 w h" (points)
// and an optional /Rotate.
inline std::string writePdf(const std::string& path, int pages, int width = 72, int height = 144,
                            int rotate = 0) {
    PdfBuilder pdf;
    std::string kids;
    for (int i = 0; i < pages; ++i)
        kids += std::to_string(3 + i) + " 0 R ";
    pdf.object(1, "<< /Type /Catalog /Pages 2 0 R >>");
    pdf.object(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) +
                      " /MediaBox [0 0 " + std::to_string(width) + " " + std::to_string(height) + "] >>");
    for (int i = 0; i < pages; ++i) {
        std::string page = "<< /Type /Page /Parent 2 0 R";
        if (rotate != 0)
            page += " /Rotate " + std::to_string(rotate);
        pdf.object(3 + i, page + " >>");
    }
    pdf.xrefTable();
    std::ofstream(path, std::ios::binary) << pdf.bytes();
    return path;
}

// The names of the files in a folder, sorted.
inline std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> names;
    if (!fs::exists(folder))
        return names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Width, height and bit count from a BMP file's info header.
struct BmpFacts {
    int32_t width = 0;
    int32_t height = 0;
    int bits = 0;
    int32_t xPelsPerMetre = 0;
};
inline BmpFacts bmpFacts(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    uint8_t h[54] = {};
    in.read(reinterpret_cast<char*>(h), sizeof h);
    auto le32 = [&](int at) {
        return int32_t(h[at] | h[at + 1] << 8 | h[at + 2] << 16 | uint32_t(h[at + 3]) << 24);
    };
    BmpFacts facts;
    if (h[0] != 'B' || h[1] != 'M')
        return facts;
    facts.width = le32(18);
    facts.height = le32(22);
    facts.bits = h[28] | h[29] << 8;
    facts.xPelsPerMetre = le32(38);
    return facts;
}

}  // namespace rendova::test
