// Fuzzes TrueTypeFontFile: the input is a TrueType or OpenType file. Every
// cmap subtable is looked up over a spread of codes, post-table names are
// looked up, and the file is converted; a converted file is parsed again.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/content/TrueTypeFontFile.h"

namespace {

void append(void* data, const char* bytes, int count) {
    if (count < 0)
        __builtin_trap();
    auto* out = static_cast<std::vector<uint8_t>*>(data);
    out->insert(out->end(), bytes, bytes + count);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 24))
        return 0;
    auto font = rendova::TrueTypeFontFile::fromBuffer(data, static_cast<int>(size));
    if (!font)
        return 0;
    for (int i = 0; i < font->getCmapCount() && i < 8; ++i) {
        for (int code = 0; code < 0x10000; code += 97)
            font->lookupGlyphId(i, code);
        for (int code : {0, 0x20, 0x41, 0xFF, 0xFFFF, 0x10000, -1})
            font->lookupGlyphId(i, code);
    }
    for (const char* name : {".notdef", "space", "A", "alpha", ""})
        font->mapNameToGid(name);
    int length = 0;
    font->buildCidToGlyphMap(&length);

    std::vector<uint8_t> out;
    font->convert(&append, &out, nullptr, nullptr);
    if (!out.empty())
        rendova::TrueTypeFontFile::fromBuffer(out.data(), static_cast<int>(out.size()));
    static const char* const kEncoding[256] = {nullptr, "A", "space"};
    out.clear();
    font->convert(&append, &out, "Fuzzed", kEncoding);
    return 0;
}
