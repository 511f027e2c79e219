// The operators that draw external objects, inline images and shadings, the
// Type 3 glyph metrics, marked content and compatibility sections, and the
// form runner that forms, soft masks, tiling patterns and annotation
// appearances share.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/content/BorderStyle.h"
#include "engine/content/ContentInterpreter.h"
#include "engine/content/ImageColorMap.h"
#include "engine/core/DataStream.h"
#include "engine/core/EmbeddedSource.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/Memory.h"
#include "engine/core/ValueParser.h"

namespace rendova {

namespace {

// An image's entry under its long key, or under its short key when the long
// one is absent (inline images use the short forms; XObjects may too).
PdfValue& imageEntry(const PdfValue& dict, const char* key, const char* shortKey, PdfValue& out) {
    if (dict.dictLookup(key, out).isNull())
        dict.dictLookup(shortKey, out);
    return out;
}

// The invert flag of a stencil mask's Decode entry: [1 0] inverts. False
// when the entry is neither absent nor an array.
bool readStencilDecode(const PdfValue& dict, bool& invert) {
    PdfValue decode;
    imageEntry(dict, "Decode", "D", decode);
    invert = false;
    if (decode.isNull())
        return true;
    if (!decode.isArray())
        return false;
    PdfValue first;
    decode.getArray()->get(0, first);
    invert = first.isNum() && first.getNum() == 1;
    return true;
}

// Width and height of an image dictionary: integers above 0.
bool readImageSize(const PdfValue& dict, int& width, int& height) {
    PdfValue entry;
    if (!imageEntry(dict, "Width", "W", entry).isInt())
        return false;
    width = entry.getInt();
    if (!imageEntry(dict, "Height", "H", entry).isInt())
        return false;
    height = entry.getInt();
    return width > 0 && height > 0;
}

// What drawing an image adds to the operator count: heavy images bring the
// periodic flush closer.
int imageOperatorCost(int width, int height) {
    const int64_t pixels = int64_t(width) * height;
    return int(pixels < 1000 ? pixels : 1000);
}

}  // namespace

// --- XObjects, images, shadings --------------------------------------------

void ContentInterpreter::opXObject(PdfValue* args, int) {
    const char* name = args[0].getName();
    PdfValue object;
    if (!m_resources->lookupXObject(name, object))
        return;
    if (!object.isStream()) {
        reportError(getPos(), "XObject '%s' is not a stream", name);
        return;
    }
    PdfValue subtype;
    object.dictLookup("Subtype", subtype);
    if (!subtype.isName()) {
        reportError(getPos(), "XObject '%s' has no Subtype name; skipped", name);
        return;
    }
    PdfValue raw;
    if (subtype.isName("Image")) {
        if (!m_device->wantsNonText())
            return;
        m_resources->lookupXObjectRaw(name, raw);
        drawImageObject(raw.isRef() ? &raw : nullptr, object.getStream(), object, false);
    } else if (subtype.isName("Form")) {
        m_resources->lookupXObjectRaw(name, raw);
        if (m_device->drawsForms() && raw.isRef())
            m_device->drawForm(raw.getRefNum(), raw.getRefGen());
        else
            runFormXObject(object);
    } else if (subtype.isName("PS")) {
        PdfValue level1;
        object.dictLookup("Level1", level1);
        m_device->postScriptXObject(object.getStream(), level1.isStream() ? level1.getStream() : nullptr);
    } else {
        reportError(getPos(), "XObject subtype '%s' unknown", subtype.getName());
    }
}

std::unique_ptr<ColorSpace> ContentInterpreter::imageColorSpace(const PdfValue& dict, int colorMode,
                                                                bool& failed) {
    failed = false;
    PdfValue entry;
    imageEntry(dict, "ColorSpace", "CS", entry);
    if (entry.isName()) {
        PdfValue resource;
        if (m_resources->lookupColorSpace(entry.getName(), resource))
            entry = std::move(resource);
    }
    std::unique_ptr<ColorSpace> space;
    if (entry.isNull()) {
        // A JPEG 2000 stream may carry its colour itself.
        if (colorMode == 1)
            space = std::make_unique<DeviceGrayColorSpace>();
        else if (colorMode == 2)
            space = std::make_unique<DeviceRgbColorSpace>();
        else if (colorMode == 3)
            space = std::make_unique<DeviceCmykColorSpace>();
    } else {
        space = ColorSpace::parse(entry);
    }
    failed = !space;
    return space;
}

void ContentInterpreter::drawImageObject(const PdfValue* ref, DataStream* stream, const PdfValue& dict,
                                         bool inlineImage) {
    // Data that no decoder here can read (the filter was reported when the
    // stream was made) would draw as an empty, black or solid box over the
    // page: the image is left out instead.
    if (stream->lacksDecoder())
        return;
    if (!drawImageChecked(ref, stream, dict, inlineImage))
        reportError(getPos(), "Bad image parameters");
}

bool ContentInterpreter::drawImageChecked(const PdfValue* ref, DataStream* stream, const PdfValue& dict,
                                          bool inlineImage) {
    int bits = 0;
    int colorMode = 0;
    stream->getImageFormatInfo(bits, colorMode);

    // Sizes above 0 only: the devices size their rows and bitmaps from them.
    int width = 0;
    int height = 0;
    if (!readImageSize(dict, width, height))
        return false;
    PdfValue entry;
    bool imageMask = false;
    imageEntry(dict, "ImageMask", "IM", entry);
    if (entry.isBool())
        imageMask = entry.getBool();
    else if (!entry.isNull())
        return false;
    if (bits == 0) {
        imageEntry(dict, "BitsPerComponent", "BPC", entry);
        if (entry.isInt())
            bits = entry.getInt();
        else if (entry.isNull() && imageMask)
            bits = 1;
        else
            return false;
    }
    if (!imageMask)
        return drawSampledImage(ref, stream, dict, bits, colorMode, width, height, inlineImage);
    bool invert = false;
    if (bits != 1 || !readStencilDecode(dict, invert))
        return false;
    if (paintsPattern(false)) {
        // A stencil mask paints the fill colour whatever it is: a pattern
        // fills the mask's shape as it fills a path. The image lies in the
        // unit square of user space.
        const double unitSquare[4] = {0, 0, 1, 1};
        paintPatternThroughMask(false, unitSquare, [&] {
            m_device->drawStencilMask(m_state.get(), ref, stream, width, height, invert, inlineImage);
        });
    } else {
        m_device->drawStencilMask(m_state.get(), ref, stream, width, height, invert, inlineImage);
    }
    addOperatorCount(imageOperatorCost(width, height));
    return true;
}

bool ContentInterpreter::drawSampledImage(const PdfValue* ref, DataStream* stream, const PdfValue& dict,
                                          int bits, int colorMode, int width, int height, bool inlineImage) {
    bool failed = false;
    std::unique_ptr<ColorSpace> space = imageColorSpace(dict, colorMode, failed);
    if (failed)
        return false;
    const int components = space->getComponentCount();
    PdfValue decode;
    imageEntry(dict, "Decode", "D", decode);
    auto colorMap = std::make_unique<ImageColorMap>(bits, decode, std::move(space));
    if (!colorMap->isOk())
        return false;

    PdfValue mask;
    PdfValue softMask;
    dict.dictLookup("Mask", mask);
    dict.dictLookup("SMask", softMask);

    // A mask whose data cannot be decoded leaves the image out: drawn without
    // its mask, an image would cover what the mask lets through (a scan's
    // colour layer under its text mask covers the whole page).
    if ((softMask.isStream() && softMask.getStream()->lacksDecoder()) ||
        (mask.isStream() && mask.getStream()->lacksDecoder()))
        return true;

    if (softMask.isStream() && !inlineImage) {
        if (!drawSoftMaskedImage(ref, stream, width, height, colorMap.get(), softMask))
            return false;
    } else if (mask.isArray()) {
        if (!drawColorKeyedImage(ref, stream, width, height, colorMap.get(), components, mask, inlineImage))
            return false;
    } else if (mask.isStream() && !inlineImage) {
        if (!drawStencilMaskedImage(ref, stream, width, height, colorMap.get(), mask))
            return false;
    } else {
        m_device->drawImage(m_state.get(), ref, stream, width, height, colorMap.get(), nullptr, inlineImage);
    }
    addOperatorCount(imageOperatorCost(width, height));
    return true;
}

bool ContentInterpreter::drawSoftMaskedImage(const PdfValue* ref, DataStream* stream, int width, int height,
                                             ImageColorMap* colorMap, const PdfValue& softMask) {
    int maskWidth = 0;
    int maskHeight = 0;
    if (!readImageSize(softMask, maskWidth, maskHeight))
        return false;
    PdfValue entry;
    if (!imageEntry(softMask, "BitsPerComponent", "BPC", entry).isInt())
        return false;
    const int maskBits = entry.getInt();
    bool failed = false;
    std::unique_ptr<ColorSpace> maskSpace = imageColorSpace(softMask, 0, failed);
    if (failed || maskSpace->getKind() != ColorSpace::kDeviceGray)
        return false;
    PdfValue maskDecode;
    imageEntry(softMask, "Decode", "D", maskDecode);
    ImageColorMap maskMap(maskBits, maskDecode, std::move(maskSpace));
    if (!maskMap.isOk())
        return false;
    m_device->drawImageWithSoftMask(m_state.get(), ref, stream, width, height, colorMap, softMask.getStream(),
                                    maskWidth, maskHeight, &maskMap);
    return true;
}

bool ContentInterpreter::drawColorKeyedImage(const PdfValue* ref, DataStream* stream, int width, int height,
                                             ImageColorMap* colorMap, int components, const PdfValue& mask,
                                             bool inlineImage) {
    // A colour-key range per component: pairs min, max. A shorter array
    // would leave the device reading ranges that were never given.
    int maskColors[kMaxColorKeyValues] = {};
    const int length = mask.getArray()->getLength();
    if (length < 2 * components)
        return false;
    for (int i = 0; i < length && i < kMaxColorKeyValues; ++i) {
        PdfValue element;
        mask.getArray()->get(i, element);
        maskColors[i] = element.isInt() ? element.getInt() : 0;
    }
    m_device->drawImage(m_state.get(), ref, stream, width, height, colorMap, maskColors, inlineImage);
    return true;
}

bool ContentInterpreter::drawStencilMaskedImage(const PdfValue* ref, DataStream* stream, int width,
                                                int height, ImageColorMap* colorMap, const PdfValue& mask) {
    int maskWidth = 0;
    int maskHeight = 0;
    if (!readImageSize(mask, maskWidth, maskHeight))
        return false;
    PdfValue entry;
    if (!(imageEntry(mask, "ImageMask", "IM", entry).isBool() && entry.getBool()))
        return false;
    bool maskInvert = false;
    if (!readStencilDecode(mask, maskInvert))
        return false;
    m_device->drawImageWithMask(m_state.get(), ref, stream, width, height, colorMap, mask.getStream(),
                                maskWidth, maskHeight, maskInvert);
    return true;
}

void ContentInterpreter::readNumbers(const PdfValue& array, double* out, int count) {
    for (int i = 0; i < count; ++i) {
        PdfValue element;
        array.getArray()->get(i, element);
        out[i] = element.isNum() ? element.getNum() : 0;
    }
}

bool ContentInterpreter::readFormHeader(const PdfValue& stream, FormHeader& out) {
    PdfValue entry;
    if (!stream.dictLookup("FormType", entry).isNull() && !(entry.isInt() && entry.getInt() == 1))
        reportError(getPos(), "Unknown FormType");
    if (!stream.dictLookup("BBox", entry).isArray()) {
        reportError(getPos(), "Form without a BBox array");
        return false;
    }
    readNumbers(entry, out.box, 4);
    if (stream.dictLookup("Matrix", entry).isArray())
        readNumbers(entry, out.matrix, 6);
    stream.dictLookup("Resources", out.resources);
    return true;
}

void ContentInterpreter::runFormXObject(const PdfValue& stream) {
    FormHeader form;
    if (atNestingBound() || !readFormHeader(stream, form))
        return;

    PdfValue entry;
    bool group = false;
    std::unique_ptr<ColorSpace> groupSpace;
    bool isolated = false;
    bool knockout = false;
    PdfValue groupDict;
    if (stream.dictLookup("Group", groupDict).isDict()) {
        PdfValue kind;
        if (groupDict.dictLookup("S", kind).isName("Transparency")) {
            group = true;
            if (!groupDict.dictLookup("CS", entry).isNull())
                groupSpace = ColorSpace::parse(entry);
            if (groupDict.dictLookup("I", entry).isBool())
                isolated = entry.getBool();
            if (groupDict.dictLookup("K", entry).isBool())
                knockout = entry.getBool();
        }
    }
    runForm(stream, form.resourceDict(), form.matrix, form.box, group, false, groupSpace.get(), isolated,
            knockout, false, nullptr, nullptr);
}

void ContentInterpreter::opImageData(PdfValue*, int) {
    reportError(getPos(), "Inline image data marker ID outside an inline image");
}

void ContentInterpreter::opEndImage(PdfValue*, int) {
    reportError(getPos(), "Inline image end marker EI outside an inline image");
}

bool ContentInterpreter::readInlineImageDict(PdfValue& dict) {
    dict.initDict(m_xref);
    PdfValue value;
    for (;;) {
        m_parser->getValue(value);
        if (value.isCommand("ID"))
            return true;
        if (value.isEof()) {
            reportError(getPos(), "End of content inside an inline image");
            return false;
        }
        if (!value.isName()) {
            reportError(getPos(), "Inline image dictionary holds a %s where a key belongs; skipped",
                        value.typeName());
            continue;
        }
        char* key = copyString(value.getName());
        PdfValue entry;
        m_parser->getValue(entry);
        if (entry.isEof()) {
            memFree(key);
            reportError(getPos(), "End of content inside an inline image");
            return false;
        }
        // A key without a value right before the data marker: the marker
        // still starts the data.
        if (entry.isCommand("ID")) {
            memFree(key);
            return true;
        }
        if (entry.isError()) {
            memFree(key);
            return true;
        }
        dict.getDict()->add(key, std::move(entry));
    }
}

void ContentInterpreter::opBeginImage(PdfValue*, int) {
    PdfValue dict;
    if (!readInlineImageDict(dict))
        return;
    DataStream* content = m_parser->getTokenizer()->getCurrentStream();
    if (!content) {
        reportError(getPos(), "End of content inside an inline image");
        return;
    }
    PdfValue dictCopy;
    dict.copy(dictCopy);
    RefPtr<DataStream> source =
        RefPtr<DataStream>::adopt(new EmbeddedSource(content, std::move(dictCopy), false, 0));
    RefPtr<DataStream> stream = DataStream::addFilters(source, dict);

    // A device that does not draw the image still consumes its data (the
    // base device drains it), so that data holding the bytes "EI" does not
    // end the image early.
    if (m_device->wantsNonText())
        drawImageObject(nullptr, stream.get(), dict, true);

    // The end marker: the first "EI" in the raw bytes after what the image
    // consumed.
    DataStream* raw = stream->getRawSource();
    for (int previous = -1, c; (c = raw->getChar()) >= 0; previous = c)
        if (previous == 'E' && c == 'I')
            break;
}

// --- Type 3 glyph metrics -------------------------------------------------

void ContentInterpreter::opType3Width(PdfValue* args, int) {
    m_device->setType3GlyphWidth(m_state.get(), args[0].getNum(), args[1].getNum());
}

void ContentInterpreter::opType3Box(PdfValue* args, int) {
    m_device->setType3GlyphBox(m_state.get(), args[0].getNum(), args[1].getNum(), args[2].getNum(),
                               args[3].getNum(), args[4].getNum(), args[5].getNum());
}

// --- Marked content and compatibility sections ----------------------------

void ContentInterpreter::opBeginMarked(PdfValue* args, int numArgs) {
    if (!m_verbose)
        return;
    std::printf("  marked content: %s", args[0].getName());
    if (numArgs == 2) {
        std::printf(" ");
        args[1].print(stdout);
    }
    std::printf("\n");
    std::fflush(stdout);
}

void ContentInterpreter::opMarkPoint(PdfValue* args, int numArgs) {
    if (!m_verbose)
        return;
    std::printf("  mark point: %s", args[0].getName());
    if (numArgs == 2) {
        std::printf(" ");
        args[1].print(stdout);
    }
    std::printf("\n");
    std::fflush(stdout);
}

void ContentInterpreter::opCompatibilityBegin(PdfValue*, int) {
    ++m_compatibilityDepth;
}

void ContentInterpreter::opCompatibilityEnd(PdfValue*, int) {
    if (m_compatibilityDepth > 0)
        --m_compatibilityDepth;
}

// --- The form runner --------------------------------------------------------

bool ContentInterpreter::runForm(const PdfValue& stream, PdfDict* resources, const double* matrix,
                                 const double* box, bool group, bool softMask, ColorSpace* groupColorSpace,
                                 bool isolated, bool knockout, bool alpha, PdfFunction* transfer,
                                 const ColorValue* backdrop) {
    if (!enterNesting())
        return false;

    pushResources(resources);
    saveState();
    GraphicsState* const outerFormBase = m_formBase;
    m_formBase = m_state.get();
    m_state->clearPath();

    m_state->concatMatrix(matrix[0], matrix[1], matrix[2], matrix[3], matrix[4], matrix[5]);
    m_device->updateMatrix(m_state.get(), matrix[0], matrix[1], matrix[2], matrix[3], matrix[4], matrix[5]);

    // A group's own content decides blend mode, opacity and soft mask.
    if (group || softMask) {
        neutraliseForGroup();
        m_device->beginTransparencyGroup(m_state.get(), box, groupColorSpace, isolated, knockout, softMask);
    }

    // The box clips the form's content. A group's content is clipped inside
    // the group, so that a box turned by the matrix clips it along its edges
    // and not only to the rectangle of pixels the group covers; the group is
    // painted after the box's clip is restored.
    Path* path = m_state->getPath();
    path->moveTo(box[0], box[1]);
    path->lineTo(box[2], box[1]);
    path->lineTo(box[2], box[3]);
    path->lineTo(box[0], box[3]);
    path->close();
    m_state->setCurrentPoint(box[0], box[1]);
    m_state->clip();
    m_device->clip(m_state.get());
    m_state->clearPath();

    double outerBase[6];
    std::memcpy(outerBase, m_baseMatrix, sizeof outerBase);
    std::memcpy(m_baseMatrix, m_state->getMatrix(), sizeof m_baseMatrix);

    display(stream, false);
    restoreToFormBase();
    m_formBase = outerFormBase;

    if (group || softMask)
        m_device->endTransparencyGroup(m_state.get());

    std::memcpy(m_baseMatrix, outerBase, sizeof m_baseMatrix);
    restoreState();
    popResources();

    if (softMask) {
        m_device->setSoftMask(m_state.get(), box, alpha, transfer, backdrop);
    } else if (group) {
        m_device->paintTransparencyGroup(m_state.get(), box);
    }
    leaveNesting();
    return true;
}

void ContentInterpreter::drawAnnotation(const PdfValue& appearance, const BorderStyle* border, double xMin,
                                        double yMin, double xMax, double yMax) {
    // The rectangle from default user space into the current one: through
    // the page's base matrix to the device, then back through the inverse of
    // the current matrix.
    const double* ctm = m_state->getMatrix();
    const double det = ctm[0] * ctm[3] - ctm[1] * ctm[2];
    if (det == 0 || !std::isfinite(det)) {
        reportError(getPos(), "Annotation under a singular matrix");
        return;
    }
    const double inverse[6] = {ctm[3] / det,
                               -ctm[1] / det,
                               -ctm[2] / det,
                               ctm[0] / det,
                               (ctm[2] * ctm[5] - ctm[3] * ctm[4]) / det,
                               (ctm[1] * ctm[4] - ctm[0] * ctm[5]) / det};
    auto toUser = [&](double x, double y, double& ux, double& uy) {
        const double* b = m_baseMatrix;
        const double dx = b[0] * x + b[2] * y + b[4];
        const double dy = b[1] * x + b[3] * y + b[5];
        ux = inverse[0] * dx + inverse[2] * dy + inverse[4];
        uy = inverse[1] * dx + inverse[3] * dy + inverse[5];
    };
    double x0, y0, x1, y1;
    toUser(xMin, yMin, x0, y0);
    toUser(xMax, yMax, x1, y1);
    xMin = std::min(x0, x1);
    xMax = std::max(x0, x1);
    yMin = std::min(y0, y1);
    yMax = std::max(y0, y1);

    if (appearance.isStream() && !drawAppearanceStream(appearance, xMin, yMin, xMax, yMax))
        return;
    if (border && border->width > 0)
        strokeAnnotationBorder(*border, inverse, xMin, yMin, xMax, yMax);
}

bool ContentInterpreter::drawAppearanceStream(const PdfValue& appearance, double xMin, double yMin,
                                              double xMax, double yMax) {
    PdfValue entry;
    if (!appearance.dictLookup("BBox", entry).isArray()) {
        reportError(getPos(), "Appearance without a BBox array");
        return false;
    }
    double box[4];
    readNumbers(entry, box, 4);
    double m[6] = {1, 0, 0, 1, 0, 0};
    if (appearance.dictLookup("Matrix", entry).isArray() && entry.getArray()->getLength() == 6) {
        double values[6];
        bool numbers = true;
        for (int i = 0; i < 6 && numbers; ++i) {
            PdfValue element;
            numbers = entry.getArray()->get(i, element).isNum();
            values[i] = numbers ? element.getNum() : 0;
        }
        if (numbers)
            std::memcpy(m, values, sizeof m);
    }
    // The appearance box, through its matrix, is stretched onto the
    // rectangle; a box with no width or height keeps that scale at 1.
    const double ax0 = m[0] * box[0] + m[2] * box[1] + m[4];
    const double ay0 = m[1] * box[0] + m[3] * box[1] + m[5];
    const double ax1 = m[0] * box[2] + m[2] * box[3] + m[4];
    const double ay1 = m[1] * box[2] + m[3] * box[3] + m[5];
    const double fx0 = std::min(ax0, ax1), fx1 = std::max(ax0, ax1);
    const double fy0 = std::min(ay0, ay1), fy1 = std::max(ay0, ay1);
    const double sx = fx1 == fx0 ? 1 : (xMax - xMin) / (fx1 - fx0);
    const double sy = fy1 == fy0 ? 1 : (yMax - yMin) / (fy1 - fy0);
    const double matrix[6] = {
        m[0] * sx, m[1] * sy, m[2] * sx, m[3] * sy, sx * (m[4] - fx0) + xMin, sy * (m[5] - fy0) + yMin};
    PdfValue resources;
    appearance.dictLookup("Resources", resources);
    runForm(appearance, resources.isDict() ? resources.getDict() : nullptr, matrix, box, false, false,
            nullptr, false, false, false, nullptr, nullptr);
    return true;
}

void ContentInterpreter::strokeAnnotationBorder(const BorderStyle& border, const double* inverse, double xMin,
                                                double yMin, double xMax, double yMax) {
    // The border's stroke settings stay with the border: the next one (a
    // solid border after a dashed one) starts from the page's state again.
    saveState();
    if (m_state->getStrokeColorSpace()->getKind() != ColorSpace::kDeviceRgb) {
        m_state->setStrokePattern(nullptr);
        m_state->setStrokeColorSpace(std::make_unique<DeviceRgbColorSpace>());
        m_device->updateStrokeColorSpace(m_state.get());
    }
    ColorValue colour{};
    colour.c[0] = colorFromDouble(border.red);
    colour.c[1] = colorFromDouble(border.green);
    colour.c[2] = colorFromDouble(border.blue);
    m_state->setStrokeColor(colour);
    m_device->updateStrokeColor(m_state.get());

    // Border widths are in default user space: scaled by how long a unit
    // diagonal of that space is in the current one.
    const double* b = m_baseMatrix;
    const double vx = b[0] + b[2], vy = b[1] + b[3];
    const double ux = inverse[0] * vx + inverse[2] * vy;
    const double uy = inverse[1] * vx + inverse[3] * vy;
    const double scale = std::sqrt(ux * ux + uy * uy) / std::sqrt(2.0);
    m_state->setLineWidth(border.width * scale);
    m_device->updateLineWidth(m_state.get());
    if (border.type == BorderStyle::kDashed && border.dash && border.dashCount > 0) {
        auto dash = std::make_unique<double[]>(size_t(border.dashCount));
        for (int i = 0; i < border.dashCount; ++i)
            dash[i] = border.dash[i] * scale;
        m_state->setLineDash(std::move(dash), border.dashCount, 0);
        m_device->updateLineDash(m_state.get());
    }

    // In the current user space y points up whatever the device does, so
    // an underline always runs along the rectangle's lower edge.
    m_state->clearPath();
    Path* path = m_state->getPath();
    path->moveTo(xMin, yMin);
    path->lineTo(xMax, yMin);
    m_state->setCurrentPoint(xMax, yMin);
    if (border.type != BorderStyle::kUnderline) {
        path->lineTo(xMax, yMax);
        path->lineTo(xMin, yMax);
        path->close();
        m_state->setCurrentPoint(xMin, yMin);
    }
    m_device->stroke(m_state.get());
    m_state->clearPath();
    restoreState();
}

}  // namespace rendova
