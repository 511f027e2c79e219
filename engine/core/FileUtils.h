#pragma once

#include <cstdio>
#include <memory>

#include "engine/core/DynString.h"

namespace rendova {

// The engine's small file utilities, over the platform layer. Any thread; they
// report failure by their result, never throw on a missing file, and throw
// MemoryException only when memory runs out.

// Owns an open stdio file and closes it when it goes.
struct FileHandleCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<FILE, FileHandleCloser>;

// The user's home directory, as a new string.
std::unique_ptr<DynString> getHomeDir();

// Replaces the content of `directory` with the absolute form of
// directory + "/" + name ("." and ".." folded, symbolic links left alone, the
// file need not exist) and returns `directory`. The path is never cut short.
// Should the current directory be unreadable, `directory` holds the joined,
// still relative path.
DynString& makePathAbsolute(DynString& directory, const char* name);

// A new string with everything before the last "/"; when there is none,
// everything before the last "\"; when there is neither, everything up to and
// including the last ":" (so "C:file" gives "C:"); else an empty string.
std::unique_ptr<DynString> directoryOf(const DynString& path);

// Creates a new temporary file, exclusively, in the temporary folder, its name
// ending in `suffix` when one is given, and opens it with the stdio `mode`. On
// success sets `name` and `file` (the caller closes the file and removes the
// name) and returns 1; on failure returns 0 and leaves both untouched.
int openTempFile(std::unique_ptr<DynString>& name, FILE*& file, const char* mode, const char* suffix);

// Reads one line of `file` into `buffer`: at most size - 1 bytes and a NUL.
// The line end stays in the buffer and may be LF, CR or CR LF; after a lone CR
// the next byte is left unread. A line longer than the buffer comes back in
// pieces. Returns the buffer, or null when no byte was read.
char* readLine(char* buffer, int size, FILE* file);

}  // namespace rendova
