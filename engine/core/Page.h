#pragma once

#include <memory>

#include "engine/core/PdfValue.h"

namespace rendova {

class DocumentCatalog;
class OutputDevice;
class XrefTable;

// A rectangle of default user space, in points: x1 <= x2 and y1 <= y2 once
// read from a document.
struct PageBox {
    double x1 = 0;
    double y1 = 0;
    double x2 = 0;
    double y2 = 0;
};

// Polled while a page is drawn: true asks to stop.
using AbortCheck = bool (*)(void* data);

// The attributes a page inherits from the nodes of the page tree: the media
// and crop boxes, the rotation and the resources come from the nearest node
// that gives them; the bleed, trim and art boxes default to the node's own
// crop box. All boxes but the media box are clipped to the media box.
// Owns its copy of the resources value. One thread at a time; throws
// MemoryException only.
class PageAttributes {
public:
    // parent may be null (the root of the tree); node is the node's
    // dictionary (any other kind changes nothing).
    PageAttributes(const PageAttributes* parent, const PdfValue& node);
    ~PageAttributes() = default;
    PageAttributes(const PageAttributes&) = delete;
    PageAttributes& operator=(const PageAttributes&) = delete;

    const PageBox& getMediaBox() const { return m_mediaBox; }
    const PageBox& getCropBox() const { return m_cropBox; }
    bool isCropped() const { return m_haveCropBox; }
    const PageBox& getBleedBox() const { return m_bleedBox; }
    const PageBox& getTrimBox() const { return m_trimBox; }
    const PageBox& getArtBox() const { return m_artBox; }
    // 0-359.
    int getRotate() const { return m_rotate; }
    // The resources dictionary, or null.
    PdfDict* getResourceDict() const { return m_resources.isDict() ? m_resources.getDict() : nullptr; }
    const PdfValue& getResources() const { return m_resources; }

private:
    // The node's box entry when it is an array of four numbers (corners
    // put in order); false leaves box unchanged.
    static bool readBox(const PdfValue& node, const char* key, PageBox* box);
    void clipToMediaBox(PageBox* box) const;

    PageBox m_mediaBox;
    PageBox m_cropBox;
    bool m_haveCropBox = false;
    PageBox m_bleedBox;
    PageBox m_trimBox;
    PageBox m_artBox;
    int m_rotate = 0;
    PdfValue m_resources;
};

// One leaf of the page tree: its number, attributes and the raw Annots and
// Contents entries. A page whose Annots or Contents is of a kind the format
// does not allow is not ok, which fails the whole catalog.
//
// Ownership: the catalog owns its pages; a page owns its attributes and keeps
// a plain pointer to the document's table. One thread at a time; throws
// MemoryException only.
class Page {
public:
    // Takes over attrs.
    Page(XrefTable* xref, int number, const PdfValue& pageDict, std::unique_ptr<PageAttributes> attrs);
    ~Page();
    Page(const Page&) = delete;
    Page& operator=(const Page&) = delete;

    bool isOk() const { return m_ok; }
    int getNumber() const { return m_number; }
    const PageAttributes* getAttrs() const { return m_attrs.get(); }
    const PageBox& getMediaBox() const { return m_attrs->getMediaBox(); }
    const PageBox& getCropBox() const { return m_attrs->getCropBox(); }
    bool isCropped() const { return m_attrs->isCropped(); }
    const PageBox& getBleedBox() const { return m_attrs->getBleedBox(); }
    const PageBox& getTrimBox() const { return m_attrs->getTrimBox(); }
    const PageBox& getArtBox() const { return m_attrs->getArtBox(); }
    int getRotate() const { return m_attrs->getRotate(); }
    PdfDict* getResourceDict() const { return m_attrs->getResourceDict(); }
    // The raw entries: null, an array or a reference.
    const PdfValue& getAnnots() const { return m_annots; }
    const PdfValue& getContents() const { return m_contents; }

    // The box of default user space that a device of the given resolutions
    // (dots per inch) shows for a total rotation (degrees: 0, 90, 180, 270;
    // any other value counts as 0) and, when sliceW >= 0 and sliceH >= 0, a
    // slice of the device's pixels; without a slice the whole media box or
    // crop box. Without a slice showing the crop box, *crop is cleared: the
    // box itself is the crop then.
    void computeDrawingBox(double hDpi, double vDpi, int rotate, bool useMediaBox, bool yAxisDown, int sliceX,
                           int sliceY, int sliceW, int sliceH, PageBox* box, bool* crop) const;

    // Draws the page on a device: its contents through the content
    // interpreter, then its annotations. rotate is added to the page's own
    // rotation. False when the page's content is lost, wholly or in part: an
    // object of its Contents entry that cannot be found, or one that is not
    // content (each is reported); what was found is drawn all the same.
    // These run the content interpreter and so are defined with it in the
    // content layer (engine/content), which this layer never includes.
    bool display(OutputDevice* device, double hDpi, double vDpi, int rotate, bool useMediaBox, bool crop,
                 bool printing, DocumentCatalog* catalog, AbortCheck abortCheck, void* abortData);
    // The same for a slice of the device's pixels (a negative width or height
    // is the whole page).
    bool displaySlice(OutputDevice* device, double hDpi, double vDpi, int rotate, bool useMediaBox, bool crop,
                      int sliceX, int sliceY, int sliceW, int sliceH, bool printing, DocumentCatalog* catalog,
                      AbortCheck abortCheck, void* abortData);

private:
    XrefTable* m_xref;
    int m_number;
    std::unique_ptr<PageAttributes> m_attrs;
    PdfValue m_annots;
    PdfValue m_contents;
    bool m_ok = true;
};

}  // namespace rendova
