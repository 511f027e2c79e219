// Fuzzes the configuration file reader: the input is written to a file and
// read as the settings' configuration file. Includes and glyph-name files
// that the input names are opened like any others, so the input can reach
// only files that exist; the seeds name none.
#include <unistd.h>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/core/GlobalSettings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/rendova-fuzz-config-" + std::to_string(getpid()) + ".conf";
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    {
        rendova::GlobalSettings settings(path.c_str());
        settings.findSubstituteFont("Helvetica");
        settings.findSubstituteCidFont("Name", "Adobe-Japan1");
    }
    std::remove(path.c_str());
    return 0;
}
