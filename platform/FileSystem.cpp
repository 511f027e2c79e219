#include "platform/FileSystem.h"

#include <sys/stat.h>

namespace platform {

bool directoryExists(const std::string& path) {
    struct stat info;
    return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool fileExists(const std::string& path) {
    struct stat info;
    return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool createDirectoryChain(const std::string& path) {
    if (path.empty())
        return false;
    // Each level is the text before a '/', then the whole path; a level that
    // cannot be made shows up in the final check, so failures here (most
    // often "exists already") need no handling of their own.
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        if (path[slash - 1] == '/')
            continue;
        mkdir(path.substr(0, slash).c_str(), 0777);
    }
    mkdir(path.c_str(), 0777);
    return directoryExists(path);
}

}  // namespace platform
