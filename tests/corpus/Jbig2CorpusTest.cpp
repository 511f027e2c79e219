// The JBIG2 decoder on the real documents: every JBIG2Decode stream of the
// corpus's JBIG2 documents, fetched through the engine's own parser, decodes
// to the page that jbig2dec makes of the same stream and globals.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/core/DataStream.h"
#include "engine/core/FileSource.h"
#include "engine/core/PdfValue.h"
#include "engine/core/XrefTable.h"
#include "tests/support/ErrorCapture.h"
#include "tests/support/Shell.h"

namespace rendova {
namespace {

std::string readStream(DataStream* stream) {
    std::string out;
    stream->reset();
    for (int c; (c = stream->getChar()) != -1;)
        out.push_back(static_cast<char>(c));
    stream->close();
    return out;
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A binary PBM's raster, 1 = black, with its size.
bool readPbm(const std::filesystem::path& path, int* width, int* height, std::string* raster) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    in >> magic >> *width >> *height;
    in.get();
    if (magic != "P4" || !in)
        return false;
    raster->assign(std::istreambuf_iterator<char>(in), {});
    return raster->size() == size_t((*width + 7) / 8) * size_t(*height);
}

// Files whose JBIG2 images are checked; JBIG2_CORPUS_ALL=1 takes every file
// with JBIG2 images (jbig2dec itself fails on some of the conformance set).
std::vector<std::string> filesToCheck() {
    if (!std::getenv("JBIG2_CORPUS_ALL"))
        return {"gh-ocr-jbig2.pdf"};
    std::vector<std::string> files;
    std::ifstream manifest(std::string(RENDOVA_CORPUS_DIR) + "/MANIFEST.tsv");
    std::string line;
    std::getline(manifest, line);
    while (std::getline(manifest, line))
        if (line.find("JBIG2Decode") != std::string::npos)
            files.push_back(line.substr(0, line.find('\t')));
    return files;
}

TEST(Jbig2CorpusTest, PagesMatchJbig2dec) {
    if (test::runShell("command -v jbig2dec").first != 0)
        GTEST_SKIP() << "jbig2dec is not installed";
    const std::filesystem::path dir = std::filesystem::path(RENDOVA_TEST_OUTPUT_DIR) / "jbig2-corpus";
    std::filesystem::create_directories(dir);
    int checked = 0;
    for (const std::string& name : filesToCheck()) {
        const std::string path = std::string(RENDOVA_CORPUS_DIR) + "/" + name;
        std::FILE* file = std::fopen(path.c_str(), "rb");
        if (!file)
            continue;
        test::ErrorCapture quiet;
        PdfValue noDict;
        noDict.initNull();
        RefPtr<FileSource> source =
            RefPtr<FileSource>::adopt(new FileSource(file, 0, false, 0, std::move(noDict)));
        XrefTable xref(source.get());
        for (int num = 1; xref.isOk() && num < xref.getSize(); ++num) {
            PdfValue object;
            xref.fetch(num,
                       xref.getEntry(num).type == XrefTable::kCompressed ? 0 : xref.getEntry(num).generation,
                       object);
            if (!object.isStream() || object.getStream()->getKind() != DataStream::kJbig2Kind)
                continue;
            const std::string where = name + " object " + std::to_string(num);
            PdfDict* dict = object.getDictOrStreamDict();
            PdfValue params, globals;
            dict->lookup("DecodeParms", params);
            if (params.isDict())
                params.getDict()->lookup("JBIG2Globals", globals);
            const std::filesystem::path page = dir / "page.jb2", global = dir / "global.jb2",
                                        out = dir / "out.pbm";
            writeFile(page, readStream(object.getStream()->getChainedSource()));
            std::string command = "jbig2dec -q -e -t pbm -o " + test::shellQuote(out.string()) + " ";
            if (globals.isStream()) {
                writeFile(global, readStream(globals.getStream()));
                command += test::shellQuote(global.string()) + " ";
            }
            std::filesystem::remove(out);
            test::runShell(command + test::shellQuote(page.string()));
            int width = 0, height = 0;
            std::string reference;
            if (!readPbm(out, &width, &height, &reference)) {
                std::printf("%s: jbig2dec makes no page\n", where.c_str());
                continue;
            }
            std::string ours = readStream(object.getStream());
            for (char& c : ours)
                c = char(~c);
            if (std::getenv("JBIG2_CORPUS_ALL"))
                writeFile(dir / (name + ".pbm"),
                          "P4\n" + std::to_string(width) + " " + std::to_string(height) + "\n" + ours);
            ASSERT_EQ(ours.size(), reference.size()) << where << ": jbig2dec " << width << " x " << height;
            size_t differing = 0;
            for (size_t i = 0; i < ours.size(); ++i)
                differing += ours[i] != reference[i];
            EXPECT_EQ(differing, 0u) << where << ": " << differing << " bytes differ";
            ++checked;
        }
        std::fclose(file);
    }
    std::printf("checked %d JBIG2 images\n", checked);
    EXPECT_GT(checked, 0);
}

}  // namespace
}  // namespace rendova
