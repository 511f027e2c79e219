#include "engine/content/ResourceSet.h"

#include "engine/core/ErrorReport.h"

namespace rendova {

namespace {

constexpr const char* kCategoryKeys[] = {"XObject", "ColorSpace", "Pattern", "Shading", "ExtGState"};

}  // namespace

ResourceSet::ResourceSet(XrefTable* xref, PdfDict* dict, std::unique_ptr<ResourceSet>&& parent) {
    if (dict) {
        // The font dictionary's own reference, when it has one, gives the
        // fonts written directly into it their pseudo references.
        PdfValue raw, fonts;
        dict->lookupRaw("Font", raw);
        raw.fetch(xref, fonts);
        if (fonts.isDict())
            m_fonts = std::make_unique<FontDirectory>(xref, raw.isRef() ? &raw : nullptr, fonts.getDict());
    }
    for (int i = 0; i < kCategoryCount; ++i) {
        if (dict) {
            dict->lookup(kCategoryKeys[i], m_entries[i]);
        } else {
            m_entries[i].initNull();
        }
    }
    m_parent = std::move(parent);
}

ResourceSet::~ResourceSet() = default;

bool ResourceSet::lookup(Category category, const char* name, bool raw, PdfValue& out) const {
    for (const ResourceSet* set = this; set; set = set->m_parent.get()) {
        const PdfValue& entry = set->m_entries[category];
        if (!entry.isDict())
            continue;
        if (raw) {
            entry.getDict()->lookupRaw(name, out);
        } else {
            entry.getDict()->lookup(name, out);
        }
        if (!out.isNull())
            return true;
    }
    out.initNull();
    return false;
}

FontObject* ResourceSet::lookupFont(const char* name) const {
    for (const ResourceSet* set = this; set; set = set->m_parent.get()) {
        if (!set->m_fonts)
            continue;
        if (FontObject* font = set->m_fonts->lookup(name))
            return font;
    }
    reportError(-1, "Unknown font tag '%s'", name);
    return nullptr;
}

bool ResourceSet::lookupXObject(const char* name, PdfValue& out) const {
    if (lookup(kXObjects, name, false, out))
        return true;
    reportError(-1, "XObject '%s' is not in the resources", name);
    return false;
}

bool ResourceSet::lookupXObjectRaw(const char* name, PdfValue& out) const {
    if (lookup(kXObjects, name, true, out))
        return true;
    reportError(-1, "XObject '%s' is not in the resources", name);
    return false;
}

bool ResourceSet::lookupColorSpace(const char* name, PdfValue& out) const {
    return lookup(kColorSpaces, name, false, out);
}

std::unique_ptr<Pattern> ResourceSet::lookupPattern(const char* name) const {
    PdfValue value;
    if (!lookup(kPatterns, name, false, value)) {
        reportError(-1, "Pattern '%s' is not in the resources", name);
        return nullptr;
    }
    return Pattern::parse(value);
}

std::unique_ptr<Shading> ResourceSet::lookupShading(const char* name) const {
    PdfValue value;
    if (!lookup(kShadings, name, false, value)) {
        reportError(-1, "Shading '%s' is not in the resources", name);
        return nullptr;
    }
    return Shading::parse(value);
}

bool ResourceSet::lookupExtGState(const char* name, PdfValue& out) const {
    if (lookup(kExtGStates, name, false, out))
        return true;
    reportError(-1, "ExtGState '%s' is not in the resources", name);
    return false;
}

}  // namespace rendova
