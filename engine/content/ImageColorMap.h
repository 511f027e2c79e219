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
// Owns its colour space and its tables. A map that is not ok (bits outside
// 1..16, a decode array that does not fit the space) is deleted unused by
// its creator. One thread at a time; throws MemoryException only.
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

private:
    // Fills the colour of the pixel in the space that the tables map to.
    const ColorSpace* gather(const uint8_t* pixel, ColorValue& color) const;

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
};

}  // namespace rendova
