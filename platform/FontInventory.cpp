#include "platform/FontInventory.h"

#include <fontconfig/fontconfig.h>

#include <strings.h>
#include <sys/stat.h>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

namespace platform {

namespace {

constexpr const char* kSystemFontsDirectory = "/usr/share/fonts";

struct PatternDeleter {
    void operator()(FcPattern* pattern) const { FcPatternDestroy(pattern); }
};
struct ObjectSetDeleter {
    void operator()(FcObjectSet* set) const { FcObjectSetDestroy(set); }
};
struct FontSetDeleter {
    void operator()(FcFontSet* set) const { FcFontSetDestroy(set); }
};

bool endsWithNoCase(const std::string& text, const char* suffix) {
    size_t n = std::char_traits<char>::length(suffix);
    return text.size() >= n && strcasecmp(text.c_str() + text.size() - n, suffix) == 0;
}

// fontconfig names the format after the outlines: "TrueType" for glyf
// outlines (in .ttf, .ttc and .otf files alike) and "CFF" for compact Type 1
// outlines, which are OpenType only inside an .otf or .otc file.
bool isTrueTypeOrOpenType(const char* format, const std::string& file) {
    if (std::string(format) == "TrueType")
        return true;
    return std::string(format) == "CFF" && (endsWithNoCase(file, ".otf") || endsWithNoCase(file, ".otc"));
}

// How far a face is from the plain faces of its family, for ordering: first
// its width from normal width, then its weight from the nearer of regular
// (400) and bold (700).
struct ListedFace {
    FontFace face;
    int widthDistance;
    int weightDistance;
};

}  // namespace

// fontconfig's configuration parser loses a few hundred bytes when it loads
// the configuration; the leak is fontconfig's, so the leak checker of
// sanitizer builds is told to pass over it.
#if defined(__SANITIZE_ADDRESS__)
#define RENDOVA_LEAK_CHECKER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RENDOVA_LEAK_CHECKER 1
#endif
#endif
#ifdef RENDOVA_LEAK_CHECKER
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
#endif

std::string systemFontsDirectory() {
    struct stat info;
    if (stat(kSystemFontsDirectory, &info) == 0 && S_ISDIR(info.st_mode))
        return kSystemFontsDirectory;
    return std::string();
}

std::vector<FontFace> listFontFaces() {
    // fontconfig's process-wide configuration, loaded once and brought up to
    // date when its files changed (fontconfig limits how often it looks):
    // loading a configuration of our own each time costs tens of
    // milliseconds and leaks a little memory inside fontconfig every time.
    if (!FcInit())
        return {};
    FcInitBringUptoDate();
    std::unique_ptr<FcPattern, PatternDeleter> pattern(FcPatternCreate());
    std::unique_ptr<FcObjectSet, ObjectSetDeleter> objects(
        FcObjectSetBuild(FC_FAMILY, FC_WEIGHT, FC_SLANT, FC_WIDTH, FC_FILE, FC_INDEX, FC_FONTFORMAT,
                         FC_VARIABLE, static_cast<char*>(nullptr)));
    if (!pattern || !objects)
        return {};
    std::unique_ptr<FcFontSet, FontSetDeleter> set(FcFontList(nullptr, pattern.get(), objects.get()));
    if (!set)
        return {};

    std::vector<ListedFace> listed;
    for (int i = 0; i < set->nfont; ++i) {
        FcPattern* font = set->fonts[i];
        FcChar8* family = nullptr;
        FcChar8* file = nullptr;
        FcChar8* format = nullptr;
        int index = 0;
        int slant = FC_SLANT_ROMAN;
        int width = FC_WIDTH_NORMAL;
        double weight = 0;
        FcBool variable = FcFalse;
        if (FcPatternGetString(font, FC_FAMILY, 0, &family) != FcResultMatch ||
            FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch ||
            FcPatternGetString(font, FC_FONTFORMAT, 0, &format) != FcResultMatch)
            continue;
        // A variable font's whole design space has a weight range, not a
        // weight; such entries fail here and are skipped with the instances.
        if (FcPatternGetDouble(font, FC_WEIGHT, 0, &weight) != FcResultMatch)
            continue;
        if (FcPatternGetInteger(font, FC_INDEX, 0, &index) == FcResultMatch && index != 0)
            continue;
        if (FcPatternGetBool(font, FC_VARIABLE, 0, &variable) == FcResultMatch && variable)
            continue;
        FcPatternGetInteger(font, FC_SLANT, 0, &slant);
        FcPatternGetInteger(font, FC_WIDTH, 0, &width);

        ListedFace entry;
        entry.face.family = reinterpret_cast<const char*>(family);
        entry.face.file = reinterpret_cast<const char*>(file);
        if (!isTrueTypeOrOpenType(reinterpret_cast<const char*>(format), entry.face.file))
            continue;
        entry.face.weight = static_cast<int>(std::lround(FcWeightToOpenTypeDouble(weight)));
        entry.face.italic = slant != FC_SLANT_ROMAN;
        entry.widthDistance = std::abs(width - FC_WIDTH_NORMAL);
        entry.weightDistance = std::min(std::abs(entry.face.weight - 400), std::abs(entry.face.weight - 700));
        listed.push_back(std::move(entry));
    }

    std::sort(listed.begin(), listed.end(), [](const ListedFace& a, const ListedFace& b) {
        if (a.widthDistance != b.widthDistance)
            return a.widthDistance < b.widthDistance;
        if (a.weightDistance != b.weightDistance)
            return a.weightDistance < b.weightDistance;
        return a.face.file < b.face.file;
    });
    std::vector<FontFace> faces;
    faces.reserve(listed.size());
    for (ListedFace& entry : listed)
        faces.push_back(std::move(entry.face));
    return faces;
}

}  // namespace platform
