#pragma once

#include <vector>

#include "engine/core/DynString.h"
#include "engine/core/PtrList.h"
#include "platform/FontInventory.h"

namespace rendova {

// A font file that stands in for a font a document uses without embedding it:
// the font's name, the kind of file and the file's path. Owned by the table
// that holds it (the settings object's font tables, or a SystemFontList).
// Immutable after construction; throws MemoryException when memory runs out.
class DisplayFontRecord {
public:
    static constexpr int kType1 = 0;
    static constexpr int kTrueType = 1;

    DisplayFontRecord(const char* name, int kind, const char* file);
    virtual ~DisplayFontRecord();
    DisplayFontRecord(const DisplayFontRecord&) = delete;
    DisplayFontRecord& operator=(const DisplayFontRecord&) = delete;

    const DynString& getName() const { return m_name; }
    int getKind() const { return m_kind; }
    const DynString& getFile() const { return m_file; }

protected:
    DynString m_name;

private:
    int m_kind;
    DynString m_file;
};

// An installed TrueType or OpenType face: always of kind 1, its name the
// family name with every space, comma and hyphen removed.
class SystemFontRecord : public DisplayFontRecord {
public:
    SystemFontRecord(const char* family, const char* file, bool bold, bool italic);

    bool isBold() const { return m_bold; }
    bool isItalic() const { return m_italic; }

private:
    bool m_bold;
    bool m_italic;
};

// The fonts installed on the system, read once when the list is made: fonts
// installed later are not seen. Owns its records. Built during start-up on
// one thread; `find` may then run on any thread. Throws MemoryException when
// memory runs out.
class SystemFontList {
public:
    // The faces of the platform's font inventory.
    SystemFontList();
    // The given faces, in order (the inventory's, or a test's).
    explicit SystemFontList(const std::vector<platform::FontFace>& faces);
    ~SystemFontList();
    SystemFontList(const SystemFontList&) = delete;
    SystemFontList& operator=(const SystemFontList&) = delete;

    // The record for a font name as documents spell it ("Arial,BoldItalic",
    // "TimesNewRomanPS-BoldMT"): the name loses its spaces, commas and hyphens
    // and its style suffixes, which set the bold and italic flags; the first
    // record with the rest as its name and the same two flags matches. Null
    // when none does.
    const SystemFontRecord* find(const char* fontName) const;

    int getLength() const { return m_fonts.getLength(); }
    const SystemFontRecord* get(int index) const { return m_fonts.get(index); }

private:
    void addFaces(const std::vector<platform::FontFace>& faces);

    PtrList<SystemFontRecord> m_fonts;
};

}  // namespace rendova
