#include "platform/Paths.h"

#include <dlfcn.h>
#include <link.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace platform {

namespace {

std::string currentDirectory() {
    std::vector<char> buffer(256);
    for (;;) {
        if (getcwd(buffer.data(), buffer.size()))
            return buffer.data();
        if (errno != ERANGE)
            return std::string();
        buffer.resize(buffer.size() * 2);
    }
}

// The folder part of a path, up to and including the last '/'.
std::string folderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

std::string absolutePath(const std::string& path) {
    if (path.empty())
        return std::string();
    std::string full;
    if (isAbsolutePath(path)) {
        full = path;
    } else {
        std::string current = currentDirectory();
        if (current.empty())
            return std::string();
        full = current + "/" + path;
    }

    // Fold the components; each kept one is remembered by where it starts in
    // the result so that ".." can drop it again.
    std::string result;
    std::vector<size_t> starts;
    size_t position = 0;
    while (position < full.size()) {
        size_t end = full.find('/', position);
        if (end == std::string::npos)
            end = full.size();
        size_t length = end - position;
        if (length == 0 || (length == 1 && full[position] == '.')) {
            // An empty component (repeated separators) or "." adds nothing.
        } else if (length == 2 && full[position] == '.' && full[position + 1] == '.') {
            if (!starts.empty()) {
                result.resize(starts.back());
                starts.pop_back();
            }
        } else {
            starts.push_back(result.size());
            result += '/';
            result.append(full, position, length);
        }
        position = end + 1;
    }
    if (result.empty())
        return "/";
    if (full.back() == '/')
        result += '/';
    return result;
}

PathParts splitPath(const std::string& path) {
    PathParts parts;
    size_t slash = path.rfind('/');
    size_t fileStart = slash == std::string::npos ? 0 : slash + 1;
    parts.directory = path.substr(0, fileStart);
    std::string file = path.substr(fileStart);
    size_t dot = file.rfind('.');
    if (dot == std::string::npos || dot == 0 || file == "..") {
        parts.name = file;
    } else {
        parts.name = file.substr(0, dot);
        parts.extension = file.substr(dot);
    }
    return parts;
}

std::string homeDirectory() {
    const char* home = std::getenv("HOME");
    if (home && *home)
        return home;

    long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(hint > 0 ? static_cast<size_t>(hint) : 1024);
    for (;;) {
        passwd entry;
        passwd* found = nullptr;
        int status = getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found);
        if (status == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (status == 0 && found && found->pw_dir && *found->pw_dir)
            return found->pw_dir;
        return "/";
    }
}

std::string programPath() {
    // readlink does not say whether it cut the name short, so the buffer grows
    // until the name fits with room to spare.
    std::vector<char> buffer(256);
    for (;;) {
        ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0)
            return std::string();
        if (static_cast<size_t>(length) < buffer.size())
            return std::string(buffer.data(), static_cast<size_t>(length));
        if (buffer.size() >= (1u << 20))
            return std::string();
        buffer.resize(buffer.size() * 2);
    }
}

std::string programDirectory() {
    return folderOf(programPath());
}

std::string libraryDirectory() {
    Dl_info info;
    link_map* map = nullptr;
    if (!dladdr1(reinterpret_cast<void*>(&libraryDirectory), &info, reinterpret_cast<void**>(&map),
                 RTLD_DL_LINKMAP) ||
        !map) {
        return std::string();
    }
    // The main program's entry in the loader's list has an empty name (the
    // loader reports its argv[0] instead, which may be relative or bare).
    if (!map->l_name || !*map->l_name)
        return programDirectory();
    return folderOf(absolutePath(map->l_name));
}

}  // namespace platform
