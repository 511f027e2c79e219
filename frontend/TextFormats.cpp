#include "frontend/TextFormats.h"

#include <cstdio>

#include "platform/FileInfo.h"
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
                            const std::string& destination) {
    return "[Time:] " + time + "\n[State:] " + state + "\n[InputFile:] " + input + "\n[Destination:] " +
           destination + "\n\n";
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

std::string defaultFolder() {
    std::string home = platform::homeDirectory();
    if (home.empty() || home.back() != '/')
        home += '/';
    return home;
}

}  // namespace glimmark
