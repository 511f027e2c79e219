#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "engine/core/GlobalSettings.h"
#include "tests/support/ErrorCapture.h"
#include "tests/support/ScopedEnvironment.h"

namespace rendova::test {

// A folder of its own for each test (under the test output folder), a home
// directory without a configuration file, and a capture of every report.
class SettingsTest : public ::testing::Test {
protected:
    SettingsTest()
        : m_dir(std::filesystem::absolute(std::filesystem::path("settings-test") /
                                          ::testing::UnitTest::GetInstance()->current_test_info()->name())),
          m_home("HOME", (m_dir / "home").string()) {
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir / "home");
    }
    ~SettingsTest() override { std::filesystem::remove_all(m_dir); }

    // Writes a file (bytes as given) under the test's folder; returns its path.
    std::string write(const std::string& name, const std::string& content) {
        std::filesystem::path path = m_dir / name;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }
    std::string path(const std::string& name) const { return (m_dir / name).string(); }

    // Settings read from a configuration file of the given text.
    std::unique_ptr<GlobalSettings> load(const std::string& config) {
        std::string file = write("test.conf", config);
        return std::make_unique<GlobalSettings>(file.c_str());
    }

    std::filesystem::path m_dir;
    ScopedEnvironment m_home;
    ErrorCapture m_errors;
};

}  // namespace rendova::test
