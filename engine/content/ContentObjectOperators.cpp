// The operators that draw external objects, inline images and shadings, the
// Type 3 glyph metrics, marked content and compatibility sections, and the
// form runner that forms, soft masks, tiling patterns and annotation
// appearances share.
#include <cstdio>
#include <cstring>

#include "engine/content/ContentInterpreter.h"
#include "engine/core/DataStream.h"
#include "engine/core/EmbeddedSource.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/Memory.h"
#include "engine/core/ValueParser.h"

namespace rendova {

namespace {

// An entry of an inline image's dictionary under its long or short key.
PdfValue& inlineEntry(const PdfValue& dict, const char* key, const char* shortKey, PdfValue& out) {
    if (dict.dictLookup(key, out).isNull())
        dict.dictLookup(shortKey, out);
    return out;
}

bool isAnyName(const PdfValue& value, const char* a, const char* b, const char* c) {
    return value.isName(a) || value.isName(b) || (c && value.isName(c));
}

}  // namespace

// --- XObjects, images, shadings --------------------------------------------

void ContentInterpreter::opXObject(PdfValue*, int) {
    reportDeferred(kDeferredXObjects, "XObjects (forms and images)");
}

void ContentInterpreter::opShading(PdfValue*, int) {
    reportDeferred(kDeferredShadings, "Shadings");
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
    reportDeferred(kDeferredInlineImages, "Inline images");

    // The image is not drawn yet, but its data must be consumed exactly, as
    // a device that does not draw an inline image drains it, so that data
    // holding the bytes "EI" does not end the image early and the content
    // after it parses: the decoded size from the dictionary is read through
    // the image's filters, then the raw data up to EI.
    PdfValue dictCopy;
    dict.copy(dictCopy);
    RefPtr<DataStream> source =
        RefPtr<DataStream>::adopt(new EmbeddedSource(content, std::move(dictCopy), false, 0));
    RefPtr<DataStream> stream = DataStream::addFilters(source, dict);

    PdfValue entry;
    const int width = inlineEntry(dict, "Width", "W", entry).isInt() ? entry.getInt() : 0;
    const int height = inlineEntry(dict, "Height", "H", entry).isInt() ? entry.getInt() : 0;
    const bool mask = inlineEntry(dict, "ImageMask", "IM", entry).isBool() && entry.getBool();
    int bits = inlineEntry(dict, "BitsPerComponent", "BPC", entry).isInt() ? entry.getInt() : (mask ? 1 : 0);
    int components = 1;
    if (!mask) {
        inlineEntry(dict, "ColorSpace", "CS", entry);
        if (entry.isName() && !isAnyName(entry, "G", "DeviceGray", "CalGray") &&
            !isAnyName(entry, "RGB", "DeviceRGB", "CalRGB") &&
            !isAnyName(entry, "CMYK", "DeviceCMYK", nullptr) && !isAnyName(entry, "I", "Indexed", nullptr)) {
            PdfValue resource;
            if (m_resources->lookupColorSpace(entry.getName(), resource))
                entry = std::move(resource);
        }
        PdfValue family;
        if (entry.isArray())
            entry.getArray()->get(0, family);
        const PdfValue& name = entry.isArray() ? family : entry;
        if (isAnyName(name, "RGB", "DeviceRGB", "CalRGB")) {
            components = 3;
        } else if (isAnyName(name, "CMYK", "DeviceCMYK", nullptr)) {
            components = 4;
        } else if (isAnyName(name, "G", "DeviceGray", "CalGray") ||
                   isAnyName(name, "I", "Indexed", nullptr)) {
            components = 1;
        } else if (std::unique_ptr<ColorSpace> space = ColorSpace::parse(entry)) {
            components = space->getComponentCount();
        } else {
            bits = 0;
        }
    }
    if (width > 0 && height > 0 && bits > 0 && bits <= 32) {
        const int64_t rowBytes = (int64_t(width) * components * bits + 7) / 8;
        const int64_t count = rowBytes > INT64_MAX / height ? INT64_MAX : rowBytes * height;
        stream->reset();
        for (int64_t i = 0; i < count; ++i)
            if (stream->getChar() < 0)
                break;
        stream->close();
    }

    DataStream* raw = stream->getRawSource();
    for (int previous = -1, c; (c = raw->getChar()) >= 0; previous = c)
        if (previous == 'E' && c == 'I')
            break;
}

// --- Type 3 glyph metrics -------------------------------------------------

void ContentInterpreter::opType3Width(PdfValue* args, int) {
    m_device->setType3GlyphWidth(m_state, args[0].getNum(), args[1].getNum());
}

void ContentInterpreter::opType3Box(PdfValue* args, int) {
    m_device->setType3GlyphBox(m_state, args[0].getNum(), args[1].getNum(), args[2].getNum(),
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
    m_state->clearPath();

    m_state->concatMatrix(matrix[0], matrix[1], matrix[2], matrix[3], matrix[4], matrix[5]);
    m_device->updateMatrix(m_state, matrix[0], matrix[1], matrix[2], matrix[3], matrix[4], matrix[5]);

    Path* path = m_state->getPath();
    path->moveTo(box[0], box[1]);
    path->lineTo(box[2], box[1]);
    path->lineTo(box[2], box[3]);
    path->lineTo(box[0], box[3]);
    path->close();
    m_state->setCurrentPoint(box[0], box[1]);
    m_state->clip();
    m_device->clip(m_state);
    m_state->clearPath();

    // A group starts from a neutral state: its own content decides blend
    // mode, opacity and soft mask; the group as a whole is composited with
    // the outer ones when it is painted.
    if (group || softMask) {
        if (m_state->getBlendMode() != kBlendNormal) {
            m_state->setBlendMode(kBlendNormal);
            m_device->updateBlendMode(m_state);
        }
        if (m_state->getFillOpacity() != 1) {
            m_state->setFillOpacity(1);
            m_device->updateFillOpacity(m_state);
        }
        if (m_state->getStrokeOpacity() != 1) {
            m_state->setStrokeOpacity(1);
            m_device->updateStrokeOpacity(m_state);
        }
        m_device->clearSoftMask(m_state);
        m_device->beginTransparencyGroup(m_state, box, groupColorSpace, isolated, knockout, softMask);
    }

    double outerBase[6];
    std::memcpy(outerBase, m_baseMatrix, sizeof outerBase);
    std::memcpy(m_baseMatrix, m_state->getMatrix(), sizeof m_baseMatrix);

    display(stream, false);

    if (group || softMask)
        m_device->endTransparencyGroup(m_state);

    std::memcpy(m_baseMatrix, outerBase, sizeof m_baseMatrix);
    restoreState();
    popResources();

    if (softMask) {
        m_device->setSoftMask(m_state, box, alpha, transfer, backdrop);
    } else if (group) {
        m_device->paintTransparencyGroup(m_state, box);
    }
    leaveNesting();
    return true;
}

}  // namespace rendova
