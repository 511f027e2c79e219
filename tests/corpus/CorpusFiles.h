#pragma once

// The corpus documents as the parameters of the corpus tests: every PDF file
// of the corpus folder, sorted by name, or the single name "none" when the
// folder is missing or empty (the tests skip then), and a test name for each.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "tests/support/Shell.h"

namespace rendova::test {

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

// Whether qpdf finds the file encrypted with 256-bit AES (revision 5 or 6),
// which this system lists as "encrypted" and does not decrypt.
inline bool encryptedWithAes256(const std::filesystem::path& file) {
    const std::string out = runShell("qpdf --show-encryption " + shellQuote(file.string())).second;
    return out.find("AESv3") != std::string::npos || out.find("R = 5") != std::string::npos ||
           out.find("R = 6") != std::string::npos;
}

}  // namespace rendova::test
