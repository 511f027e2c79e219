#pragma once

#include <cstdint>
#include <memory>

#include "engine/content/ColorSpace.h"

namespace rendova {

class PdfValue;

// Turns the samples of an image into colours. All per-sample arithmetic is
// done at construction: each component gets a table from sample value to
// 16.16 colour component, so that a pixel costs one look-up per component and
// one conversion. Indexed and Separation images are expanded into their
// base or alternate space at construction.
//
// Pixels come from ImageLineReader, one byte per sample; samples wider than
// 8 bits arrive as their high byte, and the tables are indexed the same way.
//
// getRgbRow and getGrayRow give the colours of a whole row of pixels as
// bytes, the same as colorToByte of getRgb and getGray pixel by pixel: RGB
// spaces convert through a table per component, and the others through a
// cache of the colours already converted, because photographs in CMYK and
// the like repeat their colours and each conversion is costly.
//
// Owns its colour space, its tables and its caches. A map that is not ok
// (bits outside 1..16, a decode array that does not fit the space) is
// deleted unused by its creator. One thread at a time; throws
// MemoryException only.
class ImageColorMap {
public:
    // The widest sample of the format.
    static constexpr int kMaxBits = 16;

    // decode is the image's Decode entry (null or none when absent).
    ImageColorMap(int bits, const PdfValue& decode, std::unique_ptr<ColorSpace> colorSpace);
    ~ImageColorMap();
    ImageColorMap(const ImageColorMap&) = delete;
    ImageColorMap& operator=(const ImageColorMap&) = delete;

    bool isOk() const { return m_ok; }
    ColorSpace* getColorSpace() const { return m_colorSpace.get(); }
    int getBits() const { return m_bits; }
    int getComponentCount() const { return m_components; }
    double getDecodeLow(int i) const { return m_decodeLow[i]; }
    double getDecodeRange(int i) const { return m_decodeRange[i]; }

    // pixel holds one byte per component: the sample, or for samples wider
    // than 8 bits its high byte.
    void getGray(const uint8_t* pixel, ColorComponent& gray) const;
    void getRgb(const uint8_t* pixel, RgbColor& rgb) const;
    // The colours of count pixels, getComponentCount() bytes each, as one
    // byte (grey) or three (RGB) a pixel.
    void getGrayRow(const uint8_t* pixels, int count, uint8_t* gray);
    void getRgbRow(const uint8_t* pixels, int count, uint8_t* rgb);

private:
    // Fills the colour of the pixel in the space that the tables map to.
    const ColorSpace* gather(const uint8_t* pixel, ColorValue& color) const;

    // How the row conversions go, chosen at construction from the space
    // that the tables map into.
    enum class RowPath {
        // DeviceRGB, CalRGB or an ICC space converting as one: RGB is each
        // component limited to 0 .. 1.0, a byte table per component (grey
        // goes through the cache).
        kRgb,
        // Up to four components: pixel by pixel behind a cache.
        kCached,
        // More: pixel by pixel, each run of equal pixels converted once.
        kPerPixel,
    };
    // A cache slot: the pixel's bytes (up to four) and its colour as bytes
    // (grey in the first). Every slot starts as the all-zero pixel, so that
    // none is ever empty.
    struct CacheEntry {
        uint32_t key;
        uint8_t color[4];
    };
    // Slots in each cache: enough for the few thousand colours a photograph
    // shows in any stretch of rows, little enough to stay in the L2 cache
    // (64 KB of eight-byte slots).
    static constexpr int kCacheBits = 13;

    // Steps of the constructor: the decode ranges (false, having reported
    // it, when the entry is unusable), and the tables of an indexed or
    // separation space, which map straight into its base or alternate.
    bool readDecode(const PdfValue& decode, int maxPixel);
    void buildIndexedTables(const double* sample, int maxPixel);
    void buildSeparationTables(const double* sample, int maxPixel);
    void chooseRowPath();
    // A new cache for grey (the grey held in rgb.r) or RGB.
    std::unique_ptr<CacheEntry[]> makeCache(bool gray) const;
    // The colour of one pixel as bytes, 1 (Gray) or 3.
    template <bool Gray>
    void convertPixel(const uint8_t* pixel, uint8_t* out) const;
    // The row conversions of kCached, for pixels of N bytes, and of
    // kPerPixel, into 1 (Gray) or 3 bytes a pixel.
    template <bool Gray, int N>
    void convertCachedRow(const uint8_t* pixels, int count, CacheEntry* cache, uint8_t* out) const;
    template <bool Gray>
    void convertRowPerPixel(const uint8_t* pixels, int count, uint8_t* out) const;
    template <bool Gray>
    void convertRow(const uint8_t* pixels, int count, uint8_t* out);

    // The table slots always have 256 entries, one for every byte a pixel
    // can hold; bytes above the largest sample repeat its entry.
    static constexpr int kTableSize = 256;

    std::unique_ptr<ColorSpace> m_colorSpace;
    int m_bits;
    int m_components = 0;
    const ColorSpace* m_baseSpace = nullptr;
    int m_baseComponents = 0;
    std::unique_ptr<ColorComponent[]> m_lookup[kMaxColorComponents];
    double m_decodeLow[kMaxColorComponents] = {};
    double m_decodeRange[kMaxColorComponents] = {};
    bool m_ok = true;
    RowPath m_rowPath = RowPath::kCached;
    // kRgb's bytes by sample, 256 for each component in turn.
    std::unique_ptr<uint8_t[]> m_rgbBytes;
    // Made at the first row of each kind.
    std::unique_ptr<CacheEntry[]> m_grayCache;
    std::unique_ptr<CacheEntry[]> m_rgbCache;
};

}  // namespace rendova
