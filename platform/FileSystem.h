#pragma once

#include <string>

namespace platform {

// Questions and changes about the file system. Any thread; nothing throws
// except std::bad_alloc.

// True when the path names a directory (a symbolic link to one counts).
bool directoryExists(const std::string& path);

// True when the path names a regular file (a symbolic link to one counts). A
// directory is not a file, although it can be opened for reading here.
bool fileExists(const std::string& path);

// Creates the directory the path names together with every missing folder
// above it, one level at a time from the root down; folders that exist already
// are fine. A trailing '/' is allowed. True when the whole chain stands as
// directories afterwards; false when a level could not be made (no permission,
// a regular file in the way) or the path is empty.
bool createDirectoryChain(const std::string& path);

// Creates a new, empty file whose path is `prefix` followed by six random
// characters and `suffix`, with the permissions an ordinary new file gets
// (0666 less the umask); the name is chosen and the file created in one step
// that never opens a file that exists. The path, or empty on failure.
std::string createUniqueFile(const std::string& prefix, const std::string& suffix);

// Moves the file `from` onto the path `to` in one step, replacing what is
// there: a reader sees the old file or the new one, never part of one. Both
// must lie on one file system (the same folder, in practice).
bool replaceFile(const std::string& from, const std::string& to);

}  // namespace platform
