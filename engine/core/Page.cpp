#include "engine/core/Page.h"

#include <algorithm>
#include <utility>

#include "engine/core/ErrorReport.h"

namespace rendova {

namespace {

// A page without any box is US Letter.
constexpr PageBox kDefaultMediaBox = {0, 0, 612, 792};

}  // namespace

// ---- PageAttributes -------------------------------------------------------

PageAttributes::PageAttributes(const PageAttributes* parent, const PdfValue& node) {
    if (parent) {
        m_mediaBox = parent->m_mediaBox;
        m_cropBox = parent->m_cropBox;
        m_haveCropBox = parent->m_haveCropBox;
        m_rotate = parent->m_rotate;
        parent->m_resources.copy(m_resources);
    } else {
        m_mediaBox = kDefaultMediaBox;
        m_resources.initNull();
    }

    readBox(node, "MediaBox", &m_mediaBox);
    if (readBox(node, "CropBox", &m_cropBox))
        m_haveCropBox = true;
    if (!m_haveCropBox)
        m_cropBox = m_mediaBox;

    // Not inherited: each defaults to this node's crop box.
    m_bleedBox = m_cropBox;
    m_trimBox = m_cropBox;
    m_artBox = m_cropBox;
    readBox(node, "BleedBox", &m_bleedBox);
    readBox(node, "TrimBox", &m_trimBox);
    readBox(node, "ArtBox", &m_artBox);

    clipToMediaBox(&m_cropBox);
    clipToMediaBox(&m_bleedBox);
    clipToMediaBox(&m_trimBox);
    clipToMediaBox(&m_artBox);

    PdfValue rotate;
    node.dictLookup("Rotate", rotate);
    if (rotate.isInt()) {
        // Into 0-359; the remainder keeps this free of a loop whose length
        // the file decides.
        m_rotate = rotate.getInt() % 360;
        if (m_rotate < 0)
            m_rotate += 360;
    }

    PdfValue resources;
    node.dictLookup("Resources", resources);
    if (resources.isDict())
        m_resources = std::move(resources);
}

bool PageAttributes::readBox(const PdfValue& node, const char* key, PageBox* box) {
    PdfValue array;
    node.dictLookup(key, array);
    if (!array.isArray() || array.getArray()->getLength() != 4)
        return false;
    double corners[4];
    for (int i = 0; i < 4; ++i) {
        PdfValue corner;
        array.getArray()->get(i, corner);
        if (!corner.isNum())
            return false;
        corners[i] = corner.getNum();
    }
    box->x1 = std::min(corners[0], corners[2]);
    box->x2 = std::max(corners[0], corners[2]);
    box->y1 = std::min(corners[1], corners[3]);
    box->y2 = std::max(corners[1], corners[3]);
    return true;
}

void PageAttributes::clipToMediaBox(PageBox* box) const {
    box->x1 = std::clamp(box->x1, m_mediaBox.x1, m_mediaBox.x2);
    box->x2 = std::clamp(box->x2, m_mediaBox.x1, m_mediaBox.x2);
    box->y1 = std::clamp(box->y1, m_mediaBox.y1, m_mediaBox.y2);
    box->y2 = std::clamp(box->y2, m_mediaBox.y1, m_mediaBox.y2);
}

// ---- Page -----------------------------------------------------------------

Page::Page(XrefTable* xref, int number, const PdfValue& pageDict, std::unique_ptr<PageAttributes> attrs)
    : m_xref(xref), m_number(number), m_attrs(std::move(attrs)) {
    pageDict.dictLookupRaw("Annots", m_annots);
    if (!m_annots.isNull() && !m_annots.isArray() && !m_annots.isRef()) {
        reportError(-1, "Page %d: the annotations entry is a %s, not an array", m_number,
                    m_annots.typeName());
        m_annots.initNull();
        m_contents.initNull();
        m_ok = false;
        return;
    }
    pageDict.dictLookupRaw("Contents", m_contents);
    if (!m_contents.isNull() && !m_contents.isArray() && !m_contents.isRef()) {
        reportError(-1, "Page %d: the contents entry is a %s, not a stream or an array", m_number,
                    m_contents.typeName());
        m_contents.initNull();
        m_ok = false;
    }
}

Page::~Page() = default;

void Page::computeDrawingBox(double hDpi, double vDpi, int rotate, bool useMediaBox, bool yAxisDown,
                             int sliceX, int sliceY, int sliceW, int sliceH, PageBox* box, bool* crop) const {
    const PageBox& base = useMediaBox ? getMediaBox() : getCropBox();
    if (sliceW < 0 || sliceH < 0) {
        *box = base;
        if (!useMediaBox)
            *crop = false;
        return;
    }
    // The slice in points, measured from the corner of the box that the
    // device shows at its top left (or bottom left for a y-up device).
    const double kx = 72.0 / hDpi;
    const double ky = 72.0 / vDpi;
    const double sx1 = kx * sliceX;
    const double sx2 = kx * (double(sliceX) + sliceW);
    const double sy1 = ky * sliceY;
    const double sy2 = ky * (double(sliceY) + sliceH);
    switch (rotate) {
        case 90:
            box->x1 = yAxisDown ? base.x1 + sy1 : base.x2 - sy2;
            box->x2 = yAxisDown ? base.x1 + sy2 : base.x2 - sy1;
            box->y1 = base.y1 + sx1;
            box->y2 = base.y1 + sx2;
            break;
        case 180:
            box->x1 = base.x2 - sx2;
            box->x2 = base.x2 - sx1;
            box->y1 = yAxisDown ? base.y1 + sy1 : base.y2 - sy2;
            box->y2 = yAxisDown ? base.y1 + sy2 : base.y2 - sy1;
            break;
        case 270:
            box->x1 = yAxisDown ? base.x2 - sy2 : base.x1 + sy1;
            box->x2 = yAxisDown ? base.x2 - sy1 : base.x1 + sy2;
            box->y1 = base.y2 - sx2;
            box->y2 = base.y2 - sx1;
            break;
        default:
            box->x1 = base.x1 + sx1;
            box->x2 = base.x1 + sx2;
            box->y1 = yAxisDown ? base.y2 - sy2 : base.y1 + sy1;
            box->y2 = yAxisDown ? base.y2 - sy1 : base.y1 + sy2;
            break;
    }
}

}  // namespace rendova
