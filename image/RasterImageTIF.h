#pragma once

#include <cstdint>

#include "image/RasterImage.h"

struct tiff;  // libtiff's handle

namespace rendova {

// The TIFF codec (format code 6) over libtiff. Decoding reads page
// info().frame of a file (frameCount tells how many there are): 1-bit,
// grey, palette and CIELab pages, striped or tiled, into palette images
// (honouring the orientation tag), and everything else through libtiff's
// RGBA reader into 24-bit images. Encoding writes one page per call; with
// `append` the handle stays open and every further call adds a page to the
// same file, which is finished when the object is destroyed.
//
// Option word [6]: the compression to write (0 = by depth: CCITT Group 4
// for 1 bit, LZW for 4 and 8, JPEG for 24); after a decode, the file's.
//
// An open handle writes through the stream it was opened on: that stream
// must outlive the object (or the next call without append). Not
// thread-safe; does not throw.
class RasterImageTIF : public RasterImage {
public:
    RasterImageTIF() : RasterImage(kFormatTiff) {}
    ~RasterImageTIF() override;

    bool Decode(ImageStream* stream);
    // May change the caller's image: a 1-bit image whose entry 0 is the
    // darker is written with its entries exchanged and its pixels inverted.
    bool Encode(ImageStream* stream, bool append = false);
    // Encodes one page into a new memory block, which the caller frees with
    // std::free; `buffer` must be null on entry.
    bool EncodeToMemory(uint8_t*& buffer, int32_t& size);
    // The tags and rows of one page.
    bool EncodeBody(tiff* handle, bool multiPage, int32_t page, int32_t pageCount);

    bool isMultiPage() const { return m_multiPage; }
    int32_t pagesWritten() const { return m_pageCounter; }

private:
    void closeHandle();
    bool decodePage(tiff* handle);
    // The photometric interpretation a page is written with; may exchange
    // a 1-bit page's entries and invert its pixels, as Encode says.
    uint16_t choosePhotometric();

    tiff* m_handle = nullptr;
    bool m_multiPage = false;
    int32_t m_pageCounter = 0;
};

}  // namespace rendova
