#include "engine/content/ImageColorMap.h"

#include "engine/content/PdfFunction.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/PdfValue.h"

namespace rendova {

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
            return;
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
            return;
        }
    } else {
        reportError(-1, "image decode entry is a %s", decode.typeName());
        m_ok = false;
        return;
    }

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

    if (space->getKind() == ColorSpace::kIndexed) {
        const auto* indexed = static_cast<const IndexedColorSpace*>(space);
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
                int index = saturateToInt(sample[b] * m_decodeRange[0] / maxPixel + m_decodeLow[0] + 0.5);
                if (index < 0) {
                    index = 0;
                } else if (index > high) {
                    index = high;
                }
                const double byte = palette[index * m_baseComponents + k];
                table[b] = colorFromDouble(byte / 255.0 * rangeB[k] + lowB[k]);
            }
        }
    } else if (space->getKind() == ColorSpace::kSeparation) {
        const auto* separation = static_cast<const SeparationColorSpace*>(space);
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
    } else {
        for (int k = 0; k < m_components; ++k) {
            m_lookup[k] = std::make_unique<ColorComponent[]>(kTableSize);
            ColorComponent* table = m_lookup[k].get();
            for (int b = 0; b < kTableSize; ++b) {
                table[b] = colorFromDouble(sample[b] * m_decodeRange[k] / maxPixel + m_decodeLow[k]);
            }
        }
    }
}

ImageColorMap::~ImageColorMap() = default;

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
