#pragma once

#include <cstdint>

namespace glimmark {

// What the program knows of the conversion library: the ordinals it binds, the
// functions' types, and the status codes and option identifiers it uses. The
// library is loaded at run time (MainWindow::bindLibrary), so these values are
// the contract between the two; the library's public header carries the same
// numbers.

// The library's file name as the program asks for it; the platform maps it to
// libRendova.so and looks beside the program first.
constexpr const char* kLibraryName = "Rendova.dll";

// Ordinals of the functions the program binds, in binding order.
constexpr int kOrdinalOpenDocument = 1;
constexpr int kOrdinalCloseDocument = 3;
constexpr int kOrdinalConvertPage = 7;
constexpr int kOrdinalSetOption = 9;
constexpr int kOrdinalGetPageCount = 11;

// Document handle or status: 1 and above are handles from openDocument.
using OpenDocumentFunction = int (*)(const char* path, const char* ownerPassword, const char* userPassword);
using CloseDocumentFunction = int (*)(int handle);
// name: the output file name without folder and extension; null for a
// multi-page TIFF job, which names its one file itself.
using ConvertPageFunction = int (*)(int handle, int page, const char* name);
// value and value2 are pointer-sized so that callback options fit; this
// program passes only small integers.
using SetOptionFunction = int (*)(int handle, int option, const char* text, intptr_t value, intptr_t value2);
using GetPageCountFunction = int (*)(int handle);

// Status codes of the library's functions.
constexpr int kStatusSuccess = 1;
constexpr int kStatusInputMissing = -2;
constexpr int kStatusOpenFailed = -3;
constexpr int kStatusPasswordNeeded = -4;
constexpr int kStatusPageOutOfRange = -5;
constexpr int kStatusCancelled = -6;
constexpr int kStatusInvalidPageRange = -7;
// The page has more pixels at the resolution set than can be drawn or the
// image type holds; nothing was written.
constexpr int kStatusPageTooLarge = -8;
// The page was written, but its content was lost in the document.
constexpr int kStatusPageIncomplete = 2;
constexpr int kStatusNullHandle = -10;
constexpr int kStatusUnknownOption = -11;
constexpr int kStatusOtherFailure = -99;

// Option identifiers of setOption that the program sends.
constexpr int kOptionOutputFolder = 1;
constexpr int kOptionImageType = 5;
constexpr int kOptionBitsPerPixel = 6;
constexpr int kOptionXDpi = 7;
constexpr int kOptionYDpi = 8;
constexpr int kOptionQuality = 9;
constexpr int kOptionCompression = 10;
constexpr int kOptionMultiPageTiff = 11;
constexpr int kOptionGreyscale = 12;

// Image types of the library; the options page's type list index is the type
// minus 1.
constexpr int kImageTypeBmp = 1;
constexpr int kImageTypeEmf = 2;
constexpr int kImageTypeWmf = 3;
constexpr int kImageTypeJpeg = 4;
constexpr int kImageTypePng = 5;
constexpr int kImageTypeGif = 6;
constexpr int kImageTypeTiff = 7;
constexpr int kImageTypePcx = 8;

}  // namespace glimmark
