#include "engine/raster/PdfRenderer.h"

#include <cstring>

#include "engine/core/DynString.h"
#include "engine/core/GlobalSettings.h"
#include "engine/core/Page.h"
#include "engine/core/PdfDocument.h"
#include "engine/core/SaturatingCast.h"
#include "engine/raster/RasterBitmap.h"
#include "engine/raster/RasterTypes.h"

namespace rendova {

int PdfRenderer::s_liveCount = 0;

namespace {

// The page bitmap's format as the conversion job reads it: 24-bit rows in
// blue, green, red order, bottom-up. No padding is asked for beyond the
// 4-byte rows that every 24-bit bitmap keeps, so the block is a BMP image as
// it stands.
constexpr int kRowPad = 1;
constexpr uint8_t kPaperWhite = 0xFF;

}  // namespace

PdfRenderer::PdfRenderer() {
    if (s_liveCount == 0) {
        // An empty name makes the settings read the default configuration file.
        globalSettings = new GlobalSettings("");
        globalSettings->locateStandardFonts(nullptr);
    }
    ++s_liveCount;
}

PdfRenderer::~PdfRenderer() {
    closeDocument();
    if (s_liveCount > 0)
        --s_liveCount;
    if (s_liveCount <= 0) {
        delete globalSettings;
        globalSettings = nullptr;
    }
}

int PdfRenderer::openDocument(const char* fileName, const char* ownerPassword, const char* userPassword) {
    if (fileName == nullptr)
        return kOpenFailed;
    std::unique_ptr<DynString> owner;
    std::unique_ptr<DynString> user;
    if (ownerPassword != nullptr)
        owner = std::make_unique<DynString>(ownerPassword);
    if (userPassword != nullptr)
        user = std::make_unique<DynString>(userPassword);
    auto document =
        std::make_unique<PdfDocument>(std::make_unique<DynString>(fileName), owner.get(), user.get());
    if (!document->isOk())
        return document->getErrorCode() == PdfDocument::kErrorEncrypted ? kPasswordRefused : kOpenFailed;

    // The raster device starts with a 1 x 1 page bitmap until a page is drawn.
    auto bitmap = std::make_unique<RasterBitmap>(1, 1, kRowPad, rasterBGR8, 0, 0);
    std::memset(bitmap->block() + RasterBitmap::kHeaderSize, kPaperWhite,
                size_t(bitmap->blockSize() - RasterBitmap::kHeaderSize));
    m_document = std::move(document);
    m_pageBitmap = std::move(bitmap);
    return kOpened;
}

int PdfRenderer::closeDocument() {
    m_document.reset();
    m_pageBitmap.reset();
    return 1;
}

void PdfRenderer::recomputeScales() {
    m_xScale = m_zoom * 0.01 * m_xResolution * (1.0 / 72);
    m_yScale = m_zoom * 0.01 * m_yResolution * (1.0 / 72);
}

int PdfRenderer::setOption(int kind, int a, int b) {
    if (!isOpen())
        return 0;
    switch (kind) {
        case kOptionZoom:
            if (a <= 0)
                return 0;
            m_zoom = a;
            recomputeScales();
            return 1;
        case kOptionResolution:
            if (a <= 0 || b <= 0)
                return 0;
            m_xResolution = a;
            m_yResolution = b;
            recomputeScales();
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

// STAND-IN until the raster output device lands: this body sizes the page
// bitmap exactly as the device will (the crop box turned by the page's
// rotation, at the render resolution, rounded to whole pixels) and fills it
// with the paper colour, but draws none of the page's content. With the
// device, the part marked below becomes PdfDocument::displayPage(device, n,
// horizontal, vertical, 0, false, true, true) and the bitmap is the
// device's; nothing else here changes.
int PdfRenderer::renderPage(int n) {
    if (!isOpen() || n > getPageCount() || n < 1)
        return 0;
    double horizontal = 72.0;
    double vertical = 72.0;
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
    if (page == nullptr)
        return 0;
    const PageBox& box = page->getCropBox();
    if (box.x2 - box.x1 == 0 || box.y2 - box.y1 == 0)
        return 0;

    // --- stand-in begins ---
    const double kx = horizontal / 72.0;
    const double ky = vertical / 72.0;
    const int rotate = page->getRotate();
    const bool turned = rotate == 90 || rotate == 270;
    const double pageWidth = turned ? kx * (box.y2 - box.y1) : kx * (box.x2 - box.x1);
    const double pageHeight = turned ? ky * (box.x2 - box.x1) : ky * (box.y2 - box.y1);
    int width = saturateToInt(pageWidth + 0.5);
    int height = saturateToInt(pageHeight + 0.5);
    if (width < 1)
        width = 1;
    if (height < 1)
        height = 1;
    if (m_pageBitmap == nullptr || m_pageBitmap->width() != width || m_pageBitmap->height() != height) {
        m_pageBitmap.reset();
        m_pageBitmap = std::make_unique<RasterBitmap>(width, height, kRowPad, rasterBGR8, 0, 0);
    }
    std::memset(m_pageBitmap->block() + RasterBitmap::kHeaderSize, kPaperWhite,
                size_t(m_pageBitmap->blockSize() - RasterBitmap::kHeaderSize));
    // --- stand-in ends ---

    if (m_renderMode == 2) {
        m_bitmapWidth = m_pageBitmap->width();
        m_bitmapHeight = m_pageBitmap->height();
    }
    return 1;
}

int PdfRenderer::isOpen() const {
    return m_document != nullptr ? 1 : 0;
}

uint8_t* PdfRenderer::getBitmap(int& size) const {
    if (!isOpen() || m_pageBitmap == nullptr) {
        size = 0;
        return nullptr;
    }
    size = m_pageBitmap->blockSize();
    return m_pageBitmap->block();
}

int PdfRenderer::getPageCount() const {
    return m_document != nullptr ? m_document->getPageCount() : 0;
}

}  // namespace rendova
