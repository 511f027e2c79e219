// Fuzzes the ToUnicode CMap reader: the first byte picks 8- or 16-bit codes,
// the rest is the CMap text, parsed into a new map and merged into it again.
// A usecmap of "Base-UCS" reaches a small file of the settings' ToUnicode
// folder. Every code is then mapped.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/core/CodeToUnicodeMap.h"
#include "engine/core/GlobalSettings.h"

namespace {

void writeFile(const std::string& path, const std::string& text) {
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }
}

void setUpSettings() {
    if (rendova::globalSettings)
        return;
    char pattern[] = "/tmp/rendova-fuzz-tounicode-XXXXXX";
    std::string dir = mkdtemp(pattern) ? pattern : "/tmp";
    writeFile(dir + "/Base-UCS", "1 beginbfrange <0000> <00ff> <0000> endbfrange\n");
    writeFile(dir + "/Loop-UCS", "/Loop-UCS usecmap\n");
    writeFile(dir + "/fuzz.conf", "to-unicode-dir " + dir + "\n");
    rendova::globalSettings = new rendova::GlobalSettings((dir + "/fuzz.conf").c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    setUpSettings();
    int codeBits = (data[0] & 1) ? 16 : 8;
    rendova::DynString text(reinterpret_cast<const char*>(data + 1), static_cast<int>(size - 1));
    rendova::RefPtr<rendova::CodeToUnicodeMap> map = rendova::CodeToUnicodeMap::parseCMap(text, codeBits);
    map->mergeCMap(text, codeBits);
    if (map->getLength() > 0x10000 + 256)
        __builtin_trap();
    uint32_t values[8];
    for (int code = -1; code <= map->getLength(); ++code) {
        int n = map->mapToUnicode(code, values, 8);
        if (n < 0 || n > 8)
            __builtin_trap();
    }
    return 0;
}
