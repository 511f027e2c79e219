#include "platform/FileInfo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool readFileInfo(const std::string& path, FileInfo& info) {
    if (path.empty())
        return false;
    int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        return false;
    struct statx facts;
    bool ok = statx(descriptor, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &facts) == 0;
    close(descriptor);
    if (!ok || S_ISDIR(facts.stx_mode))
        return false;

    FileInfo result;
    result.size = facts.stx_size;
    result.accessed = static_cast<std::time_t>(facts.stx_atime.tv_sec);
    result.modified = static_cast<std::time_t>(facts.stx_mtime.tv_sec);
    if (facts.stx_mask & STATX_BTIME) {
        result.created = static_cast<std::time_t>(facts.stx_btime.tv_sec);
    } else {
        std::time_t changed = static_cast<std::time_t>(facts.stx_ctime.tv_sec);
        result.created = changed < result.modified ? changed : result.modified;
    }

    if (!(facts.stx_mode & S_IWUSR))
        result.attributes |= kAttributeReadOnly;
    size_t slash = path.rfind('/');
    size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    if (nameStart < path.size() && path[nameStart] == '.')
        result.attributes |= kAttributeHidden;
    if (S_ISREG(facts.stx_mode))
        result.attributes |= kAttributeArchive;
    else
        result.attributes |= kAttributeSystem;
    info = result;
    return true;
}

}  // namespace platform
