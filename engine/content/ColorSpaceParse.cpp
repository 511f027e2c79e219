// Parsing of colour-space values into ColorSpace objects.
#include <cstring>
#include <vector>

#include "engine/content/ColorSpace.h"
#include "engine/content/PdfFunction.h"
#include "engine/core/DataStream.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/PdfValue.h"

namespace rendova {

namespace {

// Spaces nest inside spaces (a pattern over an indexed space over an ICC
// space with its alternate is four levels); no sensible document goes
// deeper than that, and the limit stops a chain of references from
// recursing without end.
constexpr int kMaxColorSpaceNesting = 8;

bool isFamily(const char* name, const char* family) {
    return std::strcmp(name, family) == 0;
}

// Fills count doubles from an array of exactly count numbers; anything else
// leaves out as it was (the entry counts as absent).
void readNumbers(const PdfDict* dict, const char* key, double* out, int count) {
    PdfValue array;
    dict->lookup(key, array);
    if (!array.isArray() || array.getArray()->getLength() != count)
        return;
    double values[2 * kMaxColorComponents];
    PdfValue element;
    for (int i = 0; i < count; ++i) {
        array.getArray()->get(i, element);
        if (!element.isNum())
            return;
        values[i] = element.getNum();
    }
    std::memcpy(out, values, sizeof(double) * size_t(count));
}

}  // namespace

// The parsers of the array forms, one per family. Each reports its own
// failures; a null result frees whatever was built.
class ColorSpaceParser {
public:
    static std::unique_ptr<ColorSpace> parseCalGray(const PdfArray* array);
    static std::unique_ptr<ColorSpace> parseCalRgb(const PdfArray* array);
    static std::unique_ptr<ColorSpace> parseLab(const PdfArray* array);
    static std::unique_ptr<ColorSpace> parseIccBased(const PdfArray* array, ParseNesting& nesting);
    static std::unique_ptr<ColorSpace> parseIndexed(const PdfArray* array, ParseNesting& nesting);
    static std::unique_ptr<ColorSpace> parseSeparation(const PdfArray* array, ParseNesting& nesting);
    static std::unique_ptr<ColorSpace> parseDeviceN(const PdfArray* array, ParseNesting& nesting);
    static std::unique_ptr<ColorSpace> parsePattern(const PdfArray* array, ParseNesting& nesting);

private:
    // Element i of the array as a nested space.
    static std::unique_ptr<ColorSpace> parseElement(const PdfArray* array, int i, ParseNesting& nesting);
    // Elements 2 and 3 of a Separation or DeviceN space: the alternate space
    // and the tint transform; false, reported, when either is unusable.
    static bool parseAlternateAndTint(const PdfArray* array, const char* family, ParseNesting& nesting,
                                      std::unique_ptr<ColorSpace>& alternate,
                                      std::unique_ptr<PdfFunction>& function);
};

std::unique_ptr<ColorSpace> ColorSpace::parse(const PdfValue& value) {
    ParseNesting nesting(kMaxColorSpaceNesting, "colour space");
    return parseNested(value, value, nesting);
}

std::unique_ptr<ColorSpace> ColorSpace::parseNested(const PdfValue& raw, const PdfValue& value,
                                                    ParseNesting& nesting) {
    ParseNesting::Level level(nesting, raw);
    if (!level.ok())
        return nullptr;

    if (value.isName()) {
        const char* name = value.getName();
        if (isFamily(name, "DeviceGray") || isFamily(name, "G"))
            return std::make_unique<DeviceGrayColorSpace>();
        if (isFamily(name, "DeviceRGB") || isFamily(name, "RGB"))
            return std::make_unique<DeviceRgbColorSpace>();
        if (isFamily(name, "DeviceCMYK") || isFamily(name, "CMYK"))
            return std::make_unique<DeviceCmykColorSpace>();
        if (isFamily(name, "Pattern"))
            return std::make_unique<PatternColorSpace>(nullptr);
        reportError(-1, "unknown colour space /%s", name);
        return nullptr;
    }
    if (!value.isArray()) {
        reportError(-1, "colour space is a %s, not a name or an array", value.typeName());
        return nullptr;
    }

    const PdfArray* array = value.getArray();
    PdfValue family;
    array->get(0, family);
    if (!family.isName()) {
        reportError(-1, "colour space array does not start with a name");
        return nullptr;
    }
    const char* name = family.getName();
    if (isFamily(name, "DeviceGray") || isFamily(name, "G"))
        return std::make_unique<DeviceGrayColorSpace>();
    if (isFamily(name, "DeviceRGB") || isFamily(name, "RGB"))
        return std::make_unique<DeviceRgbColorSpace>();
    if (isFamily(name, "DeviceCMYK") || isFamily(name, "CMYK"))
        return std::make_unique<DeviceCmykColorSpace>();
    if (isFamily(name, "CalGray"))
        return ColorSpaceParser::parseCalGray(array);
    if (isFamily(name, "CalRGB"))
        return ColorSpaceParser::parseCalRgb(array);
    if (isFamily(name, "Lab"))
        return ColorSpaceParser::parseLab(array);
    if (isFamily(name, "ICCBased"))
        return ColorSpaceParser::parseIccBased(array, nesting);
    if (isFamily(name, "Indexed") || isFamily(name, "I"))
        return ColorSpaceParser::parseIndexed(array, nesting);
    if (isFamily(name, "Separation"))
        return ColorSpaceParser::parseSeparation(array, nesting);
    if (isFamily(name, "DeviceN"))
        return ColorSpaceParser::parseDeviceN(array, nesting);
    if (isFamily(name, "Pattern"))
        return ColorSpaceParser::parsePattern(array, nesting);
    reportError(-1, "unknown colour space family /%s", name);
    return nullptr;
}

std::unique_ptr<ColorSpace> ColorSpaceParser::parseElement(const PdfArray* array, int i,
                                                           ParseNesting& nesting) {
    PdfValue raw;
    PdfValue element;
    array->getRaw(i, raw);
    array->get(i, element);
    return ColorSpace::parseNested(raw, element, nesting);
}

std::unique_ptr<ColorSpace> ColorSpaceParser::parseCalGray(const PdfArray* array) {
    PdfValue dict;
    array->get(1, dict);
    if (!dict.isDict()) {
        reportError(-1, "CalGray colour space has no dictionary");
        return nullptr;
    }
    auto space = std::make_unique<CalGrayColorSpace>();
    readNumbers(dict.getDict(), "WhitePoint", space->m_whitePoint, 3);
    readNumbers(dict.getDict(), "BlackPoint", space->m_blackPoint, 3);
    PdfValue gamma;
    dict.getDict()->lookup("Gamma", gamma);
    if (gamma.isNum())
        space->m_gamma = gamma.getNum();
    return space;
}

std::unique_ptr<ColorSpace> ColorSpaceParser::parseCalRgb(const PdfArray* array) {
    PdfValue dict;
    array->get(1, dict);
    if (!dict.isDict()) {
        reportError(-1, "CalRGB colour space has no dictionary");
        return nullptr;
    }
    auto space = std::make_unique<CalRgbColorSpace>();
    readNumbers(dict.getDict(), "WhitePoint", space->m_whitePoint, 3);
    readNumbers(dict.getDict(), "BlackPoint", space->m_blackPoint, 3);
    readNumbers(dict.getDict(), "Gamma", space->m_gamma, 3);
    readNumbers(dict.getDict(), "Matrix", space->m_matrix, 9);
    return space;
}

std::unique_ptr<ColorSpace> ColorSpaceParser::parseLab(const PdfArray* array) {
    PdfValue dict;
    array->get(1, dict);
    if (!dict.isDict()) {
        reportError(-1, "Lab colour space has no dictionary");
        return nullptr;
    }
    std::unique_ptr<LabColorSpace> space(new LabColorSpace());
    readNumbers(dict.getDict(), "WhitePoint", space->m_whitePoint, 3);
    readNumbers(dict.getDict(), "BlackPoint", space->m_blackPoint, 3);
    double range[4] = {space->m_aMin, space->m_aMax, space->m_bMin, space->m_bMax};
    readNumbers(dict.getDict(), "Range", range, 4);
    space->m_aMin = range[0];
    space->m_aMax = range[1];
    space->m_bMin = range[2];
    space->m_bMax = range[3];
    space->computeScales();
    return space;
}

std::unique_ptr<ColorSpace> ColorSpaceParser::parseIccBased(const PdfArray* array, ParseNesting& nesting) {
    PdfValue raw;
    array->getRaw(1, raw);
    const int refNum = raw.isRef() ? raw.getRefNum() : 0;
    const int refGen = raw.isRef() ? raw.getRefGen() : 0;
    // The profile stream joins the chain: an alternate that names this same
    // profile again is a cycle.
    ParseNesting::Level profile(nesting, raw);
    if (!profile.ok())
        return nullptr;
    PdfValue stream;
    array->get(1, stream);
    if (!stream.isStream()) {
        reportError(-1, "ICCBased colour space has no profile stream");
        return nullptr;
    }
    const PdfDict* dict = stream.getDictOrStreamDict();
    PdfValue value;
    dict->lookup("N", value);
    if (!value.isInt()) {
        reportError(-1, "ICCBased colour space has no integer N");
        return nullptr;
    }
    int n = value.getInt();
    if (n <= 0) {
        reportError(-1, "ICCBased colour space has %d components", n);
        return nullptr;
    }
    if (n > kMaxColorComponents) {
        reportError(-1, "ICCBased colour space has %d components; %d are used", n, kMaxColorComponents);
        n = kMaxColorComponents;
    }

    std::unique_ptr<ColorSpace> alternate;
    PdfValue rawAlternate;
    dict->lookupRaw("Alternate", rawAlternate);
    dict->lookup("Alternate", value);
    if (!value.isNull())
        alternate = ColorSpace::parseNested(rawAlternate, value, nesting);
    // An alternate of another component count would read the samples at the
    // wrong stride (three components taken as grey); the device space of N
    // components fits them.
    if (alternate && alternate->getComponentCount() != n && (n == 1 || n == 3 || n == 4)) {
        reportError(-1, "ICCBased colour space of %d components has an alternate of %d", n,
                    alternate->getComponentCount());
        alternate.reset();
    }
    if (!alternate) {
        switch (n) {
            case 1:
                alternate = std::make_unique<DeviceGrayColorSpace>();
                break;
            case 3:
                alternate = std::make_unique<DeviceRgbColorSpace>();
                break;
            case 4:
                alternate = std::make_unique<DeviceCmykColorSpace>();
                break;
            default:
                reportError(-1, "ICCBased colour space of %d components has no alternate", n);
                return nullptr;
        }
    }

    auto space = std::make_unique<IccBasedColorSpace>(n, std::move(alternate), refNum, refGen);
    double range[2 * kMaxColorComponents];
    bool hasRange = false;
    {
        PdfValue rangeArray;
        dict->lookup("Range", rangeArray);
        if (rangeArray.isArray() && rangeArray.getArray()->getLength() == 2 * n) {
            hasRange = true;
            PdfValue element;
            for (int i = 0; i < 2 * n && hasRange; ++i) {
                rangeArray.getArray()->get(i, element);
                if (element.isNum()) {
                    range[i] = element.getNum();
                } else {
                    hasRange = false;
                }
            }
        }
    }
    if (hasRange) {
        for (int i = 0; i < n; ++i) {
            space->m_rangeMin[i] = range[2 * i];
            space->m_rangeMax[i] = range[2 * i + 1];
        }
    }
    return space;
}

std::unique_ptr<ColorSpace> ColorSpaceParser::parseIndexed(const PdfArray* array, ParseNesting& nesting) {
    if (array->getLength() != 4) {
        reportError(-1, "Indexed colour space has %d elements, not 4", array->getLength());
        return nullptr;
    }
    std::unique_ptr<ColorSpace> base = parseElement(array, 1, nesting);
    if (!base) {
        reportError(-1, "Indexed colour space has no usable base space");
        return nullptr;
    }
    PdfValue value;
    array->get(2, value);
    if (!value.isInt()) {
        reportError(-1, "Indexed colour space has no integer high value");
        return nullptr;
    }
    const int high = value.getInt();
    if (high < 0 || high > 255) {
        reportError(-1, "Indexed colour space high value %d is outside 0..255", high);
        return nullptr;
    }
    // At most 256 entries of 32 bytes.
    const int size = (high + 1) * base->getComponentCount();
    std::vector<unsigned char> lookup(size_t(size) + 1);
    array->get(3, value);
    if (value.isStream()) {
        DataStream* stream = value.getStream();
        stream->reset();
        for (int i = 0; i < size; ++i) {
            const int c = stream->getChar();
            if (c < 0) {
                stream->close();
                reportError(-1, "Indexed colour space lookup stream ends after %d of %d bytes", i, size);
                return nullptr;
            }
            lookup[size_t(i)] = static_cast<unsigned char>(c);
        }
        stream->close();
    } else if (value.isString()) {
        if (value.getString()->getLength() < size) {
            reportError(-1, "Indexed colour space lookup string holds %d of %d bytes",
                        value.getString()->getLength(), size);
            return nullptr;
        }
        std::memcpy(lookup.data(), value.getString()->getCString(), size_t(size));
    } else {
        reportError(-1, "Indexed colour space lookup is a %s", value.typeName());
        return nullptr;
    }
    return std::make_unique<IndexedColorSpace>(std::move(base), high, lookup.data());
}

bool ColorSpaceParser::parseAlternateAndTint(const PdfArray* array, const char* family, ParseNesting& nesting,
                                             std::unique_ptr<ColorSpace>& alternate,
                                             std::unique_ptr<PdfFunction>& function) {
    alternate = parseElement(array, 2, nesting);
    if (!alternate) {
        reportError(-1, "%s colour space has no usable alternate space", family);
        return false;
    }
    PdfValue value;
    array->get(3, value);
    function = PdfFunction::parse(value);
    if (!function) {
        reportError(-1, "%s colour space has no usable tint transform", family);
        return false;
    }
    return true;
}

std::unique_ptr<ColorSpace> ColorSpaceParser::parseSeparation(const PdfArray* array, ParseNesting& nesting) {
    if (array->getLength() != 4) {
        reportError(-1, "Separation colour space has %d elements, not 4", array->getLength());
        return nullptr;
    }
    PdfValue name;
    array->get(1, name);
    if (!name.isName()) {
        reportError(-1, "Separation colour space has no colorant name");
        return nullptr;
    }
    std::unique_ptr<ColorSpace> alternate;
    std::unique_ptr<PdfFunction> function;
    if (!parseAlternateAndTint(array, "Separation", nesting, alternate, function))
        return nullptr;
    return std::make_unique<SeparationColorSpace>(name.getName(), std::move(alternate), std::move(function));
}

std::unique_ptr<ColorSpace> ColorSpaceParser::parseDeviceN(const PdfArray* array, ParseNesting& nesting) {
    if (array->getLength() != 4 && array->getLength() != 5) {
        reportError(-1, "DeviceN colour space has %d elements, not 4 or 5", array->getLength());
        return nullptr;
    }
    PdfValue list;
    array->get(1, list);
    if (!list.isArray()) {
        reportError(-1, "DeviceN colour space has no array of colorant names");
        return nullptr;
    }
    int n = list.getArray()->getLength();
    if (n > kMaxColorComponents) {
        reportError(-1, "DeviceN colour space has %d colorants; %d are used", n, kMaxColorComponents);
        n = kMaxColorComponents;
    }
    // A space without components could hold no colour.
    if (n < 1) {
        reportError(-1, "DeviceN colour space has no colorants");
        return nullptr;
    }
    PdfValue names[kMaxColorComponents];
    const char* texts[kMaxColorComponents];
    for (int i = 0; i < n; ++i) {
        list.getArray()->get(i, names[i]);
        if (!names[i].isName()) {
            reportError(-1, "DeviceN colorant %d is a %s, not a name", i, names[i].typeName());
            return nullptr;
        }
        texts[i] = names[i].getName();
    }
    std::unique_ptr<ColorSpace> alternate;
    std::unique_ptr<PdfFunction> function;
    if (!parseAlternateAndTint(array, "DeviceN", nesting, alternate, function))
        return nullptr;
    return std::make_unique<DeviceNColorSpace>(n, texts, std::move(alternate), std::move(function));
}

std::unique_ptr<ColorSpace> ColorSpaceParser::parsePattern(const PdfArray* array, ParseNesting& nesting) {
    if (array->getLength() != 1 && array->getLength() != 2) {
        reportError(-1, "Pattern colour space has %d elements, not 1 or 2", array->getLength());
        return nullptr;
    }
    std::unique_ptr<ColorSpace> underlying;
    if (array->getLength() == 2) {
        underlying = parseElement(array, 1, nesting);
        if (!underlying) {
            reportError(-1, "Pattern colour space has no usable underlying space");
            return nullptr;
        }
    }
    return std::make_unique<PatternColorSpace>(std::move(underlying));
}

}  // namespace rendova
