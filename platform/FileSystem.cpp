#include "platform/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>

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

std::string createUniqueFile(const std::string& prefix, const std::string& suffix) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    // A hundred tries: each name is one of 56 billion, so only a folder that
    // refuses every new file runs out of them.
    constexpr int kTries = 100;
    std::random_device seed;
    std::minstd_rand random(seed());
    for (int attempt = 0; attempt < kTries; ++attempt) {
        std::string path = prefix;
        for (int i = 0; i < 6; ++i)
            path += kLetters[random() % (sizeof kLetters - 1)];
        path += suffix;
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            close(fd);
            return path;
        }
        if (errno != EEXIST)
            break;
    }
    return std::string();
}

bool replaceFile(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace platform
