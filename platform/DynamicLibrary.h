#pragma once

#include <string>

namespace platform {

// A loaded shared library, or null. Opaque: it is the dynamic loader's handle.
using LibraryHandle = void*;

// An exported function as the caller gets it back: cast it to its real type
// before calling it.
using Proc = void (*)();

// A library exports its functions by ordinal through one C array of this many
// function pointers named kExportTableName; entry n - 1 is ordinal n.
constexpr int kExportCount = 12;
constexpr const char* kExportTableName = "rendovaExports";

// The file name a library name stands for: "X.dll" (any case of ".dll") and a
// bare "X" become "libX.so"; a name with any other extension ("libX.so",
// "libX.so.1") is taken as it stands. A folder in front is kept.
std::string libraryFileName(const std::string& name);

// Loads a library by its name as libraryFileName maps it. A name with a folder
// is loaded from there only; a bare name is looked for first in the running
// program's folder, then in the system's search order. Null when it is not
// found or cannot be loaded. Each successful call must be matched by
// freeLibrary. Any thread.
LibraryHandle loadLibrary(const std::string& name);

// The function of the given ordinal (1 to kExportCount) in the library's
// export table; null for an ordinal outside that range, a library without the
// table, an empty entry or a null handle. The pointer is valid while the
// library stays loaded.
Proc procByOrdinal(LibraryHandle library, int ordinal);

// Releases a library loaded by loadLibrary; a null handle does nothing.
void freeLibrary(LibraryHandle library);

}  // namespace platform
