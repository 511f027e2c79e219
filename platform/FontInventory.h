#pragma once

#include <string>
#include <vector>

namespace platform {

// One installed font face as the system's font configuration lists it.
// `weight` is on the OpenType scale (400 regular, 700 bold); `italic` is set
// for italic and oblique faces alike.
struct FontFace {
    std::string family;
    int weight = 400;
    bool italic = false;
    std::string file;
};

// The system's fonts folder, "/usr/share/fonts", when it is a directory;
// empty otherwise. Any thread.
std::string systemFontsDirectory();

// Every TrueType and OpenType face installed, read from fontconfig: its first
// family name, weight, slant and file. Only the first face of a file is taken
// (a collection's later faces and a variable font's named instances cannot be
// chosen by a file name alone). The plain faces of a family come before its
// condensed, expanded, light or heavy ones (by distance from normal width,
// then from regular or bold weight), and faces equally far in the order of
// their file paths, so that the same installation always gives the same list
// and a family's first face of a style is its ordinary one. Empty when fontconfig cannot be
// initialised. Any thread; throws only std::bad_alloc.
std::vector<FontFace> listFontFaces();

}  // namespace platform
