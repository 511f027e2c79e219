#pragma once

#include <cstdio>
#include <memory>

#include "engine/core/DynString.h"
#include "engine/core/NameToIntMap.h"
#include "engine/core/PtrList.h"
#include "engine/core/RefCounted.h"
#include "engine/core/StringHash.h"
#include "platform/CriticalSection.h"

namespace rendova {

class CodeToCidMap;
class CodeToCidMapCache;
class CodeToUnicodeMap;
class CodeToUnicodeMapCache;
class DisplayFontRecord;
class SystemFontList;

// The engine's one process-wide settings object: glyph-name maps, font
// substitution tables and font directories, the files and caches of Unicode
// maps and CMaps, the rasteriser and halftone settings, the glyph-name mapping
// flags and the verbose and quiet flags. It is made by the first renderer
// facade (which also calls locateStandardFonts) and deleted by the last;
// `globalSettings` points to it meanwhile. At construction it reads a
// configuration file of text commands (GlobalSettingsConfig.cpp).
//
// Ownership: the object owns every table, record, path string, list and
// cache it holds. Records and files it hands out stay its own (records live
// until the object is deleted or addDisplayFont replaces them); maps come with
// one reference for the caller.
//
// Threads: two conversion jobs on two threads may share the object. The
// general lock guards the tables, flags, font records and the code-to-Unicode
// caches; each accessor holds it for its whole duration, file opening and map
// parsing included. The CMap lock guards the CMap cache alone. LOCK ORDER: the
// CMap lock is always taken before the general lock, never after it, because
// reading a CMap under the CMap lock opens its file through openKeyedDirFile,
// which takes the general lock; nothing takes the CMap lock while it holds the
// general lock (getCMap asserts this). A third lock belongs to the output
// encoding maps' cache and is never entered. glyphNameToCode,
// glyphNameToUnicode and getQuietFlag take no lock: what they read changes
// only during construction.
//
// Throws MemoryException when memory runs out; never throws for a missing or
// faulty configuration file (faults are reported through reportError).
class GlobalSettings {
public:
    // Reads the configuration file at `configPath` when it is given, not empty
    // and opens; otherwise the default configuration file (kConfigFileName) in
    // the home directory, else beside the program, else beside the library,
    // else in the folder where cmake --install puts it for the library;
    // otherwise the defaults stand.
    explicit GlobalSettings(const char* configPath);
    ~GlobalSettings();
    GlobalSettings(const GlobalSettings&) = delete;
    GlobalSettings& operator=(const GlobalSettings&) = delete;

    // The name of the default configuration file.
    static constexpr const char* kConfigFileName = "rendova.conf";

    // Glyph name to the code of the Mac OS Roman character set (0 when
    // unknown), for looking names up in a TrueType font's (1, 0) cmap.
    int glyphNameToCode(const char* name) const { return m_nameToCode.lookup(name); }
    // Glyph name to Unicode value (0 when unknown).
    int glyphNameToUnicode(const char* name) const { return m_nameToUnicode.lookup(name); }
    // The same, and for a name the table lacks the value that a "uniXXXX"
    // or "uXXXX" to "uXXXXXX" name spells (hexadecimal, not a surrogate);
    // 0 when neither gives one.
    int glyphNameOrFormToUnicode(const char* name) const;

    // The file `fileName` in the first of the collection's CMap directories
    // (in configured order) where it opens for reading; null when none. The
    // caller closes the file.
    FILE* openKeyedDirFile(const char* collection, const char* fileName);
    // The same over the directories of the files that ToUnicode CMaps use.
    FILE* openDirListFile(const char* fileName);

    // A substitute font file for a font: the configured or located record of
    // the name, else the system font list's match; null when neither has one.
    const DisplayFontRecord* findSubstituteFont(const char* fontName);
    // A substitute for a CID font: the record of the font name (when one is
    // given and known), else the record of its character collection; or null.
    const DisplayFontRecord* findSubstituteCidFont(const char* fontName, const char* collection);
    // The first of directory + "/" + fontName + extension (directories of the
    // font-dir command in order, and for each the extensions of the
    // null-terminated list in order) that opens for reading, as an absolute
    // path; null when none.
    std::unique_ptr<DynString> findFontFile(const char* fontName, const char* const* extensions);

    bool getFontEngineEnabled();
    bool getFontAntialias();
    bool getAntialias();
    bool getStrokeAdjustment();
    int getHalftoneKind();
    int getHalftoneSize();
    int getHalftoneDotRadius();
    double getHalftoneGamma();
    double getHalftoneBlackLimit();
    double getHalftoneWhiteLimit();
    bool getNumericGlyphNameMapping();
    bool getUnlistedGlyphNameMapping();
    bool getVerbose();
    bool getQuietFlag() const { return m_quiet; }

    // The paper size and imageable area, in points (-1 x -1: each page's own).
    int getPaperWidth();
    int getPaperHeight();
    void getImageableArea(int* llx, int* lly, int* urx, int* ury);

    // The CID-to-Unicode file configured for a character collection, or null.
    std::unique_ptr<DynString> getCidToUnicodeFile(const char* collection);
    // The Unicode-to-Unicode file of the first configured font-name fragment
    // (in table order) that occurs in the font name, or null.
    std::unique_ptr<DynString> getUnicodeToUnicodeFile(const char* fontName);

    // The code-to-Unicode map of a collection (from its CID-to-Unicode
    // file), or of the Unicode-to-Unicode file selected by a font name, and
    // a CMap by collection and name: from the caches, else read and cached;
    // null when there is no such map.
    RefPtr<CodeToUnicodeMap> getCidToUnicodeMap(const char* collection);
    RefPtr<CodeToUnicodeMap> getUnicodeToUnicodeMap(const char* fontName);
    RefPtr<CodeToCidMap> getCMap(const char* collection, const char* cMapName);
    // A CMap embedded in a document (CodeToCidMap::parseEmbedded), read
    // under the CMap lock because its usecmap goes through the cache.
    RefPtr<CodeToCidMap> parseEmbeddedCMap(const char* collection, const char* cMapName,
                                           const DynString& text, const CodeToCidMap* base, int wMode);

    // Adds the record under its name, replacing (and deleting) an older one.
    void addDisplayFont(std::unique_ptr<DisplayFontRecord> record);

    // Sets the paper size by name ("match", "letter", "legal", "A4", "A3") and
    // the imageable area to the whole sheet: 1, or 0 for an unknown name,
    // which changes nothing.
    int setPaperSize(const char* name);

    // Finds a file for each of the 14 standard fonts that has no substitute
    // yet: the URW Type 1 file in `directory`, or with a null directory in
    // the usual folders of those fonts; else the Liberation TrueType file in
    // the system fonts folder or one of the fallback folders. A font without
    // a file is reported. Then lists the system's fonts.
    void locateStandardFonts(const char* directory);

    // Enters every name of a 256-entry encoding into the map with its code,
    // walking from 255 down so that a name listed under two codes keeps the
    // lower one.
    static void fillNameToCode(NameToIntMap& map, const char* const encoding[256]);

private:
    class ConfigReader;

    // Holds the general lock for its lifetime and counts it on the calling
    // thread, so that getCMap can check the lock order.
    class GeneralLock {
    public:
        explicit GeneralLock(GlobalSettings& settings);
        ~GeneralLock();
        GeneralLock(const GeneralLock&) = delete;
        GeneralLock& operator=(const GeneralLock&) = delete;

    private:
        platform::CriticalSectionLock m_lock;
    };

    // The standard font metrics taken, nothing else built. The public
    // constructor starts from it, so that the destructor frees what was read
    // should reading throw.
    struct Empty {};
    explicit GlobalSettings(Empty);
    // Frees every record, path, list and table that the object owns (the
    // containers themselves are members).
    void releaseAll();
    void readDefaultConfigFile();
    // Opens a configuration file when it is a regular file; reads one
    // (GlobalSettingsConfig.cpp).
    static FILE* openConfigFile(const char* path);
    void readConfigFile(const char* fileName, FILE* file);
    // Adds a record to one of the record tables keyed by the record's name,
    // deleting a record it replaces.
    static void replaceRecord(PtrStringHash<DisplayFontRecord>& table,
                              std::unique_ptr<DisplayFontRecord> record);
    static void deleteRecords(PtrStringHash<DisplayFontRecord>& table);
    // Sets key -> copy of value in a table that owns its keys and whose values
    // are owned path strings, deleting a value it replaces.
    static void replacePath(PtrStringHash<DynString>& table, const char* key, const char* value);
    static void deletePaths(PtrStringHash<DynString>& table);
    // Opens name in the first directory of the list where it opens.
    static FILE* openInDirectories(const PtrList<DynString>& directories, const char* fileName);

    NameToIntMap m_nameToCode;
    NameToIntMap m_nameToUnicode;
    PtrStringHash<DynString> m_cidToUnicodeFiles{true};      // collection -> path
    PtrStringHash<DynString> m_unicodeToUnicodeFiles{true};  // font-name fragment -> path
    PtrStringHash<PtrList<DynString>> m_cMapDirs{true};      // collection -> directories
    PtrList<DynString> m_toUnicodeDirs;
    PtrStringHash<DisplayFontRecord> m_displayFonts{false};  // font name -> record, keyed by its name
    std::unique_ptr<SystemFontList> m_systemFonts;
    // The system's fonts are listed at the first look-up that needs them:
    // listing them costs more than opening most documents, and a document
    // whose fonts are all embedded never looks.
    bool m_systemFontsWanted = false;
    PtrStringHash<DisplayFontRecord> m_displayCidFonts{false};       // collection -> record
    PtrStringHash<DisplayFontRecord> m_displayNamedCidFonts{false};  // CID font name -> record
    int m_paperWidth = 612;
    int m_paperHeight = 792;
    int m_imageableLlx = 0;
    int m_imageableLly = 0;
    int m_imageableUrx = 612;
    int m_imageableUry = 792;
    PtrList<DynString> m_fontDirs;
    bool m_fontEngineEnabled = true;
    bool m_fontAntialias = true;
    bool m_vectorAntialias = true;
    bool m_strokeAdjust = true;
    int m_screenKind = 0;
    int m_screenSize = -1;
    int m_screenDotRadius = -1;
    double m_screenGamma = 1.0;
    double m_screenBlackThreshold = 0.0;
    double m_screenWhiteThreshold = 1.0;
    bool m_mapNumericGlyphNames = true;
    bool m_mapUnknownGlyphNames = false;
    bool m_verbose = false;
    bool m_quiet = false;

    // Made at construction, freed by releaseAll. The two code-to-Unicode
    // caches are used under the general lock, the CMap cache under the CMap
    // lock.
    static constexpr int kUnicodeMapCacheSize = 4;
    std::unique_ptr<CodeToUnicodeMapCache> m_cidToUnicodeCache;
    std::unique_ptr<CodeToUnicodeMapCache> m_unicodeToUnicodeCache;
    std::unique_ptr<CodeToCidMapCache> m_cMapCache;

    platform::CriticalSection m_lock;
    platform::CriticalSection m_cMapLock;
    platform::CriticalSection m_outputMapLock;  // never entered
};

// The process-wide settings object, null while no renderer facade is alive.
// Set and cleared by the facade that creates and deletes the object.
extern GlobalSettings* globalSettings;

}  // namespace rendova
