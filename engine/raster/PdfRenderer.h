#pragma once

#include <cstdint>
#include <memory>

namespace rendova {

class PdfDocument;
class RasterBitmap;

// The narrow door through which the conversion job uses the engine: one open
// document, its zoom, resolution and render mode, one rendered page at a
// time as a 24-bit bitmap block (a 54-byte BMP header, then bottom-up rows
// padded to 4 bytes), and the page count.
//
// The first facade alive creates the engine's one GlobalSettings object and
// the last one destroyed deletes it, by a count of live facades.
//
// Ownership: the facade owns its document and the page bitmap; the block that
// getBitmap lends stays the facade's, valid until the next page of another
// size is rendered or the document is closed. One thread at a time (the live
// count and the settings pointer are plain shared state). Throws
// MemoryException when memory runs out or a page is too large to hold.
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

    // kOpened, kPasswordRefused (the document is encrypted and neither
    // password was accepted) or kOpenFailed. Either password may be null.
    int openDocument(const char* fileName, const char* ownerPassword, const char* userPassword);
    // 1, also when nothing is open.
    int closeDocument();
    // Zoom (a = percent), resolution (a, b = dots per inch) or render mode
    // (a = 1..3): 1 accepted, 0 refused (always 0 while nothing is open).
    int setOption(int kind, int a, int b = 0);
    // Renders page n (at least 1): 1 rendered, 0 refused (nothing open, n
    // above the page count, or a page box of zero width or height).
    int renderPage(int n);
    int isOpen() const;
    // The page bitmap's block, or null while nothing is open; size receives
    // its byte count.
    uint8_t* getBitmap(int& size) const;
    int getPageCount() const;

    // The page bitmap's size after the last render in mode 2.
    int bitmapWidth() const { return m_bitmapWidth; }
    int bitmapHeight() const { return m_bitmapHeight; }
    // The live facades, for tests of the settings' lifetime.
    static int liveCount() { return s_liveCount; }

private:
    void recomputeScales();

    std::unique_ptr<PdfDocument> m_document;
    // Stand-in for the raster output device: its page bitmap. See renderPage.
    std::unique_ptr<RasterBitmap> m_pageBitmap;
    int m_zoom = 100;
    int m_xResolution = 72;
    int m_yResolution = 72;
    double m_xScale = 1.0;
    double m_yScale = 1.0;
    int m_renderMode = 2;
    int m_bitmapWidth = 0;
    int m_bitmapHeight = 0;

    static int s_liveCount;
};

}  // namespace rendova
