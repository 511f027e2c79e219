#pragma once

// The corpus documents as the parameters of the corpus tests: every PDF file
// of the corpus folder, sorted by name, or the single name "none" when the
// folder is missing or empty (the tests skip then), and a test name for each;
// and what the tests ask of a corpus document's encryption.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "engine/core/PdfValue.h"
#include "engine/core/XrefTable.h"

namespace rendova::test {

// Whether the table's document is encrypted with 256-bit AES (V 5 of the
// standard security handler), which this system does not decrypt: such
// documents are listed as encrypted and not converted.
inline bool usesAes256(const XrefTable* xref) {
    if (!xref || !xref->isOk())
        return false;
    PdfValue encrypt, version;
    xref->getTrailer().dictLookup("Encrypt", encrypt);
    return encrypt.dictLookup("V", version).isInt() && version.getInt() >= 5;
}

inline std::vector<std::string> corpusFiles() {
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(RENDOVA_CORPUS_DIR, error))
        if (entry.path().extension() == ".pdf")
            files.push_back(entry.path().filename().string());
    std::sort(files.begin(), files.end());
    if (files.empty())
        files.push_back("none");
    return files;
}

// The file name without its extension, every character other than a letter
// or digit made an underscore.
inline std::string corpusTestName(const testing::TestParamInfo<std::string>& info) {
    std::string name = info.param.substr(0, info.param.rfind('.'));
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

}  // namespace rendova::test
