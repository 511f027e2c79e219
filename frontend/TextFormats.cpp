#include "frontend/TextFormats.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "frontend/LibraryInterface.h"
#include "platform/FileInfo.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

namespace glimmark {

// The library draws at most 500 dpi: the list offers no more than that, so
// that the resolution chosen is the one the files get.
const char* const kDpiChoices[kDpiChoiceCount] = {"72", "96", "100", "120", "150", "200", "300", "500"};

std::string formatSizeKB(uint64_t size) {
    if (size > 0 && size < 1024)
        size = 1024;
    char text[32];
    std::snprintf(text, sizeof text, "%llu KB", static_cast<unsigned long long>(size / 1024));
    return text;
}

std::string formatFileTime(std::time_t moment) {
    platform::LocalTime time = platform::localTime(moment);
    char text[64];
    std::snprintf(text, sizeof text, "%02d-%02d-%d %d:%02d", time.month, time.day, time.year, time.hour,
                  time.minute);
    return text;
}

std::string attributeText(uint32_t attributes) {
    using namespace platform;
    switch (attributes) {
        case kAttributeReadOnly:
            return "R";
        case kAttributeHidden:
            return "H";
        case kAttributeArchive:
            return "A";
        case kAttributeReadOnly | kAttributeHidden:
            return "RH";
        case kAttributeReadOnly | kAttributeArchive:
            return "RA";
        case kAttributeHidden | kAttributeArchive:
            return "HA";
        case kAttributeReadOnly | kAttributeHidden | kAttributeArchive:
            return "RHA";
        default:
            return "---";
    }
}

std::string formatLogTime(const platform::LocalTime& time) {
    char text[64];
    std::snprintf(text, sizeof text, "[%02d-%02d-%d %d:%02d:%02d]", time.day, time.month, time.year,
                  time.hour, time.minute, time.second);
    return text;
}

std::string formatLogRecord(const std::string& time, const std::string& state, const std::string& input,
                            const std::string& destination, const std::string& reason) {
    std::string record = "[Time:] " + time + "\n[State:] " + state + "\n";
    if (!reason.empty())
        record += "[Reason:] " + reason + "\n";
    return record + "[InputFile:] " + input + "\n[Destination:] " + destination + "\n\n";
}

std::string openFailureReason(int status, bool passwordGiven) {
    switch (status) {
        case kStatusInputMissing:
            return "the file is missing or cannot be read";
        case kStatusOpenFailed:
            return "the document cannot be opened: it is damaged, not a PDF file, or encrypted in a way "
                   "that is not supported";
        case kStatusPasswordNeeded:
            return passwordGiven ? "wrong password: enter the document's owner or user password in step 2"
                                 : "the document is protected: enter its password in step 2";
        default:
            return "the document cannot be opened (error " + std::to_string(status) + ")";
    }
}

std::string pageFailureReason(int status, int page, bool folderWritable, int imageType, int xDpi, int yDpi) {
    std::string where = "page " + std::to_string(page) + ": ";
    switch (status) {
        case 0:
            return "the document has no pages";
        case kStatusPageTooLarge: {
            std::string dpi = std::to_string(xDpi);
            if (yDpi != xDpi)
                dpi += " x " + std::to_string(yDpi);
            return where + "the page has too many pixels at " + dpi +
                   " dpi to be drawn or saved: choose a lower DPI in step 2";
        }
        case kStatusOtherFailure: {
            if (!folderWritable)
                return where + "the output folder cannot be written: choose another folder in step 2";
            std::string type = displayExtension(imageType).substr(1);
            for (char& c : type)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            return where + "the " + type +
                   " image cannot be written: try another image type or colour depth, or free disk space";
        }
        case kStatusCancelled:
            return where + "the conversion was cancelled";
        default:
            return where + "the page cannot be converted (error " + std::to_string(status) + ")";
    }
}

std::string lostContentReason(const std::vector<int>& pages, int pageCount) {
    // Runs of consecutive pages ("5-9"), each with the number of pages in it.
    std::vector<std::pair<std::string, size_t>> runs;
    for (size_t i = 0; i < pages.size();) {
        size_t end = i;
        while (end + 1 < pages.size() && pages[end + 1] == pages[end] + 1)
            ++end;
        std::string run = std::to_string(pages[i]);
        if (end > i)
            run += "-" + std::to_string(pages[end]);
        runs.emplace_back(run, end - i + 1);
        i = end + 1;
    }
    constexpr size_t kMaxRuns = 10;
    const size_t shown = std::min(runs.size(), kMaxRuns);
    std::string list;
    size_t named = 0;
    for (size_t i = 0; i < shown; ++i) {
        if (i > 0)
            list += i + 1 == runs.size() ? " and " : ", ";
        list += runs[i].first;
        named += runs[i].second;
    }
    if (runs.size() > shown)
        list += " and " + std::to_string(pages.size() - named) + " more";
    const bool one = pages.size() == 1;
    return std::string(one ? "page " : "pages ") + list + " of " + std::to_string(pageCount) +
           (one ? ": its content is lost in the damaged document, so its image is blank or incomplete"
                : ": their content is lost in the damaged document, so their images are blank or incomplete");
}

std::string notAddedReason(int status, bool hasPdfHeader) {
    switch (status) {
        case kStatusInputMissing:
            return "cannot be read";
        case kStatusOpenFailed:
            return hasPdfHeader ? "damaged beyond repair" : "not a PDF document";
        default:
            return "cannot be opened (error " + std::to_string(status) + ")";
    }
}

std::string notAddedMessage(const std::vector<std::pair<std::string, std::string>>& files) {
    std::string text = files.size() == 1 ? "This file was not added:\n" : "These files were not added:\n";
    size_t shown = std::min(files.size(), kMaxNamedFiles);
    for (size_t i = 0; i < shown; ++i)
        text += "\n" + files[i].first + ": " + files[i].second;
    if (files.size() > shown)
        text += "\n... and " + std::to_string(files.size() - shown) + " more";
    return text;
}

int dpiFromIndex(int index) {
    static const int kDpi[kDpiChoiceCount] = {72, 96, 100, 120, 150, 200, 300, 500};
    // Index 8 was "1200" in older settings files, which the library drew at
    // 500 dpi all the same.
    if (index == kDpiChoiceCount)
        return kDpi[kDpiChoiceCount - 1];
    return index >= 0 && index < kDpiChoiceCount ? kDpi[index] : index;
}

int dpiChoiceIndex(int storedIndex) {
    return storedIndex == kDpiChoiceCount ? kDpiChoiceCount - 1 : storedIndex;
}

std::string displayExtension(int imageType) {
    static const char* const kExtensions[8] = {".bmp", ".emf", ".wmf", ".jpg",
                                               ".png", ".gif", ".tif", ".pcx"};
    return imageType >= 1 && imageType <= 8 ? kExtensions[imageType - 1] : ".bmp";
}

std::string validFolderPath(const std::string& text) {
    // An empty text names no folder (it must not become the root).
    if (text.empty())
        return std::string();
    std::string path = text;
    if (path.back() != '/')
        path += '/';
    if (!platform::isAbsolutePath(path) || path.size() > kMaxPathLength)
        return std::string();
    return path;
}

std::string chooserStartFolder(const std::string& path) {
    if (path.empty() || path[0] != '/')
        return defaultFolder();
    std::string folder = path;
    while (!folder.empty() && !platform::directoryExists(folder)) {
        while (!folder.empty() && folder.back() == '/')
            folder.pop_back();
        size_t slash = folder.rfind('/');
        folder.erase(slash == std::string::npos ? 0 : slash + 1);
    }
    if (folder.empty())
        return "/";
    if (folder.back() != '/')
        folder += '/';
    return folder;
}

std::string defaultFolder() {
    std::string home = platform::homeDirectory();
    if (home.empty() || home.back() != '/')
        home += '/';
    return home;
}

}  // namespace glimmark
