// Fuzzes the CMap file reader: the input is written as the CMap file
// "Fuzz-H" of a collection whose directory also holds a small CMap ("Base-H")
// for the input to use; a fresh cache reads it, so that every input is read
// (a CMap that uses "Fuzz-H" itself meets the loop check). The map is then
// asked for the CIDs of the input's bytes.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/core/CodeToCidMap.h"
#include "engine/core/CodeToCidMapCache.h"
#include "engine/core/GlobalSettings.h"

namespace {

void writeFile(const std::string& path, const void* data, size_t size) {
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
}

rendova::GlobalSettings& settings(std::string& dir) {
    static std::string s_dir;
    static rendova::GlobalSettings* s_settings = nullptr;
    if (!s_settings) {
        char pattern[] = "/tmp/rendova-fuzz-cmap-XXXXXX";
        s_dir = mkdtemp(pattern) ? pattern : "/tmp";
        const std::string base =
            "/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n"
            "2 begincodespacerange <00> <80> <8140> <FCFC> endcodespacerange\n"
            "1 begincidrange <20> <7e> 1 endcidrange\n"
            "1 begincidrange <8140> <817e> 633 endcidrange\nendcmap\n";
        writeFile(s_dir + "/Base-H", base.data(), base.size());
        std::string config = "cmap-dir Fuzz-Coll " + s_dir + "\n";
        writeFile(s_dir + "/fuzz.conf", config.data(), config.size());
        s_settings = new rendova::GlobalSettings((s_dir + "/fuzz.conf").c_str());
    }
    dir = s_dir;
    return *s_settings;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string dir;
    rendova::GlobalSettings& s = settings(dir);
    writeFile(dir + "/Fuzz-H", data, size);
    rendova::CodeToCidMapCache cache(s);
    rendova::RefPtr<rendova::CodeToCidMap> map = cache.getMap("Fuzz-Coll", "Fuzz-H");
    if (!map)
        return 0;
    const char* bytes = reinterpret_cast<const char*>(data);
    int length = static_cast<int>(size < 4096 ? size : 4096);
    while (length > 0) {
        int used = 0;
        map->getCid(bytes, length, &used);
        if (used < 1 || used > length)
            __builtin_trap();
        bytes += used;
        length -= used;
    }
    return 0;
}
