#pragma once

#include <cstdint>
#include <memory>

namespace rendova {

class PdfDocument;
class RasterOutputDevice;

// The narrow door through which the conversion job uses the engine: open one
// document with its passwords, set zoom, resolution and render mode, render
// one page into the raster device's page bitmap, lend that bitmap out,
// report the page count, close.
//
// It also owns the lifetime of the engine's one GlobalSettings object: the
// first facade alive creates it (and locates the standard fonts), the last
// one destroyed deletes it. Facades must therefore be created, used and
// destroyed from one thread at a time.
//
// Ownership: owns the document and the device (both set while a document
// is open, both null otherwise). The bitmap that getBitmap lends stays the
// device's. Throws MemoryException when memory runs out.
class PdfRenderer {
public:
    // Results of openDocument.
    static constexpr int kOpened = 1;
    static constexpr int kOpenFailed = -1;
    static constexpr int kPasswordRefused = -2;

    // setOption kinds.
    static constexpr int kOptionZoom = 1;
    static constexpr int kOptionResolution = 2;
    static constexpr int kOptionRenderMode = 3;

    PdfRenderer();
    ~PdfRenderer();
    PdfRenderer(const PdfRenderer&) = delete;
    PdfRenderer& operator=(const PdfRenderer&) = delete;

    // kOpened; kPasswordRefused when the document is encrypted and neither
    // password was accepted; kOpenFailed for any other failure (the facade
    // stays closed). Either password may be null.
    int openDocument(const char* fileName, const char* ownerPassword, const char* userPassword);
    // 1, also when nothing is open.
    int closeDocument();
    // Kind 1 zoom (a percent > 0), 2 resolution (a, b dots per inch > 0),
    // 3 render mode (a in 1 .. 3): 1 accepted, 0 refused (always 0 while
    // nothing is open).
    int setOption(int kind, int a, int b = 0);
    // Results of renderPage besides 1 (rendered) and 0 (refused).
    static constexpr int kPageTooLarge = -1;

    // Renders page n (1-based): 1 rendered, 0 refused (nothing open, n
    // beyond the page count, or a crop box of no width or height),
    // kPageTooLarge when the page at the zoom and resolution set needs a
    // bitmap beyond the engine's sizes (nothing drawn; the bitmap stays as
    // it was). A page whose content is lost is rendered all the same; see
    // lastPageWhole.
    int renderPage(int n);
    // False when the page last rendered lost its content, wholly or in part
    // (an object of its contents that cannot be found or is no stream).
    bool lastPageWhole() const { return m_lastPageWhole; }
    int isOpen() const { return m_document ? 1 : 0; }
    // The page bitmap's block (54-byte BMP header, then the pixels), null
    // when nothing is open; size receives the block's byte count (0 then). The block
    // is lent: valid until a page of another size is rendered or the
    // document is closed; the caller never frees it.
    uint8_t* getBitmap(int& size) const;
    // The document's page count, 0 when nothing is open.
    int getPageCount() const;

    // The page bitmap's size after the last render in mode 2.
    int bitmapWidth() const { return m_bitmapWidth; }
    int bitmapHeight() const { return m_bitmapHeight; }

    // The number of facades alive (for tests of the settings' lifetime).
    static int liveCount();

private:
    std::unique_ptr<PdfDocument> m_document;
    std::unique_ptr<RasterOutputDevice> m_device;
    int m_zoom = 100;
    int m_xResolution = 72;
    int m_yResolution = 72;
    double m_xScale = 1.0;
    double m_yScale = 1.0;
    int m_renderMode = 2;
    int m_bitmapWidth = 0;
    int m_bitmapHeight = 0;
    bool m_lastPageWhole = true;
};

}  // namespace rendova
