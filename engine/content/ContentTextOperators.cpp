// The text operators and the walk of a shown string, glyph by glyph.
#include <cmath>
#include <cstdio>

#include "engine/content/ContentInterpreter.h"
#include "engine/content/FontObject.h"
#include "engine/content/SimpleFont.h"
#include "engine/core/DynString.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/Tokenizer.h"

namespace rendova {

namespace {

// Unicode values kept for one character code.
constexpr int kMaxUnicode = 8;

}  // namespace

void ContentInterpreter::setTextPosition() {
    const double* t = m_state->getTextMatrix();
    const double lx = m_state->getLineStartX(), ly = m_state->getLineStartY();
    m_state->setCurrentPoint(lx * t[0] + ly * t[2] + t[4], lx * t[1] + ly * t[3] + t[5]);
}

void ContentInterpreter::nextLine() {
    m_state->setLineStart(m_state->getLineStartX(), m_state->getLineStartY() - m_state->getLeading());
    setTextPosition();
    m_device->updateTextPosition(m_state.get());
}

void ContentInterpreter::opBeginText(PdfValue*, int) {
    m_state->setTextMatrix(1, 0, 0, 1, 0, 0);
    m_state->setLineStart(0, 0);
    m_state->setCurrentPoint(0, 0);
    m_device->updateTextMatrix(m_state.get());
    m_device->updateTextPosition(m_state.get());
    m_fontChanged = true;
}

void ContentInterpreter::opEndText(PdfValue*, int) {
    m_device->finishTextObject(m_state.get());
    m_textClipPending = false;
}

void ContentInterpreter::opSetCharSpacing(PdfValue* args, int) {
    m_state->setCharSpacing(args[0].getNum());
    m_device->updateCharSpacing(m_state.get());
}

void ContentInterpreter::opSetWordSpacing(PdfValue* args, int) {
    m_state->setWordSpacing(args[0].getNum());
    m_device->updateWordSpacing(m_state.get());
}

void ContentInterpreter::opSetHorizontalScaling(PdfValue* args, int) {
    m_state->setHorizontalScaling(args[0].getNum() * 0.01);
    m_device->updateHorizontalScaling(m_state.get());
    m_fontChanged = true;
}

void ContentInterpreter::opSetTextLeading(PdfValue* args, int) {
    m_state->setLeading(args[0].getNum());
}

void ContentInterpreter::opSetTextRise(PdfValue* args, int) {
    m_state->setRise(args[0].getNum());
    m_device->updateRise(m_state.get());
}

void ContentInterpreter::opSetTextRender(PdfValue* args, int) {
    m_state->setRenderMode(args[0].getInt());
    m_device->updateRenderMode(m_state.get());
}

void ContentInterpreter::opSetFont(PdfValue* args, int) {
    FontObject* font = m_resources->lookupFont(args[0].getName());
    if (!font)
        return;
    if (m_verbose) {
        const DynString* name = font->getName();
        std::printf("  font: tag=%s name='%s' size=%g\n", font->getTag().getCString(),
                    name ? name->getCString() : "???", args[1].getNum());
        std::fflush(stdout);
    }
    m_state->setFont(font, args[1].getNum());
    m_fontChanged = true;
}

void ContentInterpreter::opTextMove(PdfValue* args, int) {
    m_state->setLineStart(m_state->getLineStartX() + args[0].getNum(),
                          m_state->getLineStartY() + args[1].getNum());
    setTextPosition();
    m_device->updateTextPosition(m_state.get());
}

void ContentInterpreter::opTextMoveSet(PdfValue* args, int numArgs) {
    m_state->setLeading(-args[1].getNum());
    opTextMove(args, numArgs);
}

void ContentInterpreter::opSetTextMatrix(PdfValue* args, int) {
    m_state->setTextMatrix(args[0].getNum(), args[1].getNum(), args[2].getNum(), args[3].getNum(),
                           args[4].getNum(), args[5].getNum());
    m_state->setLineStart(0, 0);
    m_state->setCurrentPoint(args[4].getNum(), args[5].getNum());
    m_device->updateTextMatrix(m_state.get());
    m_device->updateTextPosition(m_state.get());
    m_fontChanged = true;
}

void ContentInterpreter::opTextNextLine(PdfValue*, int) {
    nextLine();
}

bool ContentInterpreter::prepareTextShow(const char* message) {
    if (!m_state->getFont()) {
        reportError(getPos(), "%s", message);
        return false;
    }
    if (m_fontChanged) {
        m_device->updateFont(m_state.get());
        m_fontChanged = false;
    }
    return true;
}

void ContentInterpreter::opShowText(PdfValue* args, int) {
    if (!prepareTextShow("No font in show"))
        return;
    m_device->beginTextShow(m_state.get());
    showString(args[0].getString());
    m_device->endTextShow(m_state.get());
}

void ContentInterpreter::opMoveShowText(PdfValue* args, int) {
    if (!prepareTextShow("No font in move/show"))
        return;
    nextLine();
    m_device->beginTextShow(m_state.get());
    showString(args[0].getString());
    m_device->endTextShow(m_state.get());
}

void ContentInterpreter::opMoveSetShowText(PdfValue* args, int) {
    if (!prepareTextShow("No font in move/set/show"))
        return;
    m_state->setWordSpacing(args[0].getNum());
    m_state->setCharSpacing(args[1].getNum());
    m_device->updateWordSpacing(m_state.get());
    m_device->updateCharSpacing(m_state.get());
    nextLine();
    m_device->beginTextShow(m_state.get());
    showString(args[2].getString());
    m_device->endTextShow(m_state.get());
}

void ContentInterpreter::opShowSpaceText(PdfValue* args, int) {
    if (!prepareTextShow("No font in show/space"))
        return;
    m_device->beginTextShow(m_state.get());
    const int wMode = m_state->getFont()->getWritingMode();
    PdfArray* array = args[0].getArray();
    for (int i = 0; i < array->getLength(); ++i) {
        PdfValue e;
        array->get(i, e);
        if (e.isNum()) {
            // A kerning number, in thousandths of text space against the
            // writing direction. Horizontally it is scaled like every other
            // horizontal displacement, by the horizontal scaling (the
            // published text model's tx = (w0 - Tj / 1000) Tfs Th).
            const double shift = -e.getNum() * std::fabs(m_state->getFontSize()) * 0.001;
            if (wMode) {
                m_state->textMoveTo(0, shift);
            } else {
                m_state->textMoveTo(shift * m_state->getHorizontalScaling(), 0);
            }
            m_device->updateTextShift(m_state.get(), e.getNum());
        } else if (e.isString()) {
            showString(e.getString());
        } else {
            reportError(getPos(), "Element of show/space array must be number or string");
        }
    }
    m_device->endTextShow(m_state.get());
}

void ContentInterpreter::showString(const DynString* string) {
    const int mode = m_state->getRenderMode();
    const bool fills = mode == 0 || mode == 2 || mode == 4 || mode == 6;
    const bool strokes = mode == 1 || mode == 2 || mode == 5 || mode == 6;
    const bool fillPattern = fills && paintsPattern(false);
    const bool strokePattern = strokes && paintsPattern(true);
    FontObject* font = m_state->getFont();
    const bool type3 = font->getFontType() == kFontType3 && m_device->runsType3Glyphs();
    if (type3 && fillPattern && m_device->wantsNonText()) {
        showType3InPattern(static_cast<SimpleFont*>(font), string);
        if (mode & 4)
            m_textClipPending = true;
        return;
    }
    // Other Type 3 glyphs paint with their own procedures.
    if (!(fillPattern || strokePattern) || !m_device->wantsNonText() || type3) {
        if (mode & 4)
            m_textClipPending = true;
        showGlyphs(string);
        return;
    }
    // Text in a pattern colour: the parts of its render mode in passes of
    // their own, in the order the mode paints them (fill, stroke, then the
    // clip, which stays pending until the end of the text object); the
    // passes in a pattern paint it through the glyphs' shape.
    double endX = 0, endY = 0;
    if (fills)
        showTextPass(string, 0, fillPattern, &endX, &endY);
    if (strokes)
        showTextPass(string, 1, strokePattern, &endX, &endY);
    if (mode & 4) {
        showTextPass(string, 7, false, &endX, &endY);
        m_textClipPending = true;
    }
    // The text position moves on as after any string.
    m_state->setCurrentPoint(endX, endY);
}

// Type 3 glyphs in a pattern colour, in runs: glyphs that are shapes (their
// procedure starts with d1) take the fill colour, as other fonts' glyphs
// do; a glyph that starts with d0 sets its own colours and is painted as it
// says.
void ContentInterpreter::showType3InPattern(SimpleFont* font, const DynString* string) {
    const char* bytes = string->getCString();
    const int length = string->getLength();
    int runStart = 0;
    bool runShapes = false;
    auto showRun = [&](int end) {
        if (end <= runStart)
            return;
        DynString run(*string, runStart, end - runStart);
        if (runShapes)
            showType3ThroughPattern(&run);
        else
            showGlyphs(&run);
        runStart = end;
    };
    for (int i = 0; i < length;) {
        unsigned int code = 0, unicode[kMaxUnicode];
        int unicodeCount = 0;
        double dx, dy, ox, oy;
        const int n = font->nextChar(bytes + i, length - i, &code, unicode, kMaxUnicode, &unicodeCount, &dx,
                                     &dy, &ox, &oy);
        PdfValue procedure;
        const bool shape = font->getCharProc(static_cast<int>(code), procedure).isStream() &&
                           firstOperatorIs(procedure, "d1");
        if (shape != runShapes) {
            showRun(i);
            runShapes = shape;
        }
        i += n > 0 ? n : 1;
    }
    showRun(length);
}

bool ContentInterpreter::firstOperatorIs(const PdfValue& procedure, const char* name) {
    // The width and box operands come first; a procedure that has not
    // reached its operator after a few tokens has none.
    constexpr int kMaxLeadingTokens = 8;
    Tokenizer tokens(m_xref, procedure);
    PdfValue token;
    for (int i = 0; i < kMaxLeadingTokens; ++i) {
        tokens.getObj(token);
        if (!token.isNum())
            return token.isCommand(name);
    }
    return false;
}

// Shape glyphs in a pattern colour: their coverage is a mask that the
// pattern paints through, as a stencil mask's is.
void ContentInterpreter::showType3ThroughPattern(const DynString* string) {
    double endX = m_state->getCurrentX(), endY = m_state->getCurrentY();
    double box[4];
    m_state->getUserClipBox(&box[0], &box[1], &box[2], &box[3]);
    saveState();
    paintPatternThroughMask(false, box, [&] {
        showGlyphs(string);
        endX = m_state->getCurrentX();
        endY = m_state->getCurrentY();
    });
    restoreState();
    m_state->setCurrentPoint(endX, endY);
}

void ContentInterpreter::showTextPass(const DynString* string, int mode, bool patterned, double* endX,
                                      double* endY) {
    const double x = m_state->getCurrentX(), y = m_state->getCurrentY();
    auto show = [&](int shownMode) {
        m_state->setRenderMode(shownMode);
        m_device->updateRenderMode(m_state.get());
        showGlyphs(string);
        *endX = m_state->getCurrentX();
        *endY = m_state->getCurrentY();
    };
    saveState();
    if (patterned && mode == 0 && !m_textClipPending) {
        // Filled glyphs become a clip that the pattern is painted through:
        // exact, and no larger than the glyphs. (A clip that the text object
        // holds for its end would be applied with it; the mask below serves
        // then.)
        show(7);
        m_device->finishTextObject(m_state.get());
        // A tiling pattern's cells, text among them, are not drawn in the
        // string's render mode.
        m_state->setRenderMode(0);
        m_device->updateRenderMode(m_state.get());
        doPatternFill(false, false, true);
    } else if (patterned) {
        // Stroked glyphs are no path that the interpreter holds: their
        // coverage becomes a mask over the clip's box.
        double box[4];
        m_state->getUserClipBox(&box[0], &box[1], &box[2], &box[3]);
        paintPatternThroughMask(mode == 1, box, [&] { show(mode); });
    } else {
        show(mode);
    }
    restoreState();
    m_state->setCurrentPoint(x, y);
}

void ContentInterpreter::showGlyphs(const DynString* string) {
    FontObject* font = m_state->getFont();
    const int wMode = font->getWritingMode();
    const bool glyphByGlyph = m_device->wantsGlyphByGlyphText();
    if (glyphByGlyph)
        m_device->beginShownString(m_state.get(), string);

    const double fs = m_state->getFontSize();
    const double cs = m_state->getCharSpacing();
    const double ws = m_state->getWordSpacing();
    const double th = m_state->getHorizontalScaling();
    const char* p = string->getCString();
    int left = string->getLength();

    if (font->getFontType() == kFontType3 && m_device->runsType3Glyphs()) {
        showType3String(string);
    } else if (glyphByGlyph) {
        const double rise = m_state->getRise();
        while (left > 0) {
            unsigned int code = 0;
            unsigned int unicode[kMaxUnicode];
            int unicodeCount = 0;
            double dx, dy, ox, oy;
            const int n =
                font->nextChar(p, left, &code, unicode, kMaxUnicode, &unicodeCount, &dx, &dy, &ox, &oy);
            const bool space = n == 1 && *p == ' ';
            double ddx, ddy;
            if (wMode) {
                ddx = fs * dx;
                ddy = fs * dy + cs + (space ? ws : 0);
            } else {
                ddx = (fs * dx + cs + (space ? ws : 0)) * th;
                ddy = fs * dy;
            }
            const double* t = m_state->getTextMatrix();
            const double tdx = ddx * t[0] + ddy * t[2], tdy = ddx * t[1] + ddy * t[3];
            const double fox = fs * ox, foy = fs * oy;
            const double tox = fox * t[0] + foy * t[2], toy = fox * t[1] + foy * t[3];
            m_device->drawChar(m_state.get(), m_state->getCurrentX() + rise * t[2],
                               m_state->getCurrentY() + rise * t[3], tdx, tdy, tox, toy, code, n, unicode,
                               unicodeCount);
            m_state->textShift(tdx, tdy);
            p += n;
            left -= n;
        }
    } else {
        double sumDx = 0, sumDy = 0;
        int chars = 0, spaces = 0;
        while (left > 0) {
            unsigned int code = 0;
            unsigned int unicode[kMaxUnicode];
            int unicodeCount = 0;
            double dx, dy, ox, oy;
            const int n =
                font->nextChar(p, left, &code, unicode, kMaxUnicode, &unicodeCount, &dx, &dy, &ox, &oy);
            sumDx += dx;
            sumDy += dy;
            ++chars;
            if (n == 1 && *p == ' ')
                ++spaces;
            p += n;
            left -= n;
        }
        double ddx, ddy;
        if (wMode) {
            ddx = fs * sumDx;
            ddy = ws * spaces + cs * chars + fs * sumDy;
        } else {
            ddx = (ws * spaces + cs * chars + fs * sumDx) * th;
            ddy = fs * sumDy;
        }
        m_device->drawShownString(m_state.get(), string);
        const double* t = m_state->getTextMatrix();
        m_state->textShift(ddx * t[0] + ddy * t[2], ddx * t[1] + ddy * t[3]);
    }

    if (glyphByGlyph)
        m_device->endShownString(m_state.get());
    addOperatorCount(10 * string->getLength());
}

void ContentInterpreter::showType3String(const DynString* string) {
    auto* font = static_cast<SimpleFont*>(m_state->getFont());
    const double fs = m_state->getFontSize();
    const double cs = m_state->getCharSpacing();
    const double ws = m_state->getWordSpacing();
    const double th = m_state->getHorizontalScaling();
    const double rise = m_state->getRise();

    double m[6];
    for (int i = 0; i < 6; ++i)
        m[i] = m_state->getMatrix()[i];
    const double lineStartX = m_state->getLineStartX(), lineStartY = m_state->getLineStartY();

    // The glyph matrix: the font matrix, then the text matrix (with the
    // font size and horizontal scaling), then the current matrix.
    const double* t = m_state->getTextMatrix();
    const double a0 = t[0] * m[0] + t[1] * m[2], a1 = t[0] * m[1] + t[1] * m[3];
    const double a2 = t[2] * m[0] + t[3] * m[2], a3 = t[2] * m[1] + t[3] * m[3];
    const double* f = font->getFontMatrix();
    const double b0 = f[0] * a0 + f[1] * a2, b1 = f[0] * a1 + f[1] * a3;
    const double b2 = f[2] * a0 + f[3] * a2, b3 = f[2] * a1 + f[3] * a3;
    const double n0 = th * fs * b0, n1 = fs * b1, n2 = th * fs * b2, n3 = fs * b3;

    // Invisible text (render mode 3) paints nothing, whatever its glyph
    // procedures would paint: it only moves the text position on.
    const bool invisible = m_state->getRenderMode() == 3;
    const char* p = string->getCString();
    int left = string->getLength();
    while (left > 0) {
        unsigned int code = 0;
        unsigned int unicode[kMaxUnicode];
        int unicodeCount = 0;
        double dx, dy, ox, oy;
        const int n = font->nextChar(p, left, &code, unicode, kMaxUnicode, &unicodeCount, &dx, &dy, &ox, &oy);
        const bool space = n == 1 && *p == ' ';
        const double ddx = (fs * dx + cs + (space ? ws : 0)) * th, ddy = fs * dy;
        const double* tm = m_state->getTextMatrix();
        const double tdx = ddx * tm[0] + ddy * tm[2], tdy = ddx * tm[1] + ddy * tm[3];
        const double textX = m_state->getCurrentX(), textY = m_state->getCurrentY();
        const double x = textX + rise * tm[2], y = textY + rise * tm[3];
        if (!invisible) {
            const double glyphMatrix[6] = {
                n0, n1, n2, n3, x * m[0] + y * m[2] + m[4], x * m[1] + y * m[3] + m[5]};
            runType3Glyph(font, glyphMatrix, x, y, tdx, tdy, code, unicode, unicodeCount);
            // Restoring carries the current point down, and the glyph's own
            // path operators moved it in glyph space: the text position is
            // where the glyph started.
            m_state->setCurrentPoint(textX, textY);
        }

        m_state->textShift(tdx, tdy);
        const double cx = m_state->getCurrentX(), cy = m_state->getCurrentY();
        if (m_state->getPath()->isJustMoved())
            m_state->getPath()->moveTo(cx, cy);
        m_state->setLineStart(lineStartX, lineStartY);
        p += n;
        left -= n;
    }
}

void ContentInterpreter::runType3Glyph(SimpleFont* font, const double* glyphMatrix, double x, double y,
                                       double tdx, double tdy, unsigned int code, const unsigned int* unicode,
                                       int unicodeCount) {
    saveState();
    m_state->setMatrix(glyphMatrix[0], glyphMatrix[1], glyphMatrix[2], glyphMatrix[3], glyphMatrix[4],
                       glyphMatrix[5]);
    m_device->updateMatrix(m_state.get(), 1, 0, 0, 1, 0, 0);
    if (!m_device->beginType3Char(m_state.get(), x, y, tdx, tdy, code, unicode, unicodeCount)) {
        PdfValue procedure;
        font->getCharProc(static_cast<int>(code), procedure);
        PdfDict* resources = font->getResources();
        if (resources)
            pushResources(resources);
        if (procedure.isStream()) {
            // Glyph procedures count toward the nesting bound, so that a
            // glyph that shows itself ends.
            if (!runGlyphProcedure(procedure))
                reportError(getPos(), "Type 3 glyph procedures nested too deeply");
        } else {
            reportError(getPos(), "Missing or bad Type3 CharProc entry");
        }
        m_device->endType3Char(m_state.get());
        if (resources)
            popResources();
    }
    restoreState();
}

}  // namespace rendova
