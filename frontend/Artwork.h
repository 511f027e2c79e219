#pragma once

#include <wx/bitmap.h>
#include <wx/iconbndl.h>

namespace glimmark {

// The program's own pictures, drawn here in code so that they scale cleanly
// and need no files at run time. The numbers are those of the program's
// resources, so that each picture keeps its one name. UI thread.
enum class Icon : int {
    kApp = 128,
    kClose = 136,
    kMinimise = 137,
    kAbout = 138,
    kHelp = 139,
    kConvert = 141,
    kNext = 142,
    kPrevious = 143,
    kAddFiles = 152,
    kAddFolder = 153,
    kDelete = 156,
    kClear = 157,
    kStop = 158,
    kFinish = 159,
    kRestore = 167,
    kMaximise = 168,
};

// Height of the title band across the top of the main window, in pixels.
constexpr int kTitleBandHeight = 48;

// Background colour of the title band and colour of the window's frame line.
extern const wxColour kBandColour;

// An icon as a square bitmap of the given size with transparency.
wxBitmap iconBitmap(Icon icon, int size = 16);

// The program's icon at the sizes window managers ask for.
wxIconBundle appIcons();

// The title band's picture (resource 165): one column's worth that the
// window stretches to its width, kTitleBandHeight high.
wxBitmap titleBandBitmap();

// The small mark at the right of the title band (control 1071).
wxBitmap titleMarkBitmap();

// The about box's title picture (resource 163): the title band's gradient,
// kTitleBandHeight high and width wide, with the program's icon at the left
// and the mark at the right.
wxBitmap aboutTitleBitmap(int width);

}  // namespace glimmark
