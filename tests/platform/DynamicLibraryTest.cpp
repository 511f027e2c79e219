#include "platform/DynamicLibrary.h"

#include <gtest/gtest.h>

#include "platform/Paths.h"

namespace {

using platform::libraryFileName;
using platform::LibraryHandle;

TEST(DynamicLibrary, DllNamesMapToSharedObjectNames) {
    EXPECT_EQ(libraryFileName("Rendova.dll"), "libRendova.so");
    EXPECT_EQ(libraryFileName("UxTheme.DLL"), "libUxTheme.so");
    EXPECT_EQ(libraryFileName("Rendova"), "libRendova.so");
    EXPECT_EQ(libraryFileName("/opt/x/Rendova.dll"), "/opt/x/libRendova.so");
    EXPECT_EQ(libraryFileName("libz.so.1"), "libz.so.1");
    EXPECT_EQ(libraryFileName("libRendova.so"), "libRendova.so");
}

TEST(DynamicLibrary, MissingLibraryGivesNull) {
    EXPECT_EQ(platform::loadLibrary("NoSuchLibraryAnywhere.dll"), nullptr);
    EXPECT_EQ(platform::loadLibrary("/no/such/folder/X.dll"), nullptr);
    EXPECT_EQ(platform::loadLibrary(""), nullptr);
    platform::freeLibrary(nullptr);  // does nothing
}

TEST(DynamicLibrary, BareNameIsFoundInTheProgramsFolder) {
    LibraryHandle library = platform::loadLibrary("RendovaTestExportTable.dll");
    ASSERT_NE(library, nullptr);
    platform::freeLibrary(library);

    library = platform::loadLibrary(platform::programDirectory() + "RendovaTestExportTable.dll");
    EXPECT_NE(library, nullptr);
    platform::freeLibrary(library);
}

TEST(DynamicLibrary, OrdinalsOneToTwelveReadTheExportTable) {
    LibraryHandle library = platform::loadLibrary("RendovaTestExportTable.dll");
    ASSERT_NE(library, nullptr);
    for (int ordinal = 1; ordinal <= platform::kExportCount; ++ordinal) {
        platform::Proc proc = platform::procByOrdinal(library, ordinal);
        ASSERT_NE(proc, nullptr) << ordinal;
        EXPECT_EQ(reinterpret_cast<int (*)()>(proc)(), ordinal);
    }
    for (int ordinal : {0, -1, 13, 1000})
        EXPECT_EQ(platform::procByOrdinal(library, ordinal), nullptr) << ordinal;
    platform::freeLibrary(library);
}

TEST(DynamicLibrary, LibraryWithoutTheTableHasNoOrdinals) {
    LibraryHandle library = platform::loadLibrary("RendovaTestNoExportTable");
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(platform::procByOrdinal(library, 1), nullptr);
    platform::freeLibrary(library);
    EXPECT_EQ(platform::procByOrdinal(nullptr, 1), nullptr);
}

}  // namespace
