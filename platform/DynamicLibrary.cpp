#include "platform/DynamicLibrary.h"

#include <dlfcn.h>

#include "platform/FileSystem.h"
#include "platform/Paths.h"

namespace platform {

namespace {

bool endsWithDll(const std::string& file) {
    if (file.size() < 4)
        return false;
    std::string tail = file.substr(file.size() - 4);
    for (char& c : tail)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return tail == ".dll";
}

LibraryHandle open(const std::string& path) {
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

}  // namespace

std::string libraryFileName(const std::string& name) {
    size_t slash = name.rfind('/');
    size_t fileStart = slash == std::string::npos ? 0 : slash + 1;
    std::string folder = name.substr(0, fileStart);
    std::string file = name.substr(fileStart);
    if (endsWithDll(file)) {
        file.resize(file.size() - 4);
    } else if (file.find('.') != std::string::npos) {
        return name;
    }
    return folder + "lib" + file + ".so";
}

LibraryHandle loadLibrary(const std::string& name) {
    if (name.empty())
        return nullptr;
    std::string file = libraryFileName(name);
    // dlopen takes a name with a '/' as a path and searches only for a bare
    // name, so the program's folder is tried by its full path first.
    if (file.find('/') != std::string::npos)
        return open(file);
    std::string folder = programDirectory();
    if (!folder.empty() && fileExists(folder + file)) {
        if (LibraryHandle library = open(folder + file))
            return library;
    }
    return open(file);
}

Proc procByOrdinal(LibraryHandle library, int ordinal) {
    if (!library || ordinal < 1 || ordinal > kExportCount)
        return nullptr;
    const Proc* table = static_cast<const Proc*>(dlsym(library, kExportTableName));
    return table ? table[ordinal - 1] : nullptr;
}

void freeLibrary(LibraryHandle library) {
    if (library)
        dlclose(library);
}

}  // namespace platform
