#pragma once

#include <cstdint>
#include <memory>

#include "engine/content/ParseNesting.h"
#include "engine/core/DynString.h"
#include "engine/core/SaturatingCast.h"

namespace rendova {

class PdfFunction;
class PdfValue;

// A colour component: signed 32-bit 16.16 fixed point, 0x10000 = 1.0.
using ColorComponent = int32_t;
constexpr ColorComponent kColorOne = kFixedOne;
// No colour space has more components than this.
constexpr int kMaxColorComponents = 32;

// A colour in some space: only the first getComponentCount() components of
// the space are meaningful.
struct ColorValue {
    ColorComponent c[kMaxColorComponents];
};
struct RgbColor {
    ColorComponent r, g, b;
};
struct CmykColor {
    ColorComponent c, m, y, k;
};

// A double as a colour component: times 65536, truncated toward zero.
inline ColorComponent colorFromDouble(double x) {
    return fixedFromDouble(x);
}
inline double colorToDouble(ColorComponent c) {
    return fixedToDouble(c);
}
// A component limited to 0 .. 1.0.
inline ColorComponent clampColor(ColorComponent c) {
    return c < 0 ? 0 : c > kColorOne ? kColorOne : c;
}
// A component as a byte: limited to 0 .. 1.0, then (c x 255 + 32768) >> 16,
// which keeps the product within 32 bits.
inline uint8_t colorToByte(ColorComponent c) {
    return static_cast<uint8_t>((clampColor(c) * 255 + 32768) >> 16);
}

// A colour space: how the components of a colour operand or an image sample
// become grey, RGB or CMYK for the output device. Eleven kinds, parsed from
// the document by parse(); the three device spaces may be made directly.
//
// Owned by whoever parsed or copied it (spaces inside spaces and tint
// transforms are owned by their space). The conversions never fail: results
// are limited to 0 .. 1.0. Conversions of Separation and DeviceN spaces
// evaluate their tint transform, whose scratch memory makes a space usable by
// one thread at a time. Throws MemoryException only.
class ColorSpace {
public:
    enum Kind : int {
        kDeviceGray = 0,
        kCalGray = 1,
        kDeviceRgb = 2,
        kCalRgb = 3,
        kDeviceCmyk = 4,
        kLab = 5,
        kIccBased = 6,
        kIndexed = 7,
        kSeparation = 8,
        kDeviceN = 9,
        kPattern = 10,
    };

    virtual ~ColorSpace();
    virtual std::unique_ptr<ColorSpace> copy() const = 0;
    virtual Kind getKind() const = 0;
    virtual void getGray(const ColorValue& color, ColorComponent& gray) const = 0;
    virtual void getRgb(const ColorValue& color, RgbColor& rgb) const = 0;
    virtual void getCmyk(const ColorValue& color, CmykColor& cmyk) const = 0;
    virtual int getComponentCount() const = 0;
    // The initial colour of the space (the pattern space writes nothing).
    virtual void getDefaultColor(ColorValue& color) const = 0;
    // One low value and one range per component, for images whose samples
    // run from 0 to maxValue: a sample s decodes to low + s x range / maxValue.
    virtual void getDefaultDecodeRanges(double* low, double* range, int maxValue) const;
    // Whether painting in the space leaves the page unchanged.
    virtual bool paintsNothing() const { return false; }

    // A new space from a name or an array value, or null after an error
    // report. The caller owns the result.
    static std::unique_ptr<ColorSpace> parse(const PdfValue& value);
    // The same for a space inside another: raw is the element as stored
    // (for the cycle check), value the element resolved.
    static std::unique_ptr<ColorSpace> parseNested(const PdfValue& raw, const PdfValue& value,
                                                   ParseNesting& nesting);

protected:
    ColorSpace() = default;
    ColorSpace(const ColorSpace&) = default;
};

class DeviceGrayColorSpace : public ColorSpace {
public:
    DeviceGrayColorSpace() = default;
    std::unique_ptr<ColorSpace> copy() const override;
    Kind getKind() const override { return kDeviceGray; }
    void getGray(const ColorValue& color, ColorComponent& gray) const override;
    void getRgb(const ColorValue& color, RgbColor& rgb) const override;
    void getCmyk(const ColorValue& color, CmykColor& cmyk) const override;
    int getComponentCount() const override { return 1; }
    void getDefaultColor(ColorValue& color) const override;
};

// Calibrated grey: the calibration is kept but converts like DeviceGray.
class CalGrayColorSpace : public ColorSpace {
public:
    CalGrayColorSpace() = default;
    std::unique_ptr<ColorSpace> copy() const override;
    Kind getKind() const override { return kCalGray; }
    void getGray(const ColorValue& color, ColorComponent& gray) const override;
    void getRgb(const ColorValue& color, RgbColor& rgb) const override;
    void getCmyk(const ColorValue& color, CmykColor& cmyk) const override;
    int getComponentCount() const override { return 1; }
    void getDefaultColor(ColorValue& color) const override;

    const double* getWhitePoint() const { return m_whitePoint; }
    const double* getBlackPoint() const { return m_blackPoint; }
    double getGamma() const { return m_gamma; }

private:
    friend class ColorSpaceParser;
    double m_whitePoint[3] = {1, 1, 1};
    double m_blackPoint[3] = {0, 0, 0};
    double m_gamma = 1;
};

class DeviceRgbColorSpace : public ColorSpace {
public:
    DeviceRgbColorSpace() = default;
    std::unique_ptr<ColorSpace> copy() const override;
    Kind getKind() const override { return kDeviceRgb; }
    void getGray(const ColorValue& color, ColorComponent& gray) const override;
    void getRgb(const ColorValue& color, RgbColor& rgb) const override;
    void getCmyk(const ColorValue& color, CmykColor& cmyk) const override;
    int getComponentCount() const override { return 3; }
    void getDefaultColor(ColorValue& color) const override;
};

// Calibrated RGB: the calibration is kept but converts like DeviceRGB, with
// the luma weights of the calibrated model for grey.
class CalRgbColorSpace : public ColorSpace {
public:
    CalRgbColorSpace() = default;
    std::unique_ptr<ColorSpace> copy() const override;
    Kind getKind() const override { return kCalRgb; }
    void getGray(const ColorValue& color, ColorComponent& gray) const override;
    void getRgb(const ColorValue& color, RgbColor& rgb) const override;
    void getCmyk(const ColorValue& color, CmykColor& cmyk) const override;
    int getComponentCount() const override { return 3; }
    void getDefaultColor(ColorValue& color) const override;

    const double* getWhitePoint() const { return m_whitePoint; }
    const double* getBlackPoint() const { return m_blackPoint; }
    const double* getGamma() const { return m_gamma; }
    const double* getMatrix() const { return m_matrix; }

private:
    friend class ColorSpaceParser;
    double m_whitePoint[3] = {1, 1, 1};
    double m_blackPoint[3] = {0, 0, 0};
    double m_gamma[3] = {1, 1, 1};
    double m_matrix[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
};

class DeviceCmykColorSpace : public ColorSpace {
public:
    DeviceCmykColorSpace() = default;
    std::unique_ptr<ColorSpace> copy() const override;
    Kind getKind() const override { return kDeviceCmyk; }
    void getGray(const ColorValue& color, ColorComponent& gray) const override;
    void getRgb(const ColorValue& color, RgbColor& rgb) const override;
    void getCmyk(const ColorValue& color, CmykColor& cmyk) const override;
    int getComponentCount() const override { return 4; }
    void getDefaultColor(ColorValue& color) const override;
};

// CIE L*a*b*, converted to RGB through XYZ and the sRGB primaries.
class LabColorSpace : public ColorSpace {
public:
    std::unique_ptr<ColorSpace> copy() const override;
    Kind getKind() const override { return kLab; }
    void getGray(const ColorValue& color, ColorComponent& gray) const override;
    void getRgb(const ColorValue& color, RgbColor& rgb) const override;
    void getCmyk(const ColorValue& color, CmykColor& cmyk) const override;
    int getComponentCount() const override { return 3; }
    void getDefaultColor(ColorValue& color) const override;
    void getDefaultDecodeRanges(double* low, double* range, int maxValue) const override;

    const double* getWhitePoint() const { return m_whitePoint; }
    double getAMin() const { return m_aMin; }
    double getAMax() const { return m_aMax; }
    double getBMin() const { return m_bMin; }
    double getBMax() const { return m_bMax; }

private:
    friend class ColorSpaceParser;
    LabColorSpace() = default;
    // The reciprocal scale factors from the white point.
    void computeScales();

    double m_whitePoint[3] = {1, 1, 1};
    double m_blackPoint[3] = {0, 0, 0};
    double m_aMin = -100;
    double m_aMax = 100;
    double m_bMin = -100;
    double m_bMax = 100;
    double m_kr = 1;
    double m_kg = 1;
    double m_kb = 1;
};

// A space defined by an ICC profile. The profile is never read: colours
// convert through the alternate space, or the device space of the same
// component count.
class IccBasedColorSpace : public ColorSpace {
public:
    IccBasedColorSpace(int n, std::unique_ptr<ColorSpace> alternate, int refNum, int refGen);
    ~IccBasedColorSpace() override;
    std::unique_ptr<ColorSpace> copy() const override;
    Kind getKind() const override { return kIccBased; }
    void getGray(const ColorValue& color, ColorComponent& gray) const override;
    void getRgb(const ColorValue& color, RgbColor& rgb) const override;
    void getCmyk(const ColorValue& color, CmykColor& cmyk) const override;
    int getComponentCount() const override { return m_n; }
    void getDefaultColor(ColorValue& color) const override;
    void getDefaultDecodeRanges(double* low, double* range, int maxValue) const override;

    ColorSpace* getAlternate() const { return m_alternate.get(); }
    double getRangeMin(int i) const { return m_rangeMin[i]; }
    double getRangeMax(int i) const { return m_rangeMax[i]; }
    int getProfileNum() const { return m_refNum; }
    int getProfileGen() const { return m_refGen; }

private:
    friend class ColorSpaceParser;
    int m_n;
    std::unique_ptr<ColorSpace> m_alternate;
    // A range for every component the space can have.
    double m_rangeMin[kMaxColorComponents];
    double m_rangeMax[kMaxColorComponents];
    int m_refNum;
    int m_refGen;
};

// A palette: one component, the index, looked up in a table of colours of
// the base space.
class IndexedColorSpace : public ColorSpace {
public:
    // lookup holds (highValue + 1) x the base's component count bytes.
    IndexedColorSpace(std::unique_ptr<ColorSpace> base, int highValue, const unsigned char* lookup);
    ~IndexedColorSpace() override;
    std::unique_ptr<ColorSpace> copy() const override;
    Kind getKind() const override { return kIndexed; }
    void getGray(const ColorValue& color, ColorComponent& gray) const override;
    void getRgb(const ColorValue& color, RgbColor& rgb) const override;
    void getCmyk(const ColorValue& color, CmykColor& cmyk) const override;
    int getComponentCount() const override { return 1; }
    void getDefaultColor(ColorValue& color) const override;
    void getDefaultDecodeRanges(double* low, double* range, int maxValue) const override;

    ColorSpace* getBase() const { return m_base.get(); }
    int getHighValue() const { return m_highValue; }
    const unsigned char* getLookup() const { return m_lookup.get(); }
    // The base colour of the index in color (its integer part, limited to
    // 0 .. high value).
    void mapToBase(const ColorValue& color, ColorValue& base) const;
    // The palette entry a (decoded) index value selects: its integer part,
    // limited to 0 .. highValue. An index is not rounded: the usual viewers
    // take 1.5 and 1.9 as entry 1, and a value below 0 or past the palette
    // as its first or last entry.
    static int paletteIndex(double value, int highValue);

private:
    std::unique_ptr<ColorSpace> m_base;
    int m_highValue;
    std::unique_ptr<unsigned char[]> m_lookup;
    // The base's decode ranges for bytes 0 to 255.
    double m_baseLow[kMaxColorComponents];
    double m_baseRange[kMaxColorComponents];
};

// One colorant, converted through a tint transform into the alternate space.
class SeparationColorSpace : public ColorSpace {
public:
    SeparationColorSpace(const char* name, std::unique_ptr<ColorSpace> alternate,
                         std::unique_ptr<PdfFunction> function);
    ~SeparationColorSpace() override;
    std::unique_ptr<ColorSpace> copy() const override;
    Kind getKind() const override { return kSeparation; }
    void getGray(const ColorValue& color, ColorComponent& gray) const override;
    void getRgb(const ColorValue& color, RgbColor& rgb) const override;
    void getCmyk(const ColorValue& color, CmykColor& cmyk) const override;
    int getComponentCount() const override { return 1; }
    void getDefaultColor(ColorValue& color) const override;
    bool paintsNothing() const override { return m_paintsNothing; }

    const DynString& getName() const { return m_name; }
    ColorSpace* getAlternate() const { return m_alternate.get(); }
    PdfFunction* getFunction() const { return m_function.get(); }

private:
    DynString m_name;
    std::unique_ptr<ColorSpace> m_alternate;
    std::unique_ptr<PdfFunction> m_function;
    bool m_paintsNothing;
};

// Several colorants, converted together through a tint transform into the
// alternate space.
class DeviceNColorSpace : public ColorSpace {
public:
    DeviceNColorSpace(int n, const char* const* names, std::unique_ptr<ColorSpace> alternate,
                      std::unique_ptr<PdfFunction> function);
    ~DeviceNColorSpace() override;
    std::unique_ptr<ColorSpace> copy() const override;
    Kind getKind() const override { return kDeviceN; }
    void getGray(const ColorValue& color, ColorComponent& gray) const override;
    void getRgb(const ColorValue& color, RgbColor& rgb) const override;
    void getCmyk(const ColorValue& color, CmykColor& cmyk) const override;
    int getComponentCount() const override { return m_n; }
    void getDefaultColor(ColorValue& color) const override;
    bool paintsNothing() const override { return m_paintsNothing; }

    const DynString& getName(int i) const { return *m_names[i]; }
    ColorSpace* getAlternate() const { return m_alternate.get(); }
    PdfFunction* getFunction() const { return m_function.get(); }

private:
    int m_n;
    std::unique_ptr<DynString> m_names[kMaxColorComponents];
    std::unique_ptr<ColorSpace> m_alternate;
    std::unique_ptr<PdfFunction> m_function;
    bool m_paintsNothing;
};

// The space of pattern fills. Its colours have no components of their own;
// an uncoloured pattern takes its colour in the underlying space.
class PatternColorSpace : public ColorSpace {
public:
    explicit PatternColorSpace(std::unique_ptr<ColorSpace> underlying);
    ~PatternColorSpace() override;
    std::unique_ptr<ColorSpace> copy() const override;
    Kind getKind() const override { return kPattern; }
    void getGray(const ColorValue& color, ColorComponent& gray) const override;
    void getRgb(const ColorValue& color, RgbColor& rgb) const override;
    void getCmyk(const ColorValue& color, CmykColor& cmyk) const override;
    int getComponentCount() const override { return 0; }
    void getDefaultColor(ColorValue& color) const override;

    // Null when the space was named without one.
    ColorSpace* getUnderlying() const { return m_underlying.get(); }

private:
    std::unique_ptr<ColorSpace> m_underlying;
};

}  // namespace rendova
