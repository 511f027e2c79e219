// Every CMap file of the installed Adobe CMap resources reads through its
// usecmap chain, and the shipped configuration finds the CJK collections'
// CMaps.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>

#include "engine/core/CodeToCidMap.h"
#include "engine/core/GlobalSettings.h"
#include "engine/core/RefCounted.h"
#include "tests/support/ErrorCapture.h"
#include "tests/support/ScopedEnvironment.h"

namespace rendova {
namespace {

namespace fs = std::filesystem;

// The folder where Ghostscript installs the Adobe CMap resources (the shipped
// configuration file names it).
constexpr const char* kCMapDir = "/var/lib/ghostscript/CMap";

// The collection a CMap file declares: Registry-Ordering of its
// CIDSystemInfo, or empty.
std::string collectionOf(const fs::path& file) {
    std::ifstream in(file);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto value = [&](const char* key) -> std::string {
        size_t at = text.find(key);
        size_t open = at == std::string::npos ? at : text.find('(', at);
        size_t close = open == std::string::npos ? open : text.find(')', open);
        return close == std::string::npos ? "" : text.substr(open + 1, close - open - 1);
    };
    std::string registry = value("/Registry");
    std::string ordering = value("/Ordering");
    return registry.empty() || ordering.empty() ? "" : registry + "-" + ordering;
}

class CMapResourceCorpus : public ::testing::Test {
protected:
    CMapResourceCorpus()
        : m_dir(fs::path(RENDOVA_TEST_OUTPUT_DIR) / "cmap-corpus" /
                ::testing::UnitTest::GetInstance()->current_test_info()->name()),
          m_home("HOME", (m_dir / "home").string()) {
        fs::remove_all(m_dir);
        fs::create_directories(m_dir / "home");
    }
    fs::path m_dir;
    test::ScopedEnvironment m_home;
};

TEST_F(CMapResourceCorpus, EveryInstalledCMapReadsThroughItsUseChain) {
    if (!fs::is_directory(kCMapDir))
        GTEST_SKIP() << kCMapDir << " is not installed";
    std::map<std::string, std::string> collections;  // CMap name -> collection
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(kCMapDir)) {
        std::string collection = collectionOf(entry.path());
        if (!collection.empty()) {
            collections[entry.path().filename().string()] = collection;
            names.insert(collection);
        }
    }
    ASSERT_GT(collections.size(), 150u);
    std::string config;
    for (const std::string& name : names)
        config += "cmap-dir " + name + " " + kCMapDir + "\n";
    fs::path configFile = m_dir / "cmaps.conf";
    std::ofstream(configFile) << config;

    test::ErrorCapture errors;
    GlobalSettings settings(configFile.string().c_str());
    int vertical = 0;
    for (const auto& [name, collection] : collections) {
        auto map = settings.getCMap(collection.c_str(), name.c_str());
        ASSERT_TRUE(map) << name;
        vertical += map->getWMode() == 1;
        EXPECT_TRUE(errors.empty()) << name << ": " << errors.reports().front().message;
        errors.clear();
    }
    EXPECT_GT(vertical, 50);
}

TEST_F(CMapResourceCorpus, ShippedConfigurationFindsTheCollectionsCMaps) {
    if (!fs::is_directory(kCMapDir))
        GTEST_SKIP() << kCMapDir << " is not installed";
    test::ErrorCapture errors;
    GlobalSettings settings((std::string(RENDOVA_SOURCE_DIR) + "/data/rendova.conf").c_str());
    struct Case {
        const char* collection;
        const char* name;
        std::string code;
        int cid;
    };
    // "A" in a 1-byte range (proportional Roman from CID 231 at 0x20); a
    // 2-byte code of each collection's common encoding: the ideographic full
    // stop in Japanese (range <8140> from CID 633, <3000> from 633 in
    // Unicode), and the first ideographs of the Chinese and Korean ones.
    const Case cases[] = {
        {"Adobe-Japan1", "90ms-RKSJ-H", "A", 264},          {"Adobe-Japan1", "90ms-RKSJ-H", "\x81\x42", 635},
        {"Adobe-Japan1", "UniJIS-UCS2-H", "\x30\x02", 635}, {"Adobe-GB1", "GBK-EUC-H", "\xB0\xA1", 940},
        {"Adobe-CNS1", "ETen-B5-H", "\xA4\x40", 595},       {"Adobe-Korea1", "KSCms-UHC-H", "\xB0\xA1", 1086},
    };
    for (const Case& c : cases) {
        auto map = settings.getCMap(c.collection, c.name);
        ASSERT_TRUE(map) << c.name;
        int used = 0;
        EXPECT_EQ(map->getCid(c.code.data(), static_cast<int>(c.code.size()), &used), c.cid) << c.name;
        EXPECT_EQ(used, static_cast<int>(c.code.size())) << c.name;
    }
    EXPECT_TRUE(errors.empty());
}

}  // namespace
}  // namespace rendova
