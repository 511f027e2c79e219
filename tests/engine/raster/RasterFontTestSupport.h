#pragma once

// Font files and a temporary folder of its own for the raster font tests.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/ScopedEnvironment.h"

namespace rendova::test {

constexpr const char* kType1Sans = "/usr/share/fonts/type1/urw-base35/NimbusSans-Regular.t1";
constexpr const char* kTrueTypeSans = "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf";

inline bool haveTestFonts() {
    return std::filesystem::exists(kType1Sans) && std::filesystem::exists(kTrueTypeSans);
}

// Points TMPDIR at an empty folder of the test's own, so that a test can
// see every temporary file the engine makes and removes.
class TempFolderTest : public ::testing::Test {
protected:
    TempFolderTest()
        : m_dir(std::filesystem::absolute(std::filesystem::path("raster-font-test") /
                                          ::testing::UnitTest::GetInstance()->current_test_info()->name())),
          m_tmp("TMPDIR", m_dir.string()) {
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
    }
    ~TempFolderTest() override { std::filesystem::remove_all(m_dir); }

    int tempFileCount() const {
        int n = 0;
        for (const auto& entry : std::filesystem::directory_iterator(m_dir)) {
            (void)entry;
            ++n;
        }
        return n;
    }
    // A copy of a file in the temporary folder, as the device writes an
    // embedded font.
    std::string tempCopy(const char* file, const std::string& name) {
        const std::filesystem::path to = m_dir / name;
        std::filesystem::copy_file(file, to);
        return to.string();
    }
    static std::string readFile(const char* file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::filesystem::path m_dir;
    ScopedEnvironment m_tmp;
};

}  // namespace rendova::test
