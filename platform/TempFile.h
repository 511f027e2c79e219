#pragma once

#include <cstdio>
#include <string>

namespace platform {

// The folder for temporary files: $TMPDIR when it is set and not empty, else
// "/tmp". No trailing '/'.
std::string tempDirectory();

// A temporary file just created: its full path and the open stdio file. The
// caller owns both: it closes the file and removes the path when it is done.
struct TempFile {
    std::string path;
    FILE* file = nullptr;
};

// Creates a new file in tempDirectory() named prefix + six random characters +
// suffix, and opens it with the stdio mode given ("wb", "w+b", ...). The name
// is chosen and the file created in one step that fails rather than open a file
// that exists, so no other process can slip a file of the same name in between.
// The file is readable and writable by the user only and is not inherited by
// child programs. On failure the result's file is null and its path empty.
// Any thread.
TempFile createTempFile(const std::string& prefix, const std::string& suffix, const char* mode);

}  // namespace platform
