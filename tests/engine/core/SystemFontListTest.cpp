#include "engine/core/SystemFontList.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace rendova {
namespace {

platform::FontFace face(const char* family, int weight, bool italic, const char* file) {
    platform::FontFace f;
    f.family = family;
    f.weight = weight;
    f.italic = italic;
    f.file = file;
    return f;
}

// A fake inventory: a family in four styles, one with a space in its name,
// and a semi-bold face.
std::vector<platform::FontFace> inventory() {
    return {
        face("Arial", 400, false, "/f/arial.ttf"),
        face("Arial", 700, false, "/f/arialbd.ttf"),
        face("Arial", 400, true, "/f/ariali.ttf"),
        face("Arial", 700, true, "/f/arialbi.ttf"),
        face("Times New Roman", 400, false, "/f/times.ttf"),
        face("Times New Roman", 700, true, "/f/timesbi.ttf"),
        face("Semi", 600, false, "/f/semi.ttf"),
        face("Book", 500, false, "/f/book.ttf"),
        face("MT", 400, false, "/f/mt.ttf"),
    };
}

std::string fileOf(const SystemFontRecord* record) {
    return record ? record->getFile().getCString() : "(none)";
}

TEST(SystemFontList, RecordsAreTrueTypeWithSeparatorsRemovedFromTheirNames) {
    SystemFontList list(inventory());
    ASSERT_EQ(list.getLength(), 9);
    EXPECT_STREQ(list.get(4)->getName().getCString(), "TimesNewRoman");
    EXPECT_EQ(list.get(4)->getKind(), DisplayFontRecord::kTrueType);
    EXPECT_TRUE(list.get(6)->isBold());   // weight 600 counts as bold
    EXPECT_FALSE(list.get(7)->isBold());  // 500 does not
}

TEST(SystemFontList, StyleSuffixesSetTheFlags) {
    SystemFontList list(inventory());
    EXPECT_EQ(fileOf(list.find("Arial")), "/f/arial.ttf");
    EXPECT_EQ(fileOf(list.find("Arial,Bold")), "/f/arialbd.ttf");
    EXPECT_EQ(fileOf(list.find("Arial-Italic")), "/f/ariali.ttf");
    EXPECT_EQ(fileOf(list.find("Arial,BoldItalic")), "/f/arialbi.ttf");
    EXPECT_EQ(fileOf(list.find("Arial Bold Italic")), "/f/arialbi.ttf");
}

TEST(SystemFontList, VendorMarksAreStrippedAroundTheStyle) {
    SystemFontList list(inventory());
    EXPECT_EQ(fileOf(list.find("ArialMT")), "/f/arial.ttf");
    EXPECT_EQ(fileOf(list.find("Arial-BoldItalicMT")), "/f/arialbi.ttf");
    EXPECT_EQ(fileOf(list.find("ArialMT,Bold")), "/f/arialbd.ttf");
    EXPECT_EQ(fileOf(list.find("TimesNewRomanPSMT")), "/f/times.ttf");
    EXPECT_EQ(fileOf(list.find("TimesNewRomanPS-BoldItalicMT")), "/f/timesbi.ttf");
    EXPECT_EQ(fileOf(list.find("Times New Roman")), "/f/times.ttf");
}

TEST(SystemFontList, FlagsMustMatchExactly) {
    SystemFontList list(inventory());
    // Times New Roman has no plain bold and no plain italic face.
    EXPECT_EQ(list.find("TimesNewRoman,Bold"), nullptr);
    EXPECT_EQ(list.find("TimesNewRoman,Italic"), nullptr);
    // A plain name never matches a bold record.
    EXPECT_EQ(list.find("Semi"), nullptr);
    EXPECT_EQ(fileOf(list.find("Semi-Bold")), "/f/semi.ttf");
    // Style words elsewhere than at the end are part of the name.
    EXPECT_EQ(list.find("BoldArial"), nullptr);
    // Suffixes are case-sensitive.
    EXPECT_EQ(list.find("Arial,bold"), nullptr);
}

TEST(SystemFontList, NamesShorterThanASuffixStayAsTheyAre) {
    SystemFontList list(inventory());
    EXPECT_EQ(list.find("M"), nullptr);
    EXPECT_EQ(list.find(""), nullptr);
    // "MT" is itself a suffix: stripped, nothing is left to match "MT".
    EXPECT_EQ(list.find("MT"), nullptr);
}

TEST(SystemFontList, DuplicateFacesKeepTheFirst) {
    auto faces = inventory();
    faces.push_back(face("Arial", 700, false, "/other/arialbd.ttf"));
    faces.push_back(face("Ari-al", 400, false, "/other/arial.ttf"));  // same name once hyphens go
    faces.push_back(face("Arial", 650, false, "/other/arialsb.ttf"));
    SystemFontList list(faces);
    EXPECT_EQ(list.getLength(), 9);
    EXPECT_EQ(fileOf(list.find("Arial-Bold")), "/f/arialbd.ttf");
    EXPECT_EQ(fileOf(list.find("Arial")), "/f/arial.ttf");
}

TEST(SystemFontList, TheSystemListFindsTheInstalledLiberationFonts) {
    SystemFontList list;
    ASSERT_GT(list.getLength(), 0);
    const SystemFontRecord* record = list.find("LiberationSerif-BoldItalic");
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(std::filesystem::path(record->getFile().getCString()).filename(),
              "LiberationSerif-BoldItalic.ttf");
    EXPECT_EQ(fileOf(list.find("LiberationSans")).find("LiberationSans-Regular.ttf") != std::string::npos,
              true);
}

}  // namespace
}  // namespace rendova
