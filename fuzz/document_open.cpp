// A whole document opened from bytes: header, cross-reference table (with
// repair), security handler, catalog and page tree, outline; then a walk over
// the pages (boxes, the drawing box, contents and annotations fetched and
// read) and over the outline with its actions.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/core/DataStream.h"
#include "engine/core/DocumentCatalog.h"
#include "engine/core/DynString.h"
#include "engine/core/LinkAction.h"
#include "engine/core/Memory.h"
#include "engine/core/Outline.h"
#include "engine/core/Page.h"
#include "engine/core/PdfDocument.h"
#include "engine/core/XrefTable.h"

using namespace rendova;

namespace {

// Bounds that keep one input fast.
constexpr int kMaxPages = 200;
constexpr int kMaxStreamBytes = 1 << 16;
constexpr int kMaxOutlineItems = 2000;

void readStream(const PdfValue& value, XrefTable* xref) {
    PdfValue stream;
    value.fetch(xref, stream);
    if (!stream.isStream())
        return;
    DataStream* s = stream.getStream();
    s->reset();
    for (int i = 0; i < kMaxStreamBytes && s->getChar() != -1; ++i) {
    }
    s->close();
}

void walkOutline(const PtrList<OutlineItem>* items, PdfDocument& doc, int* budget) {
    if (!items)
        return;
    for (int i = 0; i < items->getLength() && *budget > 0; ++i, --*budget) {
        OutlineItem* item = items->get(i);
        if (const auto* goTo = dynamic_cast<const LinkGoTo*>(item->getAction()))
            if (const LinkDestination* dest = goTo->getDest())
                if (dest->isPageRef())
                    doc.getCatalog()->findPage(dest->getPageRefNum(), dest->getPageRefGen());
        item->open();
        walkOutline(item->getKids(), doc, budget);
        item->close();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The document opens files by name: the bytes go to an in-memory file.
    const int fd = memfd_create("document", 0);
    if (fd < 0)
        return 0;
    if (size > 0 && write(fd, data, size) != ssize_t(size)) {
        close(fd);
        return 0;
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    try {
        DynString password("user");
        PdfDocument doc(std::make_unique<DynString>(path.c_str()), &password, &password);
        if (doc.isOk()) {
            for (int n = 1; n <= doc.getPageCount() && n <= kMaxPages; ++n) {
                Page* page = doc.getPage(n);
                PageBox box;
                bool crop = true;
                page->computeDrawingBox(150, 150, page->getRotate(), false, true, 10, 10, 100, 100, &box,
                                        &crop);
                readStream(page->getContents(), doc.getXref());
                PdfValue annots;
                page->getAnnots().fetch(doc.getXref(), annots);
                if (annots.isArray())
                    for (int i = 0; i < annots.getArray()->getLength() && i < 50; ++i) {
                        PdfValue annot, action;
                        annots.getArray()->get(i, annot);
                        annot.dictLookup("A", action);
                        LinkAction::create(action, doc.getCatalog()->getBaseUri());
                    }
            }
            int budget = kMaxOutlineItems;
            walkOutline(doc.getOutline()->getItems(), doc, &budget);
        }
    } catch (const MemoryException&) {
        // Memory exhaustion is the one failure that may end the open.
    }
    close(fd);
    return 0;
}
