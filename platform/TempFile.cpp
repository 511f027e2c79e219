#include "platform/TempFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace platform {

std::string tempDirectory() {
    const char* folder = std::getenv("TMPDIR");
    return folder && *folder ? folder : "/tmp";
}

TempFile createTempFile(const std::string& prefix, const std::string& suffix, const char* mode) {
    TempFile result;
    if (!mode)
        return result;
    std::string folder = tempDirectory();
    if (folder.back() != '/')
        folder += '/';
    std::string pattern = folder + prefix + "XXXXXX" + suffix;
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');

    int descriptor = mkostemps(name.data(), static_cast<int>(suffix.size()), O_CLOEXEC);
    if (descriptor < 0)
        return result;
    FILE* file = fdopen(descriptor, mode);
    if (!file) {
        close(descriptor);
        unlink(name.data());
        return result;
    }
    result.path = name.data();
    result.file = file;
    return result;
}

}  // namespace platform
