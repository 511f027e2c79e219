#include "platform/FontInventory.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

namespace fs = std::filesystem;

const platform::FontFace* findFace(const std::vector<platform::FontFace>& faces, const std::string& family,
                                   bool bold, bool italic) {
    for (const auto& face : faces) {
        if (face.family == family && (face.weight >= 600) == bold && face.italic == italic)
            return &face;
    }
    return nullptr;
}

TEST(FontInventory, FontsFolderIsTheSystemOne) {
    EXPECT_EQ(platform::systemFontsDirectory(), "/usr/share/fonts");
}

TEST(FontInventory, ListsTheInstalledTrueTypeFacesWithStyleAndFile) {
    auto faces = platform::listFontFaces();
    ASSERT_FALSE(faces.empty());
    const platform::FontFace* regular = findFace(faces, "Liberation Sans", false, false);
    const platform::FontFace* boldItalic = findFace(faces, "Liberation Sans", true, true);
    ASSERT_NE(regular, nullptr);
    ASSERT_NE(boldItalic, nullptr);
    EXPECT_EQ(regular->weight, 400);
    EXPECT_EQ(boldItalic->weight, 700);
    EXPECT_EQ(fs::path(regular->file).filename(), "LiberationSans-Regular.ttf");
    EXPECT_EQ(fs::path(boldItalic->file).filename(), "LiberationSans-BoldItalic.ttf");
}

TEST(FontInventory, TakesOnlyTrueTypeAndOpenTypeFiles) {
    // The URW base 35 Type 1 files are installed too; they are not listed.
    for (const auto& face : platform::listFontFaces()) {
        std::string extension = fs::path(face.file).extension().string();
        for (char& c : extension)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_TRUE(extension == ".ttf" || extension == ".otf" || extension == ".ttc" || extension == ".otc")
            << face.file;
        EXPECT_TRUE(fs::exists(face.file)) << face.file;
        EXPECT_FALSE(face.family.empty());
    }
}

TEST(FontInventory, GivesTheSameOrderEveryTime) {
    auto first = platform::listFontFaces();
    auto second = platform::listFontFaces();
    ASSERT_EQ(first.size(), second.size());
    for (size_t i = 0; i < first.size(); ++i)
        EXPECT_EQ(first[i].file, second[i].file);
}

TEST(FontInventory, PlainFacesComeBeforeCondensedAndLightOnes) {
    // fontconfig gives DejaVu Sans Condensed and DejaVu Sans ExtraLight the
    // first family name "DejaVu Sans", like the plain face; the plain face
    // must come first, or it would lose to them as a duplicate.
    auto faces = platform::listFontFaces();
    size_t plain = faces.size(), condensed = faces.size(), light = faces.size();
    for (size_t i = 0; i < faces.size(); ++i) {
        std::string name = fs::path(faces[i].file).filename().string();
        if (name == "DejaVuSans.ttf")
            plain = i;
        else if (name == "DejaVuSansCondensed.ttf")
            condensed = i;
        else if (name == "DejaVuSans-ExtraLight.ttf")
            light = i;
    }
    if (plain == faces.size() || condensed == faces.size() || light == faces.size())
        GTEST_SKIP() << "DejaVu fonts are not installed";
    EXPECT_LT(plain, condensed);
    EXPECT_LT(plain, light);
}

}  // namespace
