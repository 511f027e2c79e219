// The inflate decoder against qpdf on the real documents: for every stream of
// the corpus whose only filter is FlateDecode (with or without a predictor),
// our decoding of the raw stream data equals qpdf's filtered stream data.
// qpdf writes both, with the stream dictionaries, in two JSON runs per file.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "engine/core/InflateDecoder.h"
#include "engine/core/MemorySource.h"
#include "engine/core/PdfValue.h"
#include "tests/support/ErrorCapture.h"

namespace rendova {
namespace {

namespace fs = std::filesystem;

bool run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The JSON object that starts at text[at] ('{'), braces balanced; qpdf's
// dictionaries hold no braces inside strings that matter here.
std::string objectAt(const std::string& text, size_t at) {
    int depth = 0;
    for (size_t i = at; i < text.size(); ++i) {
        if (text[i] == '{')
            ++depth;
        if (text[i] == '}' && --depth == 0)
            return text.substr(at, i - at + 1);
    }
    return {};
}

// Stream data file name -> its dictionary, from qpdf's JSON listing.
std::vector<std::pair<std::string, std::string>> streamsOf(const std::string& json) {
    std::vector<std::pair<std::string, std::string>> streams;
    const std::string key = "\"datafile\": \"";
    for (size_t at = json.find(key); at != std::string::npos; at = json.find(key, at + 1)) {
        const size_t start = at + key.size();
        const size_t end = json.find('"', start);
        const size_t dict = json.find("\"dict\": {", end);
        if (end == std::string::npos || dict == std::string::npos)
            break;
        streams.emplace_back(fs::path(json.substr(start, end - start)).filename().string(),
                             objectAt(json, json.find('{', dict)));
    }
    return streams;
}

int intEntry(const std::string& dict, const char* key, int fallback) {
    const std::string quoted = std::string("\"/") + key + "\": ";
    const size_t at = dict.find(quoted);
    return at == std::string::npos ? fallback : std::atoi(dict.c_str() + at + quoted.size());
}

// Whether the dictionary's only filter is FlateDecode, given as a name or as
// an array of one name.
bool onlyFlate(const std::string& dict) {
    const std::string key = "\"/Filter\": ";
    size_t at = dict.find(key);
    if (at == std::string::npos)
        return false;
    std::string value;
    for (at += key.size(); at < dict.size() && dict[at] != ',' && dict[at] != '\n'; ++at)
        if (dict[at] != ' ')
            value.push_back(dict[at]);
    if (value == "\"/FlateDecode\"")
        return true;
    if (value != "[")
        return false;
    // An array: qpdf writes one element per line.
    std::string rest;
    for (; at < dict.size() && dict[at] != ']'; ++at)
        if (!std::isspace(static_cast<unsigned char>(dict[at])))
            rest.push_back(dict[at]);
    return rest == "\"/FlateDecode\"";
}

std::vector<std::string> unencryptedCorpusFiles() {
    std::vector<std::string> files;
    std::ifstream manifest(std::string(RENDOVA_CORPUS_DIR) + "/MANIFEST.tsv");
    std::string line;
    std::getline(manifest, line);  // header
    while (std::getline(manifest, line)) {
        std::vector<std::string> fields;
        std::stringstream split(line);
        for (std::string field; std::getline(split, field, '\t');)
            fields.push_back(field);
        if (fields.size() >= 5 && (fields.size() < 6 || fields[5].empty()))
            files.push_back(fields[0]);
    }
    return files;
}

TEST(InflateCorpusTest, DecodedStreamsEqualQpdfs) {
    if (!run("qpdf --version"))
        GTEST_SKIP() << "qpdf is not installed";
    const std::vector<std::string> files = unencryptedCorpusFiles();
    if (files.empty())
        GTEST_SKIP() << "no corpus documents";

    int checked = 0;
    int predicted = 0;
    for (const std::string& name : files) {
        const fs::path dir = fs::path(RENDOVA_TEST_OUTPUT_DIR) / "inflate-corpus" / fs::path(name).stem();
        fs::remove_all(dir);
        fs::create_directories(dir);
        const std::string pdf = "'" + std::string(RENDOVA_CORPUS_DIR) + "/" + name + "'";
        const std::string json = "qpdf --json --json-stream-data=file --json-stream-prefix=";
        // qpdf may warn about damaged files and still list what it can.
        run(json + (dir / "raw").string() + " --decode-level=none " + pdf + " " +
            (dir / "raw.json").string());
        run(json + (dir / "dec").string() + " " + pdf + " " + (dir / "dec.json").string());
        const auto raw = streamsOf(readFile(dir / "raw.json"));
        std::map<std::string, std::string> decodedDicts;
        for (const auto& [file, dict] : streamsOf(readFile(dir / "dec.json")))
            decodedDicts[file] = dict;

        for (const auto& [file, dict] : raw) {
            if (!onlyFlate(dict))
                continue;
            const std::string decodedFile = "dec" + file.substr(3);
            auto it = decodedDicts.find(decodedFile);
            // Only streams that qpdf itself decoded (its dictionary then has
            // no filter left) have a reference.
            if (it == decodedDicts.end() || it->second.find("\"/Filter\"") != std::string::npos)
                continue;
            const std::string rawData = readFile(dir / file);
            const std::string expected = readFile(dir / decodedFile);

            const int predictor = intEntry(dict, "Predictor", 1);
            if (predictor != 1)
                ++predicted;
            RefPtr<DataStream> source = RefPtr<MemorySource>::adopt(
                new MemorySource(rawData.data(), 0, static_cast<uint32_t>(rawData.size()), PdfValue()));
            RefPtr<InflateDecoder> decoder = RefPtr<InflateDecoder>::adopt(
                new InflateDecoder(std::move(source), predictor, intEntry(dict, "Columns", 1),
                                   intEntry(dict, "Colors", 1), intEntry(dict, "BitsPerComponent", 8)));
            std::string decoded;
            decoder->reset();
            for (int c; (c = decoder->getChar()) != -1;)
                decoded.push_back(static_cast<char>(c));
            decoder->close();
            EXPECT_EQ(decoded.size(), expected.size()) << name << " " << file;
            EXPECT_TRUE(decoded == expected) << name << " " << file;
            ++checked;
        }
        fs::remove_all(dir);
    }
    std::printf("checked %d streams, %d with a predictor\n", checked, predicted);
    EXPECT_GT(checked, 0);
}

}  // namespace
}  // namespace rendova
