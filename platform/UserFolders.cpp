#include "platform/UserFolders.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/Paths.h"

namespace platform {

std::string userConfigDirectory(const std::string& program) {
    std::string base;
    // The XDG base directory rules say a relative value is invalid and
    // must be ignored.
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    if (configHome && isAbsolutePath(configHome)) {
        base = configHome;
    } else {
        base = homeDirectory();
        if (base.empty() || base.back() != '/')
            base += '/';
        base += ".config";
    }
    if (base.back() != '/')
        base += '/';
    return base + program + "/";
}

bool isWritableDirectory(const std::string& folder) {
    if (folder.empty())
        return false;
    std::string probe = folder;
    if (probe.back() != '/')
        probe += '/';
    probe += ".write-probe-XXXXXX";
    std::vector<char> name(probe.begin(), probe.end());
    name.push_back('\0');
    int descriptor = mkostemp(name.data(), O_CLOEXEC);
    if (descriptor < 0)
        return false;
    close(descriptor);
    unlink(name.data());
    return true;
}

}  // namespace platform
