#include "engine/raster/PdfRenderer.h"

#include "engine/core/DocumentCatalog.h"
#include "engine/core/DynString.h"
#include "engine/core/GlobalSettings.h"
#include "engine/core/Page.h"
#include "engine/core/PdfDocument.h"
#include "engine/raster/RasterBitmap.h"
#include "engine/raster/RasterOutputDevice.h"

namespace rendova {

namespace {

// Facades constructed and not yet destroyed: the first creates the settings
// object, the last deletes it. Plain shared state, as the class comment says.
int liveFacades = 0;

// The page bitmap's format: 24-bit rows in the order a BMP file keeps them
// (blue, green, red; bottom-up), no padding beyond the BMP's own, on white
// paper, anti-aliased.
constexpr int kColourMode = rasterBGR8;
constexpr int kRowPadding = 1;
constexpr uint8_t kPaperWhite[3] = {255, 255, 255};

// Whether the bitmap of the page drawn at these resolutions fits the engine's
// sizes. The size is the one the device makes for the page: the crop box
// (the drawing box of a whole page) scaled, turned by the page's rotation,
// and rounded as pixelCountFromSize rounds.
bool bitmapFits(const Page& page, double hDpi, double vDpi) {
    const PageBox& box = page.getCropBox();
    double width = hDpi / 72.0 * (box.x2 - box.x1);
    double height = vDpi / 72.0 * (box.y2 - box.y1);
    if (page.getRotate() == 90 || page.getRotate() == 270) {
        width = hDpi / 72.0 * (box.y2 - box.y1);
        height = vDpi / 72.0 * (box.x2 - box.x1);
    }
    return RasterBitmap::fits(pixelCountFromSize(width), pixelCountFromSize(height), kRowPadding, kColourMode,
                              kColourMode != rasterMono1);
}

}  // namespace

PdfRenderer::PdfRenderer() {
    if (liveFacades == 0) {
        // An empty name reads the default configuration file.
        globalSettings = new GlobalSettings("");
        globalSettings->locateStandardFonts(nullptr);
    }
    ++liveFacades;
}

PdfRenderer::~PdfRenderer() {
    closeDocument();
    if (liveFacades > 0)
        --liveFacades;
    if (liveFacades <= 0) {
        delete globalSettings;
        globalSettings = nullptr;
    }
}

int PdfRenderer::liveCount() {
    return liveFacades;
}

int PdfRenderer::openDocument(const char* fileName, const char* ownerPassword, const char* userPassword) {
    if (!fileName)
        return kOpenFailed;
    std::unique_ptr<DynString> owner, user;
    if (ownerPassword)
        owner = std::make_unique<DynString>(ownerPassword);
    if (userPassword)
        user = std::make_unique<DynString>(userPassword);
    auto document =
        std::make_unique<PdfDocument>(std::make_unique<DynString>(fileName), owner.get(), user.get());
    owner.reset();
    user.reset();
    if (!document->isOk())
        return document->getErrorCode() == PdfDocument::kErrorEncrypted ? kPasswordRefused : kOpenFailed;

    auto device =
        std::make_unique<RasterOutputDevice>(kColourMode, kRowPadding, false, kPaperWhite, false, true);
    device->startDocument(document->getXref());
    // A facade opened twice lets the earlier document go first.
    closeDocument();
    m_document = std::move(document);
    m_device = std::move(device);
    return kOpened;
}

int PdfRenderer::closeDocument() {
    m_document.reset();
    m_device.reset();
    return 1;
}

int PdfRenderer::setOption(int kind, int a, int b) {
    if (!m_document)
        return 0;
    switch (kind) {
        case kOptionZoom:
            if (a <= 0)
                return 0;
            m_zoom = a;
            m_xScale = 0.01 * a * (m_xResolution / 72.0);
            m_yScale = 0.01 * a * (m_yResolution / 72.0);
            return 1;
        case kOptionResolution:
            if (a <= 0 || b <= 0)
                return 0;
            m_xResolution = a;
            m_yResolution = b;
            m_xScale = 0.01 * m_zoom * (a / 72.0);
            m_yScale = 0.01 * m_zoom * (b / 72.0);
            return 1;
        case kOptionRenderMode:
            if (a < 1 || a > 3)
                return 0;
            m_renderMode = a;
            return 1;
        default:
            return 0;
    }
}

int PdfRenderer::renderPage(int n) {
    if (!m_document || n < 1 || n > m_document->getPageCount())
        return 0;
    double horizontal = 72.0, vertical = 72.0;
    if (m_renderMode == 2) {
        if (m_zoom == 100) {
            horizontal = m_xResolution;
            vertical = m_yResolution;
        } else {
            horizontal = m_xScale * 72;
            vertical = m_yScale * 72;
        }
    }
    const Page* page = m_document->getPage(n);
    const PageBox& crop = page->getCropBox();
    if (crop.x2 - crop.x1 == 0 || crop.y2 - crop.y1 == 0)
        return 0;
    if (!bitmapFits(*page, horizontal, vertical))
        return kPageTooLarge;
    m_lastPageWhole = m_document->displayPage(m_device.get(), n, horizontal, vertical, 0, false, true, true);
    if (m_renderMode == 2) {
        m_bitmapWidth = m_device->getBitmap()->width();
        m_bitmapHeight = m_device->getBitmap()->height();
    }
    return 1;
}

uint8_t* PdfRenderer::getBitmap(int& size) const {
    if (!m_device) {
        size = 0;
        return nullptr;
    }
    const RasterBitmap* bitmap = m_device->getBitmap();
    size = bitmap->blockSize();
    return bitmap->block();
}

int PdfRenderer::getPageCount() const {
    return m_document ? m_document->getPageCount() : 0;
}

}  // namespace rendova
