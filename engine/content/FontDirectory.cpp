#include "engine/content/FontDirectory.h"

#include <cstring>

#include "engine/core/ErrorReport.h"
#include "engine/core/PdfValue.h"

namespace rendova {

FontDirectory::FontDirectory(XrefTable* xref, const PdfValue* parentReference, PdfDict* fontResources) {
    const int count = fontResources->getLength();
    m_fonts.resize(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        PdfValue raw, value;
        fontResources->rawValueAt(i, raw);
        raw.fetch(xref, value);
        if (!value.isDict()) {
            reportError(-1, "Font resource '%s' is not a dictionary (%s)", fontResources->keyAt(i),
                        value.typeName());
            continue;
        }
        int num, gen;
        if (raw.isRef()) {
            num = raw.getRefNum();
            gen = raw.getRefGen();
        } else if (parentReference && parentReference->isRef()) {
            // Saturated so that a parent number near the int limit cannot
            // overflow; such a document has no font references up there.
            const int parent = parentReference->getRefNum();
            num = i;
            gen = parent > INT32_MAX - kPseudoGenerationOffset ? INT32_MAX : parent + kPseudoGenerationOffset;
        } else {
            num = i;
            gen = kNoParentGeneration;
        }
        std::unique_ptr<FontObject> font =
            FontObject::create(xref, fontResources->keyAt(i), num, gen, value.getDict());
        if (font->isOk())
            m_fonts[static_cast<size_t>(i)] = std::move(font);
    }
}

FontDirectory::~FontDirectory() = default;

FontObject* FontDirectory::lookup(const char* tag) const {
    for (const auto& font : m_fonts)
        if (font && font->getTag().compareCStr(tag) == 0)
            return font.get();
    return nullptr;
}

}  // namespace rendova
