// Page::display, Page::displaySlice and PdfDocument::displayPage. Page and
// PdfDocument belong to the document layer, which never includes this one;
// drawing a page runs the content interpreter, so these members are defined
// here, with the interpreter. Whoever draws pages links this layer.
#include <cstdio>

#include "engine/content/Annotation.h"
#include "engine/content/ContentInterpreter.h"
#include "engine/content/OutputDevice.h"
#include "engine/core/DocumentCatalog.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/GlobalSettings.h"
#include "engine/core/Page.h"
#include "engine/core/PdfDocument.h"

namespace rendova {

namespace {

// Whether one object the Contents entry names was found as content: raw is
// the entry (or its array's element) as written, value what it resolves to.
// Reports what is lost, with the page number, since the interpreter that
// meets the gap later knows no page.
bool contentFound(int page, const PdfValue& raw, const PdfValue& value, int element) {
    if (value.isStream() || (element < 0 && value.isArray()))
        return true;
    char which[32] = "";
    if (element >= 0)
        std::snprintf(which, sizeof which, " (element %d)", element);
    if (value.isNull() && raw.isRef()) {
        reportError(-1, "Page %d: its content object %d %d%s cannot be found; the page is drawn without it",
                    page, raw.getRefNum(), raw.getRefGen(), which);
    } else {
        reportError(-1, "Page %d: its content%s is a %s, not a stream; the page is drawn without it", page,
                    which, value.typeName());
    }
    return false;
}

// Whether the page's content is all there: each object of the Contents
// entry found and a stream. A page without a Contents entry has nothing to
// lose.
bool contentWhole(int page, XrefTable* xref, const PdfValue& raw, const PdfValue& contents) {
    if (raw.isNull())
        return true;
    if (!contentFound(page, raw, contents, -1))
        return false;
    if (!contents.isArray())
        return true;
    bool whole = true;
    const PdfArray* array = contents.getArray();
    for (int i = 0; i < array->getLength(); ++i) {
        PdfValue element, rawElement;
        array->getRaw(i, rawElement);
        rawElement.fetch(xref, element);
        whole = contentFound(page, rawElement, element, i) && whole;
    }
    return whole;
}

}  // namespace

bool Page::display(OutputDevice* device, double hDpi, double vDpi, int rotate, bool useMediaBox, bool crop,
                   bool printing, DocumentCatalog* catalog, AbortCheck abortCheck, void* abortData) {
    return displaySlice(device, hDpi, vDpi, rotate, useMediaBox, crop, -1, -1, -1, -1, printing, catalog,
                        abortCheck, abortData);
}

bool Page::displaySlice(OutputDevice* device, double hDpi, double vDpi, int rotate, bool useMediaBox,
                        bool crop, int sliceX, int sliceY, int sliceW, int sliceH, bool printing,
                        DocumentCatalog* catalog, AbortCheck abortCheck, void* abortData) {
    if (!device->approvePageArea(this, hDpi, vDpi, rotate, useMediaBox, crop, sliceX, sliceY, sliceW, sliceH,
                                 printing, catalog, abortCheck, abortData))
        return true;

    // The page's own rotation is 0-359; one correction brings a requested
    // rotation of -359 .. 359 into range as well.
    rotate += getRotate();
    if (rotate >= 360) {
        rotate -= 360;
    } else if (rotate < 0) {
        rotate += 360;
    }

    PageBox box;
    computeDrawingBox(hDpi, vDpi, rotate, useMediaBox, device->yAxisPointsDown(), sliceX, sliceY, sliceW,
                      sliceH, &box, &crop);

    if (globalSettings && globalSettings->getVerbose()) {
        const PageBox& media = getMediaBox();
        const PageBox& cropBox = getCropBox();
        std::printf("media box: %8.2f %8.2f %8.2f %8.2f\n", media.x1, media.y1, media.x2, media.y2);
        std::printf("crop box:  %8.2f %8.2f %8.2f %8.2f\n", cropBox.x1, cropBox.y1, cropBox.x2, cropBox.y2);
        std::printf("rotate:    %d\n", getRotate());
        std::fflush(stdout);
    }

    ContentInterpreter interpreter(m_xref, device, m_number, getResourceDict(), hDpi, vDpi, box,
                                   crop ? &getCropBox() : nullptr, rotate, abortCheck, abortData);
    PdfValue contents;
    m_contents.fetch(m_xref, contents);
    const bool whole = contentWhole(m_number, m_xref, m_contents, contents);
    if (!contents.isNull()) {
        interpreter.saveState();
        interpreter.display(contents, true);
        interpreter.restoreState();
    }

    PdfValue annots;
    m_annots.fetch(m_xref, annots);
    AnnotationList annotations(m_xref, annots);
    PdfDict* form = catalog && catalog->getAcroForm().isDict() ? catalog->getAcroForm().getDict() : nullptr;
    annotations.generateAppearances(form, AnnotationList::formAsksForAppearances(form));
    if (annotations.getCount() > 0) {
        if (globalSettings && globalSettings->getVerbose()) {
            std::printf("annotations: %d\n", annotations.getCount());
            std::fflush(stdout);
        }
        for (int i = 0; i < annotations.getCount(); ++i)
            annotations.get(i)->draw(&interpreter, printing);
        device->flush();
    }
    return whole;
}

bool PdfDocument::displayPage(OutputDevice* device, int page, double hDpi, double vDpi, int rotate,
                              bool useMediaBox, bool crop, bool printing, AbortCheck abortCheck,
                              void* abortData) {
    if (!m_catalog || page < 1 || page > m_catalog->getPageCount())
        return true;
    if (globalSettings && globalSettings->getVerbose()) {
        std::printf("***** page %d *****\n", page);
        std::fflush(stdout);
    }
    return m_catalog->getPage(page)->display(device, hDpi, vDpi, rotate, useMediaBox, crop, printing,
                                             m_catalog.get(), abortCheck, abortData);
}

}  // namespace rendova
