// Appearance streams written for interactive-form widgets when the form asks
// for them to be regenerated, or when a widget has none stored: background,
// border, and the field's value as text, check mark, radio dot or list
// entries. The content is in the widget's own space, origin at the
// lower-left corner of its rectangle.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/content/Annotation.h"
#include "engine/content/FontDirectory.h"
#include "engine/content/SimpleFont.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/Memory.h"
#include "engine/core/MemorySource.h"

namespace rendova {

namespace {

// Automatic multi-line text starts at this size and shrinks until it fits.
constexpr int kMultilineStartSize = 20;
// Control-point distance of a quarter circle as a Bezier curve, per unit of
// radius, and the offsets that it gives from the points at 45 degrees.
constexpr double kBezierCircle = 0.55228475;
constexpr double kBezierHalfNear = 0.44771525;
constexpr double kBezierHalfFar = 1.55228475;

bool isWhiteSpace(char c) {
    return c == '\0' || c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ';
}

// The tokens of a default appearance string and where its font and text
// matrix operands are.
struct DefaultAppearance {
    std::vector<std::string> tokens;
    int fontName = -1;  // the font-name token; its size follows it
    int matrix = -1;    // the first of the six Tm operands

    explicit DefaultAppearance(const DynString* da) {
        if (da) {
            const char* p = da->getCString();
            const char* end = p + da->getLength();
            while (p < end) {
                while (p < end && isWhiteSpace(*p))
                    ++p;
                const char* start = p;
                while (p < end && !isWhiteSpace(*p))
                    ++p;
                if (p > start)
                    tokens.emplace_back(start, size_t(p - start));
            }
        }
        for (size_t i = 2; i < tokens.size(); ++i)
            if (tokens[i] == "Tf")
                fontName = int(i) - 2;
        for (size_t i = 6; i < tokens.size(); ++i)
            if (tokens[i] == "Tm")
                matrix = int(i) - 6;
    }
    // The size operand, 0 when absent or not a finite number.
    double fontSize() const {
        if (fontName < 0)
            return 0;
        char* end = nullptr;
        const double v = std::strtod(tokens[size_t(fontName) + 1].c_str(), &end);
        return std::isfinite(v) ? v : 0;
    }
    // The text state a run of text starts with: these tokens with the size
    // and the text matrix (moved to x, y) put in, the matrix appended when
    // there is none. Numbers are written as writeNumbers writes them.
    std::string textState(double size, double x, double y);
    // These tokens with the size put in and the text matrix left out: the
    // font and colour that every line of a list starts from, written once.
    std::string stateWithoutMatrix(double size);
};

std::string formatNumber(double v) {
    if (!std::isfinite(v))
        v = 0;
    char buffer[400];
    std::snprintf(buffer, sizeof buffer, "%.2f", v);
    return buffer;
}

std::string DefaultAppearance::textState(double size, double x, double y) {
    if (fontName >= 0)
        tokens[size_t(fontName) + 1] = formatNumber(size);
    const double m[6] = {1, 0, 0, 1, x, y};
    if (matrix >= 0) {
        for (int i = 0; i < 6; ++i)
            tokens[size_t(matrix + i)] = formatNumber(m[i]);
    }
    std::string out;
    for (const std::string& token : tokens)
        out += token + " ";
    out += "\n";
    if (matrix < 0) {
        for (double v : m)
            out += formatNumber(v) + " ";
        out += "Tm\n";
    }
    return out;
}

std::string DefaultAppearance::stateWithoutMatrix(double size) {
    if (fontName >= 0)
        tokens[size_t(fontName) + 1] = formatNumber(size);
    std::string out;
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (matrix >= 0 && i >= size_t(matrix) && i <= size_t(matrix) + 6)
            continue;
        out += tokens[i] + " ";
    }
    out += "\n";
    return out;
}

// Where a line of text of the width starts in a box dx wide with a border
// w wide: quadding 0 left, 1 centred, 2 right.
double quaddedX(int quadding, double textWidth, double dx, double w) {
    return quadding == 1 ? (dx - textWidth) / 2 : quadding == 2 ? dx - w - 2 - textWidth : w + 2;
}

// A size that fits the room: rounded down, never below 1, so that text of
// no width or a rectangle of no size still gets a usable size.
double fittedSize(double byHeight, double byWidth) {
    const double size = std::floor(std::min(byHeight, byWidth));
    return size >= 1 ? size : 1;
}

// Text strings may be UTF-16 (big-endian, after the byte-order mark FE FF),
// while the fonts of a form show one byte a character: such text becomes
// its codes below 256 as they are and '?' for every other character.
// Written as they stand, the two bytes of each character would each show
// as a glyph.
// The text is cut at Annotation::kMaxFieldText bytes.
std::string textBytes(const DynString* text) {
    const char* p = text->getCString();
    const int n = text->getLength();
    if (n < 2 || static_cast<unsigned char>(p[0]) != 0xfe || static_cast<unsigned char>(p[1]) != 0xff)
        return std::string(p, size_t(std::min(n, Annotation::kMaxFieldText)));
    std::string out;
    for (int i = 2; i + 1 < n && int(out.size()) < Annotation::kMaxFieldText; i += 2) {
        const unsigned u =
            unsigned(static_cast<unsigned char>(p[i])) << 8 | static_cast<unsigned char>(p[i + 1]);
        // The high half of a surrogate pair takes its low half with it.
        if (u >= 0xd800 && u < 0xdc00 && i + 3 < n)
            i += 2;
        out += u < 256 ? char(u) : '?';
    }
    return out;
}

}  // namespace

void Annotation::writeNumber(double v) {
    write(formatNumber(v).c_str());
    write(" ");
}

void Annotation::writeNumbers(std::initializer_list<double> values, const char* op) {
    for (double v : values)
        writeNumber(v);
    write(op);
    write("\n");
}

void Annotation::writeString(const char* bytes, int length) {
    write("(");
    for (int i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == '(' || c == ')' || c == '\\') {
            m_generated->appendChar('\\').appendChar(char(c));
        } else if (c < 32 || c >= 128) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\%03o", unsigned(c));
            write(escape);
        } else {
            m_generated->appendChar(char(c));
        }
    }
    write(")");
}

void Annotation::setColorFromArray(PdfArray* array, bool fill, int adjust) {
    const int count = std::min(array->getLength(), 4);
    double values[4] = {0, 0, 0, 0};
    for (int i = 0; i < count; ++i) {
        PdfValue element;
        array->get(i, element);
        values[i] = element.isNum() && std::isfinite(element.getNum()) ? element.getNum() : 0;
    }
    // CMYK components run the other way: lighter is less ink.
    if (count == 4)
        adjust = -adjust;
    for (double& v : values)
        v = adjust > 0 ? (v + 1) / 2 : adjust < 0 ? v / 2 : v;
    if (count == 4) {
        writeNumbers({values[0], values[1], values[2], values[3]}, fill ? "k" : "K");
    } else if (count == 3) {
        writeNumbers({values[0], values[1], values[2]}, fill ? "rg" : "RG");
    } else {
        writeNumbers({values[0]}, fill ? "g" : "G");
    }
}

void Annotation::drawCircle(double cx, double cy, double r, bool fill) {
    const double k = r * kBezierCircle;
    writeNumbers({cx + r, cy}, "m");
    writeNumbers({cx + r, cy + k, cx + k, cy + r, cx, cy + r}, "c");
    writeNumbers({cx - k, cy + r, cx - r, cy + k, cx - r, cy}, "c");
    writeNumbers({cx - r, cy - k, cx - k, cy - r, cx, cy - r}, "c");
    writeNumbers({cx + k, cy - r, cx + r, cy - k, cx + r, cy}, "c");
    write(fill ? "f\n" : "s\n");
}

void Annotation::drawCircleTopLeft(double cx, double cy, double r) {
    const double f = r / std::sqrt(2.0);
    const double near = f * kBezierHalfNear, far = f * kBezierHalfFar;
    writeNumbers({cx + f, cy + f}, "m");
    writeNumbers({cx + near, cy + far, cx - near, cy + far, cx - f, cy + f}, "c");
    writeNumbers({cx - far, cy + near, cx - far, cy - near, cx - f, cy - f}, "c");
    write("S\n");
}

void Annotation::drawCircleBottomRight(double cx, double cy, double r) {
    const double f = r / std::sqrt(2.0);
    const double near = f * kBezierHalfNear, far = f * kBezierHalfFar;
    writeNumbers({cx - f, cy - f}, "m");
    writeNumbers({cx - near, cy - far, cx + near, cy - far, cx + f, cy - f}, "c");
    writeNumbers({cx + far, cy - near, cx + far, cy + near, cx + f, cy + f}, "c");
    write("S\n");
}

void Annotation::drawBorder(PdfDict* mk, bool round, double dx, double dy) {
    const double w = m_border.width;
    // A widget with neither colour has no border to show: stroked in the
    // default black it would frame fields that are meant to be invisible.
    PdfValue colors;
    if (!(mk->lookup("BC", colors).isArray() && colors.getArray()->getLength() > 0) &&
        !(mk->lookup("BG", colors).isArray() && colors.getArray()->getLength() > 0))
        return;
    PdfArray* array = colors.getArray();
    auto strokeColor = [&](int adjust) { setColorFromArray(array, false, adjust); };
    auto fillColor = [&](int adjust) { setColorFromArray(array, true, adjust); };
    const int type = m_border.type;
    if (type == BorderStyle::kDashed && m_border.dashCount > 0) {
        write("[");
        for (int i = 0; i < m_border.dashCount; ++i)
            writeNumber(m_border.dash[i]);
        write("] 0 d\n");
    }
    const bool raised = type == BorderStyle::kBeveled;
    const bool relief = type == BorderStyle::kBeveled || type == BorderStyle::kInset;

    if (round) {
        const double r = std::min(dx, dy) / 2;
        const double cx = dx / 2, cy = dy / 2;
        if (!relief) {
            writeNumbers({w}, "w");
            strokeColor(0);
            drawCircle(cx, cy, r - w / 2, false);
        } else {
            writeNumbers({w / 2}, "w");
            strokeColor(0);
            drawCircle(cx, cy, r - w / 4, false);
            strokeColor(raised ? 1 : -1);
            drawCircleTopLeft(cx, cy, r - 3 * w / 4);
            strokeColor(raised ? -1 : 1);
            drawCircleBottomRight(cx, cy, r - 3 * w / 4);
        }
        return;
    }

    if (type == BorderStyle::kUnderline) {
        writeNumbers({w}, "w");
        strokeColor(0);
        // On the bottom edge, inside the box that clips the appearance.
        writeNumbers({0, w / 2}, "m");
        writeNumbers({dx, w / 2}, "l");
        write("S\n");
    } else if (!relief) {
        writeNumbers({w}, "w");
        strokeColor(0);
        writeNumbers({w / 2, w / 2, dx - w, dy - w}, "re S");
    } else {
        fillColor(raised ? 1 : -1);
        writeNumbers({0, 0}, "m");
        writeNumbers({0, dy}, "l");
        writeNumbers({dx, dy}, "l");
        writeNumbers({dx - w, dy - w}, "l");
        writeNumbers({w, dy - w}, "l");
        writeNumbers({w, w}, "l");
        write("f\n");
        fillColor(raised ? -1 : 1);
        writeNumbers({0, 0}, "m");
        writeNumbers({dx, 0}, "l");
        writeNumbers({dx, dy}, "l");
        writeNumbers({dx - w, dy - w}, "l");
        writeNumbers({dx - w, w}, "l");
        writeNumbers({w, w}, "l");
        write("f\n");
    }
    writeNumbers({w, w, dx - 2 * w, dy - 2 * w}, "re W n");
}

int Annotation::layoutLine(const char* text, int length, int start, const double* widths, double size,
                           double wrapWidth, int* end, double* width) {
    auto charWidth = [&](int i) { return widths[static_cast<unsigned char>(text[i])] * size; };
    double w = 0;
    int j = start;
    while (j < length && text[j] != '\r' && text[j] != '\n') {
        const double cw = charWidth(j);
        // The first character always goes on the line, so that every line
        // takes something and the layout ends.
        if (j > start && w + cw > wrapWidth)
            break;
        w += cw;
        ++j;
    }
    int lineEnd = j;
    if (j < length && text[j] != '\r' && text[j] != '\n' && text[j] != ' ') {
        // Broken inside a word: end before the spaces ahead of that word,
        // unless the line holds no space to break at.
        int k = j;
        while (k > start && text[k] != ' ')
            --k;
        while (k > start && text[k - 1] == ' ')
            --k;
        if (k > start)
            lineEnd = k;
    }
    double lineWidth = 0;
    for (int i = start; i < lineEnd; ++i)
        lineWidth += charWidth(i);
    *end = lineEnd;
    *width = lineWidth;

    int next = lineEnd;
    while (next < length && text[next] == ' ')
        ++next;
    if (next < length && text[next] == '\r')
        ++next;
    if (next < length && text[next] == '\n')
        ++next;
    return next;
}

namespace {

// The widths at size 1 of the codes of the font the default appearance
// names; a composite font, or none (reported with `missingFont`), counts
// half an em a byte.
void fontWidths(const DefaultAppearance& tokens, FontDirectory* fonts, const char* missingFont,
                double (&widths)[256]) {
    FontObject* font = nullptr;
    if (tokens.fontName >= 0 && fonts) {
        const std::string& name = tokens.tokens[size_t(tokens.fontName)];
        if (name[0] == '/')
            font = fonts->lookup(name.c_str() + 1);
    }
    if (!font)
        reportError(-1, "%s", missingFont);
    const SimpleFont* simple = font && !font->isCidFont() ? static_cast<const SimpleFont*>(font) : nullptr;
    for (int c = 0; c < 256; ++c)
        widths[c] = simple ? simple->getWidth(c) : 0.5;
}

struct TextLine {
    int start, end;
    double width;
};

// The text broken into lines no wider than `wrap`. A size of 0 is chosen:
// smaller until the lines leave a third of a size below the last one in the
// height dy; size 1 is kept whatever room it leaves.
std::vector<TextLine> layoutLines(const char* text, int length, const double* widths, double wrap, double dy,
                                  double* size) {
    std::vector<TextLine> lines;
    auto layout = [&](double lineSize) {
        lines.clear();
        for (int pos = 0; pos < length;) {
            TextLine line{pos, pos, 0};
            pos = Annotation::layoutLine(text, length, pos, widths, lineSize, wrap, &line.end, &line.width);
            lines.push_back(line);
        }
    };
    if (*size != 0) {
        layout(*size);
        return lines;
    }
    *size = kMultilineStartSize;
    for (;;) {
        layout(*size);
        if (dy - *size * double(lines.size()) >= 0.33 * *size)
            break;
        *size -= 1;
        if (*size <= 1) {
            layout(*size);
            break;
        }
    }
    return lines;
}

// An integer the field has or inherits, 0 when it has none.
int inheritedInt(PdfDict* field, const char* key) {
    PdfValue value;
    return Annotation::lookupInherited(field, key, value).isInt() ? value.getInt() : 0;
}

// Whether a radio button is the chosen one of its group: its state is the
// group's value. Off is the state of a button that is not chosen, even when
// the value names it too.
bool radioIsOn(const PdfValue& value, PdfDict* widget) {
    PdfValue state;
    return value.isName() && widget->lookup("AS", state).isName() && !state.isName("Off") &&
           std::strcmp(value.getName(), state.getName()) == 0;
}

// The cells of a comb field. A MaxLen of 0 or less would divide the width
// by nothing: such a field is drawn as plain text (0 cells).
int combCells(PdfDict* field) {
    PdfValue maxLen;
    if (Annotation::lookupInherited(field, "MaxLen", maxLen).isInt() && maxLen.getInt() > 0)
        return maxLen.getInt();
    return 0;
}

}  // namespace

void Annotation::drawText(const char* text, int length, const DynString* da, FontDirectory* fonts,
                          bool multiline, int comb, int quadding, bool markedContent, bool forceDingbats,
                          double dx, double dy) {
    DefaultAppearance tokens(da);
    if (forceDingbats && tokens.fontName >= 0)
        tokens.tokens[size_t(tokens.fontName)] = appearance::kDingbatFont;

    double widths[256];
    fontWidths(tokens, fonts, "Field's default appearance names no font of the form's resources", widths);
    double size = tokens.fontSize();
    const double w = m_border.width;

    auto quadX = [&](double textWidth) { return quaddedX(quadding, textWidth, dx, w); };
    auto writeTokens = [&](double x, double y) { write(tokens.textState(size, x, y).c_str()); };

    if (markedContent)
        write("/Tx BMC\n");
    write("q\nBT\n");
    if (multiline) {
        const std::vector<TextLine> lines = layoutLines(text, length, widths, dx - 2 * w - 4, dy, &size);
        writeTokens(0, dy);
        double previousX = 0;
        for (const TextLine& line : lines) {
            const double x = quadX(line.width);
            writeNumbers({x - previousX, -size}, "Td");
            writeString(text + line.start, line.end - line.start);
            write(" Tj\n");
            previousX = x;
        }
    } else if (comb > 0) {
        const double cell = (dx - 2 * w) / comb;
        if (size == 0)
            size = fittedSize(dy - 2 * w, cell);
        double x = w + 2;
        if (quadding == 1) {
            x += double(comb - length) * cell / 2;
        } else if (quadding == 2) {
            x += double(comb - length) * cell;
        }
        writeTokens(x, dy / 2 - 0.4 * size);
        for (int i = 0; i < length; ++i) {
            if (i > 0)
                writeNumbers({cell, 0}, "Td");
            writeString(text + i, 1);
            write(" Tj\n");
        }
    } else {
        double unitWidth = 0;
        for (int i = 0; i < length; ++i)
            unitWidth += widths[static_cast<unsigned char>(text[i])];
        if (size == 0) {
            const double byHeight = dy - 2 * w;
            size = fittedSize(byHeight, unitWidth > 0 ? (dx - 4 - 2 * w) / unitWidth : byHeight);
        }
        writeTokens(quadX(unitWidth * size), dy / 2 - 0.4 * size);
        writeString(text, length);
        write(" Tj\n");
    }
    write("ET\nQ\n");
    if (markedContent)
        write("EMC\n");
}

void Annotation::drawListBox(const std::vector<ListEntry>& entries, int topIndex, const DynString* da,
                             FontDirectory* fonts, int quadding, double dx, double dy) {
    DefaultAppearance tokens(da);
    double widths[256];
    fontWidths(tokens, fonts, "List box's default appearance names no font of the form's resources", widths);
    auto unitWidth = [&](const std::string& s) {
        double sum = 0;
        for (unsigned char c : s)
            sum += widths[c];
        return sum;
    };
    const double w = m_border.width;
    double size = tokens.fontSize();
    if (size == 0) {
        double widest = 0;
        for (const ListEntry& e : entries)
            widest = std::max(widest, unitWidth(e.text));
        const double byHeight = dy - 2 * w;
        size = fittedSize(byHeight, widest > 0 ? (dx - 4 - 2 * w) / widest : byHeight);
    }
    const double lineHeight = 1.1 * size;
    // A negative top index would read before the first entry; one past the
    // end shows the last.
    const int count = int(entries.size());
    if (count == 0)
        return;
    topIndex = std::clamp(topIndex, 0, count - 1);
    // Lines move down the box (up it for a negative size); the first one
    // wholly outside the box in that direction ends the list, since the
    // appearance is clipped to its box.
    auto visible = [&](double baseline) {
        return lineHeight > 0 ? baseline + lineHeight > 0 : baseline + lineHeight < dy;
    };
    // The default appearance may be long (it is copied from the file as it
    // stands): it is written once, and each line only moves the text matrix
    // and shows its entry. The saved state keeps its font and colour for
    // every line.
    write("q\n");
    write(tokens.stateWithoutMatrix(size).c_str());
    const int64_t budgetEnd = int64_t(m_generated->getLength()) + kMaxAppearanceBytes;
    double y = dy - 1.1 * size;
    for (int i = topIndex; i < count && visible(y); ++i, y -= lineHeight) {
        if (m_generated->getLength() >= budgetEnd) {
            reportError(-1, "List box appearance too large; entries from %d on are left out", i);
            break;
        }
        const ListEntry& e = entries[size_t(i)];
        const double x = quaddedX(quadding, unitWidth(e.text) * size, dx, w);
        write("q\n");
        if (e.selected) {
            write(appearance::kListHighlightColor);
            write("\n");
            writeNumbers({w, y - 0.2 * size, dx - 2 * w, lineHeight}, "re f");
            write(appearance::kListSelectedTextColor);
            write("\n");
        }
        write("BT\n");
        writeNumbers({1, 0, 0, 1, x, y}, "Tm");
        writeString(e.text.data(), int(e.text.size()));
        write(" Tj\nET\nQ\n");
    }
    write("Q\n");
}

std::unique_ptr<FontDirectory> Annotation::formFonts(XrefTable* xref, PdfDict* form) {
    PdfValue resources, fontDict;
    if (form->lookup("DR", resources).isDict() && resources.getDict()->lookup("Font", fontDict).isDict())
        return std::make_unique<FontDirectory>(xref, nullptr, fontDict.getDict());
    return nullptr;
}

void Annotation::generateFieldAppearance(PdfDict* field, PdfDict* widget, PdfDict* form,
                                         FontDirectory* fonts) {
    if (!isWidget())
        return;
    PdfValue type;
    lookupInherited(field, "FT", type);
    const int flags = inheritedInt(field, "Ff");
    const bool button = type.isName("Btn");
    // The look of a signature (the signer's mark) and of a push button (its
    // face, often a picture) is not written from any value: a stored one is
    // kept, where a new one would show the background and caption alone.
    if ((type.isName("Sig") || (button && (flags & kFieldPushButton))) && !m_appearance.isNull())
        return;
    m_generated = std::make_unique<DynString>();
    const double dx = m_xMax - m_xMin;
    const double dy = m_yMax - m_yMin;

    PdfValue mkValue;
    PdfDict* mk = widget->lookup("MK", mkValue).isDict() ? mkValue.getDict() : nullptr;
    PdfValue entry;
    if (mk && mk->lookup("BG", entry).isArray() && entry.getArray()->getLength() > 0) {
        setColorFromArray(entry.getArray(), true, 0);
        writeNumbers({0, 0, dx, dy}, "re f");
    }

    PdfValue caption;
    if (mk)
        mk->lookup("CA", caption);
    if (mk && m_border.width > 0)
        drawBorder(mk, button && (flags & kFieldRadio) && !caption.isString(), dx, dy);

    PdfValue resources;
    std::unique_ptr<FontDirectory> ownFonts;
    if (form) {
        form->lookup("DR", resources);
        if (!fonts) {
            ownFonts = formFonts(m_xref, form);
            fonts = ownFonts.get();
        }
    }
    PdfValue daValue;
    if (lookupInherited(field, "DA", daValue).isNull() && form)
        form->lookup("DA", daValue);
    const DynString* da = daValue.isString() ? daValue.getString() : nullptr;
    const int quadding = inheritedInt(field, "Q");
    PdfValue value;
    lookupInherited(field, "V", value);

    const bool hasCaption = caption.isString();
    const std::string captionText = hasCaption ? textBytes(caption.getString()) : std::string();
    auto drawCaption = [&](bool dingbats) {
        drawText(captionText.data(), int(captionText.size()), da, fonts, false, 0, 1, false, dingbats, dx,
                 dy);
    };
    const std::string valueText = value.isString() ? textBytes(value.getString()) : std::string();
    if (button) {
        if (flags & kFieldRadio) {
            if (radioIsOn(value, widget)) {
                if (hasCaption) {
                    drawCaption(true);
                } else if (mk && mk->lookup("BC", entry).isArray() && entry.getArray()->getLength() > 0) {
                    setColorFromArray(entry.getArray(), true, 0);
                    drawCircle(dx / 2, dy / 2, 0.2 * std::min(dx, dy), true);
                }
            }
        } else if (flags & kFieldPushButton) {
            if (hasCaption)
                drawCaption(false);
        } else if (value.isName(appearance::kCheckOnState)) {
            if (hasCaption) {
                drawCaption(true);
            } else {
                drawText(&appearance::kCheckSymbol, 1, da, fonts, false, 0, 1, false, true, dx, dy);
            }
        }
    } else if (type.isName("Tx")) {
        if (value.isString()) {
            const int comb = (flags & kFieldComb) ? combCells(field) : 0;
            drawText(valueText.data(), int(valueText.size()), da, fonts, (flags & kFieldMultiline) != 0, comb,
                     quadding, true, false, dx, dy);
        }
    } else if (type.isName("Ch")) {
        if (flags & kFieldCombo) {
            if (value.isString())
                drawText(valueText.data(), int(valueText.size()), da, fonts, false, 0, quadding, true, false,
                         dx, dy);
        } else {
            const std::vector<ListEntry> entries = choiceEntries(field, value);
            PdfValue top;
            lookupInherited(field, "TI", top);
            drawListBox(entries, top.isInt() ? top.getInt() : 0, da, fonts, quadding, dx, dy);
        }
    } else if (!type.isName("Sig")) {
        reportError(-1, "Form field of unknown type");
    }

    storeAppearanceStream(resources, dx, dy);
}

std::vector<Annotation::ListEntry> Annotation::choiceEntries(PdfDict* field, PdfValue& value) {
    std::unordered_set<std::string> chosen;
    if (value.isString()) {
        chosen.insert(textBytes(value.getString()));
    } else if (value.isArray()) {
        for (int i = 0; i < value.getArray()->getLength(); ++i) {
            PdfValue element;
            if (value.getArray()->get(i, element).isString())
                chosen.insert(textBytes(element.getString()));
        }
    }
    std::vector<ListEntry> entries;
    PdfValue options;
    if (lookupInherited(field, "Opt", options).isArray()) {
        PdfArray* array = options.getArray();
        for (int i = 0; i < array->getLength(); ++i) {
            PdfValue option, shown;
            array->get(i, option);
            if (option.isArray() && option.getArray()->getLength() == 2) {
                option.getArray()->get(1, shown);
            } else {
                option.copy(shown);
            }
            std::string text;
            if (shown.isString())
                text = textBytes(shown.getString());
            const bool selected = shown.isString() && chosen.count(text) != 0;
            entries.push_back({std::move(text), selected});
        }
    }
    return entries;
}

void Annotation::storeAppearanceStream(PdfValue& resources, double dx, double dy) {
    // The content becomes a form stream over a copy of its bytes, which the
    // stream owns: it may be shared beyond this annotation's life.
    PdfValue dict;
    dict.initDict(m_xref);
    PdfValue item;
    item.initInt(m_generated->getLength());
    dict.getDict()->add(copyString("Length"), std::move(item));
    item.initName(copyString("Form"));
    dict.getDict()->add(copyString("Subtype"), std::move(item));
    PdfValue box;
    box.initArray(m_xref);
    for (double v : {0.0, 0.0, dx, dy}) {
        item.initReal(v);
        box.getArray()->add(std::move(item));
    }
    dict.getDict()->add(copyString("BBox"), std::move(box));
    if (resources.isDict()) {
        item.initDictRef(resources.getDict());
        dict.getDict()->add(copyString("Resources"), std::move(item));
    }
    const int length = m_generated->getLength();
    char* bytes = static_cast<char*>(memAlloc(length + 1));
    std::memcpy(bytes, m_generated->getCString(), size_t(length) + 1);
    auto* source = new MemorySource(bytes, 0, uint32_t(length), std::move(dict));
    source->setOwnsBuffer(true);
    m_appearance.initStream(source);
}

}  // namespace rendova
