// The INI profile functions over arbitrary file contents: reading must not
// fail, and an entry that writing accepts must read back as written while
// the rest of the file keeps its lines.

#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/IniProfile.h"
#include "platform/TempFile.h"

namespace {

// A name made of the input's bytes, without the line breaks that the
// writer refuses anyway (they would only make the case trivial).
std::string nameFrom(const uint8_t* data, size_t size) {
    std::string name;
    for (size_t i = 0; i < size; ++i) {
        char c = static_cast<char>(data[i]);
        if (c != '\n' && c != '\r' && c != '\0')
            name += c;
    }
    return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 8)
        return 0;
    std::string section = nameFrom(data, 4);
    std::string key = nameFrom(data + 4, 4);
    platform::TempFile temp = platform::createTempFile("fuzz-ini-", ".ini", "wb");
    if (!temp.file)
        return 0;
    std::fwrite(data + 8, 1, size - 8, temp.file);
    std::fclose(temp.file);

    platform::getPrivateProfileString(section, key, "default", 64, temp.path);
    platform::getPrivateProfileInt(section, key, 7, temp.path);
    platform::getPrivateProfileString("Settings", "xdpi", "", 260, temp.path);

    const std::string value = "value-123";
    if (platform::writePrivateProfileString(section, key, value, temp.path)) {
        if (platform::getPrivateProfileString(section, key, "", 260, temp.path) != value)
            __builtin_trap();
        // Writing again changes nothing.
        platform::writePrivateProfileString(section, key, value, temp.path);
        if (platform::getPrivateProfileString(section, key, "", 260, temp.path) != value)
            __builtin_trap();
    }
    unlink(temp.path.c_str());
    return 0;
}
