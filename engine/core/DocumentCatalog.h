#pragma once

#include <memory>
#include <vector>

#include "engine/core/DynString.h"
#include "engine/core/PdfValue.h"

namespace rendova {

class Page;
class PageAttributes;
class XrefTable;

// The document catalog: the page list read from the page tree (with each
// page's object reference), and the catalog entries kept for later use: the
// named destinations (Dests and the Dests tree of Names), the base URI, the
// outline dictionary and the interactive form.
//
// Ownership: the document owns the catalog; the catalog owns its pages and
// keeps a plain pointer to the document's table. One thread at a time; throws
// MemoryException only.
class DocumentCatalog {
public:
    // Page-tree nodes nest at most this deep. Real trees are a few levels
    // deep; the limit keeps a pathological chain of distinct nodes from
    // exhausting the stack.
    static constexpr int kMaxPageTreeDepth = 256;

    // An object reference; both -1 when unknown (a page given as a direct
    // dictionary).
    struct PageRef {
        int num = -1;
        int gen = -1;
    };

    explicit DocumentCatalog(XrefTable* xref);
    ~DocumentCatalog();
    DocumentCatalog(const DocumentCatalog&) = delete;
    DocumentCatalog& operator=(const DocumentCatalog&) = delete;

    bool isOk() const { return m_ok; }
    // The number of pages found; -1 after a failed walk.
    int getPageCount() const { return m_pageCount; }
    // Page n, 1-based; n lies in 1 .. getPageCount().
    Page* getPage(int n) const { return m_pages[size_t(n - 1)].get(); }
    const PageRef& getPageRef(int n) const { return m_pageRefs[size_t(n - 1)]; }
    // The 1-based number of the page with this object reference, or 0.
    int findPage(int num, int gen) const;

    const PdfValue& getDests() const { return m_dests; }
    const PdfValue& getNameDests() const { return m_nameDests; }
    // The Base of the URI dictionary, or null.
    const DynString* getBaseUri() const { return m_baseUri.get(); }
    const PdfValue& getOutlines() const { return m_outlines; }
    const PdfValue& getAcroForm() const { return m_acroForm; }
    XrefTable* getXref() const { return m_xref; }

private:
    // Walks a page-tree node; the result is the next page index, or -1 when
    // the walk failed.
    int readPageTree(const PdfValue& node, const PageAttributes* inherited, int start,
                     std::vector<unsigned char>& visited, int depth);
    // A kid without Type and without Kids (reported): taken as a page.
    static bool isUntypedPage(const PdfValue& kid, int index);
    // Without a usable catalog or page tree: the Page objects of the table,
    // in file order, each with its own attributes only. False when there
    // are none.
    bool collectPagesInFileOrder();
    // Marks a reference inside the table as visited: false when it already
    // was. Other values pass.
    static bool visit(const PdfValue& raw, std::vector<unsigned char>& visited);

    XrefTable* m_xref;
    std::vector<std::unique_ptr<Page>> m_pages;
    std::vector<PageRef> m_pageRefs;
    int m_pageCount = 0;
    PdfValue m_dests;
    PdfValue m_nameDests;
    std::unique_ptr<DynString> m_baseUri;
    PdfValue m_outlines;
    PdfValue m_acroForm;
    bool m_ok = true;
};

}  // namespace rendova
