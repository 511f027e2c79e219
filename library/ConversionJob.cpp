#include "library/ConversionJob.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engine/raster/PdfRenderer.h"
#include "library/PageImageWriter.h"
#include "library/PageRangeList.h"
#include "platform/FileInfo.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

namespace rendova {

namespace {

constexpr int32_t kMinZoom = 10;
constexpr int32_t kMaxZoom = 200;
constexpr int32_t kMinDpi = 72;
constexpr int32_t kMaxDpi = 500;
constexpr int32_t kTiffType = 7;

// Option values arrive pointer-sized; the fields are 32-bit. A value beyond
// their range saturates instead of wrapping into a different number.
int32_t toInt32(intptr_t value) {
    return int32_t(std::clamp<intptr_t>(value, INT32_MIN, INT32_MAX));
}

// The absolute form of a path, or empty when it cannot be formed or does not
// fit the interface's path length.
std::string absoluteWithinLimit(const std::string& path) {
    std::string absolute = platform::absolutePath(path);
    if (absolute.size() > kMaxPathLength)
        return {};
    return absolute;
}

}  // namespace

void createDirectoryChain(const std::string& path) {
    if (path.size() > kMaxChainLength)
        return;
    const size_t lastSlash = path.rfind('/');
    if (lastSlash == std::string::npos || lastSlash == 0)
        return;
    // Every level up to the last separator, one at a time from the top.
    platform::createDirectoryChain(path.substr(0, lastSlash));
}

int directoryExists(const std::string& path) {
    const std::string absolute = absoluteWithinLimit(path);
    if (absolute.empty())
        return 0;
    return platform::directoryExists(absolute) ? 1 : 0;
}

int fileExists(const std::string& path) {
    const std::string absolute = absoluteWithinLimit(path);
    if (absolute.empty())
        return 0;
    // Opened for reading, as the document will be; a directory opens on
    // Linux but is no file.
    platform::FileInfo info;
    return platform::readFileInfo(absolute, info) ? 1 : 0;
}

const char* extensionForType(int32_t type) {
    switch (type) {
        case 2:
            return "emf";
        case 3:
            return "wmf";
        case 4:
            return "jpg";
        case 5:
            return "png";
        case 6:
            return "gif";
        case 7:
            return "tif";
        case 8:
            return "pcx";
        default:
            return "bmp";
    }
}

ConversionJob::ConversionJob()
    : m_renderer(std::make_unique<PdfRenderer>()), m_keptWriter(std::make_unique<PageImageWriter>()) {}

ConversionJob::~ConversionJob() {
    m_renderer.reset();
    // The kept writer finishes and closes a multi-page TIFF file.
    m_keptWriter.reset();
}

int ConversionJob::open(const char* path, const char* ownerPassword, const char* userPassword) {
    if (path == nullptr)
        return kInputMissing;
    const std::string absolute = absoluteWithinLimit(path);
    if (absolute.empty() || !fileExists(absolute))
        return kInputMissing;
    const platform::PathParts parts = platform::splitPath(absolute);
    if (m_outputFolder.empty()) {
        std::string folder = parts.directory;
        if (!folder.empty() && folder.back() != '/')
            folder += '/';
        m_outputFolder = folder;
    }
    if (m_baseName.empty()) {
        // A stem beyond the name field (impossible on file systems whose names
        // have at most 255 bytes) would be cut: the file is refused instead.
        if (parts.name.size() > kMaxBaseNameLength)
            return kInputMissing;
        m_baseName = parts.name;
    }
    switch (m_renderer->openDocument(absolute.c_str(), ownerPassword, userPassword)) {
        case PdfRenderer::kOpened:
            return kSuccess;
        case PdfRenderer::kOpenFailed:
            return kOpenFailed;
        case PdfRenderer::kPasswordRefused:
            return kPasswordNeeded;
        default:
            return kOtherFailure;
    }
}

int ConversionJob::close() {
    return m_renderer->closeDocument();
}

int ConversionJob::pageCount() const {
    return m_renderer != nullptr ? m_renderer->getPageCount() : 0;
}

int ConversionJob::setOption(int32_t id, const char* text, intptr_t value, intptr_t value2) {
    switch (id) {
        case kOptionOutputFolder: {
            if (text == nullptr || *text == '\0')
                break;
            std::string folder = platform::absolutePath(text);
            if (folder.empty())
                break;
            if (folder.back() != '/')
                folder += '/';
            // Too long for the folder field: refused, the folder stays.
            if (folder.size() > kMaxFolderLength)
                break;
            m_outputFolder = folder;
            break;
        }
        case kOptionBaseName:
            if (text == nullptr || *text == '\0')
                break;
            if (std::char_traits<char>::length(text) > kMaxBaseNameLength)
                break;  // refused: the name stays
            m_baseName = text;
            break;
        case kOptionZoom:
            m_zoom = int32_t(std::clamp<intptr_t>(value, kMinZoom, kMaxZoom));
            break;
        case kOptionBackgroundColour:
            m_backgroundColour = uint32_t(toInt32(value));
            break;
        case kOptionImageType:
            m_imageType = value >= 2 && value <= 8 ? int32_t(value) : 1;
            break;
        case kOptionBitsPerPixel:
            m_bitsPerPixel = toInt32(value);
            break;
        case kOptionXDpi:
            m_xDpi = int32_t(std::clamp<intptr_t>(value, kMinDpi, kMaxDpi));
            break;
        case kOptionYDpi:
            m_yDpi = int32_t(std::clamp<intptr_t>(value, kMinDpi, kMaxDpi));
            break;
        case kOptionQuality:
            m_quality = toInt32(value);
            break;
        case kOptionCompression:
            m_compression = toInt32(value);
            break;
        case kOptionMultiPageTiff:
            m_multiPageTiff = value != 0 ? 1 : 0;
            break;
        case kOptionGreyscale:
            m_greyscale = value != 0 ? 1 : 0;
            break;
        case kOptionOutputWidth:
            if (value > 0)
                m_outputWidth = toInt32(value);
            break;
        case kOptionOutputHeight:
            if (value > 0)
                m_outputHeight = toInt32(value);
            break;
        case kOptionRotation:
            m_rotation = toInt32(value);
            break;
        case kOptionProgress:
            if (value != 0) {
                m_progressCallback = reinterpret_cast<ProgressFunction>(value);
                m_progressUserValue = value2;
            }
            break;
        case kOptionCancel:
            if (value != 0)
                m_cancelCallback = reinterpret_cast<CancelFunction>(value);
            break;
        case kOptionPoll:
            if (value != 0)
                m_pollFunction = reinterpret_cast<PollFunction>(value);
            break;
        case kOptionWriterFlag:
            m_writerFlag = value != 0 ? 1 : 0;
            break;
        default:
            return kUnknownOption;
    }
    return kSuccess;
}

void ConversionJob::setRange(int32_t mode, const std::string& text) {
    m_rangeMode = mode;
    m_rangeText = text;
}

void ConversionJob::applyScale() {
    m_renderer->setOption(PdfRenderer::kOptionZoom, m_zoom);
    m_renderer->setOption(PdfRenderer::kOptionResolution, m_xDpi, m_yDpi);
}

int ConversionJob::convertPageNumbered(int32_t n) {
    return convertPage(n, nullptr);
}

bool ConversionJob::saveWhole(PageImageWriter& writer, const std::string& path) {
    // The page goes to a hidden file beside its final name and is moved there
    // only when it is complete, so that a run killed or failing mid-write
    // never leaves a partial file under the name a user looks for.
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string partial = platform::createUniqueFile(folder + "." + file + ".", ".part");
    if (partial.empty())
        return false;
    if (writer.save(partial.c_str()) && platform::replaceFile(partial, path))
        return true;
    std::remove(partial.c_str());
    return false;
}

int ConversionJob::convertPageNamed(int32_t n, const char* name) {
    return convertPage(n, name);
}

int ConversionJob::convertPage(int32_t n, const char* name) {
    if (n < 1 || n > pageCount())
        return kPageOutOfRange;
    // A name is a file name inside the output folder: one with a folder in
    // it ("sub/x", "../x") would write elsewhere, or fail after rendering.
    if (name != nullptr && std::strchr(name, '/') != nullptr)
        return kOtherFailure;
    applyScale();
    // A page too large to draw is not drawn: the bitmap would still hold
    // the page before it, written under this page's name.
    if (m_renderer->renderPage(n) == PdfRenderer::kPageTooLarge)
        return afterPage(kPageTooLarge);
    const bool whole = m_renderer->lastPageWhole();
    int blockSize = 0;
    uint8_t* block = m_renderer->getBitmap(blockSize);
    if (!directoryExists(m_outputFolder))
        createDirectoryChain(m_outputFolder);
    const char* extension = extensionForType(m_imageType);

    const bool multiPage = m_imageType == kTiffType && m_multiPageTiff != 0;
    std::string path;
    std::unique_ptr<PageImageWriter> pageWriter;
    PageImageWriter* writer;
    if (multiPage) {
        path = m_outputFolder + m_baseName + ".tif";
        writer = m_keptWriter.get();
    } else {
        pageWriter = std::make_unique<PageImageWriter>();
        writer = pageWriter.get();
        if (name != nullptr) {
            path = m_outputFolder + name + "." + extension;
        } else {
            // Also the name when a client passes none: without this a null
            // name would be formatted into the path.
            char number[16];
            std::snprintf(number, sizeof number, "%05d", n);
            path = m_outputFolder + m_baseName + number + "." + extension;
        }
    }

    // A page wider or taller than its image type holds is refused as too
    // large rather than left to fail as a write would, for a full disk.
    const bool resized = m_outputWidth > 0 && m_outputHeight > 0;
    const int32_t outputWidth = resized ? m_outputWidth : m_renderer->bitmapWidth();
    const int32_t outputHeight = resized ? m_outputHeight : m_renderer->bitmapHeight();
    if (!PageImageWriter::typeHolds(m_imageType, outputWidth, outputHeight))
        return afterPage(kPageTooLarge);

    // An output path beyond the interface's length is not written at all: a
    // cut path would name another file. A page that was not written fails,
    // so that a caller never takes a missing or broken file for a result.
    bool written = false;
    if (path.size() <= kMaxPathLength) {
        writer->setup(m_renderer->bitmapWidth(), m_renderer->bitmapHeight(), m_bitsPerPixel, m_greyscale,
                      m_writerFlag, m_backgroundColour, m_imageType, path.c_str(), block, blockSize,
                      m_multiPageTiff, m_xDpi, m_yDpi);
        writer->setCompression(m_compression);
        writer->setQuality(m_quality);
        writer->setRotation(m_rotation);
        if (resized)
            writer->setResize(m_outputWidth, m_outputHeight);
        written = multiPage ? writer->save(path.c_str()) : saveWhole(*writer, path);
    }
    pageWriter.reset();
    if (!written)
        return afterPage(kOtherFailure);
    // Written, but what the document lost of the page is not in it.
    return afterPage(whole ? kSuccess : kPageIncomplete);
}

int ConversionJob::afterPage(int result) {
    if (m_pollFunction != nullptr && m_cancelCallback != nullptr) {
        if (m_pollFunction() == kPollCancel) {
            m_cancelCallback(0);
            return kCancelled;
        }
    }
    return result;
}

int ConversionJob::convertByRange() {
    if (m_renderer == nullptr)
        return kSuccess;
    applyScale();
    const int32_t pages = pageCount();
    PageRangeList list;
    int32_t selected;
    switch (m_rangeMode) {
        case kRangeAll:
            selected = pages;
            break;
        case kRangeEven:
            selected = pages / 2;
            break;
        case kRangeOdd:
            selected = pages / 2 + pages % 2;
            break;
        case kRangeFirst:
        case kRangeLast:
            selected = 1;
            break;
        case kRangeCustom: {
            const bool keepDuplicates = m_imageType == kTiffType && m_multiPageTiff != 0;
            if (!list.parse(m_rangeText.c_str(), pages, keepDuplicates))
                return kInvalidPageRange;
            selected = list.count();
            break;
        }
        default:
            return kSuccess;
    }
    bool incomplete = false;
    for (int32_t k = 1; k <= selected; ++k) {
        int32_t page;
        switch (m_rangeMode) {
            case kRangeEven:
                page = 2 * k;
                break;
            case kRangeOdd:
                page = 2 * k - 1;
                break;
            case kRangeFirst:
                page = 1;
                break;
            case kRangeLast:
                page = pages;
                break;
            case kRangeCustom:
                page = list.next();
                break;
            default:
                page = k;
                break;
        }
        const int result = convertPageNumbered(page);
        if (result == kPageIncomplete)
            incomplete = true;
        else if (result != kSuccess)
            return result;
        if (m_progressCallback != nullptr) {
            int percent = 100;
            if (m_rangeMode != kRangeFirst && m_rangeMode != kRangeLast)
                percent = int(double(k) / double(selected) * 100.0);
            m_progressCallback(m_progressUserValue, percent);
        }
    }
    return incomplete ? kPageIncomplete : kSuccess;
}

}  // namespace rendova
