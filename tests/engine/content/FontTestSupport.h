#pragma once

// Settings and documents for the font object tests: a settings object that
// the font code reaches through globalSettings, and fonts made from
// dictionaries written in document syntax.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/content/FontObject.h"
#include "engine/core/GlobalSettings.h"
#include "tests/engine/content/ContentTestSupport.h"
#include "tests/engine/core/SettingsTestSupport.h"

namespace rendova::test {

// Installs a settings object (from a configuration text) as globalSettings
// for the test's lifetime.
class FontTest : public SettingsTest {
protected:
    void SetUp() override { useSettings(""); }
    void TearDown() override {
        globalSettings = nullptr;
        m_settings.reset();
    }
    void useSettings(const std::string& config) {
        globalSettings = nullptr;
        m_settings.reset();
        m_settings = load(config);
        globalSettings = m_settings.get();
    }

    // A font of the dictionary object 1 of a document whose other objects
    // the test has added to doc.pdf (streams, descendants ...).
    std::unique_ptr<FontObject> font(const std::string& dict, int num = 1) {
        m_doc.pdf.object(num, dict);
        m_doc.open();
        m_fontValue = m_doc.fetch(num);
        EXPECT_TRUE(m_fontValue.isDict());
        return FontObject::create(m_doc.xref.get(), "F1", num, 0, m_fontValue.getDict());
    }

    std::unique_ptr<GlobalSettings> m_settings;
    ObjectDocument m_doc;
    PdfValue m_fontValue;
};

}  // namespace rendova::test
