#include "engine/core/SystemFontList.h"

#include <cstring>
#include <memory>
#include <string>
#include <unordered_set>

namespace rendova {

namespace {

// Faces of this weight (OpenType scale) or more count as bold, as a
// semi-bold face does on the system that documents are made on.
constexpr int kBoldWeight = 600;

// Suffixes that font names in documents carry after the family name, stripped
// in this order, each only when the name ends with it. "MT" and "PS" are
// vendor marks ("TimesNewRomanPS-BoldItalicMT"); the second "MT" is for a
// mark that stood before a style added later ("ArialMT,Bold").
constexpr const char* kVendorSuffix = "MT";
constexpr const char* kItalicSuffix = "Italic";
constexpr const char* kBoldSuffix = "Bold";
constexpr const char* kPostScriptSuffix = "PS";
constexpr const char* kLateVendorSuffix = "MT";

// The name without its spaces, commas and hyphens, which documents and the
// font inventory place differently ("Times New Roman", "TimesNewRoman,Bold").
void removeSeparators(DynString& name) {
    for (int i = 0; i < name.getLength();) {
        char c = name.getChar(i);
        if (c == ' ' || c == ',' || c == '-')
            name.erase(i, 1);
        else
            ++i;
    }
}

bool stripSuffix(DynString& name, const char* suffix) {
    int n = static_cast<int>(std::strlen(suffix));
    if (name.getLength() < n || std::memcmp(name.getCString() + name.getLength() - n, suffix, n) != 0)
        return false;
    name.erase(name.getLength() - n, n);
    return true;
}

}  // namespace

DisplayFontRecord::DisplayFontRecord(const char* name, int kind, const char* file)
    : m_name(name), m_kind(kind), m_file(file) {}

DisplayFontRecord::~DisplayFontRecord() = default;

SystemFontRecord::SystemFontRecord(const char* family, const char* file, bool bold, bool italic)
    : DisplayFontRecord(family, kTrueType, file), m_bold(bold), m_italic(italic) {
    removeSeparators(m_name);
}

SystemFontList::SystemFontList() {
    addFaces(platform::listFontFaces());
}

SystemFontList::SystemFontList(const std::vector<platform::FontFace>& faces) {
    addFaces(faces);
}

SystemFontList::~SystemFontList() {
    for (int i = 0; i < m_fonts.getLength(); ++i)
        delete m_fonts.get(i);
}

void SystemFontList::addFaces(const std::vector<platform::FontFace>& faces) {
    // The inventory lists a face once per file; two faces of one name and
    // style (a font installed twice, or in two formats) keep the first. The
    // key is the name followed by the two flags.
    std::unordered_set<std::string> seen;
    for (const platform::FontFace& face : faces) {
        auto record = std::make_unique<SystemFontRecord>(face.family.c_str(), face.file.c_str(),
                                                         face.weight >= kBoldWeight, face.italic);
        std::string key(record->getName().getCString(), static_cast<size_t>(record->getName().getLength()));
        key += record->isBold() ? 'B' : '-';
        key += record->isItalic() ? 'I' : '-';
        if (!seen.insert(key).second)
            continue;
        m_fonts.append(record.get());
        record.release();
    }
}

const SystemFontRecord* SystemFontList::find(const char* fontName) const {
    DynString name(fontName);
    removeSeparators(name);
    bool bold = false;
    bool italic = false;
    stripSuffix(name, kVendorSuffix);
    if (stripSuffix(name, kItalicSuffix))
        italic = true;
    if (stripSuffix(name, kBoldSuffix))
        bold = true;
    stripSuffix(name, kPostScriptSuffix);
    stripSuffix(name, kLateVendorSuffix);

    for (int i = 0; i < m_fonts.getLength(); ++i) {
        const SystemFontRecord* record = m_fonts.get(i);
        if (record->isBold() == bold && record->isItalic() == italic && record->getName().compare(name) == 0)
            return record;
    }
    return nullptr;
}

}  // namespace rendova
