#pragma once

#include <string>

namespace glimmark {

// The choices of one conversion run, filled on the UI thread by
// OptionsPage::validateAndSave and copied to the worker when the run starts.
struct ConversionOptions {
    int saveMode = 0;      // 0 beside each input file, 1 into savePath
    std::string savePath;  // ends in '/' when saveMode is 1, else empty
    int tifMode = 0;       // 0 one file per page, 1 one multi-page file per document, 2 (settings only)
    std::string password;  // possibly empty
    int xDpi = 0;          // dots per inch
    int yDpi = 0;
    int imageType = 0;        // library image type, 1 .. 8
    int colourCode = 0;       // 24, 8, 7, 4, 3, 1; 0 until a format page set one
    int jpegQuality = 0;      // 1 .. 100 as the slider gives it
    int tiffCompression = 0;  // the library's TIFF compression setting
    int tiffQuality = 0;      // 1 .. 100 as the slider gives it
};

}  // namespace glimmark
