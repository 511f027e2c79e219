#pragma once

// Pages for the raster output device's image and transparency tests: one
// 100 x 100 point page with the given content, resources and extra stream
// objects, drawn at 72 dpi (one pixel a point) through the document's page
// display, as the renderer facade does.
#include <memory>
#include <string>
#include <vector>

#include "engine/core/PdfDocument.h"
#include "engine/raster/RasterBitmap.h"
#include "engine/raster/RasterOutputDevice.h"
#include "tests/engine/core/DocumentTestHelpers.h"
#include "tests/engine/raster/RasteriserTestSupport.h"
#include "tests/support/PdfBuilder.h"

namespace rendova::test {

// An object of the page's document: a stream of the dictionary and data, or
// with plain set, the dictionary alone.
struct StreamObject {
    int num;
    std::string dict;
    std::string data;
    bool plain = false;
};

inline std::string devicePagePdf(const std::string& content, const std::string& resources,
                                 const std::vector<StreamObject>& streams) {
    PdfBuilder pdf;
    pdf.object(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
        .object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] /Resources " + resources +
                       " /Contents 4 0 R >>")
        .stream(4, "<< >>", content);
    for (const StreamObject& s : streams) {
        if (s.plain)
            pdf.object(s.num, s.dict);
        else
            pdf.stream(s.num, s.dict, s.data);
    }
    pdf.xrefTable();
    return pdf.bytes();
}

class DevicePage {
public:
    // Draws the page on a new device of the colour mode; the bitmap stays
    // valid until the next draw.
    const RasterBitmap& draw(const std::string& content, const std::string& resources = "<< >>",
                             const std::vector<StreamObject>& streams = {}, int mode = rasterRGB8) {
        static const uint8_t kWhite[3] = {255, 255, 255};
        m_device = std::make_unique<RasterOutputDevice>(mode, 4, false, kWhite, true, true);
        m_doc = openBytes(devicePagePdf(content, resources, streams));
        m_device->startDocument(m_doc->getXref());
        m_doc->displayPage(m_device.get(), 1, 72, 72, 0, false, true, true);
        return *m_device->getBitmap();
    }
    RasterOutputDevice& device() { return *m_device; }

private:
    std::unique_ptr<PdfDocument> m_doc;
    std::unique_ptr<RasterOutputDevice> m_device;
};

// The colour at a point of page space (y up; pixel rows run down).
inline std::vector<int> at(const RasterBitmap& bitmap, int x, int y) {
    return pixel(bitmap, x, bitmap.height() - 1 - y);
}

// A form XObject that is a transparency group, with its box and further group
// entries.
inline StreamObject groupForm(int num, const std::string& box, const std::string& group,
                              const std::string& data, const std::string& resources = "<< >>") {
    return {num,
            "<< /Type /XObject /Subtype /Form /BBox [" + box + "] /Group << /S /Transparency " + group +
                " >> /Resources " + resources + " >>",
            data};
}

}  // namespace rendova::test
