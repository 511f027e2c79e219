#pragma once

#include <memory>

#include "engine/content/FontDirectory.h"
#include "engine/content/Pattern.h"
#include "engine/core/PdfValue.h"

namespace rendova {

class PdfDict;
class XrefTable;

// The named resources of one content stream (a page, a form, a pattern, a
// Type 3 font), linked to the set of the enclosing content: a lookup walks
// the chain from the innermost set outward, so that a form sees its own
// resources first and its page's after them.
//
// Ownership: the interpreter owns the innermost set, and each set owns the
// set of the content that encloses it.
// The entries are values fetched from the dictionary (arrays, dictionaries
// and streams shared by reference count). One thread at a time; throws
// MemoryException only.
//
// The set owns a FontDirectory for its fonts, which makes each font when it
// is first asked for.
class ResourceSet {
public:
    // dict may be null (no resources). The set takes `parent` over once it is
    // built: should building throw, the caller still holds it.
    ResourceSet(XrefTable* xref, PdfDict* dict, std::unique_ptr<ResourceSet>&& parent);
    ~ResourceSet();
    ResourceSet(const ResourceSet&) = delete;
    ResourceSet& operator=(const ResourceSet&) = delete;

    ResourceSet* getParent() const { return m_parent.get(); }
    // Hands the enclosing set back (to the interpreter leaving this one).
    std::unique_ptr<ResourceSet> takeParent() { return std::move(m_parent); }

    // The first set's font of that name (a font that could not be made does
    // not count); a missing name is reported and gives null.
    FontObject* lookupFont(const char* name) const;
    // Each lookup gives the first set's non-null entry of that name. Missing
    // names are reported (position -1) and give false with out null, except
    // for colour spaces, which the caller may find elsewhere.
    bool lookupXObject(const char* name, PdfValue& out) const;
    // The entry as stored, so that a reference stays visible.
    bool lookupXObjectRaw(const char* name, PdfValue& out) const;
    bool lookupColorSpace(const char* name, PdfValue& out) const;
    // A new pattern (Pattern::parse), or null.
    std::unique_ptr<Pattern> lookupPattern(const char* name) const;
    // A new shading (Shading::parse), or null.
    std::unique_ptr<Shading> lookupShading(const char* name) const;
    bool lookupExtGState(const char* name, PdfValue& out) const;

private:
    enum Category { kXObjects, kColorSpaces, kPatterns, kShadings, kExtGStates, kCategoryCount };

    bool lookup(Category category, const char* name, bool raw, PdfValue& out) const;

    // First, so that it goes last: a set is freed before the sets enclosing
    // it, as the interpreter leaves them.
    std::unique_ptr<ResourceSet> m_parent;
    PdfValue m_entries[kCategoryCount];
    std::unique_ptr<FontDirectory> m_fonts;
};

}  // namespace rendova
