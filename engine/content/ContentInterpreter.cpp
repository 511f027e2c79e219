#include "engine/content/ContentInterpreter.h"

#include <cstdio>
#include <cstring>

#include "engine/core/ErrorReport.h"
#include "engine/core/GlobalSettings.h"
#include "engine/core/Tokenizer.h"
#include "engine/core/ValueParser.h"

namespace rendova {

constexpr ContentInterpreter::OperatorRecord ContentInterpreter::op(const char* name, int numArgs,
                                                                    std::initializer_list<int> types,
                                                                    Handler handler) {
    OperatorRecord record{};
    for (int i = 0; i < 4 && name[i]; ++i)
        record.name[i] = name[i];
    record.numArgs = numArgs;
    const int count = numArgs < 0 ? -numArgs : numArgs;
    int last = kArgNone;
    int i = 0;
    for (int type : types) {
        record.types[i++] = type;
        last = type;
    }
    for (; i < kMaxOperands; ++i)
        record.types[i] = i < count ? last : kArgNone;
    record.handler = handler;
    return record;
}

// The published content operators, sorted by the bytes of their names (the
// binary search relies on it; a test runs every name).
const ContentInterpreter::OperatorRecord ContentInterpreter::kOperators[73] = {
    op("\"", 3, {kArgNum, kArgNum, kArgString}, &ContentInterpreter::opMoveSetShowText),
    op("'", 1, {kArgString}, &ContentInterpreter::opMoveShowText),
    op("B", 0, {}, &ContentInterpreter::opFillStroke),
    op("B*", 0, {}, &ContentInterpreter::opEoFillStroke),
    op("BDC", 2, {kArgName, kArgDictOrName}, &ContentInterpreter::opBeginMarked),
    op("BI", 0, {}, &ContentInterpreter::opBeginImage),
    op("BMC", 1, {kArgName}, &ContentInterpreter::opBeginMarked),
    op("BT", 0, {}, &ContentInterpreter::opBeginText),
    op("BX", 0, {}, &ContentInterpreter::opCompatibilityBegin),
    op("CS", 1, {kArgName}, &ContentInterpreter::opStrokeColorSpace),
    op("DP", 2, {kArgName, kArgDictOrName}, &ContentInterpreter::opMarkPoint),
    op("Do", 1, {kArgName}, &ContentInterpreter::opXObject),
    op("EI", 0, {}, &ContentInterpreter::opEndImage),
    op("EMC", 0, {}, &ContentInterpreter::opNothing),
    op("ET", 0, {}, &ContentInterpreter::opEndText),
    op("EX", 0, {}, &ContentInterpreter::opCompatibilityEnd),
    op("F", 0, {}, &ContentInterpreter::opFill),
    op("G", 1, {kArgNum}, &ContentInterpreter::opStrokeGray),
    op("ID", 0, {}, &ContentInterpreter::opImageData),
    op("J", 1, {kArgInt}, &ContentInterpreter::opLineCap),
    op("K", 4, {kArgNum}, &ContentInterpreter::opStrokeCmyk),
    op("M", 1, {kArgNum}, &ContentInterpreter::opMiterLimit),
    op("MP", 1, {kArgName}, &ContentInterpreter::opMarkPoint),
    op("Q", 0, {}, &ContentInterpreter::opRestore),
    op("RG", 3, {kArgNum}, &ContentInterpreter::opStrokeRgb),
    op("S", 0, {}, &ContentInterpreter::opStroke),
    op("SC", -4, {kArgNum}, &ContentInterpreter::opStrokeColor),
    op("SCN", -33, {kArgNumOrName}, &ContentInterpreter::opStrokeColorN),
    op("T*", 0, {}, &ContentInterpreter::opTextNextLine),
    op("TD", 2, {kArgNum}, &ContentInterpreter::opTextMoveSet),
    op("TJ", 1, {kArgArray}, &ContentInterpreter::opShowSpaceText),
    op("TL", 1, {kArgNum}, &ContentInterpreter::opSetTextLeading),
    op("Tc", 1, {kArgNum}, &ContentInterpreter::opSetCharSpacing),
    op("Td", 2, {kArgNum}, &ContentInterpreter::opTextMove),
    op("Tf", 2, {kArgName, kArgNum}, &ContentInterpreter::opSetFont),
    op("Tj", 1, {kArgString}, &ContentInterpreter::opShowText),
    op("Tm", 6, {kArgNum}, &ContentInterpreter::opSetTextMatrix),
    op("Tr", 1, {kArgInt}, &ContentInterpreter::opSetTextRender),
    op("Ts", 1, {kArgNum}, &ContentInterpreter::opSetTextRise),
    op("Tw", 1, {kArgNum}, &ContentInterpreter::opSetWordSpacing),
    op("Tz", 1, {kArgNum}, &ContentInterpreter::opSetHorizontalScaling),
    op("W", 0, {}, &ContentInterpreter::opClipNonzero),
    op("W*", 0, {}, &ContentInterpreter::opClipEvenOdd),
    op("b", 0, {}, &ContentInterpreter::opCloseFillStroke),
    op("b*", 0, {}, &ContentInterpreter::opCloseEoFillStroke),
    op("c", 6, {kArgNum}, &ContentInterpreter::opCurveTo),
    op("cm", 6, {kArgNum}, &ContentInterpreter::opConcat),
    op("cs", 1, {kArgName}, &ContentInterpreter::opFillColorSpace),
    op("d", 2, {kArgArray, kArgNum}, &ContentInterpreter::opDash),
    op("d0", 2, {kArgNum}, &ContentInterpreter::opType3Width),
    op("d1", 6, {kArgNum}, &ContentInterpreter::opType3Box),
    op("f", 0, {}, &ContentInterpreter::opFill),
    op("f*", 0, {}, &ContentInterpreter::opEoFill),
    op("g", 1, {kArgNum}, &ContentInterpreter::opFillGray),
    op("gs", 1, {kArgName}, &ContentInterpreter::opExtGState),
    op("h", 0, {}, &ContentInterpreter::opClosePath),
    op("i", 1, {kArgNum}, &ContentInterpreter::opFlatness),
    op("j", 1, {kArgInt}, &ContentInterpreter::opLineJoin),
    op("k", 4, {kArgNum}, &ContentInterpreter::opFillCmyk),
    op("l", 2, {kArgNum}, &ContentInterpreter::opLineTo),
    op("m", 2, {kArgNum}, &ContentInterpreter::opMoveTo),
    op("n", 0, {}, &ContentInterpreter::opEndPath),
    op("q", 0, {}, &ContentInterpreter::opSave),
    op("re", 4, {kArgNum}, &ContentInterpreter::opRectangle),
    op("rg", 3, {kArgNum}, &ContentInterpreter::opFillRgb),
    op("ri", 1, {kArgName}, &ContentInterpreter::opNothing),
    op("s", 0, {}, &ContentInterpreter::opCloseStroke),
    op("sc", -4, {kArgNum}, &ContentInterpreter::opFillColor),
    op("scn", -33, {kArgNumOrName}, &ContentInterpreter::opFillColorN),
    op("sh", 1, {kArgName}, &ContentInterpreter::opShading),
    op("v", 4, {kArgNum}, &ContentInterpreter::opCurveFromCurrent),
    op("w", 1, {kArgNum}, &ContentInterpreter::opLineWidth),
    op("y", 4, {kArgNum}, &ContentInterpreter::opCurveToEnd),
};

namespace {

// Byte-wise comparison of NUL-terminated names, as unsigned bytes.
constexpr int compareNames(const char* a, const char* b) {
    for (;; ++a, ++b) {
        const unsigned char ca = static_cast<unsigned char>(*a), cb = static_cast<unsigned char>(*b);
        if (ca != cb)
            return ca < cb ? -1 : 1;
        if (ca == 0)
            return 0;
    }
}

}  // namespace

ContentInterpreter::ContentInterpreter(XrefTable* xref, OutputDevice* device, int pageNumber,
                                       PdfDict* resources, double hDpi, double vDpi, const PageBox& box,
                                       const PageBox* cropBox, int rotate, AbortCheck abortCheck,
                                       void* abortData)
    : m_xref(xref), m_device(device), m_abortCheck(abortCheck), m_abortData(abortData) {
    m_verbose = globalSettings && globalSettings->getVerbose();
    m_resources = std::make_unique<ResourceSet>(xref, resources, nullptr);
    // The device may throw MemoryException at the start of a page (a page
    // too large to hold); the destructor does not run then, but the members
    // free the state and the resources.
    m_state = std::make_unique<GraphicsState>(hDpi, vDpi, box, rotate, device->yAxisPointsDown());
    m_device->startPage(pageNumber, m_state.get());
    m_device->setDefaultMatrix(m_state->getMatrix());
    m_device->refreshAllState(m_state.get());
    std::memcpy(m_baseMatrix, m_state->getMatrix(), sizeof m_baseMatrix);

    if (cropBox) {
        Path* path = m_state->getPath();
        path->moveTo(cropBox->x1, cropBox->y1);
        path->lineTo(cropBox->x2, cropBox->y1);
        path->lineTo(cropBox->x2, cropBox->y2);
        path->lineTo(cropBox->x1, cropBox->y2);
        path->close();
        m_state->setCurrentPoint(cropBox->x1, cropBox->y1);
        m_state->clip();
        m_device->clip(m_state.get());
        m_state->clearPath();
    }
}

ContentInterpreter::~ContentInterpreter() {
    while (m_state->hasSaved())
        restoreState();
    m_device->endPage();
    m_resources.reset();
    m_state.reset();
}

int64_t ContentInterpreter::getPos() {
    return m_parser ? m_parser->getPos() : -1;
}

void ContentInterpreter::reportDeferred(Deferred family, const char* what) {
    if (m_deferredReported & family)
        return;
    m_deferredReported |= family;
    reportError(getPos(), "%s not drawn: this engine does not draw them yet", what);
}

void ContentInterpreter::saveState() {
    m_device->saveState(m_state.get());
    GraphicsState::save(m_state);
}

void ContentInterpreter::restoreState() {
    GraphicsState::restore(m_state);
    m_device->restoreState(m_state.get());
}

void ContentInterpreter::pushResources(PdfDict* dict) {
    m_resources = std::make_unique<ResourceSet>(m_xref, dict, std::move(m_resources));
}

void ContentInterpreter::popResources() {
    m_resources = m_resources->takeParent();
}

void ContentInterpreter::display(const PdfValue& content, bool flushAtEnd) {
    if (content.isArray()) {
        const PdfArray* array = content.getArray();
        for (int i = 0; i < array->getLength(); ++i) {
            PdfValue element;
            if (!array->get(i, element).isStream()) {
                reportError(-1, "Element %d of the content array is a %s, not a stream", i,
                            element.typeName());
                return;
            }
        }
    } else if (!content.isStream()) {
        reportError(-1, "The content is a %s, not a stream or an array of streams", content.typeName());
        return;
    }

    // A nested display (a form, a glyph procedure) sets the parser of the
    // enclosing content aside and puts it back afterwards.
    ValueParser* outer = m_parser;
    ValueParser parser(m_xref, std::make_unique<Tokenizer>(m_xref, content), false);
    m_parser = &parser;
    // The count of operators starts with the outermost content only: nested
    // content counts on, so that content nesting itself many times over
    // still reaches the flush and, above all, the abort check.
    if (!outer) {
        m_operatorCount = 0;
        m_lastAbortCheck = 0;
    }
    runLoop();
    m_parser = outer;

    if (flushAtEnd && m_operatorCount > 0)
        m_device->flush();
}

void ContentInterpreter::runLoop() {
    PdfValue args[kMaxOperands];
    int numArgs = 0;
    PdfValue value;
    // Once the abort check has asked to stop, every loop ends, the forms'
    // and glyphs' nested ones and the page's.
    while (!m_aborted) {
        m_parser->getValue(value);
        if (value.isEof())
            break;
        if (value.isCommand()) {
            if (m_verbose) {
                std::printf("%s", value.getCommand());
                for (int i = 0; i < numArgs; ++i) {
                    std::printf(" ");
                    args[i].print(stdout);
                }
                std::printf("\n");
                std::fflush(stdout);
            }
            execute(value.getCommand(), args, numArgs);
            value.free();
            for (int i = 0; i < numArgs; ++i)
                args[i].free();
            numArgs = 0;
            // Content nested in this operator was stopped.
            if (m_aborted)
                break;

            // Handlers may add more than one (shown text, images), so the
            // interval is passed rather than met exactly.
            if (++m_operatorCount >= kFlushInterval) {
                m_device->flush();
                m_operatorCount = 0;
                m_lastAbortCheck = 0;
            }
            if (m_abortCheck && m_operatorCount - m_lastAbortCheck > kAbortCheckInterval) {
                if (m_abortCheck(m_abortData)) {
                    m_aborted = true;
                    break;
                }
                m_lastAbortCheck = m_operatorCount;
            }
        } else if (numArgs == kMaxOperands) {
            reportError(getPos(), "More than %d operands before an operator; the extra one is dropped",
                        kMaxOperands);
            if (m_verbose) {
                std::printf("dropped operand: ");
                value.print(stdout);
                std::printf("\n");
                std::fflush(stdout);
            }
            value.free();
        } else {
            // Error values are held too: they fail every kind check, so
            // the operator that takes one is not run.
            args[numArgs++] = std::move(value);
        }
    }

    if (numArgs > 0) {
        reportError(getPos(), "%d operands left without an operator at the end of the content", numArgs);
        if (m_verbose) {
            std::printf("%d left-over operands:", numArgs);
            for (int i = 0; i < numArgs; ++i) {
                std::printf(" ");
                args[i].print(stdout);
            }
            std::printf("\n");
            std::fflush(stdout);
        }
        for (int i = 0; i < numArgs; ++i)
            args[i].free();
    }
}

const ContentInterpreter::OperatorRecord* ContentInterpreter::findOperator(const char* name) {
    int low = -1, high = 73;
    while (high - low > 1) {
        const int middle = (low + high) / 2;
        const int cmp = compareNames(name, kOperators[middle].name);
        if (cmp == 0)
            return &kOperators[middle];
        if (cmp < 0) {
            high = middle;
        } else {
            low = middle;
        }
    }
    return nullptr;
}

bool ContentInterpreter::checkArg(const PdfValue& arg, int type) {
    switch (type) {
        case kArgBool:
            return arg.isBool();
        case kArgInt:
            return arg.isInt();
        case kArgNum:
            return arg.isNum();
        case kArgString:
            return arg.isString();
        case kArgName:
            return arg.isName();
        case kArgArray:
            return arg.isArray();
        case kArgDictOrName:
            return arg.isDict() || arg.isName();
        case kArgNumOrName:
            return arg.isNum() || arg.isName();
        default:
            return false;
    }
}

void ContentInterpreter::execute(const char* name, PdfValue* args, int numArgs) {
    const OperatorRecord* record = findOperator(name);
    if (!record) {
        if (m_compatibilityDepth == 0)
            reportError(getPos(), "Unknown operator '%s'", name);
        return;
    }
    if (record->numArgs >= 0) {
        if (numArgs < record->numArgs) {
            reportError(getPos(), "Only %d operands for operator '%s'", numArgs, name);
            return;
        }
        // Extra operands in front are dropped: the last ones are used.
        args += numArgs - record->numArgs;
        numArgs = record->numArgs;
    } else if (numArgs > -record->numArgs) {
        reportError(getPos(), "Too many operands (%d) for operator '%s'", numArgs, name);
        return;
    }
    for (int i = 0; i < numArgs; ++i) {
        if (!checkArg(args[i], record->types[i])) {
            reportError(getPos(), "Operand %d of operator '%s' is of the wrong kind (%s)", i, name,
                        args[i].typeName());
            return;
        }
    }
    (this->*record->handler)(args, numArgs);
}

bool ContentInterpreter::atNestingBound() {
    if (m_formDepth < m_maxNesting)
        return false;
    if (!m_nestingBoundReported) {
        m_nestingBoundReported = true;
        reportError(getPos(),
                    "Forms, patterns or glyph procedures nest deeper than %d levels: the deeper "
                    "ones are not drawn",
                    m_maxNesting);
    }
    return true;
}

bool ContentInterpreter::enterNesting() {
    if (atNestingBound())
        return false;
    if (m_nestedRuns >= kMaxNestedRuns) {
        if (m_nestedRuns == kMaxNestedRuns)
            reportError(getPos(), "Too many nested forms, patterns or glyph procedures on one page");
        m_nestedRuns = kMaxNestedRuns + 1;
        return false;
    }
    ++m_nestedRuns;
    ++m_formDepth;
    return true;
}

bool ContentInterpreter::runGlyphProcedure(const PdfValue& procedure) {
    if (!enterNesting())
        return false;
    // A glyph may not restore the state its caller saved for it either.
    GraphicsState* const outerFormBase = m_formBase;
    m_formBase = m_state.get();
    display(procedure, false);
    restoreToFormBase();
    m_formBase = outerFormBase;
    leaveNesting();
    return true;
}

void ContentInterpreter::restoreToFormBase() {
    while (m_state.get() != m_formBase) {
        const GraphicsState* before = m_state.get();
        restoreState();
        if (m_state.get() == before)
            break;
    }
}

}  // namespace rendova
