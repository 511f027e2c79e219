#include "engine/content/ColorSpace.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/content/PdfFunction.h"

namespace rendova {

namespace {

// round() of the conversions: half a unit added, then truncated.
ColorComponent roundToColor(double v) {
    return saturateToInt(v + 0.5);
}

// 1.0 - c, limited to 0 .. 1.0. Limiting c first gives the same result and
// keeps the subtraction from overflowing for extreme components.
ColorComponent inverse(ColorComponent c) {
    return clampColor(kColorOne - clampColor(c));
}

void rgbToCmyk(ColorComponent r, ColorComponent g, ColorComponent b, CmykColor& cmyk) {
    ColorComponent c = inverse(r);
    ColorComponent m = inverse(g);
    ColorComponent y = inverse(b);
    ColorComponent k = c < m ? c : m;
    if (y < k)
        k = y;
    cmyk.c = c - k;
    cmyk.m = m - k;
    cmyk.y = y - k;
    cmyk.k = k;
}

void grayToCmyk(ColorComponent gray, CmykColor& cmyk) {
    cmyk.c = cmyk.m = cmyk.y = 0;
    cmyk.k = inverse(gray);
}

// Zero moved into [min, max]: the minimum when it lies above 0, the maximum
// when it lies below.
double zeroInRange(double min, double max) {
    return min > 0 ? min : max < 0 ? max : 0;
}

// The colours of the 16 corners of the CMYK cube (c, m, y, k bits, c
// highest), red, green and blue; corner 1111 is black.
constexpr double kCmykCorners[16][3] = {
    {1, 1, 1},                 // 0000
    {0.1373, 0.1216, 0.1255},  // 0001
    {1, 0.949, 0},             // 0010
    {0.1098, 0.102, 0},        // 0011
    {0.9255, 0, 0.549},        // 0100
    {0.1412, 0, 0},            // 0101
    {0.9294, 0.1098, 0.1412},  // 0110
    {0.1333, 0, 0},            // 0111
    {0, 0.6784, 0.9373},       // 1000
    {0, 0.0588, 0.1412},       // 1001
    {0, 0.651, 0.3137},        // 1010
    {0, 0.0745, 0},            // 1011
    {0.1804, 0.1922, 0.5725},  // 1100
    {0, 0, 0.0078},            // 1101
    {0.2118, 0.2119, 0.2235},  // 1110
    {0, 0, 0},                 // 1111
};

// sum + w[corner] x the corner's channel for corners Corner..14, in that
// order, with the multiplications by 1 and the terms of 0 left out.
template <int Channel, int Corner = 0>
inline double cornerSum(const double* w, double sum) {
    if constexpr (Corner == 15) {
        return sum;
    } else {
        constexpr double ink = kCmykCorners[Corner][Channel];
        if constexpr (ink == 0)
            return cornerSum<Channel, Corner + 1>(w, sum);
        else if constexpr (ink == 1)
            return cornerSum<Channel, Corner + 1>(w, sum + w[Corner]);
        else
            return cornerSum<Channel, Corner + 1>(w, sum + w[Corner] * ink);
    }
}

// XYZ to linear RGB, rows for red, green and blue.
const double kXyzToRgb[3][3] = {
    {3.240449, -1.537136, -0.498531},
    {-0.969265, 1.876011, 0.041556},
    {0.055643, -0.204026, 1.057229},
};

// The inverse of the L*a*b* companding function.
double labInverse(double t) {
    if (t >= 6.0 / 29.0)
        return t * t * t;
    return (t - 4.0 / 29.0) * (108.0 / 841.0);
}

ColorComponent labChannel(double v) {
    if (!(v >= 0))
        v = 0;
    if (v > 1)
        v = 1;
    return saturateToInt(std::sqrt(v) * 65536.0);
}

// The tint transform of a Separation or DeviceN space: n components in, the
// alternate's components out. Both buffers are full-size and zero-filled, so
// that a function that takes more inputs than the space has components, or
// gives fewer outputs than the alternate needs, reads and leaves zeros.
void applyTint(PdfFunction* function, const ColorValue& color, int n, const ColorSpace* alternate,
               ColorValue& out) {
    double in[PdfFunction::kMaxInputs] = {};
    double result[PdfFunction::kMaxOutputs] = {};
    for (int i = 0; i < n; ++i)
        in[i] = colorToDouble(color.c[i]);
    function->transform(in, result);
    const int count = alternate->getComponentCount();
    for (int i = 0; i < count; ++i)
        out.c[i] = colorFromDouble(result[i]);
}

}  // namespace

ColorSpace::~ColorSpace() = default;

void ColorSpace::getDefaultDecodeRanges(double* low, double* range, int) const {
    const int n = getComponentCount();
    for (int i = 0; i < n; ++i) {
        low[i] = 0;
        range[i] = 1;
    }
}

// --- DeviceGray and CalGray ---------------------------------------------

std::unique_ptr<ColorSpace> DeviceGrayColorSpace::copy() const {
    return std::make_unique<DeviceGrayColorSpace>();
}
void DeviceGrayColorSpace::getGray(const ColorValue& color, ColorComponent& gray) const {
    gray = clampColor(color.c[0]);
}
void DeviceGrayColorSpace::getRgb(const ColorValue& color, RgbColor& rgb) const {
    rgb.r = rgb.g = rgb.b = clampColor(color.c[0]);
}
void DeviceGrayColorSpace::getCmyk(const ColorValue& color, CmykColor& cmyk) const {
    grayToCmyk(color.c[0], cmyk);
}
void DeviceGrayColorSpace::getDefaultColor(ColorValue& color) const {
    color.c[0] = 0;
}

std::unique_ptr<ColorSpace> CalGrayColorSpace::copy() const {
    return std::make_unique<CalGrayColorSpace>(*this);
}
void CalGrayColorSpace::getGray(const ColorValue& color, ColorComponent& gray) const {
    gray = clampColor(color.c[0]);
}
void CalGrayColorSpace::getRgb(const ColorValue& color, RgbColor& rgb) const {
    rgb.r = rgb.g = rgb.b = clampColor(color.c[0]);
}
void CalGrayColorSpace::getCmyk(const ColorValue& color, CmykColor& cmyk) const {
    grayToCmyk(color.c[0], cmyk);
}
void CalGrayColorSpace::getDefaultColor(ColorValue& color) const {
    color.c[0] = 0;
}

// --- DeviceRGB and CalRGB -----------------------------------------------

std::unique_ptr<ColorSpace> DeviceRgbColorSpace::copy() const {
    return std::make_unique<DeviceRgbColorSpace>();
}
void DeviceRgbColorSpace::getGray(const ColorValue& color, ColorComponent& gray) const {
    gray = clampColor(roundToColor(0.3 * color.c[0] + 0.59 * color.c[1] + 0.11 * color.c[2]));
}
void DeviceRgbColorSpace::getRgb(const ColorValue& color, RgbColor& rgb) const {
    rgb.r = clampColor(color.c[0]);
    rgb.g = clampColor(color.c[1]);
    rgb.b = clampColor(color.c[2]);
}
void DeviceRgbColorSpace::getCmyk(const ColorValue& color, CmykColor& cmyk) const {
    rgbToCmyk(color.c[0], color.c[1], color.c[2], cmyk);
}
void DeviceRgbColorSpace::getDefaultColor(ColorValue& color) const {
    color.c[0] = color.c[1] = color.c[2] = 0;
}

std::unique_ptr<ColorSpace> CalRgbColorSpace::copy() const {
    return std::make_unique<CalRgbColorSpace>(*this);
}
void CalRgbColorSpace::getGray(const ColorValue& color, ColorComponent& gray) const {
    gray = clampColor(roundToColor(0.299 * color.c[0] + 0.587 * color.c[1] + 0.114 * color.c[2]));
}
void CalRgbColorSpace::getRgb(const ColorValue& color, RgbColor& rgb) const {
    rgb.r = clampColor(color.c[0]);
    rgb.g = clampColor(color.c[1]);
    rgb.b = clampColor(color.c[2]);
}
void CalRgbColorSpace::getCmyk(const ColorValue& color, CmykColor& cmyk) const {
    rgbToCmyk(color.c[0], color.c[1], color.c[2], cmyk);
}
void CalRgbColorSpace::getDefaultColor(ColorValue& color) const {
    color.c[0] = color.c[1] = color.c[2] = 0;
}

// --- DeviceCMYK ------------------------------------------------------------

std::unique_ptr<ColorSpace> DeviceCmykColorSpace::copy() const {
    return std::make_unique<DeviceCmykColorSpace>();
}
void DeviceCmykColorSpace::getGray(const ColorValue& color, ColorComponent& gray) const {
    const double v =
        double(kColorOne) - color.c[3] - 0.3 * color.c[0] - 0.59 * color.c[1] - 0.11 * color.c[2];
    gray = clampColor(roundToColor(v));
}
void DeviceCmykColorSpace::getRgb(const ColorValue& color, RgbColor& rgb) const {
    // Each of the 16 corners of the cube weighs in with the product of the
    // component (corner bit 1) or its complement (bit 0) along each axis,
    // multiplied from c to k; black (corner 1111) adds nothing. The products
    // share their leading factors, and a corner whose channel is 0 adds
    // nothing to that channel, so both are computed once and skipped: the
    // same operations in the same order as the plain sum
    //   for corner in 0..14: weight = (c|1-c) (m|1-m) (y|1-y) (k|1-k);
    //                        sum[i] += weight x kCmykCorners[corner][i]
    // and so the same bits (adding w x 0 leaves a sum unchanged but for the
    // sign of a zero, and the weights are always finite).
    const double c = colorToDouble(color.c[0]);
    const double m = colorToDouble(color.c[1]);
    const double y = colorToDouble(color.c[2]);
    const double k = colorToDouble(color.c[3]);
    const double cm[4] = {(1 - c) * (1 - m), (1 - c) * m, c * (1 - m), c * m};
    double cmy[8];
    for (int i = 0; i < 4; ++i) {
        cmy[2 * i] = cm[i] * (1 - y);
        cmy[2 * i + 1] = cm[i] * y;
    }
    double w[16];
    for (int i = 0; i < 8; ++i) {
        w[2 * i] = cmy[i] * (1 - k);
        w[2 * i + 1] = cmy[i] * k;
    }
    const double r = cornerSum<0>(w, 0.0);
    const double g = cornerSum<1>(w, 0.0);
    const double b = cornerSum<2>(w, 0.0);
    rgb.r = clampColor(colorFromDouble(r));
    rgb.g = clampColor(colorFromDouble(g));
    rgb.b = clampColor(colorFromDouble(b));
}
void DeviceCmykColorSpace::getCmyk(const ColorValue& color, CmykColor& cmyk) const {
    cmyk.c = clampColor(color.c[0]);
    cmyk.m = clampColor(color.c[1]);
    cmyk.y = clampColor(color.c[2]);
    cmyk.k = clampColor(color.c[3]);
}
void DeviceCmykColorSpace::getDefaultColor(ColorValue& color) const {
    color.c[0] = color.c[1] = color.c[2] = 0;
    color.c[3] = kColorOne;
}

// --- Lab -------------------------------------------------------------------

void LabColorSpace::computeScales() {
    const double* w = m_whitePoint;
    m_kr = 1 / (kXyzToRgb[0][0] * w[0] + kXyzToRgb[0][1] * w[1] + kXyzToRgb[0][2] * w[2]);
    m_kg = 1 / (kXyzToRgb[1][0] * w[0] + kXyzToRgb[1][1] * w[1] + kXyzToRgb[1][2] * w[2]);
    m_kb = 1 / (kXyzToRgb[2][0] * w[0] + kXyzToRgb[2][1] * w[1] + kXyzToRgb[2][2] * w[2]);
}

std::unique_ptr<ColorSpace> LabColorSpace::copy() const {
    return std::unique_ptr<ColorSpace>(new LabColorSpace(*this));
}

void LabColorSpace::getRgb(const ColorValue& color, RgbColor& rgb) const {
    const double fy = (colorToDouble(color.c[0]) + 16) / 116;
    const double fx = fy + colorToDouble(color.c[1]) / 500;
    const double fz = fy - colorToDouble(color.c[2]) / 200;
    const double x = labInverse(fx) * m_whitePoint[0];
    const double y = labInverse(fy) * m_whitePoint[1];
    const double z = labInverse(fz) * m_whitePoint[2];
    const double* row = kXyzToRgb[0];
    rgb.r = labChannel((row[0] * x + row[1] * y + row[2] * z) * m_kr);
    row = kXyzToRgb[1];
    rgb.g = labChannel((row[0] * x + row[1] * y + row[2] * z) * m_kg);
    row = kXyzToRgb[2];
    rgb.b = labChannel((row[0] * x + row[1] * y + row[2] * z) * m_kb);
}

void LabColorSpace::getGray(const ColorValue& color, ColorComponent& gray) const {
    RgbColor rgb;
    getRgb(color, rgb);
    gray = clampColor(roundToColor(0.299 * rgb.r + 0.587 * rgb.g + 0.114 * rgb.b));
}

void LabColorSpace::getCmyk(const ColorValue& color, CmykColor& cmyk) const {
    RgbColor rgb;
    getRgb(color, rgb);
    rgbToCmyk(rgb.r, rgb.g, rgb.b, cmyk);
}

void LabColorSpace::getDefaultColor(ColorValue& color) const {
    color.c[0] = 0;
    color.c[1] = colorFromDouble(zeroInRange(m_aMin, m_aMax));
    color.c[2] = colorFromDouble(zeroInRange(m_bMin, m_bMax));
}

void LabColorSpace::getDefaultDecodeRanges(double* low, double* range, int) const {
    low[0] = 0;
    range[0] = 100;
    low[1] = m_aMin;
    range[1] = m_aMax - m_aMin;
    low[2] = m_bMin;
    range[2] = m_bMax - m_bMin;
}

// --- ICCBased --------------------------------------------------------------

IccBasedColorSpace::IccBasedColorSpace(int n, std::unique_ptr<ColorSpace> alternate, int refNum, int refGen)
    : m_n(n), m_alternate(std::move(alternate)), m_refNum(refNum), m_refGen(refGen) {
    for (int i = 0; i < kMaxColorComponents; ++i) {
        m_rangeMin[i] = 0;
        m_rangeMax[i] = 1;
    }
}

IccBasedColorSpace::~IccBasedColorSpace() = default;

std::unique_ptr<ColorSpace> IccBasedColorSpace::copy() const {
    auto space = std::make_unique<IccBasedColorSpace>(m_n, m_alternate->copy(), m_refNum, m_refGen);
    std::memcpy(space->m_rangeMin, m_rangeMin, sizeof(m_rangeMin));
    std::memcpy(space->m_rangeMax, m_rangeMax, sizeof(m_rangeMax));
    return space;
}

void IccBasedColorSpace::getGray(const ColorValue& color, ColorComponent& gray) const {
    m_alternate->getGray(color, gray);
}
void IccBasedColorSpace::getRgb(const ColorValue& color, RgbColor& rgb) const {
    m_alternate->getRgb(color, rgb);
}
void IccBasedColorSpace::getCmyk(const ColorValue& color, CmykColor& cmyk) const {
    m_alternate->getCmyk(color, cmyk);
}

void IccBasedColorSpace::getDefaultColor(ColorValue& color) const {
    for (int i = 0; i < m_n; ++i)
        color.c[i] = colorFromDouble(zeroInRange(m_rangeMin[i], m_rangeMax[i]));
}

void IccBasedColorSpace::getDefaultDecodeRanges(double* low, double* range, int maxValue) const {
    // The alternate answers for its own components; an alternate with fewer
    // components than the profile leaves the rest at 0 .. 1.
    ColorSpace::getDefaultDecodeRanges(low, range, maxValue);
    double altLow[kMaxColorComponents];
    double altRange[kMaxColorComponents];
    m_alternate->getDefaultDecodeRanges(altLow, altRange, maxValue);
    const int count = m_alternate->getComponentCount() < m_n ? m_alternate->getComponentCount() : m_n;
    for (int i = 0; i < count; ++i) {
        low[i] = altLow[i];
        range[i] = altRange[i];
    }
}

// --- Indexed ---------------------------------------------------------------

IndexedColorSpace::IndexedColorSpace(std::unique_ptr<ColorSpace> base, int highValue,
                                     const unsigned char* lookup)
    : m_base(std::move(base)), m_highValue(highValue) {
    const size_t size = size_t(highValue + 1) * size_t(m_base->getComponentCount());
    m_lookup = std::make_unique<unsigned char[]>(size ? size : 1);
    if (size)
        std::memcpy(m_lookup.get(), lookup, size);
    for (int i = 0; i < kMaxColorComponents; ++i) {
        m_baseLow[i] = 0;
        m_baseRange[i] = 1;
    }
    m_base->getDefaultDecodeRanges(m_baseLow, m_baseRange, 255);
}

IndexedColorSpace::~IndexedColorSpace() = default;

std::unique_ptr<ColorSpace> IndexedColorSpace::copy() const {
    return std::make_unique<IndexedColorSpace>(m_base->copy(), m_highValue, m_lookup.get());
}

int IndexedColorSpace::paletteIndex(double value, int highValue) {
    // Decoded image samples that stand for whole indices may come out a
    // rounding error below them (3 x (1 / 3)): such a value is that index.
    constexpr double kIndexSlack = 1e-9;
    const int index = saturateToInt(std::floor(value + kIndexSlack));
    return std::clamp(index, 0, highValue);
}

void IndexedColorSpace::mapToBase(const ColorValue& color, ColorValue& base) const {
    // The index is not trusted: it comes from an operand or a decoded sample.
    const int index = paletteIndex(colorToDouble(color.c[0]), m_highValue);
    const int n = m_base->getComponentCount();
    const unsigned char* entry = m_lookup.get() + index * n;
    for (int i = 0; i < n; ++i)
        base.c[i] = colorFromDouble(entry[i] / 255.0 * m_baseRange[i] + m_baseLow[i]);
}

void IndexedColorSpace::getGray(const ColorValue& color, ColorComponent& gray) const {
    ColorValue base;
    mapToBase(color, base);
    m_base->getGray(base, gray);
}
void IndexedColorSpace::getRgb(const ColorValue& color, RgbColor& rgb) const {
    ColorValue base;
    mapToBase(color, base);
    m_base->getRgb(base, rgb);
}
void IndexedColorSpace::getCmyk(const ColorValue& color, CmykColor& cmyk) const {
    ColorValue base;
    mapToBase(color, base);
    m_base->getCmyk(base, cmyk);
}
void IndexedColorSpace::getDefaultColor(ColorValue& color) const {
    color.c[0] = 0;
}
void IndexedColorSpace::getDefaultDecodeRanges(double* low, double* range, int maxValue) const {
    // Samples decode to palette indices.
    low[0] = 0;
    range[0] = maxValue;
}

// --- Separation ------------------------------------------------------------

SeparationColorSpace::SeparationColorSpace(const char* name, std::unique_ptr<ColorSpace> alternate,
                                           std::unique_ptr<PdfFunction> function)
    : m_name(name),
      m_alternate(std::move(alternate)),
      m_function(std::move(function)),
      m_paintsNothing(std::strcmp(name, "None") == 0) {}

SeparationColorSpace::~SeparationColorSpace() = default;

std::unique_ptr<ColorSpace> SeparationColorSpace::copy() const {
    return std::make_unique<SeparationColorSpace>(m_name.getCString(), m_alternate->copy(),
                                                  m_function->copy());
}

void SeparationColorSpace::getGray(const ColorValue& color, ColorComponent& gray) const {
    ColorValue alt;
    applyTint(m_function.get(), color, 1, m_alternate.get(), alt);
    m_alternate->getGray(alt, gray);
}
void SeparationColorSpace::getRgb(const ColorValue& color, RgbColor& rgb) const {
    ColorValue alt;
    applyTint(m_function.get(), color, 1, m_alternate.get(), alt);
    m_alternate->getRgb(alt, rgb);
}
void SeparationColorSpace::getCmyk(const ColorValue& color, CmykColor& cmyk) const {
    ColorValue alt;
    applyTint(m_function.get(), color, 1, m_alternate.get(), alt);
    m_alternate->getCmyk(alt, cmyk);
}
void SeparationColorSpace::getDefaultColor(ColorValue& color) const {
    color.c[0] = kColorOne;
}

// --- DeviceN ---------------------------------------------------------------

DeviceNColorSpace::DeviceNColorSpace(int n, const char* const* names, std::unique_ptr<ColorSpace> alternate,
                                     std::unique_ptr<PdfFunction> function)
    : m_n(n), m_alternate(std::move(alternate)), m_function(std::move(function)), m_paintsNothing(true) {
    for (int i = 0; i < n; ++i) {
        m_names[i] = std::make_unique<DynString>(names[i]);
        if (std::strcmp(names[i], "None") != 0)
            m_paintsNothing = false;
    }
}

DeviceNColorSpace::~DeviceNColorSpace() = default;

std::unique_ptr<ColorSpace> DeviceNColorSpace::copy() const {
    const char* names[kMaxColorComponents];
    for (int i = 0; i < m_n; ++i)
        names[i] = m_names[i]->getCString();
    return std::make_unique<DeviceNColorSpace>(m_n, names, m_alternate->copy(), m_function->copy());
}

void DeviceNColorSpace::getGray(const ColorValue& color, ColorComponent& gray) const {
    ColorValue alt;
    applyTint(m_function.get(), color, m_n, m_alternate.get(), alt);
    m_alternate->getGray(alt, gray);
}
void DeviceNColorSpace::getRgb(const ColorValue& color, RgbColor& rgb) const {
    ColorValue alt;
    applyTint(m_function.get(), color, m_n, m_alternate.get(), alt);
    m_alternate->getRgb(alt, rgb);
}
void DeviceNColorSpace::getCmyk(const ColorValue& color, CmykColor& cmyk) const {
    ColorValue alt;
    applyTint(m_function.get(), color, m_n, m_alternate.get(), alt);
    m_alternate->getCmyk(alt, cmyk);
}
void DeviceNColorSpace::getDefaultColor(ColorValue& color) const {
    for (int i = 0; i < m_n; ++i)
        color.c[i] = kColorOne;
}

// --- Pattern ---------------------------------------------------------------

PatternColorSpace::PatternColorSpace(std::unique_ptr<ColorSpace> underlying)
    : m_underlying(std::move(underlying)) {}

PatternColorSpace::~PatternColorSpace() = default;

std::unique_ptr<ColorSpace> PatternColorSpace::copy() const {
    return std::make_unique<PatternColorSpace>(m_underlying ? m_underlying->copy() : nullptr);
}

// A pattern colour has no value of its own: black in every model.
void PatternColorSpace::getGray(const ColorValue&, ColorComponent& gray) const {
    gray = 0;
}
void PatternColorSpace::getRgb(const ColorValue&, RgbColor& rgb) const {
    rgb.r = rgb.g = rgb.b = 0;
}
void PatternColorSpace::getCmyk(const ColorValue&, CmykColor& cmyk) const {
    cmyk.c = cmyk.m = cmyk.y = 0;
    cmyk.k = kColorOne;
}
void PatternColorSpace::getDefaultColor(ColorValue&) const {}

}  // namespace rendova
