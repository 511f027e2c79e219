#include "engine/content/FontDirectory.h"

#include <cstring>

#include "engine/core/ErrorReport.h"
#include "engine/core/PdfValue.h"

namespace rendova {

FontDirectory::FontDirectory(XrefTable* xref, const PdfValue* parentReference, PdfDict* fontResources)
    : m_xref(xref) {
    m_dict.initDictRef(fontResources);
    if (parentReference && parentReference->isRef()) {
        // Saturated so that a parent number near the int limit cannot
        // overflow; such a document has no font references up there.
        const int parent = parentReference->getRefNum();
        m_directGeneration =
            parent > INT32_MAX - kPseudoGenerationOffset ? INT32_MAX : parent + kPseudoGenerationOffset;
    } else {
        m_directGeneration = kNoParentGeneration;
    }
    const auto count = static_cast<size_t>(fontResources->getLength());
    m_fonts.resize(count);
    m_made.resize(count);
}

FontDirectory::~FontDirectory() = default;

FontObject* FontDirectory::getFont(int i) {
    const auto slot = static_cast<size_t>(i);
    if (m_made[slot])
        return m_fonts[slot].get();
    m_made[slot] = true;
    PdfDict* fontResources = m_dict.getDict();
    PdfValue raw, value;
    fontResources->rawValueAt(i, raw);
    raw.fetch(m_xref, value);
    if (!value.isDict()) {
        reportError(-1, "Font resource '%s' is not a dictionary (%s)", fontResources->keyAt(i),
                    value.typeName());
        return nullptr;
    }
    const int num = raw.isRef() ? raw.getRefNum() : i;
    const int gen = raw.isRef() ? raw.getRefGen() : m_directGeneration;
    std::unique_ptr<FontObject> font =
        FontObject::create(m_xref, fontResources->keyAt(i), num, gen, value.getDict());
    if (font->isOk())
        m_fonts[slot] = std::move(font);
    return m_fonts[slot].get();
}

FontObject* FontDirectory::lookup(const char* tag) {
    PdfDict* fontResources = m_dict.getDict();
    for (int i = 0; i < getCount(); ++i)
        if (std::strcmp(fontResources->keyAt(i), tag) == 0)
            if (FontObject* font = getFont(i))
                return font;
    return nullptr;
}

}  // namespace rendova
