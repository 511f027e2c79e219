#include "engine/core/DocumentCatalog.h"

#include <algorithm>

#include "engine/core/ErrorReport.h"
#include "engine/core/Page.h"
#include "engine/core/SaturatingCast.h"
#include "engine/core/XrefTable.h"

namespace rendova {

namespace {

// The page arrays grow by this many slots when the tree holds more pages
// than its Count said.
constexpr int kPageArrayGrowth = 32;

}  // namespace

DocumentCatalog::DocumentCatalog(XrefTable* xref) : m_xref(xref) {
    m_dests.initNull();
    m_nameDests.initNull();
    m_outlines.initNull();
    m_acroForm.initNull();

    PdfValue catalog;
    xref->fetch(xref->getRootNumber(), xref->getRootGeneration(), catalog);
    if (!catalog.isDict()) {
        reportError(-1, "The catalog object is a %s, not a dictionary", catalog.typeName());
        m_ok = collectPagesInFileOrder();
        return;
    }
    PdfValue pagesNode;
    catalog.dictLookup("Pages", pagesNode);
    PdfValue countValue;
    if (pagesNode.isDict())
        pagesNode.dictLookup("Count", countValue);
    if (!pagesNode.isDict() || !countValue.isNum()) {
        reportError(-1, "The page tree root is unusable (%s, page count %s)", pagesNode.typeName(),
                    countValue.typeName());
        m_ok = collectPagesInFileOrder();
        if (!m_ok)
            return;
        catalog.dictLookup("Dests", m_dests);
        catalog.dictLookup("Outlines", m_outlines);
        catalog.dictLookup("AcroForm", m_acroForm);
        return;
    }

    // Count only sizes the arrays, which grow when the tree holds more pages.
    // Every page is an object of the file, so a count beyond the table's
    // size (or below 0) is clamped rather than allowed to size an array.
    const int count = saturateToInt(countValue.getNum());
    const int capacity = std::clamp(count, 0, std::max(xref->getSize(), 0));
    if (capacity != count)
        reportError(-1, "Page count %d out of range; taken as %d", count, capacity);
    m_pages.resize(size_t(capacity));
    m_pageRefs.resize(size_t(capacity));

    std::vector<unsigned char> visited(size_t(std::max(xref->getSize(), 0)), 0);
    PdfValue rawPages;
    catalog.dictLookupRaw("Pages", rawPages);
    visit(rawPages, visited);
    m_pageCount = readPageTree(pagesNode, nullptr, 0, visited, 0);
    if (count != m_pageCount)
        reportError(-1, "Page count %d differs from the %d pages found", count, m_pageCount);

    catalog.dictLookup("Dests", m_dests);
    PdfValue names;
    catalog.dictLookup("Names", names);
    if (names.isDict())
        names.dictLookup("Dests", m_nameDests);
    PdfValue uri;
    catalog.dictLookup("URI", uri);
    if (uri.isDict()) {
        PdfValue base;
        uri.dictLookup("Base", base);
        if (base.isString())
            m_baseUri = std::make_unique<DynString>(*base.getString());
    }
    catalog.dictLookup("Outlines", m_outlines);
    catalog.dictLookup("AcroForm", m_acroForm);
}

DocumentCatalog::~DocumentCatalog() = default;

bool DocumentCatalog::visit(const PdfValue& raw, std::vector<unsigned char>& visited) {
    if (!raw.isRef() || raw.getRefNum() < 0 || size_t(raw.getRefNum()) >= visited.size())
        return true;
    unsigned char& mark = visited[size_t(raw.getRefNum())];
    if (mark)
        return false;
    mark = 1;
    return true;
}

int DocumentCatalog::readPageTree(const PdfValue& node, const PageAttributes* inherited, int start,
                                  std::vector<unsigned char>& visited, int depth) {
    auto attrs = std::make_unique<PageAttributes>(inherited, node);

    // Two nodes never share one Kids array; one reached twice would walk the
    // same subtree again for every node that names it.
    PdfValue rawKids;
    node.dictLookupRaw("Kids", rawKids);
    if (!visit(rawKids, visited)) {
        reportError(-1, "Kids array %d %d of the page tree reached twice; skipped", rawKids.getRefNum(),
                    rawKids.getRefGen());
        return start;
    }
    PdfValue kids;
    node.dictLookup("Kids", kids);
    if (!kids.isArray()) {
        reportError(-1, "Page tree node before page %d: Kids is a %s, not an array", start + 1,
                    kids.typeName());
        m_ok = false;
        return -1;
    }

    int index = start;
    const PdfArray* array = kids.getArray();
    for (int i = 0; i < array->getLength(); ++i) {
        PdfValue raw;
        array->getRaw(i, raw);
        if (!visit(raw, visited)) {
            reportError(-1, "Page tree object %d %d reached twice; skipped", raw.getRefNum(),
                        raw.getRefGen());
            continue;
        }
        PdfValue kid;
        array->get(i, kid);
        if (kid.isDict() && (kid.getDict()->isType("Page") || isUntypedPage(kid, index))) {
            auto page = std::make_unique<Page>(m_xref, index + 1, kid,
                                               std::make_unique<PageAttributes>(attrs.get(), kid));
            if (!page->isOk()) {
                m_ok = false;
                return -1;
            }
            if (size_t(index) >= m_pages.size()) {
                m_pages.resize(m_pages.size() + kPageArrayGrowth);
                m_pageRefs.resize(m_pages.size());
            }
            m_pages[size_t(index)] = std::move(page);
            if (raw.isRef())
                m_pageRefs[size_t(index)] = {raw.getRefNum(), raw.getRefGen()};
            ++index;
        } else if (kid.isDict()) {
            if (depth + 1 >= kMaxPageTreeDepth) {
                reportError(-1, "Page tree deeper than %d levels before page %d; subtree skipped",
                            kMaxPageTreeDepth, index + 1);
                continue;
            }
            const int next = readPageTree(kid, attrs.get(), index, visited, depth + 1);
            if (next < 0) {
                m_ok = false;
                return -1;
            }
            index = next;
        } else {
            reportError(-1, "Page tree kid before page %d is a %s, not a dictionary", index + 1,
                        kid.typeName());
        }
    }
    return index;
}

bool DocumentCatalog::collectPagesInFileOrder() {
    // Where the objects lie: an object of an object stream sits where its
    // stream does, after the objects before it in the stream.
    struct Found {
        int64_t rank;
        int num;
        int gen;
    };
    std::vector<Found> found;
    for (int num = 1; num < m_xref->getSize(); ++num) {
        const XrefTable::Entry& entry = m_xref->getEntry(num);
        if (entry.type == XrefTable::kInFile && entry.offset >= 0) {
            found.push_back(
                {std::min<int64_t>(entry.offset, INT64_C(1) << 46) * 65536, num, entry.generation});
        } else if (entry.type == XrefTable::kCompressed && entry.offset > 0 &&
                   entry.offset < m_xref->getSize()) {
            const XrefTable::Entry& stream = m_xref->getEntry(int(entry.offset));
            if (stream.type != XrefTable::kInFile || stream.offset < 0)
                continue;
            found.push_back({std::min<int64_t>(stream.offset, INT64_C(1) << 46) * 65536 +
                                 std::min(entry.generation, 65534) + 1,
                             num, 0});
        }
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const Found& a, const Found& b) { return a.rank < b.rank; });
    m_pages.clear();
    m_pageRefs.clear();
    for (const Found& object : found) {
        PdfValue value;
        m_xref->fetch(object.num, object.gen, value);
        if (!value.isDict() || !value.getDict()->isType("Page"))
            continue;
        // Nodes of the lost tree may survive: the page inherits from them.
        std::vector<PdfValue> parents;
        PdfValue node;
        value.dictLookup("Parent", node);
        while (node.isDict() && int(parents.size()) < kMaxPageTreeDepth) {
            PdfValue up;
            node.dictLookup("Parent", up);
            parents.push_back(std::move(node));
            node = std::move(up);
        }
        std::unique_ptr<PageAttributes> inherited;
        for (size_t i = parents.size(); i-- > 0;)
            inherited = std::make_unique<PageAttributes>(inherited.get(), parents[i]);
        auto page = std::make_unique<Page>(m_xref, int(m_pages.size()) + 1, value,
                                           std::make_unique<PageAttributes>(inherited.get(), value));
        if (!page->isOk())
            continue;
        m_pages.push_back(std::move(page));
        m_pageRefs.push_back({object.num, object.gen});
    }
    m_pageCount = int(m_pages.size());
    if (m_pageCount == 0)
        return false;
    reportError(-1, "No usable page tree: the %d page objects of the file are taken in file order",
                m_pageCount);
    return true;
}

bool DocumentCatalog::isUntypedPage(const PdfValue& kid, int index) {
    // A damaged page may lose its Type; failing the whole tree for it would
    // lose every page of the document. A kid without Type and without Kids
    // is taken as a page, as the peers take it.
    PdfValue type, kids;
    if (!kid.dictLookupRaw("Type", type).isNull() || !kid.dictLookupRaw("Kids", kids).isNull())
        return false;
    reportError(-1, "Page tree kid before page %d has neither Type nor Kids; taken as a page", index + 1);
    return true;
}

int DocumentCatalog::findPage(int num, int gen) const {
    for (int i = 0; i < m_pageCount; ++i)
        if (m_pageRefs[size_t(i)].num == num && m_pageRefs[size_t(i)].gen == gen)
            return i + 1;
    return 0;
}

}  // namespace rendova
