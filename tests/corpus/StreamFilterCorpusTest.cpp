// The decoders against qpdf on the real documents: for every stream whose
// filters the engine decodes, the bytes of our filter chain over the raw
// stream data equal qpdf's filtered stream data. Documents are picked from
// the corpus manifest by the filters they use; until the parser lands, the
// stream dictionaries come from qpdf's own listing, read by a small reader
// of the dictionary syntax below.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/core/DataStream.h"
#include "engine/core/Memory.h"
#include "engine/core/MemorySource.h"
#include "engine/core/PdfValue.h"
#include "tests/support/ErrorCapture.h"

namespace rendova {
namespace {

bool run(const std::string& command, std::string* out) {
    std::FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe)
        return false;
    out->clear();
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out->append(buffer, n);
    return pclose(pipe) == 0;
}

// Tokens of qpdf's dictionary listing: delimiters, names, strings and words.
std::vector<std::string> tokenize(const std::string& text) {
    std::vector<std::string> tokens;
    size_t i = 0;
    const auto delimiter = [](char c) { return std::strchr("()<>[]{}/%", c) != nullptr; };
    while (i < text.size()) {
        const char c = text[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
        } else if (text.compare(i, 2, "<<") == 0 || text.compare(i, 2, ">>") == 0) {
            tokens.push_back(text.substr(i, 2));
            i += 2;
        } else if (c == '[' || c == ']') {
            tokens.emplace_back(1, c);
            ++i;
        } else if (c == '(') {
            // Strings are not needed: kept as one opaque token.
            int depth = 0;
            size_t j = i;
            for (; j < text.size(); ++j) {
                if (text[j] == '\\')
                    ++j;
                else if (text[j] == '(')
                    ++depth;
                else if (text[j] == ')' && --depth == 0)
                    break;
            }
            tokens.push_back("(");
            i = j + 1;
        } else if (c == '<') {
            const size_t end = text.find('>', i);
            tokens.push_back("(");
            i = end == std::string::npos ? text.size() : end + 1;
        } else {
            size_t j = i + 1;
            while (j < text.size() && !std::isspace(static_cast<unsigned char>(text[j])) &&
                   !delimiter(text[j]))
                ++j;
            tokens.push_back(text.substr(i, j - i));
            i = j;
        }
    }
    return tokens;
}

bool isInteger(const std::string& t) {
    if (t.empty())
        return false;
    for (size_t i = (t[0] == '-' || t[0] == '+') ? 1 : 0; i < t.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(t[i])))
            return false;
    return true;
}

// Values of the listing; references (which only qpdf could resolve) and
// strings become null.
void parseValue(const std::vector<std::string>& t, size_t& i, PdfValue& out) {
    if (i >= t.size()) {
        out.initNull();
        return;
    }
    const std::string& tok = t[i++];
    if (tok == "<<") {
        out.initDict(nullptr);
        while (i < t.size() && t[i] != ">>") {
            const std::string key = t[i++];
            PdfValue value;
            parseValue(t, i, value);
            if (key.size() > 1 && key[0] == '/')
                out.getDict()->add(copyString(key.c_str() + 1), std::move(value));
        }
        ++i;
    } else if (tok == "[") {
        out.initArray(nullptr);
        while (i < t.size() && t[i] != "]") {
            PdfValue value;
            parseValue(t, i, value);
            out.getArray()->add(std::move(value));
        }
        ++i;
    } else if (tok[0] == '/') {
        out.initName(copyString(tok.c_str() + 1));
    } else if (isInteger(tok) && i + 1 < t.size() && isInteger(t[i]) && t[i + 1] == "R") {
        i += 2;
        out.initNull();
    } else if (isInteger(tok)) {
        out.initInt(std::stoi(tok));
    } else if (tok == "true" || tok == "false") {
        out.initBool(tok == "true");
    } else if (!tok.empty() &&
               (std::isdigit(static_cast<unsigned char>(tok[0])) || tok[0] == '-' || tok[0] == '.')) {
        out.initReal(std::stod(tok));
    } else {
        out.initNull();
    }
}

RefPtr<DataStream> chainOver(const std::string& raw, const PdfValue& dict) {
    char* copy = static_cast<char*>(memAlloc(static_cast<int>(raw.size()) + 1));
    std::memcpy(copy, raw.data(), raw.size());
    auto* source = new MemorySource(copy, 0, static_cast<uint32_t>(raw.size()), PdfValue());
    source->setOwnsBuffer(true);
    return DataStream::addFilters(RefPtr<DataStream>::adopt(source), dict);
}

// Whether every filter of the chain has a decoder (a missing one stands as an
// end-of-data stream, of the same kind as the memory source below). qpdf
// leaves lossy DCT data encoded, so chains with a DCT decoder have no
// reference here; DctCorpusTest compares them with libjpeg.
bool decodable(DataStream* chain) {
    for (DataStream* s = chain; s->getChainedSource(); s = s->getChainedSource()) {
        if (s->getKind() == DataStream::kOtherKind || s->getKind() == DataStream::kDctKind)
            return false;
    }
    return true;
}

std::vector<std::string> corpusFilesUsing(const std::vector<std::string>& filters) {
    std::vector<std::string> files;
    std::ifstream manifest(std::string(RENDOVA_CORPUS_DIR) + "/MANIFEST.tsv");
    std::string line;
    while (std::getline(manifest, line)) {
        std::vector<std::string> fields;
        std::stringstream split(line);
        for (std::string field; std::getline(split, field, '\t');)
            fields.push_back(field);
        if (fields.size() < 6 || !fields[5].empty())
            continue;  // encrypted files wait for decryption
        for (const std::string& f : filters) {
            if (fields[4].find(f) != std::string::npos) {
                files.push_back(fields[0]);
                break;
            }
        }
    }
    return files;
}

TEST(StreamFilterCorpusTest, DecodedStreamsEqualQpdfs) {
    std::string version;
    if (!run("qpdf --version", &version))
        GTEST_SKIP() << "qpdf is not installed";
    const std::vector<std::string> files =
        corpusFilesUsing({"LZWDecode", "ASCII85Decode", "ASCIIHexDecode", "RunLengthDecode"});
    if (files.empty())
        GTEST_SKIP() << "no corpus documents with these filters";

    int checked = 0;
    for (const std::string& name : files) {
        const std::string path = "'" + std::string(RENDOVA_CORPUS_DIR) + "/" + name + "'";
        std::string xref;
        if (!run("qpdf --show-xref " + path, &xref))
            continue;
        std::stringstream lines(xref);
        for (std::string line; std::getline(lines, line);) {
            const int num = std::atoi(line.c_str());
            if (num <= 0)
                continue;
            const std::string object = " --show-object=" + std::to_string(num) + " ";
            std::string shown;
            if (!run("qpdf" + object + path, &shown) || shown.rfind("Object is stream", 0) != 0)
                continue;
            const size_t start = shown.find("<<");
            if (start == std::string::npos || shown.find("/Filter", start) == std::string::npos)
                continue;
            const std::vector<std::string> tokens = tokenize(shown.substr(start));
            size_t at = 0;
            PdfValue dict;
            parseValue(tokens, at, dict);

            std::string raw, expected;
            {
                test::ErrorCapture quiet;
                if (!decodable(chainOver("", dict).get()))
                    continue;
            }
            if (!run("qpdf" + object + "--raw-stream-data " + path, &raw) ||
                !run("qpdf" + object + "--filtered-stream-data " + path, &expected)) {
                continue;
            }
            RefPtr<DataStream> chain = chainOver(raw, dict);
            std::string decoded;
            chain->reset();
            for (int c; (c = chain->getChar()) != -1;)
                decoded.push_back(static_cast<char>(c));
            chain->close();
            EXPECT_EQ(decoded.size(), expected.size()) << name << " object " << num;
            EXPECT_TRUE(decoded == expected) << name << " object " << num;
            ++checked;
        }
    }
    std::printf("checked %d streams\n", checked);
    EXPECT_GT(checked, 0);
}

}  // namespace
}  // namespace rendova
