#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace platform {

// File attribute bits with the values programs written for Windows test for.
// Linux keeps no such bits, so readFileInfo derives them: read-only when the
// owner may not write the file, hidden when its name starts with '.', system
// for anything that is not a regular file, and archive for every regular file
// (Windows sets that bit whenever a file is written, and Linux keeps no
// "backed up" mark that would clear it).
constexpr uint32_t kAttributeReadOnly = 0x01;
constexpr uint32_t kAttributeHidden = 0x02;
constexpr uint32_t kAttributeSystem = 0x04;
constexpr uint32_t kAttributeArchive = 0x20;

// What the file system says about one file.
struct FileInfo {
    uint64_t size = 0;        // bytes
    std::time_t created = 0;  // birth time where the file system records it, else the earlier of
                              // the last change and the last modification
    std::time_t accessed = 0;
    std::time_t modified = 0;
    uint32_t attributes = 0;  // kAttribute... bits
};

// Opens the file for reading (without blocking on a pipe or device) and reads
// its facts into info. False, with info untouched, when the file cannot be
// opened for reading or is a directory, as Windows refuses to open a
// directory as a file. Any thread.
bool readFileInfo(const std::string& path, FileInfo& info);

}  // namespace platform
