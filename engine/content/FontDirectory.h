#pragma once

#include <memory>
#include <vector>

#include "engine/content/FontObject.h"
#include "engine/core/PdfValue.h"

namespace rendova {

class XrefTable;

// The fonts of one /Font resource dictionary, one slot per entry in the
// dictionary's order; a slot whose font could not be made stays empty, so
// that text in that font is not shown. A font is made when it is first asked
// for: the pages of many documents share one font dictionary that lists every
// font of the document, and a page uses few of them.
//
// Ownership: the directory owns its fonts; whoever holds the resource
// dictionary (the interpreter's resource chain) owns the directory. One
// thread at a time; throws MemoryException only.
class FontDirectory {
public:
    // parentReference is the reference value of the dictionary holding the
    // resources (a page or form), or null. Fonts given directly rather than
    // by reference get a pseudo reference from their entry index and it, so
    // that the raster device can still tell them apart.
    FontDirectory(XrefTable* xref, const PdfValue* parentReference, PdfDict* fontResources);
    ~FontDirectory();
    FontDirectory(const FontDirectory&) = delete;
    FontDirectory& operator=(const FontDirectory&) = delete;

    // The first font whose tag equals the name, or null.
    FontObject* lookup(const char* tag);
    int getCount() const { return static_cast<int>(m_fonts.size()); }
    // Slot i (may be null).
    FontObject* getFont(int i);

    // Pseudo references: generation = parent's object number + this, or
    // kNoParentGeneration without a parent. No real document reaches these
    // generation numbers (the format caps them at 65535 plus the parent's
    // number), so they cannot collide with the reference of a real font.
    static constexpr int kPseudoGenerationOffset = 5000;
    static constexpr int kNoParentGeneration = 999999;

private:
    XrefTable* m_xref;
    PdfValue m_dict;
    // The pseudo generation of fonts given directly.
    int m_directGeneration;
    std::vector<std::unique_ptr<FontObject>> m_fonts;
    std::vector<bool> m_made;
};

}  // namespace rendova
