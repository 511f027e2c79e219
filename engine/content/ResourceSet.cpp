#include "engine/content/ResourceSet.h"

#include "engine/core/ErrorReport.h"

namespace rendova {

namespace {

constexpr const char* kCategoryKeys[] = {"XObject", "ColorSpace", "Pattern", "Shading", "ExtGState"};

}  // namespace

ResourceSet::ResourceSet(XrefTable*, PdfDict* dict, ResourceSet* parent) : m_parent(parent) {
    for (int i = 0; i < kCategoryCount; ++i) {
        if (dict) {
            dict->lookup(kCategoryKeys[i], m_entries[i]);
        } else {
            m_entries[i].initNull();
        }
    }
}

ResourceSet::~ResourceSet() = default;

bool ResourceSet::lookup(Category category, const char* name, bool raw, PdfValue& out) const {
    for (const ResourceSet* set = this; set; set = set->m_parent) {
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

bool ResourceSet::lookupExtGState(const char* name, PdfValue& out) const {
    if (lookup(kExtGStates, name, false, out))
        return true;
    reportError(-1, "ExtGState '%s' is not in the resources", name);
    return false;
}

}  // namespace rendova
