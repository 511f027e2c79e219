#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/core/PdfValue.h"
#include "engine/core/PtrList.h"

namespace rendova {

class LinkAction;
class OutlineItem;
class XrefTable;

// The document outline (bookmarks): the top-level items, read when the
// document opens. Owns its items. One thread at a time; throws
// MemoryException only.
class Outline {
public:
    // outlines is the catalog's Outlines value (resolved); anything but a
    // dictionary gives no items.
    Outline(const PdfValue& outlines, XrefTable* xref);
    ~Outline();
    Outline(const Outline&) = delete;
    Outline& operator=(const Outline&) = delete;

    // The top-level items, or null when the document has no outline.
    const PtrList<OutlineItem>* getItems() const { return m_items; }

private:
    PtrList<OutlineItem>* m_items = nullptr;
};

// One outline item: its title in Unicode, its action, and its children, read
// on demand by open(). Owns its action and its children; keeps a plain
// pointer to the document's table. One thread at a time; throws
// MemoryException only.
class OutlineItem {
public:
    // Items nest at most this deep: an item whose First leads back to an
    // ancestor would otherwise open without end.
    static constexpr int kMaxOutlineDepth = 64;

    // level is 0 for a top-level item.
    OutlineItem(const PdfValue& dict, XrefTable* xref, int level);
    ~OutlineItem();
    OutlineItem(const OutlineItem&) = delete;
    OutlineItem& operator=(const OutlineItem&) = delete;

    // Reads the children (once); beyond the depth limit it reports and
    // reads none.
    void open();
    // Deletes the children.
    void close();

    // The items of a First ... Last chain, following Next (a new list, empty
    // when first is not a reference). The chain ends at Last, at the first value that is
    // not a reference to a dictionary, and at a reference met twice.
    static PtrList<OutlineItem>* readItemList(const PdfValue& first, const PdfValue& last, XrefTable* xref,
                                              int level);
    static void deleteItemList(PtrList<OutlineItem>* items);

    const uint32_t* getTitle() const { return m_title.data(); }
    int getTitleLength() const { return int(m_title.size()); }
    // The action, or null.
    const LinkAction* getAction() const { return m_action.get(); }
    // Count was a positive integer: the item is shown open.
    bool startsOpen() const { return m_startsOpen; }
    bool hasKids() const { return m_firstRef.isRef(); }
    // The children after open(), else null.
    const PtrList<OutlineItem>* getKids() const { return m_kids; }
    int getLevel() const { return m_level; }

private:
    XrefTable* m_xref;
    std::vector<uint32_t> m_title;
    std::unique_ptr<LinkAction> m_action;
    PdfValue m_firstRef;
    PdfValue m_lastRef;
    PdfValue m_nextRef;
    bool m_startsOpen = false;
    PtrList<OutlineItem>* m_kids = nullptr;
    int m_level;
};

// The Unicode value of a byte of the format's document encoding (the
// encoding of text strings without a byte-order mark).
uint32_t pdfDocEncodingToUnicode(unsigned char byte);

}  // namespace rendova
