#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace rendova {

class PageImageWriter;
class PdfRenderer;

// The callbacks a client hands in through option identifiers 40, 91 and 92.
// Values are pointer-sized so that a function or a pointer fits on 64-bit
// systems. Their results are ignored, except the poll function's: 2 asks to
// cancel.
using ProgressFunction = int (*)(intptr_t userValue, int percent);
using CancelFunction = int (*)(int value);
using PollFunction = int (*)();

// Lengths that paths and names may have: the fixed buffers of the library's
// interface, counted in bytes without the terminator. A longer value is
// refused (as the step's failure), never cut short and used: a cut path
// writes to a place the user did not name.
constexpr size_t kMaxPathLength = 259;      // a full path, input or output
constexpr size_t kMaxFolderLength = 259;    // the output folder, its separator included
constexpr size_t kMaxBaseNameLength = 255;  // the output file name stem
constexpr size_t kMaxChainLength = 255;     // a folder chain that createDirectoryChain makes

// The file-system functions of the library. Each takes a path as the client
// gave it; relative paths are taken from the current directory.
//
// Creates the folder named by the text before each '/' of the path, from the
// left; the part after the last '/' is not created, so a folder path must end
// in '/'. Failures (a folder that exists, no permission) are ignored; a path
// longer than kMaxChainLength creates nothing.
void createDirectoryChain(const std::string& path);
// 1 when the path names a directory, else 0.
int directoryExists(const std::string& path);
// 1 when the path names a file that opens for reading, else 0 (a directory
// is not a file).
int fileExists(const std::string& path);
// "emf", "wmf", "jpg", "png", "gif", "tif" or "pcx" for types 2 to 8; "bmp"
// for any other type.
const char* extensionForType(int32_t type);

// The state behind one document handle: the open document (through its
// renderer), where and under which names the page images go, the image
// options, the progress and cancel callbacks, and for a multi-page TIFF the
// one page writer that stays open across pages. Converting page n renders
// it, borrows the page bitmap, makes sure the output folder exists, forms the
// output name and hands the bitmap to a page writer.
//
// Ownership: the job owns its renderer and its kept writer for its whole
// life; the multi-page TIFF file stays open until the job is destroyed. One
// thread at a time; callbacks run on that thread, between pages. Throws
// MemoryException (from the engine) and std::bad_alloc; the exported
// functions catch both.
class ConversionJob {
public:
    // Option identifiers of setOption.
    enum Option : int32_t {
        kOptionOutputFolder = 1,
        kOptionBaseName = 2,
        kOptionZoom = 3,
        kOptionBackgroundColour = 4,
        kOptionImageType = 5,
        kOptionBitsPerPixel = 6,
        kOptionXDpi = 7,
        kOptionYDpi = 8,
        kOptionQuality = 9,
        kOptionCompression = 10,
        kOptionMultiPageTiff = 11,
        kOptionGreyscale = 12,
        kOptionOutputWidth = 13,
        kOptionOutputHeight = 14,
        kOptionRotation = 15,
        kOptionProgress = 40,
        kOptionCancel = 91,
        kOptionPoll = 92,
        kOptionWriterFlag = 93,
    };

    // Page selections of convertByRange.
    enum RangeMode : int32_t {
        kRangeAll = 1,
        kRangeEven = 2,
        kRangeOdd = 3,
        kRangeFirst = 4,
        kRangeLast = 5,
        kRangeCustom = 6,
    };

    // Status codes, as the exported functions return them.
    static constexpr int kSuccess = 1;
    static constexpr int kInputMissing = -2;
    static constexpr int kOpenFailed = -3;
    static constexpr int kPasswordNeeded = -4;
    static constexpr int kPageOutOfRange = -5;
    static constexpr int kCancelled = -6;
    static constexpr int kInvalidPageRange = -7;
    // The page at the set resolution and zoom has more pixels than the
    // engine can draw or the image type can hold: nothing is written.
    static constexpr int kPageTooLarge = -8;
    // The page file was written, but the page's content was lost in the
    // document, wholly or in part: the image lacks what was lost.
    static constexpr int kPageIncomplete = 2;
    static constexpr int kUnknownOption = -11;
    static constexpr int kOtherFailure = -99;

    // The poll function's answer that asks to cancel.
    static constexpr int kPollCancel = 2;

    ConversionJob();
    ~ConversionJob();
    ConversionJob(const ConversionJob&) = delete;
    ConversionJob& operator=(const ConversionJob&) = delete;

    // Opens the document at `path` (either password may be null): 1, or
    // kInputMissing, kOpenFailed, kPasswordNeeded, kOtherFailure. Sets the
    // output folder and base name from the path unless they are set already.
    int open(const char* path, const char* ownerPassword, const char* userPassword);
    int close();
    // 0 when no document is open.
    int pageCount() const;
    // 1, or kUnknownOption (nothing changed) for an identifier not listed.
    int setOption(int32_t id, const char* text, intptr_t value, intptr_t value2);
    // Page n into outputFolder + baseName + n as five digits + extension:
    // 1 or kPageIncomplete when written, else kPageOutOfRange, kCancelled,
    // kPageTooLarge or kOtherFailure (the file could not be written).
    int convertPageNumbered(int32_t n);
    // Page n into outputFolder + name + extension; a null name gives the
    // numbered name. A multi-page TIFF job ignores the name.
    int convertPageNamed(int32_t n, const char* name);
    // The pages that the range mode selects: 1, the first failing page's
    // code, or kInvalidPageRange; kPageIncomplete when every page was
    // written but one or more of them lost content.
    int convertByRange();

    // The page selection of convertByRange. No option of the exported
    // interface reaches it: through the interface every page is converted.
    void setRange(int32_t mode, const std::string& text);

    const std::string& baseName() const { return m_baseName; }
    const std::string& outputFolder() const { return m_outputFolder; }
    int32_t zoom() const { return m_zoom; }
    int32_t imageType() const { return m_imageType; }
    int32_t rotation() const { return m_rotation; }
    uint32_t backgroundColour() const { return m_backgroundColour; }
    int32_t quality() const { return m_quality; }
    int32_t xDpi() const { return m_xDpi; }
    int32_t yDpi() const { return m_yDpi; }
    int32_t bitsPerPixel() const { return m_bitsPerPixel; }
    int32_t greyscale() const { return m_greyscale; }
    int32_t writerFlag() const { return m_writerFlag; }
    int32_t compression() const { return m_compression; }
    int32_t multiPageTiff() const { return m_multiPageTiff; }
    intptr_t progressUserValue() const { return m_progressUserValue; }
    int32_t outputWidth() const { return m_outputWidth; }
    int32_t outputHeight() const { return m_outputHeight; }
    ProgressFunction progressCallback() const { return m_progressCallback; }
    PollFunction pollFunction() const { return m_pollFunction; }
    CancelFunction cancelCallback() const { return m_cancelCallback; }

private:
    // The steps shared by both ways of naming a page; `name` null means the
    // numbered name.
    int convertPage(int32_t n, const char* name);
    // Saves one page file whole under `path`, or leaves nothing there.
    static bool saveWhole(PageImageWriter& writer, const std::string& path);
    // The last step of every converted page: a poll function that asks to
    // cancel turns the page's result into kCancelled.
    int afterPage(int result);
    void applyScale();

    std::string m_baseName;
    std::string m_outputFolder;
    std::string m_rangeText;
    int32_t m_zoom = 100;
    int32_t m_imageType = 4;
    int32_t m_rangeMode = kRangeAll;
    int32_t m_rotation = 0;
    uint32_t m_backgroundColour = 0xFFFFFF;
    int32_t m_quality = 75;
    int32_t m_xDpi = 120;
    int32_t m_yDpi = 120;
    int32_t m_bitsPerPixel = 24;
    int32_t m_greyscale = 0;
    int32_t m_writerFlag = 0;
    int32_t m_compression = 0;
    int32_t m_multiPageTiff = 0;
    intptr_t m_progressUserValue = -1;
    int32_t m_outputWidth = 0;
    int32_t m_outputHeight = 0;
    std::unique_ptr<PdfRenderer> m_renderer;
    std::unique_ptr<PageImageWriter> m_keptWriter;
    ProgressFunction m_progressCallback = nullptr;
    PollFunction m_pollFunction = nullptr;
    CancelFunction m_cancelCallback = nullptr;
};

}  // namespace rendova
