// The operators that change the graphics state, set colours and colour
// spaces, build paths, paint them and clip, and the extended graphics state.
#include <cstdio>

#include "engine/content/ContentInterpreter.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/SaturatingCast.h"

namespace rendova {

namespace {

// Colour operands as 16.16 components; the components not given are 0, and
// a name among the operands (scn in a pattern space) gives 0.
ColorValue colorFromArgs(const PdfValue* args, int numArgs) {
    ColorValue color = {};
    for (int i = 0; i < numArgs && i < kMaxColorComponents; ++i)
        color.c[i] = args[i].isNum() ? colorFromDouble(args[i].getNum()) : 0;
    return color;
}

}  // namespace

// --- State operators ------------------------------------------------------

void ContentInterpreter::opSave(PdfValue*, int) {
    saveState();
}

void ContentInterpreter::opRestore(PdfValue*, int) {
    if (m_state.get() == m_formBase) {
        reportError(getPos(), "Restore without a matching save in a form");
        return;
    }
    restoreState();
}

void ContentInterpreter::opConcat(PdfValue* args, int) {
    const double a = args[0].getNum(), b = args[1].getNum(), c = args[2].getNum();
    const double d = args[3].getNum(), e = args[4].getNum(), f = args[5].getNum();
    m_state->concatMatrix(a, b, c, d, e, f);
    m_fontChanged = true;
    m_device->updateMatrix(m_state.get(), a, b, c, d, e, f);
}

void ContentInterpreter::opLineWidth(PdfValue* args, int) {
    m_state->setLineWidth(args[0].getNum());
    m_device->updateLineWidth(m_state.get());
}

void ContentInterpreter::opLineCap(PdfValue* args, int) {
    m_state->setLineCap(args[0].getInt());
    m_device->updateLineCap(m_state.get());
}

void ContentInterpreter::opLineJoin(PdfValue* args, int) {
    m_state->setLineJoin(args[0].getInt());
    m_device->updateLineJoin(m_state.get());
}

void ContentInterpreter::opMiterLimit(PdfValue* args, int) {
    m_state->setMiterLimit(args[0].getNum());
    m_device->updateMiterLimit(m_state.get());
}

void ContentInterpreter::opFlatness(PdfValue* args, int) {
    m_state->setFlatness(saturateToInt(args[0].getNum()));
    m_device->updateFlatness(m_state.get());
}

void ContentInterpreter::opDash(PdfValue* args, int) {
    const PdfArray* array = args[0].getArray();
    const int length = array->getLength();
    std::unique_ptr<double[]> dash;
    if (length > 0) {
        dash = std::make_unique<double[]>(size_t(length));
        readNumbers(args[0], dash.get(), length);
    }
    m_state->setLineDash(std::move(dash), length, args[1].getNum());
    m_device->updateLineDash(m_state.get());
}

void ContentInterpreter::opNothing(PdfValue*, int) {}

// --- Colour operators -----------------------------------------------------

void ContentInterpreter::setDeviceColor(bool stroke, std::unique_ptr<ColorSpace> space, PdfValue* args,
                                        int numArgs) {
    const ColorValue color = colorFromArgs(args, numArgs);
    if (stroke) {
        m_state->setStrokePattern(nullptr);
        m_state->setStrokeColorSpace(std::move(space));
        m_state->setStrokeColor(color);
        m_device->updateStrokeColorSpace(m_state.get());
        m_device->updateStrokeColor(m_state.get());
    } else {
        m_state->setFillPattern(nullptr);
        m_state->setFillColorSpace(std::move(space));
        m_state->setFillColor(color);
        m_device->updateFillColorSpace(m_state.get());
        m_device->updateFillColor(m_state.get());
    }
}

void ContentInterpreter::opFillGray(PdfValue* args, int numArgs) {
    setDeviceColor(false, std::make_unique<DeviceGrayColorSpace>(), args, numArgs);
}

void ContentInterpreter::opStrokeGray(PdfValue* args, int numArgs) {
    setDeviceColor(true, std::make_unique<DeviceGrayColorSpace>(), args, numArgs);
}

void ContentInterpreter::opFillRgb(PdfValue* args, int numArgs) {
    setDeviceColor(false, std::make_unique<DeviceRgbColorSpace>(), args, numArgs);
}

void ContentInterpreter::opStrokeRgb(PdfValue* args, int numArgs) {
    setDeviceColor(true, std::make_unique<DeviceRgbColorSpace>(), args, numArgs);
}

void ContentInterpreter::opFillCmyk(PdfValue* args, int numArgs) {
    setDeviceColor(false, std::make_unique<DeviceCmykColorSpace>(), args, numArgs);
}

void ContentInterpreter::opStrokeCmyk(PdfValue* args, int numArgs) {
    setDeviceColor(true, std::make_unique<DeviceCmykColorSpace>(), args, numArgs);
}

void ContentInterpreter::setColorSpace(bool stroke, const PdfValue& name) {
    if (stroke) {
        m_state->setStrokePattern(nullptr);
    } else {
        m_state->setFillPattern(nullptr);
    }
    // A name that is not a resource may still name a family (DeviceRGB,
    // Pattern).
    PdfValue resource;
    std::unique_ptr<ColorSpace> space = m_resources->lookupColorSpace(name.getName(), resource)
                                            ? ColorSpace::parse(resource)
                                            : ColorSpace::parse(name);
    if (!space) {
        reportError(getPos(),
                    stroke ? "Unusable stroke colour space '%s'" : "Unusable fill colour space '%s'",
                    name.getName());
        return;
    }
    ColorValue color = {};
    space->getDefaultColor(color);
    if (stroke) {
        m_state->setStrokeColorSpace(std::move(space));
        m_state->setStrokeColor(color);
        m_device->updateStrokeColorSpace(m_state.get());
        m_device->updateStrokeColor(m_state.get());
    } else {
        m_state->setFillColorSpace(std::move(space));
        m_state->setFillColor(color);
        m_device->updateFillColorSpace(m_state.get());
        m_device->updateFillColor(m_state.get());
    }
}

void ContentInterpreter::opFillColorSpace(PdfValue* args, int) {
    setColorSpace(false, args[0]);
}

void ContentInterpreter::opStrokeColorSpace(PdfValue* args, int) {
    setColorSpace(true, args[0]);
}

void ContentInterpreter::setColorComponents(bool stroke, PdfValue* args, int numArgs) {
    const ColorSpace* space = stroke ? m_state->getStrokeColorSpace() : m_state->getFillColorSpace();
    if (numArgs != space->getComponentCount()) {
        reportError(getPos(), "%d colour components given for a %s colour space of %d", numArgs,
                    stroke ? "stroke" : "fill", space->getComponentCount());
        return;
    }
    if (stroke) {
        m_state->setStrokePattern(nullptr);
        m_state->setStrokeColor(colorFromArgs(args, numArgs));
        m_device->updateStrokeColor(m_state.get());
    } else {
        m_state->setFillPattern(nullptr);
        m_state->setFillColor(colorFromArgs(args, numArgs));
        m_device->updateFillColor(m_state.get());
    }
}

void ContentInterpreter::opFillColor(PdfValue* args, int numArgs) {
    setColorComponents(false, args, numArgs);
}

void ContentInterpreter::opStrokeColor(PdfValue* args, int numArgs) {
    setColorComponents(true, args, numArgs);
}

void ContentInterpreter::setColorOrPattern(bool stroke, PdfValue* args, int numArgs) {
    const ColorSpace* space = stroke ? m_state->getStrokeColorSpace() : m_state->getFillColorSpace();
    if (space->getKind() != ColorSpace::kPattern) {
        setColorComponents(stroke, args, numArgs);
        return;
    }
    // In a pattern space the operands are the colour of an uncoloured
    // pattern in the underlying space, then the pattern's name.
    if (numArgs > 1) {
        const ColorSpace* under = static_cast<const PatternColorSpace*>(space)->getUnderlying();
        if (!under || under->getComponentCount() != numArgs - 1) {
            reportError(getPos(), "%d colour components given for the underlying space of a %s pattern space",
                        numArgs - 1, stroke ? "stroke" : "fill");
            return;
        }
        if (stroke) {
            m_state->setStrokeColor(colorFromArgs(args, numArgs - 1));
            m_device->updateStrokeColor(m_state.get());
        } else {
            m_state->setFillColor(colorFromArgs(args, numArgs - 1));
            m_device->updateFillColor(m_state.get());
        }
    }
    if (numArgs > 0 && args[numArgs - 1].isName()) {
        std::unique_ptr<Pattern> pattern = m_resources->lookupPattern(args[numArgs - 1].getName());
        if (!pattern)
            return;
        if (stroke) {
            m_state->setStrokePattern(std::move(pattern));
        } else {
            m_state->setFillPattern(std::move(pattern));
        }
    }
}

void ContentInterpreter::opFillColorN(PdfValue* args, int numArgs) {
    setColorOrPattern(false, args, numArgs);
}

void ContentInterpreter::opStrokeColorN(PdfValue* args, int numArgs) {
    setColorOrPattern(true, args, numArgs);
}

// --- Path construction ----------------------------------------------------

void ContentInterpreter::opMoveTo(PdfValue* args, int) {
    const double x = args[0].getNum(), y = args[1].getNum();
    m_state->setCurrentPoint(x, y);
    m_state->getPath()->moveTo(x, y);
}

void ContentInterpreter::opLineTo(PdfValue* args, int) {
    Path* path = m_state->getPath();
    if (!path->hasCurrentPoint()) {
        reportError(getPos(), "Line segment without a current point");
        return;
    }
    const double x = args[0].getNum(), y = args[1].getNum();
    m_state->setCurrentPoint(x, y);
    path->lineTo(x, y);
}

void ContentInterpreter::opCurveTo(PdfValue* args, int) {
    Path* path = m_state->getPath();
    if (!path->hasCurrentPoint()) {
        reportError(getPos(), "Curve segment without a current point");
        return;
    }
    const double x3 = args[4].getNum(), y3 = args[5].getNum();
    path->curveTo(args[0].getNum(), args[1].getNum(), args[2].getNum(), args[3].getNum(), x3, y3);
    m_state->setCurrentPoint(x3, y3);
}

void ContentInterpreter::opCurveFromCurrent(PdfValue* args, int) {
    Path* path = m_state->getPath();
    if (!path->hasCurrentPoint()) {
        reportError(getPos(), "Curve segment (v) without a current point");
        return;
    }
    const double x3 = args[2].getNum(), y3 = args[3].getNum();
    path->curveTo(m_state->getCurrentX(), m_state->getCurrentY(), args[0].getNum(), args[1].getNum(), x3, y3);
    m_state->setCurrentPoint(x3, y3);
}

void ContentInterpreter::opCurveToEnd(PdfValue* args, int) {
    Path* path = m_state->getPath();
    if (!path->hasCurrentPoint()) {
        reportError(getPos(), "Curve segment (y) without a current point");
        return;
    }
    const double x3 = args[2].getNum(), y3 = args[3].getNum();
    path->curveTo(args[0].getNum(), args[1].getNum(), x3, y3, x3, y3);
    m_state->setCurrentPoint(x3, y3);
}

void ContentInterpreter::opRectangle(PdfValue* args, int) {
    const double x = args[0].getNum(), y = args[1].getNum();
    const double w = args[2].getNum(), h = args[3].getNum();
    Path* path = m_state->getPath();
    path->moveTo(x, y);
    path->lineTo(x + w, y);
    path->lineTo(x + w, y + h);
    path->lineTo(x, y + h);
    path->close();
    const SubPath* last = path->getSubPath(path->getSubPathCount() - 1);
    m_state->setCurrentPoint(last->getLastX(), last->getLastY());
}

bool ContentInterpreter::closePath() {
    Path* path = m_state->getPath();
    if (!path->hasCurrentPoint())
        return false;
    path->close();
    const SubPath* last = path->getSubPath(path->getSubPathCount() - 1);
    m_state->setCurrentPoint(last->getLastX(), last->getLastY());
    return true;
}

void ContentInterpreter::opClosePath(PdfValue*, int) {
    if (!closePath())
        reportError(getPos(), "Closing a path without a current point");
}

void ContentInterpreter::opClipNonzero(PdfValue*, int) {
    m_pendingClip = 1;
}

void ContentInterpreter::opClipEvenOdd(PdfValue*, int) {
    m_pendingClip = 2;
}

void ContentInterpreter::opEndPath(PdfValue*, int) {
    endPath();
}

// --- Painting -------------------------------------------------------------

void ContentInterpreter::endPath() {
    if (!m_state->getPath()->isEmpty() && m_pendingClip != 0) {
        m_state->clip();
        if (m_pendingClip == 1) {
            m_device->clip(m_state.get());
        } else {
            m_device->eoClip(m_state.get());
        }
    }
    m_pendingClip = 0;
    m_state->clearPath();
}

void ContentInterpreter::paint(int flags) {
    if (flags & kPaintClose)
        closePath();
    const Path* path = m_state->getPath();
    // Nothing to paint: a pending clip waits for the next path.
    if (path->isEmpty())
        return;
    // A lone move-to paints nothing but still ends the path.
    if (path->getSubPathCount() > 0) {
        if (flags & kPaintFill)
            doFill((flags & kPaintEvenOdd) != 0);
        if (flags & kPaintStroke)
            doStroke();
    }
    endPath();
}

void ContentInterpreter::doFill(bool evenOdd) {
    if (m_state->getFillColorSpace()->getKind() == ColorSpace::kPattern) {
        doPatternFill(false, evenOdd);
    } else if (evenOdd) {
        m_device->eoFill(m_state.get());
    } else {
        m_device->fill(m_state.get());
    }
}

void ContentInterpreter::doStroke() {
    if (m_state->getStrokeColorSpace()->getKind() == ColorSpace::kPattern) {
        doPatternFill(true, false);
    } else {
        m_device->stroke(m_state.get());
    }
}

void ContentInterpreter::opStroke(PdfValue*, int) {
    paint(kPaintStroke);
}

void ContentInterpreter::opCloseStroke(PdfValue*, int) {
    paint(kPaintClose | kPaintStroke);
}

void ContentInterpreter::opFill(PdfValue*, int) {
    paint(kPaintFill);
}

void ContentInterpreter::opEoFill(PdfValue*, int) {
    paint(kPaintFill | kPaintEvenOdd);
}

void ContentInterpreter::opFillStroke(PdfValue*, int) {
    paint(kPaintFill | kPaintStroke);
}

void ContentInterpreter::opEoFillStroke(PdfValue*, int) {
    paint(kPaintFill | kPaintEvenOdd | kPaintStroke);
}

void ContentInterpreter::opCloseFillStroke(PdfValue*, int) {
    paint(kPaintClose | kPaintFill | kPaintStroke);
}

void ContentInterpreter::opCloseEoFillStroke(PdfValue*, int) {
    paint(kPaintClose | kPaintFill | kPaintEvenOdd | kPaintStroke);
}

// --- Extended graphics state ----------------------------------------------

void ContentInterpreter::opExtGState(PdfValue* args, int) {
    PdfValue dict;
    if (!m_resources->lookupExtGState(args[0].getName(), dict))
        return;
    if (!dict.isDict()) {
        reportError(getPos(), "ExtGState '%s' is not a dictionary", args[0].getName());
        return;
    }
    if (m_verbose) {
        std::printf("  gs ");
        dict.print(stdout);
        std::printf("\n");
        std::fflush(stdout);
    }

    // The entries apply one after another: an error in one leaves the
    // earlier ones in force. The line parameters take the operands of their
    // operators; entries of another type are left out.
    PdfValue entry;
    if (dict.dictLookup("LW", entry).isNum())
        opLineWidth(&entry, 1);
    if (dict.dictLookup("LC", entry).isInt())
        opLineCap(&entry, 1);
    if (dict.dictLookup("LJ", entry).isInt())
        opLineJoin(&entry, 1);
    if (dict.dictLookup("ML", entry).isNum())
        opMiterLimit(&entry, 1);
    if (dict.dictLookup("D", entry).isArray() && entry.getArray()->getLength() == 2) {
        PdfValue dash[2];
        entry.getArray()->get(0, dash[0]);
        entry.getArray()->get(1, dash[1]);
        if (dash[0].isArray() && dash[1].isNum())
            opDash(dash, 2);
        else
            reportError(getPos(), "Dash pattern in an ExtGState is not an array and a phase");
    }
    if (!dict.dictLookup("BM", entry).isNull()) {
        int mode;
        if (GraphicsState::parseBlendMode(entry, &mode)) {
            m_state->setBlendMode(mode);
            m_device->updateBlendMode(m_state.get());
        } else {
            reportError(getPos(), "Unusable blend mode in an ExtGState");
        }
    }
    if (dict.dictLookup("ca", entry).isNum()) {
        m_state->setFillOpacity(entry.getNum());
        m_device->updateFillOpacity(m_state.get());
    }
    if (dict.dictLookup("CA", entry).isNum()) {
        m_state->setStrokeOpacity(entry.getNum());
        m_device->updateStrokeOpacity(m_state.get());
    }
    // OP sets the fill overprint too unless op is given itself.
    bool haveFillOverprint = false;
    if (dict.dictLookup("op", entry).isBool()) {
        m_state->setFillOverprint(entry.getBool());
        m_device->updateFillOverprint(m_state.get());
        haveFillOverprint = true;
    }
    if (dict.dictLookup("OP", entry).isBool()) {
        m_state->setStrokeOverprint(entry.getBool());
        m_device->updateStrokeOverprint(m_state.get());
        if (!haveFillOverprint) {
            m_state->setFillOverprint(entry.getBool());
            m_device->updateFillOverprint(m_state.get());
        }
    }
    if (dict.dictLookup("SA", entry).isBool()) {
        m_state->setStrokeAdjust(entry.getBool());
        m_device->updateStrokeAdjust(m_state.get());
    }
    if (dict.dictLookup("TR2", entry).isNull())
        dict.dictLookup("TR", entry);
    applyTransfer(entry);
    if (!dict.dictLookup("SMask", entry).isNull())
        applySoftMask(entry);
}

void ContentInterpreter::applyTransfer(const PdfValue& value) {
    if (value.isNull())
        return;
    std::unique_ptr<PdfFunction> functions[4];
    if (value.isName("Default") || value.isName("Identity")) {
        m_state->setTransfer(functions);
        m_device->updateTransfer(m_state.get());
    } else if (value.isDict() || value.isStream() || value.isName()) {
        // Other names are refused (and reported) by the function parser.
        functions[0] = PdfFunction::parse(value);
        if (!functions[0])
            return;
        m_state->setTransfer(functions);
        m_device->updateTransfer(m_state.get());
    } else if (value.isArray() && value.getArray()->getLength() == 4) {
        for (int i = 0; i < 4; ++i) {
            PdfValue element;
            value.getArray()->get(i, element);
            functions[i] = PdfFunction::parse(element);
            if (!functions[i])
                return;
        }
        m_state->setTransfer(functions);
        m_device->updateTransfer(m_state.get());
    } else {
        reportError(getPos(), "Transfer function in an ExtGState is not a function or an array of four");
    }
}

void ContentInterpreter::applySoftMask(const PdfValue& value) {
    if (value.isName("None")) {
        m_device->clearSoftMask(m_state.get());
        m_state->setSoftMasked(false);
        return;
    }
    if (!value.isDict()) {
        reportError(getPos(), "Soft mask in an ExtGState is a %s, not a dictionary or None",
                    value.typeName());
        return;
    }
    PdfValue entry;
    const bool alpha = value.dictLookup("S", entry).isName("Alpha");

    // The transfer function maps the mask's values one to one; the name
    // Identity is the same as none (the identity function of the parser
    // takes 32 values and would be refused below).
    std::unique_ptr<PdfFunction> transfer;
    if (!value.dictLookup("TR", entry).isNull() && !entry.isName("Identity")) {
        transfer = PdfFunction::parse(entry);
        if (!transfer || transfer->getInputCount() != 1 || transfer->getOutputCount() != 1) {
            reportError(getPos(),
                        "Soft mask transfer function is not a function of one input and one output");
            transfer.reset();
        }
    }

    ColorValue backdrop = {};
    const bool haveBackdrop = value.dictLookup("BC", entry).isArray();
    if (haveBackdrop) {
        const PdfArray* array = entry.getArray();
        for (int i = 0; i < array->getLength() && i < kMaxColorComponents; ++i) {
            PdfValue element;
            if (array->get(i, element).isNum())
                backdrop.c[i] = colorFromDouble(element.getNum());
        }
    }

    PdfValue stream;
    if (!value.dictLookup("G", stream).isStream()) {
        reportError(getPos(), "Soft mask group (G) is a %s, not a stream", stream.typeName());
        return;
    }
    PdfValue group;
    if (!stream.dictLookup("Group", group).isDict()) {
        reportError(getPos(), "Soft mask group has no Group dictionary");
        return;
    }
    std::unique_ptr<ColorSpace> groupSpace;
    if (!group.dictLookup("CS", entry).isNull())
        groupSpace = ColorSpace::parse(entry);
    const bool isolated = group.dictLookup("I", entry).isBool() && entry.getBool();
    const bool knockout = group.dictLookup("K", entry).isBool() && entry.getBool();
    if (!haveBackdrop && groupSpace)
        groupSpace->getDefaultColor(backdrop);

    runSoftMaskForm(stream, std::move(groupSpace), isolated, knockout, alpha, transfer.get(), backdrop);
    m_state->setSoftMasked(true);
}

void ContentInterpreter::runSoftMaskForm(const PdfValue& stream, std::unique_ptr<ColorSpace> groupSpace,
                                         bool isolated, bool knockout, bool alpha, PdfFunction* transfer,
                                         const ColorValue& backdrop) {
    FormHeader form;
    if (atNestingBound() || !readFormHeader(stream, form))
        return;
    runForm(stream, form.resourceDict(), form.matrix, form.box, true, true, groupSpace.get(), isolated,
            knockout, alpha, transfer, &backdrop);
}

}  // namespace rendova
