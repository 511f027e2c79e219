#include "engine/core/GlobalSettings.h"

#include <cassert>
#include <cstring>
#include <string>

#include "engine/core/BuiltinEncodings.h"
#include "engine/core/CharClass.h"
#include "engine/core/CodeToCidMap.h"
#include "engine/core/CodeToCidMapCache.h"
#include "engine/core/CodeToUnicodeMap.h"
#include "engine/core/CodeToUnicodeMapCache.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/FileUtils.h"
#include "engine/core/GlyphNameUnicodeTable.h"
#include "engine/core/StandardFontMetrics.h"
#include "engine/core/SystemFontList.h"
#include "platform/FontInventory.h"
#include "platform/Paths.h"

namespace rendova {

GlobalSettings* globalSettings = nullptr;

namespace {

// How deep the calling thread holds the general lock of any settings object;
// getCMap checks it to keep the lock order (CMap lock first).
thread_local int t_generalLockDepth = 0;

// The files of the 14 standard fonts: the URW base 35 Type 1 files, which
// carry the standard fonts' outlines, metrics and glyph names, and for the
// twelve text faces the Liberation TrueType files as the fallback. Symbol and
// ZapfDingbats have no TrueType counterpart.
struct StandardFontFiles {
    const char* name;
    const char* type1File;
    const char* trueTypeFile;
};

constexpr StandardFontFiles kStandardFontFiles[] = {
    {"Courier", "NimbusMonoPS-Regular.t1", "LiberationMono-Regular.ttf"},
    {"Courier-Bold", "NimbusMonoPS-Bold.t1", "LiberationMono-Bold.ttf"},
    {"Courier-BoldOblique", "NimbusMonoPS-BoldItalic.t1", "LiberationMono-BoldItalic.ttf"},
    {"Courier-Oblique", "NimbusMonoPS-Italic.t1", "LiberationMono-Italic.ttf"},
    {"Helvetica", "NimbusSans-Regular.t1", "LiberationSans-Regular.ttf"},
    {"Helvetica-Bold", "NimbusSans-Bold.t1", "LiberationSans-Bold.ttf"},
    {"Helvetica-BoldOblique", "NimbusSans-BoldItalic.t1", "LiberationSans-BoldItalic.ttf"},
    {"Helvetica-Oblique", "NimbusSans-Italic.t1", "LiberationSans-Italic.ttf"},
    {"Symbol", "StandardSymbolsPS.t1", nullptr},
    {"Times-Bold", "NimbusRoman-Bold.t1", "LiberationSerif-Bold.ttf"},
    {"Times-BoldItalic", "NimbusRoman-BoldItalic.t1", "LiberationSerif-BoldItalic.ttf"},
    {"Times-Italic", "NimbusRoman-Italic.t1", "LiberationSerif-Italic.ttf"},
    {"Times-Roman", "NimbusRoman-Regular.t1", "LiberationSerif-Regular.ttf"},
    {"ZapfDingbats", "D050000L.t1", nullptr},
};

// Where the Liberation fonts live on the common distributions (Debian and
// Ubuntu, older Debian, Fedora, Arch), then locally installed fonts.
constexpr const char* kTrueTypeFallbackDirs[] = {
    "/usr/share/fonts/truetype/liberation2",
    "/usr/share/fonts/truetype/liberation",
    "/usr/share/fonts/liberation-mono",
    "/usr/share/fonts/liberation-sans",
    "/usr/share/fonts/liberation-serif",
    "/usr/share/fonts/liberation",
    "/usr/share/fonts/TTF",
    "/usr/local/share/fonts",
    nullptr,
};

// Where the URW base 35 Type 1 files live on the common distributions
// (Debian and Ubuntu, Fedora, Arch), searched when no directory of Type 1
// files was given.
constexpr const char* kType1FallbackDirs[] = {
    "/usr/share/fonts/type1/urw-base35",
    "/usr/share/fonts/urw-base35",
    "/usr/share/fonts/gsfonts",
    nullptr,
};

// directory + "/" + name made absolute, when that file opens for reading.
std::unique_ptr<DynString> openablePath(const char* directory, const char* name) {
    auto path = std::make_unique<DynString>(directory);
    makePathAbsolute(*path, name);
    FILE* file = std::fopen(path->getCString(), "rb");
    if (!file)
        return nullptr;
    std::fclose(file);
    return path;
}

}  // namespace

GlobalSettings::GeneralLock::GeneralLock(GlobalSettings& settings) : m_lock(settings.m_lock) {
    ++t_generalLockDepth;
}

GlobalSettings::GeneralLock::~GeneralLock() {
    --t_generalLockDepth;
}

GlobalSettings::GlobalSettings(Empty) {
    // The three locks are members and exist already.
    initStandardFontMetrics();
}

GlobalSettings::GlobalSettings(const char* configPath) : GlobalSettings(Empty{}) {
    m_cidToUnicodeCache = std::make_unique<CodeToUnicodeMapCache>(kUnicodeMapCacheSize);
    m_unicodeToUnicodeCache = std::make_unique<CodeToUnicodeMapCache>(kUnicodeMapCacheSize);
    m_cMapCache = std::make_unique<CodeToCidMapCache>(*this);
    fillNameToCode(m_nameToCode, kMacOsRomanEncoding);
    for (int i = 0; i < kGlyphNameUnicodeCount; ++i)
        m_nameToUnicode.add(kGlyphNameUnicodeTable[i].name,
                            static_cast<int>(kGlyphNameUnicodeTable[i].unicode));

    FileHandle file(configPath && configPath[0] ? openConfigFile(configPath) : nullptr);
    if (file) {
        readConfigFile(configPath, file.get());
    } else {
        readDefaultConfigFile();
    }
}

GlobalSettings::~GlobalSettings() {
    releaseAll();
}

void GlobalSettings::releaseAll() {
    // The caches first: they release their maps, which need nothing else.
    m_cMapCache.reset();
    m_cidToUnicodeCache.reset();
    m_unicodeToUnicodeCache.reset();
    freeStandardFontMetrics();
    deletePaths(m_cidToUnicodeFiles);
    deletePaths(m_unicodeToUnicodeFiles);
    while (m_toUnicodeDirs.getLength() > 0)
        delete m_toUnicodeDirs.del(m_toUnicodeDirs.getLength() - 1);
    while (m_fontDirs.getLength() > 0)
        delete m_fontDirs.del(m_fontDirs.getLength() - 1);
    deleteRecords(m_displayFonts);
    deleteRecords(m_displayCidFonts);
    deleteRecords(m_displayNamedCidFonts);
    m_systemFonts.reset();

    std::unique_ptr<StringHash::Iterator> iterator;
    DynString* key = nullptr;
    PtrList<DynString>* dirs = nullptr;
    m_cMapDirs.startIteration(iterator);
    while (m_cMapDirs.next(iterator, &key, &dirs)) {
        for (int i = 0; i < dirs->getLength(); ++i)
            delete dirs->get(i);
        delete dirs;
    }
}

void GlobalSettings::fillNameToCode(NameToIntMap& map, const char* const encoding[256]) {
    for (int code = 255; code >= 0; --code) {
        if (encoding[code])
            map.add(encoding[code], code);
    }
}

#ifndef RENDOVA_CONFIG_FROM_LIBRARY
#define RENDOVA_CONFIG_FROM_LIBRARY "../share/rendova/"
#endif
// The installed configuration's folder relative to the installed library's.
constexpr const char* kConfigFromLibrary = RENDOVA_CONFIG_FROM_LIBRARY;

void GlobalSettings::readDefaultConfigFile() {
    std::unique_ptr<DynString> home = getHomeDir();
    makePathAbsolute(*home, kConfigFileName);
    // Beside the program, then beside the library (a program elsewhere that
    // uses it), then where an installed library's configuration goes.
    const std::string programDir = platform::programDirectory();
    const std::string libraryDir = platform::libraryDirectory();
    const std::string candidates[] = {
        home->getCString(),
        programDir.empty() ? std::string() : programDir + kConfigFileName,
        libraryDir.empty() || libraryDir == programDir ? std::string() : libraryDir + kConfigFileName,
        libraryDir.empty() ? std::string() : libraryDir + kConfigFromLibrary + kConfigFileName,
    };
    for (const std::string& candidate : candidates) {
        const char* path = candidate.c_str();
        if (!path[0])
            continue;
        if (FILE* file = openConfigFile(path)) {
            readConfigFile(path, file);
            std::fclose(file);
            return;
        }
    }
}

FILE* GlobalSettings::openInDirectories(const PtrList<DynString>& directories, const char* fileName) {
    for (int i = 0; i < directories.getLength(); ++i) {
        DynString path(*directories.get(i));
        makePathAbsolute(path, fileName);
        if (FILE* file = std::fopen(path.getCString(), "rb"))
            return file;
    }
    return nullptr;
}

FILE* GlobalSettings::openKeyedDirFile(const char* collection, const char* fileName) {
    GeneralLock lock(*this);
    const PtrList<DynString>* dirs = m_cMapDirs.lookupCStr(collection);
    return dirs ? openInDirectories(*dirs, fileName) : nullptr;
}

FILE* GlobalSettings::openDirListFile(const char* fileName) {
    GeneralLock lock(*this);
    return openInDirectories(m_toUnicodeDirs, fileName);
}

const DisplayFontRecord* GlobalSettings::findSubstituteFont(const char* fontName) {
    GeneralLock lock(*this);
    if (const DisplayFontRecord* record = m_displayFonts.lookupCStr(fontName))
        return record;
    if (m_systemFontsWanted && !m_systemFonts)
        m_systemFonts = std::make_unique<SystemFontList>();
    return m_systemFonts ? m_systemFonts->find(fontName) : nullptr;
}

const DisplayFontRecord* GlobalSettings::findSubstituteCidFont(const char* fontName, const char* collection) {
    GeneralLock lock(*this);
    if (fontName) {
        if (const DisplayFontRecord* record = m_displayNamedCidFonts.lookupCStr(fontName))
            return record;
    }
    return m_displayCidFonts.lookupCStr(collection);
}

std::unique_ptr<DynString> GlobalSettings::findFontFile(const char* fontName, const char* const* extensions) {
    GeneralLock lock(*this);
    for (int i = 0; i < m_fontDirs.getLength(); ++i) {
        for (const char* const* extension = extensions; *extension; ++extension) {
            auto path = std::make_unique<DynString>(*m_fontDirs.get(i));
            makePathAbsolute(*path, fontName);
            path->appendCStr(*extension);
            if (FILE* file = std::fopen(path->getCString(), "rb")) {
                std::fclose(file);
                return path;
            }
        }
    }
    return nullptr;
}

namespace {

// The value of `digits` hexadecimal digits at `s` (and nothing after them),
// or -1.
int hexValue(const char* s, size_t digits) {
    if (std::strlen(s) != digits)
        return -1;
    int v = 0;
    for (size_t i = 0; i < digits; ++i) {
        const int d = hexDigitValue(s[i]);
        if (d < 0)
            return -1;
        v = v * 16 + d;
    }
    return v;
}

}  // namespace

int GlobalSettings::glyphNameOrFormToUnicode(const char* name) const {
    if (const int u = glyphNameToUnicode(name))
        return u;
    int v = -1;
    if (std::strncmp(name, "uni", 3) == 0) {
        v = hexValue(name + 3, 4);
    } else if (name[0] == 'u') {
        const size_t n = std::strlen(name + 1);
        if (n >= 4 && n <= 6)
            v = hexValue(name + 1, n);
    }
    const bool surrogate = v >= 0xd800 && v <= 0xdfff;
    return v > 0 && v <= 0x10ffff && !surrogate ? v : 0;
}

bool GlobalSettings::getFontEngineEnabled() {
    GeneralLock lock(*this);
    return m_fontEngineEnabled;
}

bool GlobalSettings::getFontAntialias() {
    GeneralLock lock(*this);
    return m_fontAntialias;
}

bool GlobalSettings::getAntialias() {
    GeneralLock lock(*this);
    return m_vectorAntialias;
}

bool GlobalSettings::getStrokeAdjustment() {
    GeneralLock lock(*this);
    return m_strokeAdjust;
}

int GlobalSettings::getHalftoneKind() {
    GeneralLock lock(*this);
    return m_screenKind;
}

int GlobalSettings::getHalftoneSize() {
    GeneralLock lock(*this);
    return m_screenSize;
}

int GlobalSettings::getHalftoneDotRadius() {
    GeneralLock lock(*this);
    return m_screenDotRadius;
}

double GlobalSettings::getHalftoneGamma() {
    GeneralLock lock(*this);
    return m_screenGamma;
}

double GlobalSettings::getHalftoneBlackLimit() {
    GeneralLock lock(*this);
    return m_screenBlackThreshold;
}

double GlobalSettings::getHalftoneWhiteLimit() {
    GeneralLock lock(*this);
    return m_screenWhiteThreshold;
}

bool GlobalSettings::getNumericGlyphNameMapping() {
    GeneralLock lock(*this);
    return m_mapNumericGlyphNames;
}

bool GlobalSettings::getUnlistedGlyphNameMapping() {
    GeneralLock lock(*this);
    return m_mapUnknownGlyphNames;
}

bool GlobalSettings::getVerbose() {
    GeneralLock lock(*this);
    return m_verbose;
}

int GlobalSettings::getPaperWidth() {
    GeneralLock lock(*this);
    return m_paperWidth;
}

int GlobalSettings::getPaperHeight() {
    GeneralLock lock(*this);
    return m_paperHeight;
}

void GlobalSettings::getImageableArea(int* llx, int* lly, int* urx, int* ury) {
    GeneralLock lock(*this);
    *llx = m_imageableLlx;
    *lly = m_imageableLly;
    *urx = m_imageableUrx;
    *ury = m_imageableUry;
}

std::unique_ptr<DynString> GlobalSettings::getCidToUnicodeFile(const char* collection) {
    GeneralLock lock(*this);
    const DynString* path = m_cidToUnicodeFiles.lookupCStr(collection);
    return path ? std::make_unique<DynString>(*path) : nullptr;
}

std::unique_ptr<DynString> GlobalSettings::getUnicodeToUnicodeFile(const char* fontName) {
    GeneralLock lock(*this);
    std::unique_ptr<StringHash::Iterator> iterator;
    DynString* fragment = nullptr;
    DynString* path = nullptr;
    m_unicodeToUnicodeFiles.startIteration(iterator);
    while (m_unicodeToUnicodeFiles.next(iterator, &fragment, &path)) {
        if (std::strstr(fontName, fragment->getCString())) {
            m_unicodeToUnicodeFiles.endIteration(iterator);
            return std::make_unique<DynString>(*path);
        }
    }
    return nullptr;
}

RefPtr<CodeToUnicodeMap> GlobalSettings::getCidToUnicodeMap(const char* collection) {
    GeneralLock lock(*this);
    if (RefPtr<CodeToUnicodeMap> map = m_cidToUnicodeCache->get(collection))
        return map;
    std::unique_ptr<DynString> file = getCidToUnicodeFile(collection);
    RefPtr<CodeToUnicodeMap> map;
    if (file) {
        map = CodeToUnicodeMap::parseCidToUnicodeFile(file->getCString(), collection);
    } else {
        // Without a file of its own, a collection's values come from the
        // CID-to-Unicode CMap among its CMaps ("Adobe-Japan1-UCS2").
        const std::string name = std::string(collection) + "-UCS2";
        if (FILE* cMap = openKeyedDirFile(collection, name.c_str())) {
            FileHandle closer(cMap);
            map = CodeToUnicodeMap::parseCidToUnicodeCMap(cMap, collection);
        }
    }
    if (map)
        m_cidToUnicodeCache->add(map);
    return map;
}

RefPtr<CodeToUnicodeMap> GlobalSettings::getUnicodeToUnicodeMap(const char* fontName) {
    GeneralLock lock(*this);
    std::unique_ptr<DynString> file = getUnicodeToUnicodeFile(fontName);
    if (!file)
        return nullptr;
    // Cached under the file's path: fonts of several names share a file.
    if (RefPtr<CodeToUnicodeMap> map = m_unicodeToUnicodeCache->get(file->getCString()))
        return map;
    RefPtr<CodeToUnicodeMap> map =
        CodeToUnicodeMap::parseUnicodeToUnicodeFile(file->getCString(), file->getCString());
    if (map)
        m_unicodeToUnicodeCache->add(map);
    return map;
}

RefPtr<CodeToCidMap> GlobalSettings::getCMap(const char* collection, const char* cMapName) {
    assert(t_generalLockDepth == 0 && "the CMap lock must not be taken under the general lock");
    platform::CriticalSectionLock lock(m_cMapLock);
    return m_cMapCache->getMap(collection, cMapName);
}

RefPtr<CodeToCidMap> GlobalSettings::parseEmbeddedCMap(const char* collection, const char* cMapName,
                                                       const DynString& text, const CodeToCidMap* base,
                                                       int wMode) {
    assert(t_generalLockDepth == 0 && "the CMap lock must not be taken under the general lock");
    platform::CriticalSectionLock lock(m_cMapLock);
    return CodeToCidMap::parseEmbedded(*m_cMapCache, collection, cMapName, text, base, wMode);
}

void GlobalSettings::addDisplayFont(std::unique_ptr<DisplayFontRecord> record) {
    GeneralLock lock(*this);
    replaceRecord(m_displayFonts, std::move(record));
}

void GlobalSettings::replaceRecord(PtrStringHash<DisplayFontRecord>& table,
                                   std::unique_ptr<DisplayFontRecord> record) {
    delete table.remove(record->getName());
    // The table does not own its keys: the key is the record's own name.
    table.add(const_cast<DynString*>(&record->getName()), record.get());
    record.release();
}

void GlobalSettings::deleteRecords(PtrStringHash<DisplayFontRecord>& table) {
    std::unique_ptr<StringHash::Iterator> iterator;
    DynString* key = nullptr;
    DisplayFontRecord* record = nullptr;
    table.startIteration(iterator);
    while (table.next(iterator, &key, &record))
        delete record;
}

void GlobalSettings::replacePath(PtrStringHash<DynString>& table, const char* key, const char* value) {
    auto path = std::make_unique<DynString>(value);
    auto ownedKey = std::make_unique<DynString>(key);
    delete table.removeCStr(key);
    table.add(ownedKey.get(), path.get());
    ownedKey.release();
    path.release();
}

void GlobalSettings::deletePaths(PtrStringHash<DynString>& table) {
    std::unique_ptr<StringHash::Iterator> iterator;
    DynString* key = nullptr;
    DynString* path = nullptr;
    table.startIteration(iterator);
    while (table.next(iterator, &key, &path))
        delete path;
}

int GlobalSettings::setPaperSize(const char* name) {
    struct Paper {
        const char* name;
        int width;
        int height;
    };
    // "match" takes the paper of each page.
    static constexpr Paper kPapers[] = {
        {"match", -1, -1}, {"letter", 612, 792}, {"legal", 612, 1008}, {"A4", 595, 842}, {"A3", 842, 1190},
    };
    GeneralLock lock(*this);
    for (const Paper& paper : kPapers) {
        if (std::strcmp(name, paper.name) == 0) {
            m_paperWidth = paper.width;
            m_paperHeight = paper.height;
            m_imageableLlx = 0;
            m_imageableLly = 0;
            m_imageableUrx = paper.width;
            m_imageableUry = paper.height;
            return 1;
        }
    }
    return 0;
}

void GlobalSettings::locateStandardFonts(const char* directory) {
    // The system's fonts folder stands where the desktop system's special
    // fonts folder would; empty when there is none.
    std::string fontsDir = platform::systemFontsDirectory();

    for (const StandardFontFiles& row : kStandardFontFiles) {
        // A configured substitute wins over any file found here.
        if (findSubstituteFont(row.name))
            continue;
        // The URW Type 1 files first: they carry the standard fonts' own
        // outlines and metrics. The Liberation faces only share the widths of
        // the desktop faces and are the fallback where the URW files are
        // absent. A given directory stands in for the usual Type 1 places.
        std::unique_ptr<DynString> file;
        int kind = DisplayFontRecord::kType1;
        if (directory)
            file = openablePath(directory, row.type1File);
        for (const char* const* dir = kType1FallbackDirs; !directory && !file && *dir; ++dir)
            file = openablePath(*dir, row.type1File);
        if (!file && row.trueTypeFile) {
            kind = DisplayFontRecord::kTrueType;
            if (!fontsDir.empty())
                file = openablePath(fontsDir.c_str(), row.trueTypeFile);
            for (const char* const* dir = kTrueTypeFallbackDirs; !file && *dir; ++dir)
                file = openablePath(*dir, row.trueTypeFile);
        }
        if (file)
            addDisplayFont(std::make_unique<DisplayFontRecord>(row.name, kind, file->getCString()));
        else
            reportError(-1, "No font file found for the standard font '%s'", row.name);
    }

    if (!fontsDir.empty()) {
        GeneralLock lock(*this);
        m_systemFonts.reset();
        m_systemFontsWanted = true;
    }
}

}  // namespace rendova
