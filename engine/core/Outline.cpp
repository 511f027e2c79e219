#include "engine/core/Outline.h"

#include <set>
#include <utility>

#include "engine/core/ErrorReport.h"
#include "engine/core/LinkAction.h"
#include "engine/core/XrefTable.h"

namespace rendova {

namespace {

// The document encoding where it differs from Latin-1: accents at 0x18-0x1f
// and typographic characters at 0x80-0xa0.
constexpr uint16_t kDocEncodingAccents[8] = {0x02d8, 0x02c7, 0x02c6, 0x02d9, 0x02dd, 0x02db, 0x02da, 0x02dc};
constexpr uint16_t kDocEncodingHigh[33] = {
    0x2022, 0x2020, 0x2021, 0x2026, 0x2014, 0x2013, 0x0192, 0x2044, 0x2039, 0x203a, 0x2212,
    0x2030, 0x201e, 0x201c, 0x201d, 0x2018, 0x2019, 0x201a, 0x2122, 0xfb01, 0xfb02, 0x0141,
    0x0152, 0x0160, 0x0178, 0x017d, 0x0131, 0x0142, 0x0153, 0x0161, 0x017e, 0x009f, 0x20ac,
};

bool sameRef(const PdfValue& a, const PdfValue& b) {
    return a.isRef() && b.isRef() && a.getRefNum() == b.getRefNum() && a.getRefGen() == b.getRefGen();
}

}  // namespace

uint32_t pdfDocEncodingToUnicode(unsigned char byte) {
    if (byte >= 0x18 && byte <= 0x1f)
        return kDocEncodingAccents[byte - 0x18];
    if (byte >= 0x80 && byte <= 0xa0)
        return kDocEncodingHigh[byte - 0x80];
    return byte;
}

// ---- Outline --------------------------------------------------------------

Outline::Outline(const PdfValue& outlines, XrefTable* xref) {
    if (!outlines.isDict())
        return;
    PdfValue first, last;
    outlines.dictLookupRaw("First", first);
    outlines.dictLookupRaw("Last", last);
    m_items = OutlineItem::readItemList(first, last, xref, 0);
}

Outline::~Outline() {
    OutlineItem::deleteItemList(m_items);
}

// ---- OutlineItem ----------------------------------------------------------

OutlineItem::OutlineItem(const PdfValue& dict, XrefTable* xref, int level) : m_xref(xref), m_level(level) {
    PdfValue title;
    dict.dictLookup("Title", title);
    if (title.isString()) {
        const DynString* s = title.getString();
        const auto* bytes = reinterpret_cast<const unsigned char*>(s->getCString());
        const int n = s->getLength();
        if (n >= 2 && bytes[0] == 0xfe && bytes[1] == 0xff) {
            // UTF-16BE, one value per unit; an odd last byte is dropped.
            for (int i = 2; i + 1 < n; i += 2)
                m_title.push_back(uint32_t(bytes[i]) << 8 | bytes[i + 1]);
        } else {
            for (int i = 0; i < n; ++i)
                m_title.push_back(pdfDocEncodingToUnicode(bytes[i]));
        }
    }

    PdfValue dest;
    dict.dictLookup("Dest", dest);
    if (dest.isNull()) {
        PdfValue action;
        dict.dictLookup("A", action);
        if (action.isDict())
            m_action = LinkAction::create(action, nullptr);
    } else {
        m_action = LinkAction::createFromDest(dest);
    }

    dict.dictLookupRaw("First", m_firstRef);
    dict.dictLookupRaw("Last", m_lastRef);
    dict.dictLookupRaw("Next", m_nextRef);
    PdfValue count;
    dict.dictLookup("Count", count);
    m_startsOpen = count.isInt() && count.getInt() > 0;
}

OutlineItem::~OutlineItem() {
    close();
}

void OutlineItem::open() {
    if (m_kids || !m_firstRef.isRef())
        return;
    if (m_level + 1 >= kMaxOutlineDepth) {
        reportError(-1, "Outline deeper than %d levels; children not read", kMaxOutlineDepth);
        return;
    }
    m_kids = readItemList(m_firstRef, m_lastRef, m_xref, m_level + 1);
}

void OutlineItem::close() {
    deleteItemList(m_kids);
    m_kids = nullptr;
}

PtrList<OutlineItem>* OutlineItem::readItemList(const PdfValue& first, const PdfValue& last, XrefTable* xref,
                                                int level) {
    struct ListDeleter {
        void operator()(PtrList<OutlineItem>* list) const { deleteItemList(list); }
    };
    std::unique_ptr<PtrList<OutlineItem>, ListDeleter> items(new PtrList<OutlineItem>());
    // The references read so far: a Next chain that comes back to one of
    // them is a loop and ends there.
    std::set<std::pair<int, int>> seen;
    PdfValue current;
    first.copy(current);
    while (current.isRef()) {
        if (!seen.insert({current.getRefNum(), current.getRefGen()}).second) {
            reportError(-1, "Loop in the outline at object %d %d", current.getRefNum(), current.getRefGen());
            break;
        }
        PdfValue dict;
        current.fetch(xref, dict);
        if (!dict.isDict())
            break;
        auto item = std::make_unique<OutlineItem>(dict, xref, level);
        OutlineItem* added = item.get();
        items->append(added);
        item.release();
        if (sameRef(current, last))
            break;
        added->m_nextRef.copy(current);
    }
    return items.release();
}

void OutlineItem::deleteItemList(PtrList<OutlineItem>* items) {
    if (!items)
        return;
    for (int i = 0; i < items->getLength(); ++i)
        delete items->get(i);
    delete items;
}

}  // namespace rendova
