#include "engine/content/ImageColorMap.h"

#include <cstring>

#include "engine/content/PdfFunction.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/PdfValue.h"

namespace rendova {

namespace {

// The bytes of a pixel of N components (N up to 4) as one number.
template <int N>
inline uint32_t pixelKey(const uint8_t* pixel) {
    uint32_t key = pixel[0];
    for (int i = 1; i < N; ++i)
        key = key << 8 | pixel[i];
    return key;
}

// Fibonacci hashing: the high bits of the key times 2^32 / phi spread
// neighbouring colours over the slots.
template <int Bits>
inline uint32_t cacheSlot(uint32_t key) {
    return (key * 2654435769u) >> (32 - Bits);
}

}  // namespace

ImageColorMap::ImageColorMap(int bits, const PdfValue& decode, std::unique_ptr<ColorSpace> colorSpace)
    : m_colorSpace(std::move(colorSpace)), m_bits(bits) {
    if (!m_colorSpace) {
        m_ok = false;
        return;
    }
    if (bits < 1 || bits > kMaxBits) {
        reportError(-1, "image has %d bits per component", bits);
        m_ok = false;
        return;
    }
    const int maxPixel = int((1u << bits) - 1);
    if (!readDecode(decode, maxPixel))
        return;

    // Table entry b stands for the sample whose value is b, or, for samples
    // wider than 8 bits (which the line reader cuts to their high byte), the
    // sample b x maxPixel / 255, so that byte 255 still means the largest
    // sample and 16-bit images keep their brightness.
    const int entries = bits <= 8 ? maxPixel + 1 : kTableSize;
    double sample[kTableSize];
    for (int b = 0; b < kTableSize; ++b) {
        const int used = b < entries ? b : entries - 1;
        sample[b] = bits <= 8 ? double(used) : double(used) * maxPixel / 255.0;
    }

    const ColorSpace::Kind kind = m_colorSpace->getKind();
    if (kind == ColorSpace::kIndexed) {
        buildIndexedTables(sample, maxPixel);
    } else if (kind == ColorSpace::kSeparation) {
        buildSeparationTables(sample, maxPixel);
    } else {
        for (int k = 0; k < m_components; ++k) {
            m_lookup[k] = std::make_unique<ColorComponent[]>(kTableSize);
            ColorComponent* table = m_lookup[k].get();
            for (int b = 0; b < kTableSize; ++b) {
                table[b] = colorFromDouble(sample[b] * m_decodeRange[k] / maxPixel + m_decodeLow[k]);
            }
        }
    }
    chooseRowPath();
}

bool ImageColorMap::readDecode(const PdfValue& decode, int maxPixel) {
    ColorSpace* space = m_colorSpace.get();
    const int spaceComponents = space->getComponentCount();
    if (decode.isNull() || decode.isNone()) {
        m_components = spaceComponents;
        for (int i = 0; i < kMaxColorComponents; ++i)
            m_decodeRange[i] = 1;
        space->getDefaultDecodeRanges(m_decodeLow, m_decodeRange, maxPixel);
    } else if (decode.isArray()) {
        const PdfArray* array = decode.getArray();
        m_components = array->getLength() / 2;
        if (m_components != spaceComponents) {
            reportError(-1, "image decode array has %d pairs for %d components", m_components,
                        spaceComponents);
            m_ok = false;
            return false;
        }
        PdfValue element;
        for (int i = 0; i < m_components; ++i) {
            array->get(2 * i, element);
            if (!element.isNum()) {
                m_ok = false;
                break;
            }
            m_decodeLow[i] = element.getNum();
            array->get(2 * i + 1, element);
            if (!element.isNum()) {
                m_ok = false;
                break;
            }
            m_decodeRange[i] = element.getNum() - m_decodeLow[i];
        }
        if (!m_ok) {
            reportError(-1, "image decode array holds something other than numbers");
            return false;
        }
    } else {
        reportError(-1, "image decode entry is a %s", decode.typeName());
        m_ok = false;
        return false;
    }
    return true;
}

void ImageColorMap::buildIndexedTables(const double* sample, int maxPixel) {
    const auto* indexed = static_cast<const IndexedColorSpace*>(m_colorSpace.get());
    m_baseSpace = indexed->getBase();
    m_baseComponents = m_baseSpace->getComponentCount();
    const int high = indexed->getHighValue();
    double lowB[kMaxColorComponents];
    double rangeB[kMaxColorComponents];
    for (int k = 0; k < kMaxColorComponents; ++k) {
        lowB[k] = 0;
        rangeB[k] = 1;
    }
    m_baseSpace->getDefaultDecodeRanges(lowB, rangeB, high);
    const unsigned char* palette = indexed->getLookup();
    for (int k = 0; k < m_baseComponents; ++k) {
        m_lookup[k] = std::make_unique<ColorComponent[]>(kTableSize);
        ColorComponent* table = m_lookup[k].get();
        for (int b = 0; b < kTableSize; ++b) {
            const int index = IndexedColorSpace::paletteIndex(
                sample[b] * m_decodeRange[0] / maxPixel + m_decodeLow[0], high);
            const double byte = palette[index * m_baseComponents + k];
            table[b] = colorFromDouble(byte / 255.0 * rangeB[k] + lowB[k]);
        }
    }
}

void ImageColorMap::buildSeparationTables(const double* sample, int maxPixel) {
    const auto* separation = static_cast<const SeparationColorSpace*>(m_colorSpace.get());
    m_baseSpace = separation->getAlternate();
    m_baseComponents = m_baseSpace->getComponentCount();
    PdfFunction* function = separation->getFunction();
    for (int k = 0; k < m_baseComponents; ++k)
        m_lookup[k] = std::make_unique<ColorComponent[]>(kTableSize);
    for (int b = 0; b < kTableSize; ++b) {
        // Full-size, zero-filled buffers: see ColorSpace's tint transform.
        double in[PdfFunction::kMaxInputs] = {};
        double out[PdfFunction::kMaxOutputs] = {};
        in[0] = sample[b] * m_decodeRange[0] / maxPixel + m_decodeLow[0];
        function->transform(in, out);
        for (int k = 0; k < m_baseComponents; ++k)
            m_lookup[k][b] = colorFromDouble(out[k]);
    }
}

ImageColorMap::~ImageColorMap() = default;

void ImageColorMap::chooseRowPath() {
    m_rowPath = m_components >= 1 && m_components <= 4 ? RowPath::kCached : RowPath::kPerPixel;
    if (m_baseSpace)
        return;
    // An ICC space converts as its alternate, with the same components.
    const ColorSpace* space = m_colorSpace.get();
    while (space->getKind() == ColorSpace::kIccBased)
        space = static_cast<const IccBasedColorSpace*>(space)->getAlternate();
    if ((space->getKind() == ColorSpace::kDeviceRgb || space->getKind() == ColorSpace::kCalRgb) &&
        m_components == 3)
        m_rowPath = RowPath::kRgb;
}

template <bool Gray>
void ImageColorMap::convertPixel(const uint8_t* pixel, uint8_t* out) const {
    if (Gray) {
        ColorComponent gray;
        getGray(pixel, gray);
        out[0] = colorToByte(gray);
    } else {
        RgbColor rgb;
        getRgb(pixel, rgb);
        out[0] = colorToByte(rgb.r);
        out[1] = colorToByte(rgb.g);
        out[2] = colorToByte(rgb.b);
    }
}

std::unique_ptr<ImageColorMap::CacheEntry[]> ImageColorMap::makeCache(bool gray) const {
    auto cache = std::make_unique<CacheEntry[]>(size_t{1} << kCacheBits);
    const uint8_t zero[kMaxColorComponents] = {};
    CacheEntry entry{0, {0, 0, 0, 0}};
    if (gray)
        convertPixel<true>(zero, entry.color);
    else
        convertPixel<false>(zero, entry.color);
    for (size_t i = 0; i < size_t{1} << kCacheBits; ++i)
        cache[i] = entry;
    return cache;
}

template <bool Gray, int N>
void ImageColorMap::convertCachedRow(const uint8_t* pixels, int count, CacheEntry* cache,
                                     uint8_t* out) const {
    for (int x = 0; x < count; ++x, pixels += N) {
        const uint32_t key = pixelKey<N>(pixels);
        CacheEntry& entry = cache[cacheSlot<kCacheBits>(key)];
        if (entry.key != key) {
            entry.key = key;
            convertPixel<Gray>(pixels, entry.color);
        }
        if (Gray) {
            *out++ = entry.color[0];
        } else {
            out[0] = entry.color[0];
            out[1] = entry.color[1];
            out[2] = entry.color[2];
            out += 3;
        }
    }
}

template <bool Gray>
void ImageColorMap::convertRowPerPixel(const uint8_t* pixels, int count, uint8_t* out) const {
    const size_t n = size_t(m_components);
    const int size = Gray ? 1 : 3;
    for (int x = 0; x < count; ++x, pixels += n, out += size) {
        if (x > 0 && std::memcmp(pixels, pixels - n, n) == 0)
            std::memcpy(out, out - size, size_t(size));
        else
            convertPixel<Gray>(pixels, out);
    }
}

template <bool Gray>
void ImageColorMap::convertRow(const uint8_t* pixels, int count, uint8_t* out) {
    if (m_rowPath == RowPath::kRgb && !Gray) {
        if (!m_rgbBytes) {
            m_rgbBytes = std::make_unique<uint8_t[]>(3 * kTableSize);
            for (int k = 0; k < 3; ++k)
                for (int i = 0; i < kTableSize; ++i)
                    m_rgbBytes[size_t(k * kTableSize + i)] = colorToByte(m_lookup[k][i]);
        }
        const uint8_t* red = m_rgbBytes.get();
        const uint8_t* green = red + kTableSize;
        const uint8_t* blue = green + kTableSize;
        for (int x = 0; x < count; ++x, pixels += 3, out += 3) {
            out[0] = red[pixels[0]];
            out[1] = green[pixels[1]];
            out[2] = blue[pixels[2]];
        }
        return;
    }
    if (m_rowPath == RowPath::kPerPixel) {
        convertRowPerPixel<Gray>(pixels, count, out);
        return;
    }
    std::unique_ptr<CacheEntry[]>& cache = Gray ? m_grayCache : m_rgbCache;
    if (!cache)
        cache = makeCache(Gray);
    switch (m_components) {
        case 1:
            convertCachedRow<Gray, 1>(pixels, count, cache.get(), out);
            break;
        case 2:
            convertCachedRow<Gray, 2>(pixels, count, cache.get(), out);
            break;
        case 3:
            convertCachedRow<Gray, 3>(pixels, count, cache.get(), out);
            break;
        default:
            convertCachedRow<Gray, 4>(pixels, count, cache.get(), out);
            break;
    }
}

void ImageColorMap::getGrayRow(const uint8_t* pixels, int count, uint8_t* gray) {
    convertRow<true>(pixels, count, gray);
}

void ImageColorMap::getRgbRow(const uint8_t* pixels, int count, uint8_t* rgb) {
    convertRow<false>(pixels, count, rgb);
}

const ColorSpace* ImageColorMap::gather(const uint8_t* pixel, ColorValue& color) const {
    if (m_baseSpace) {
        for (int k = 0; k < m_baseComponents; ++k)
            color.c[k] = m_lookup[k][pixel[0]];
        return m_baseSpace;
    }
    for (int i = 0; i < m_components; ++i)
        color.c[i] = m_lookup[i][pixel[i]];
    return m_colorSpace.get();
}

void ImageColorMap::getGray(const uint8_t* pixel, ColorComponent& gray) const {
    // Zero-filled, so that a space reading more components than the image
    // has (an ICC profile with a wider alternate) reads zeros.
    ColorValue color{};
    gather(pixel, color)->getGray(color, gray);
}

void ImageColorMap::getRgb(const uint8_t* pixel, RgbColor& rgb) const {
    ColorValue color{};
    gather(pixel, color)->getRgb(color, rgb);
}

}  // namespace rendova
