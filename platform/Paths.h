#pragma once

#include <string>

namespace platform {

// Paths are native POSIX paths in UTF-8. Folders that name a place to put a
// file in ("directory" of splitPath, programDirectory, libraryDirectory) end
// in '/', so that a file name can be appended as it stands. Every function
// here may be called from any thread; none throws except std::bad_alloc.

// True when the path begins with '/'.
inline bool isAbsolutePath(const std::string& path) {
    return !path.empty() && path[0] == '/';
}

// The absolute form of a path, worked out from the text alone: a relative path
// is taken from the current directory, "." and ".." are folded lexically (".."
// above the root stays at the root), repeated separators collapse, symbolic
// links are left alone and the file need not exist. A trailing '/' is kept, so
// that a folder path still reads as a folder. Empty when the path is empty or
// the current directory cannot be read.
std::string absolutePath(const std::string& path);

// A path cut into its folder (up to and including the last '/'), its name and
// its extension (from the last '.' of the file part, the dot included).
// Joining the three gives the path back. A name that starts with its only dot
// (".profile") and the names "." and ".." have no extension.
struct PathParts {
    std::string directory;
    std::string name;
    std::string extension;
};
PathParts splitPath(const std::string& path);

// The user's home directory: $HOME when it is set and not empty, else the
// home field of the user's password entry, else "/". No trailing '/' is added.
std::string homeDirectory();

// The full path of the running program's executable (/proc/self/exe), or empty
// when it cannot be read.
std::string programPath();

// The folder of the running program's executable, ending in '/'; empty when
// it cannot be found.
std::string programDirectory();

// The folder of the binary that holds this layer's code (the shared library
// when the layer is linked into one, else the program), ending in '/'; empty
// when it cannot be found.
std::string libraryDirectory();

}  // namespace platform
