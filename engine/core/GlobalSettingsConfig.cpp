// The reader of the engine's configuration file: one command a line, words
// separated by white space, a word in double or single quotes running to the
// matching quote (so that paths may hold spaces), "#" starting a comment line.
// Every fault is reported with the file name and line number; the line is
// then ignored and reading goes on.

#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/ErrorReport.h"
#include "engine/core/GlobalSettings.h"
#include "engine/core/SystemFontList.h"
#include "platform/FileSystem.h"

namespace rendova {

namespace {

// A file that includes itself (or two that include each other) would
// otherwise recurse until the stack runs out; no real configuration nests
// anywhere near this deep.
constexpr int kMaxIncludeDepth = 16;

// A configuration line is a command and a few paths; a longer line is not
// configuration text (a binary file named by mistake) and is skipped whole
// rather than held in memory.
constexpr size_t kMaxLineLength = 65536;

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Opens a configuration or glyph-name file for reading. Only regular files
// are read: a device or pipe named by mistake ("/dev/zero") would never end.
FILE* openTextFile(const std::string& path) {
    return platform::fileExists(path) ? std::fopen(path.c_str(), "r") : nullptr;
}

enum class LineStatus { Line, TooLong, End };

// Reads one line without its end (LF, CR or CR LF). A line is always read
// whole, so that the tail of a long line is never taken for a line of its own.
LineStatus readWholeLine(FILE* file, std::string& line) {
    line.clear();
    bool tooLong = false;
    bool any = false;
    for (;;) {
        int c = std::getc(file);
        if (c == EOF)
            break;
        any = true;
        if (c == '\n')
            break;
        if (c == '\r') {
            int next = std::getc(file);
            if (next != '\n' && next != EOF)
                std::ungetc(next, file);
            break;
        }
        if (line.size() < kMaxLineLength)
            line.push_back(static_cast<char>(c));
        else
            tooLong = true;
    }
    if (!any)
        return LineStatus::End;
    return tooLong ? LineStatus::TooLong : LineStatus::Line;
}

std::vector<std::string> splitWords(const std::string& line) {
    std::vector<std::string> words;
    size_t i = 0;
    const size_t n = line.size();
    while (i < n) {
        while (i < n && std::isspace(static_cast<unsigned char>(line[i])))
            ++i;
        if (i >= n)
            break;
        size_t start;
        if (line[i] == '"' || line[i] == '\'') {
            char quote = line[i++];
            start = i;
            while (i < n && line[i] != quote)
                ++i;
            words.push_back(line.substr(start, i - start));
            if (i < n)
                ++i;  // the closing quote
        } else {
            start = i;
            while (i < n && !std::isspace(static_cast<unsigned char>(line[i])))
                ++i;
            words.push_back(line.substr(start, i - start));
        }
    }
    return words;
}

// An optional "-" and decimal digits only ("-" alone passes and reads as 0).
bool isInteger(const std::string& word) {
    if (word.empty())
        return false;
    for (size_t i = word[0] == '-' ? 1 : 0; i < word.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(word[i])))
            return false;
    }
    return true;
}

// An optional "-" followed by digits and points only.
bool isNumber(const std::string& word) {
    if (word.empty())
        return false;
    for (size_t i = word[0] == '-' ? 1 : 0; i < word.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(word[i])) && word[i] != '.')
            return false;
    }
    return true;
}

// The C runtime's integer reading (leading digits, 0 when there are none),
// saturated to the int range: a value out of range is undefined for atoi.
int toInt(const std::string& word) {
    long value = std::strtol(word.c_str(), nullptr, 10);
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

// Index of the word in a null-terminated list, or -1.
int wordIndex(const std::string& word, const char* const* list) {
    for (int i = 0; list[i]; ++i) {
        if (word == list[i])
            return i;
    }
    return -1;
}

bool startsWith(const char* text, const char* prefix, const char** rest) {
    size_t n = std::strlen(prefix);
    if (std::strncmp(text, prefix, n) != 0)
        return false;
    *rest = text + n;
    return true;
}

constexpr const char* kYes = "yes";
constexpr const char* kNo = "no";

// Fixed words of the commands whose values nothing in the engine consults.
constexpr const char* kWritingModes[] = {"horizontal", "vertical", nullptr};
constexpr const char* kPrintLevels[] = {"level1", "level1-separable", "level2", "level2-separable",
                                        "level3", "level3-separable", nullptr};
constexpr const char* kLineEnds[] = {"cr", "lf", "crlf", nullptr};
// Halftone screens, giving the kinds 1, 2 and 3.
constexpr const char* kScreenTypes[] = {"dispersed", "clustered", "stochastic-clustered", nullptr};

// Key syntax of the key-binding commands.
constexpr const char* kKeyNames[] = {"tab",    "return", "enter", "backspace", "insert",
                                     "delete", "home",   "end",   "pgup",      "pgdn",
                                     "left",   "right",  "up",    "down",      nullptr};
constexpr const char* kContextNames[] = {"fullscreen",     "window",          "continuous", "single-page",
                                         "over-link",      "off-link",        "outline",    "main-window",
                                         "scroll-lock-on", "scroll-lock-off", nullptr};
constexpr const char* kAnyContext = "any";
constexpr int kMaxFunctionKey = 35;
constexpr int kMouseButtons = 7;

// Words of earlier versions, with what replaced them.
struct RetiredCommand {
    const char* word;
    const char* replacement;
    const char* secondReplacement;
};
constexpr RetiredCommand kRetiredCommands[] = {
    {"font-path", "font-dir", nullptr},
    {"font-map", "font-type1", "font-truetype"},
    {"type1-engine", "font-engine", nullptr},
    {"truetype-engine", "font-engine", nullptr},
    {"antialias", "font-antialias", "vector-antialias"},
    {"unicode-map-dir", "unicode-map", nullptr},
    {"glyph-antialias", "font-antialias", nullptr},
};

}  // namespace

class GlobalSettings::ConfigReader {
public:
    ConfigReader(GlobalSettings& settings, const char* fileName, int depth)
        : m_settings(settings), m_fileName(fileName), m_depth(depth) {}

    void read(FILE* file) {
        std::string line;
        for (;;) {
            LineStatus status = readWholeLine(file, line);
            if (status == LineStatus::End)
                break;
            ++m_lineNumber;
            if (status == LineStatus::TooLong) {
                error("line longer than %zu bytes ignored", kMaxLineLength);
                continue;
            }
            parseLine(splitWords(line));
        }
    }

private:
    using Args = std::vector<std::string>;  // the words after the command
    using Handler = void (ConfigReader::*)(const Args&);
    struct Command {
        const char* word;
        int minArgs;
        int maxArgs;  // -1: no upper bound
        Handler handler;
    };

    static const Command* findCommand(const std::string& word);

    void parseLine(const std::vector<std::string>& words) {
        if (words.empty() || (!words[0].empty() && words[0][0] == '#'))
            return;
        const std::string& word = words[0];
        Args args(words.begin() + 1, words.end());
        const Command* command = findCommand(word);
        if (!command) {
            error("unknown command '%s'", word.c_str());
            for (const RetiredCommand& retired : kRetiredCommands) {
                if (word != retired.word)
                    continue;
                error("'%s' is no longer supported: use '%s'", retired.word, retired.replacement);
                if (retired.secondReplacement)
                    error("'%s' is no longer supported: use '%s'", retired.word, retired.secondReplacement);
            }
            return;
        }
        int n = static_cast<int>(args.size());
        if (n < command->minArgs || (command->maxArgs >= 0 && n > command->maxArgs)) {
            if (command->maxArgs < 0)
                error("'%s' needs at least %d arguments", command->word, command->minArgs);
            else if (command->minArgs == command->maxArgs)
                error("'%s' needs %d argument%s", command->word, command->minArgs,
                      command->minArgs == 1 ? "" : "s");
            else
                error("'%s' needs %d to %d arguments", command->word, command->minArgs, command->maxArgs);
            return;
        }
        (this->*command->handler)(args);
    }

    void error(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        char detail[512];
        va_list list;
        va_start(list, format);
        std::vsnprintf(detail, sizeof detail, format, list);
        va_end(list);
        reportError(-1, "Configuration file '%s', line %d: %s", m_fileName, m_lineNumber, detail);
    }

    // ----------------------------------------------------------- value checks

    bool yesNo(const std::string& word, bool* flag) {
        if (word == kYes) {
            *flag = true;
            return true;
        }
        if (word == kNo) {
            *flag = false;
            return true;
        }
        error("'%s' is neither '%s' nor '%s'", word.c_str(), kYes, kNo);
        return false;
    }

    bool integer(const std::string& word, int* value) {
        if (!isInteger(word)) {
            error("'%s' is not an integer", word.c_str());
            return false;
        }
        *value = toInt(word);
        return true;
    }

    bool number(const std::string& word, double* value) {
        if (!isNumber(word)) {
            error("'%s' is not a number", word.c_str());
            return false;
        }
        *value = std::atof(word.c_str());
        return true;
    }

    bool choice(const std::string& word, const char* const* list, int* index) {
        *index = wordIndex(word, list);
        if (*index < 0) {
            std::string known;
            for (int i = 0; list[i]; ++i)
                known += std::string(i ? ", " : "") + list[i];
            error("'%s' is not one of %s", word.c_str(), known.c_str());
            return false;
        }
        return true;
    }

    // -------------------------------------------------------------- commands

    void include(const Args& args) {
        if (m_depth >= kMaxIncludeDepth) {
            error("'%s' not read: includes nest deeper than %d files", args[0].c_str(), kMaxIncludeDepth);
            return;
        }
        FilePtr file(openTextFile(args[0]));
        if (!file) {
            error("cannot open the included file '%s'", args[0].c_str());
            return;
        }
        ConfigReader(m_settings, args[0].c_str(), m_depth + 1).read(file.get());
    }

    // Lines of a Unicode value in hexadecimal and a glyph name, separated by
    // spaces or tabs ("00C4 Adieresis").
    void glyphNames(const Args& args) {
        const char* name = args[0].c_str();
        FilePtr file(openTextFile(args[0]));
        if (!file) {
            error("cannot open the glyph-name file '%s'", name);
            return;
        }
        std::string line;
        int lineNumber = 0;
        for (LineStatus status; (status = readWholeLine(file.get(), line)) != LineStatus::End;) {
            ++lineNumber;
            std::vector<std::string> fields = splitFields(line);
            if (status == LineStatus::TooLong || fields.size() < 2) {
                error("glyph-name file '%s', line %d: not a Unicode value and a glyph name", name,
                      lineNumber);
                continue;
            }
            char* end = nullptr;
            unsigned long value = std::strtoul(fields[0].c_str(), &end, 16);
            if (end == fields[0].c_str() || *end ||
                !std::isxdigit(static_cast<unsigned char>(fields[0][0])) || value > 0x10FFFF) {
                error("glyph-name file '%s', line %d: '%s' is not a hexadecimal Unicode value", name,
                      lineNumber, fields[0].c_str());
                continue;
            }
            m_settings.m_nameToUnicode.add(fields[1].c_str(), static_cast<int>(value));
        }
    }

    static std::vector<std::string> splitFields(const std::string& line) {
        std::vector<std::string> fields;
        size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
                ++i;
            size_t start = i;
            while (i < line.size() && line[i] != ' ' && line[i] != '\t')
                ++i;
            if (i > start)
                fields.push_back(line.substr(start, i - start));
        }
        return fields;
    }

    void cidToUnicode(const Args& args) {
        replacePath(m_settings.m_cidToUnicodeFiles, args[0].c_str(), args[1].c_str());
    }
    void unicodeToUnicode(const Args& args) {
        replacePath(m_settings.m_unicodeToUnicodeFiles, args[0].c_str(), args[1].c_str());
    }

    void cMapDir(const Args& args) {
        PtrStringHash<PtrList<DynString>>& table = m_settings.m_cMapDirs;
        PtrList<DynString>* dirs = table.lookupCStr(args[0].c_str());
        if (!dirs) {
            auto list = std::make_unique<PtrList<DynString>>();
            auto key = std::make_unique<DynString>(args[0].c_str());
            table.add(key.get(), list.get());
            key.release();
            dirs = list.release();
        }
        appendPath(*dirs, args[1]);
    }

    void toUnicodeDir(const Args& args) { appendPath(m_settings.m_toUnicodeDirs, args[0]); }
    void fontDir(const Args& args) { appendPath(m_settings.m_fontDirs, args[0]); }

    static void appendPath(PtrList<DynString>& list, const std::string& path) {
        auto entry = std::make_unique<DynString>(path.c_str());
        list.append(entry.get());
        entry.release();
    }

    void fontType1(const Args& args) { addFont(args, DisplayFontRecord::kType1); }
    void fontTrueType(const Args& args) { addFont(args, DisplayFontRecord::kTrueType); }
    void addFont(const Args& args, int kind) {
        m_settings.addDisplayFont(
            std::make_unique<DisplayFontRecord>(args[0].c_str(), kind, args[1].c_str()));
    }

    void cidFontType1(const Args& args) {
        addCidFont(m_settings.m_displayNamedCidFonts, args, DisplayFontRecord::kType1);
    }
    void collectionFontType1(const Args& args) {
        addCidFont(m_settings.m_displayCidFonts, args, DisplayFontRecord::kType1);
    }
    void cidFontTrueType(const Args& args) {
        addCidFont(m_settings.m_displayNamedCidFonts, args, DisplayFontRecord::kTrueType);
    }
    void collectionFontTrueType(const Args& args) {
        addCidFont(m_settings.m_displayCidFonts, args, DisplayFontRecord::kTrueType);
    }
    void addCidFont(PtrStringHash<DisplayFontRecord>& table, const Args& args, int kind) {
        GeneralLock lock(m_settings);
        replaceRecord(table, std::make_unique<DisplayFontRecord>(args[0].c_str(), kind, args[1].c_str()));
    }

    void paperSize(const Args& args) {
        if (args.size() == 1) {
            if (!m_settings.setPaperSize(args[0].c_str()))
                error("unknown paper size '%s'", args[0].c_str());
            return;
        }
        GeneralLock lock(m_settings);
        m_settings.m_paperWidth = toInt(args[0]);
        m_settings.m_paperHeight = toInt(args[1]);
        m_settings.m_imageableLlx = 0;
        m_settings.m_imageableLly = 0;
        m_settings.m_imageableUrx = m_settings.m_paperWidth;
        m_settings.m_imageableUry = m_settings.m_paperHeight;
    }

    void imageableArea(const Args& args) {
        GeneralLock lock(m_settings);
        m_settings.m_imageableLlx = toInt(args[0]);
        m_settings.m_imageableLly = toInt(args[1]);
        m_settings.m_imageableUrx = toInt(args[2]);
        m_settings.m_imageableUry = toInt(args[3]);
    }

    void setFlag(const Args& args, bool GlobalSettings::*flag) {
        bool value;
        if (yesNo(args[0], &value)) {
            GeneralLock lock(m_settings);
            m_settings.*flag = value;
        }
    }
    void fontEngine(const Args& args) { setFlag(args, &GlobalSettings::m_fontEngineEnabled); }
    void fontAntialias(const Args& args) { setFlag(args, &GlobalSettings::m_fontAntialias); }
    void vectorAntialias(const Args& args) { setFlag(args, &GlobalSettings::m_vectorAntialias); }
    void strokeAdjust(const Args& args) { setFlag(args, &GlobalSettings::m_strokeAdjust); }
    void mapNumericGlyphNames(const Args& args) { setFlag(args, &GlobalSettings::m_mapNumericGlyphNames); }
    void mapUnknownGlyphNames(const Args& args) { setFlag(args, &GlobalSettings::m_mapUnknownGlyphNames); }
    void verbose(const Args& args) { setFlag(args, &GlobalSettings::m_verbose); }
    void quiet(const Args& args) { setFlag(args, &GlobalSettings::m_quiet); }

    void screenType(const Args& args) {
        int index;
        if (choice(args[0], kScreenTypes, &index)) {
            GeneralLock lock(m_settings);
            m_settings.m_screenKind = index + 1;
        }
    }
    void setInteger(const Args& args, int GlobalSettings::*field) {
        int value;
        if (integer(args[0], &value)) {
            GeneralLock lock(m_settings);
            m_settings.*field = value;
        }
    }
    void setNumber(const Args& args, double GlobalSettings::*field) {
        double value;
        if (number(args[0], &value)) {
            GeneralLock lock(m_settings);
            m_settings.*field = value;
        }
    }
    void screenSize(const Args& args) { setInteger(args, &GlobalSettings::m_screenSize); }
    void screenDotRadius(const Args& args) { setInteger(args, &GlobalSettings::m_screenDotRadius); }
    void screenGamma(const Args& args) { setNumber(args, &GlobalSettings::m_screenGamma); }
    void screenBlackThreshold(const Args& args) { setNumber(args, &GlobalSettings::m_screenBlackThreshold); }
    void screenWhiteThreshold(const Args& args) { setNumber(args, &GlobalSettings::m_screenWhiteThreshold); }

    // Commands whose values no part of the engine consults: their arguments
    // are checked as for any command and the values dropped.
    void ignore(const Args&) {}
    void checkYesNo(const Args& args) {
        bool value;
        yesNo(args[0], &value);
    }
    void printCidFont(const Args& args) {
        int index;
        choice(args[1], kWritingModes, &index);
    }
    void printLevel(const Args& args) {
        int index;
        choice(args[0], kPrintLevels, &index);
    }
    void textLineEnd(const Args& args) {
        int index;
        choice(args[0], kLineEnds, &index);
    }
    void bind(const Args& args) {
        int code, modifiers, contexts;
        if (parseKey(args[0], &code, &modifiers))
            parseContexts(args[1], &contexts);
    }
    void unbind(const Args& args) { bind(args); }

    // Modifier prefixes, then "space", a key name, "f1" to "f35",
    // "mouse-press1" to "mouse-release7" or one printable character.
    bool parseKey(const std::string& word, int* code, int* modifiers) {
        const char* p = word.c_str();
        const char* rest = nullptr;
        *modifiers = 0;
        for (;;) {
            if (startsWith(p, "shift-", &rest))
                *modifiers |= 1;
            else if (startsWith(p, "ctrl-", &rest))
                *modifiers |= 2;
            else if (startsWith(p, "alt-", &rest))
                *modifiers |= 4;
            else
                break;
            p = rest;
        }
        int index = wordIndex(p, kKeyNames);
        int n = 0;
        if (std::strcmp(p, "space") == 0) {
            *code = 32;
        } else if (index >= 0) {
            *code = 0x1000 + index;
        } else if (p[0] == 'f' && smallNumber(p + 1, &n) && n >= 1 && n <= kMaxFunctionKey) {
            *code = 0x1100 + n - 1;
        } else if (startsWith(p, "mouse-press", &rest) && smallNumber(rest, &n) && n >= 1 &&
                   n <= kMouseButtons) {
            *code = 0x2000 + n;
        } else if (startsWith(p, "mouse-release", &rest) && smallNumber(rest, &n) && n >= 1 &&
                   n <= kMouseButtons) {
            *code = 0x2100 + n;
        } else if (p[0] > 0x20 && p[0] < 0x7f && p[1] == '\0') {
            *code = static_cast<unsigned char>(p[0]);
        } else {
            error("'%s' is not a key", word.c_str());
            return false;
        }
        return true;
    }

    // One or two decimal digits and nothing after them.
    static bool smallNumber(const char* text, int* value) {
        if (!std::isdigit(static_cast<unsigned char>(text[0])))
            return false;
        *value = text[0] - '0';
        if (text[1] == '\0')
            return true;
        if (!std::isdigit(static_cast<unsigned char>(text[1])) || text[2] != '\0')
            return false;
        *value = *value * 10 + (text[1] - '0');
        return true;
    }

    bool parseContexts(const std::string& word, int* mask) {
        *mask = 0;
        if (word == kAnyContext)
            return true;
        size_t start = 0;
        for (;;) {
            size_t comma = word.find(',', start);
            std::string name =
                word.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
            int index = wordIndex(name, kContextNames);
            if (index < 0) {
                error("'%s' is not a key context", name.c_str());
                return false;
            }
            *mask |= 1 << index;
            if (comma == std::string::npos)
                return true;
            start = comma + 1;
        }
    }

    GlobalSettings& m_settings;
    const char* m_fileName;
    int m_depth;
    int m_lineNumber = 0;
};

const GlobalSettings::ConfigReader::Command* GlobalSettings::ConfigReader::findCommand(
    const std::string& word) {
    using R = ConfigReader;
    static const Command kCommands[] = {
        {"include", 1, 1, &R::include},
        {"glyph-names", 1, 1, &R::glyphNames},
        {"cid-to-unicode", 2, 2, &R::cidToUnicode},
        {"unicode-to-unicode", 2, 2, &R::unicodeToUnicode},
        {"unicode-map", 2, 2, &R::ignore},
        {"cmap-dir", 2, 2, &R::cMapDir},
        {"to-unicode-dir", 1, 1, &R::toUnicodeDir},
        {"font-type1", 2, 2, &R::fontType1},
        {"font-truetype", 2, 2, &R::fontTrueType},
        {"cid-font-type1", 2, 2, &R::cidFontType1},
        {"collection-font-type1", 2, 2, &R::collectionFontType1},
        {"cid-font-truetype", 2, 2, &R::cidFontTrueType},
        {"collection-font-truetype", 2, 2, &R::collectionFontTrueType},
        {"print-file", 1, 1, &R::ignore},
        {"print-font", 2, 2, &R::ignore},
        {"print-cid-font", 4, 4, &R::printCidFont},
        {"print-named-cid-font", 4, 4, &R::printCidFont},
        {"paper-size", 1, 2, &R::paperSize},
        {"imageable-area", 4, 4, &R::imageableArea},
        {"crop-to-paper", 1, 1, &R::checkYesNo},
        {"expand-to-paper", 1, 1, &R::checkYesNo},
        {"shrink-to-paper", 1, 1, &R::checkYesNo},
        {"center-on-paper", 1, 1, &R::checkYesNo},
        {"duplex", 1, 1, &R::checkYesNo},
        {"print-level", 1, 1, &R::printLevel},
        {"embed-type1", 1, 1, &R::checkYesNo},
        {"embed-truetype", 1, 1, &R::checkYesNo},
        {"embed-cid-type1", 1, 1, &R::checkYesNo},
        {"embed-cid-truetype", 1, 1, &R::checkYesNo},
        {"preload-images", 1, 1, &R::checkYesNo},
        {"print-opi", 1, 1, &R::checkYesNo},
        {"print-ascii-hex", 1, 1, &R::checkYesNo},
        {"text-encoding", 1, 1, &R::ignore},
        {"text-line-end", 1, 1, &R::textLineEnd},
        {"text-page-breaks", 1, 1, &R::checkYesNo},
        {"text-keep-tiny-chars", 1, 1, &R::checkYesNo},
        {"font-dir", 1, 1, &R::fontDir},
        {"initial-zoom", 1, 1, &R::ignore},
        {"continuous-view", 1, 1, &R::checkYesNo},
        {"start-full-screen", 1, 1, &R::checkYesNo},
        {"font-engine", 1, 1, &R::fontEngine},
        {"font-antialias", 1, 1, &R::fontAntialias},
        {"vector-antialias", 1, 1, &R::vectorAntialias},
        {"stroke-adjust", 1, 1, &R::strokeAdjust},
        {"screen-type", 1, 1, &R::screenType},
        {"screen-size", 1, 1, &R::screenSize},
        {"screen-dot-radius", 1, 1, &R::screenDotRadius},
        {"screen-gamma", 1, 1, &R::screenGamma},
        {"screen-black-threshold", 1, 1, &R::screenBlackThreshold},
        {"screen-white-threshold", 1, 1, &R::screenWhiteThreshold},
        {"launch-command", 1, 1, &R::ignore},
        {"url-command", 1, 1, &R::ignore},
        {"map-numeric-glyph-names", 1, 1, &R::mapNumericGlyphNames},
        {"map-unknown-glyph-names", 1, 1, &R::mapUnknownGlyphNames},
        {"bind", 3, -1, &R::bind},
        {"unbind", 2, 2, &R::unbind},
        {"verbose", 1, 1, &R::verbose},
        {"quiet", 1, 1, &R::quiet},
    };
    for (const Command& command : kCommands) {
        if (word == command.word)
            return &command;
    }
    return nullptr;
}

void GlobalSettings::readConfigFile(const char* fileName, FILE* file) {
    ConfigReader(*this, fileName, 0).read(file);
}

FILE* GlobalSettings::openConfigFile(const char* path) {
    return openTextFile(path);
}

}  // namespace rendova
