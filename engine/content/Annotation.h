#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/content/BorderStyle.h"
#include "engine/core/DynString.h"
#include "engine/core/PdfValue.h"

namespace rendova {

class ContentInterpreter;
class FontDirectory;
class PdfArray;
class PdfDict;
class XrefTable;

// The choices a generated field appearance leaves to us, kept in one place.
// They follow what the usual viewers write, so that a regenerated form looks
// the same here as there.
namespace appearance {
// The resource name of the dingbat font that check marks and radio captions
// are drawn in (forms carry it in their DR fonts under this name).
constexpr const char* kDingbatFont = "/ZaDb";
// The state a check box takes when it is ticked.
constexpr const char* kCheckOnState = "Yes";
// The check mark in the dingbat font: the code of its heavy check mark.
constexpr char kCheckSymbol = '4';
// The selection highlight of a list box and the colour of a selected entry's
// text, as the stored list-box appearances of the usual form writers have
// them.
constexpr const char* kListHighlightColor = "0.600006 0.756866 0.854904 rg";
constexpr const char* kListSelectedTextColor = "0 g";
}  // namespace appearance

// One annotation of a page: its rectangle, flags, border and the appearance
// stream it is drawn with. The appearance is a reference picked from AP/AS
// when the annotation is built, or, once generateFieldAppearance has run for
// a form field, a stream over the generated content.
//
// Ownership: the AnnotationList owns its annotations; an annotation owns its
// subtype, border style, appearance value and generated content, and keeps a
// plain pointer to the document's table, which outlives it. One thread at a
// time; throws MemoryException only.
class Annotation {
public:
    // Annotation flags (F) that decide whether it is drawn.
    static constexpr int kFlagHidden = 0x2;
    static constexpr int kFlagPrint = 0x4;
    static constexpr int kFlagNoView = 0x20;
    // Field flags (Ff).
    static constexpr int kFieldMultiline = 0x1000;
    static constexpr int kFieldRadio = 0x8000;
    static constexpr int kFieldPushButton = 0x10000;
    static constexpr int kFieldCombo = 0x20000;
    static constexpr int kFieldComb = 0x1000000;
    // Parent chains longer than this are cut: real forms nest a handful of
    // levels, and a chain that loops back on itself must still end.
    static constexpr int kMaxInheritDepth = 64;
    // Text a field shows is cut at this many bytes: more than a page of
    // small type, and each byte can cost a few dozen of content (a comb
    // cell each).
    static constexpr int kMaxFieldText = 65536;
    // Content one generated list box writes for its entries: a list as tall
    // as a page in 1-point type writes a few hundred kilobytes; a tinier
    // size would otherwise write every option of a list of any length.
    static constexpr int64_t kMaxAppearanceBytes = 4 << 20;

    // dict is the annotation's dictionary; num and gen its reference (-1,
    // -1 when it was given directly).
    Annotation(XrefTable* xref, PdfDict* dict, int num, int gen);
    ~Annotation() = default;
    Annotation(const Annotation&) = delete;
    Annotation& operator=(const Annotation&) = delete;

    bool isOk() const { return m_ok; }
    int getObjectNumber() const { return m_num; }
    int getGeneration() const { return m_gen; }
    // The Subtype name, or null.
    const DynString* getSubtype() const { return m_subtype.get(); }
    int getFlags() const { return m_flags; }
    double getXMin() const { return m_xMin; }
    double getYMin() const { return m_yMin; }
    double getXMax() const { return m_xMax; }
    double getYMax() const { return m_yMax; }
    const BorderStyle& getBorderStyle() const { return m_border; }
    // A reference, a generated stream, or null when nothing is drawn.
    const PdfValue& getAppearance() const { return m_appearance; }
    // The content of the generated appearance, or null before generation.
    const DynString* getGeneratedContent() const { return m_generated.get(); }

    // The annotation's dictionary, shared with the document.
    PdfDict* getDict() const { return m_dict.getDict(); }
    bool isWidget() const { return m_subtype && m_subtype->compareCStr("Widget") == 0; }

    // Draws the appearance through the interpreter unless the flags hide the
    // annotation for this kind of output (printing or display).
    void draw(ContentInterpreter* interpreter, bool printing);

    // Replaces the appearance of a widget with one written from its field's
    // values: field is the dictionary inherited values are looked up in,
    // widget the annotation's own dictionary, form the interactive form's
    // (null when the document has none). Annotations of other subtypes, and
    // signatures and push buttons that have a stored appearance, are left as
    // they are: neither is written from a value, so a new appearance would
    // lose the stored face and show the background alone. fonts are those
    // of the form's DR; null builds them here (a walk over many widgets
    // builds them once and passes them in).
    void generateFieldAppearance(PdfDict* field, PdfDict* widget, PdfDict* form,
                                 FontDirectory* fonts = nullptr);

    // The fonts of a form's DR resources, or null when it has none.
    static std::unique_ptr<FontDirectory> formFonts(XrefTable* xref, PdfDict* form);

    // key's value in the dictionary or, when it is null there, in its
    // Parent's, up the chain; null at the top (and for a chain that loops or
    // passes kMaxInheritDepth).
    static PdfValue& lookupInherited(PdfDict* dict, const char* key, PdfValue& out);

    // One line of wrapped text from start: characters are taken until their
    // width (widths of the 256 codes at size 1, times size) passes wrapWidth
    // or a line break comes; past the width the line ends before the spaces
    // ahead of the last word that fits, or after at least one character.
    // *end is where the line ends, *width its width; the result is where the
    // next line starts (always past start while text remains).
    static int layoutLine(const char* text, int length, int start, const double* widths, double size,
                          double wrapWidth, int* end, double* width);

private:
    void readBorderStyle(PdfDict* dict);
    void readAppearance(PdfDict* dict);

    // The pieces of generated content; all write into m_generated.
    void writeNumber(double v);
    void writeNumbers(std::initializer_list<double> values, const char* op);
    // Sets the fill (or stroke) colour from a colour array of up to 4
    // numbers, lightened (adjust > 0) or darkened (adjust < 0).
    void setColorFromArray(PdfArray* array, bool fill, int adjust);
    // A circle of radius r around (cx, cy), filled or stroked.
    void drawCircle(double cx, double cy, double r, bool fill);
    // The upper-left (45 to 225 degrees) or lower-right half of a circle,
    // stroked.
    void drawCircleTopLeft(double cx, double cy, double r);
    void drawCircleBottomRight(double cx, double cy, double r);
    void drawBorder(PdfDict* mk, bool round, double dx, double dy);
    // text in the default appearance da (may be null) with the fonts (may be
    // null); comb > 0 lays it out in that many cells; quadding 0 left, 1
    // centred, 2 right.
    void drawText(const char* text, int length, const DynString* da, FontDirectory* fonts, bool multiline,
                  int comb, int quadding, bool markedContent, bool forceDingbats, double dx, double dy);
    struct ListEntry {
        std::string text;
        bool selected;
    };
    void drawListBox(const std::vector<ListEntry>& entries, int topIndex, const DynString* da,
                     FontDirectory* fonts, int quadding, double dx, double dy);
    // A list box's entries: the field's options, those the value names
    // selected.
    static std::vector<ListEntry> choiceEntries(PdfDict* field, PdfValue& value);
    // The generated content as the appearance stream, a form of the box's
    // size over the form's resources.
    void storeAppearanceStream(PdfValue& resources, double dx, double dy);
    // The string between parentheses, with every byte that would end or
    // break it escaped.
    void writeString(const char* bytes, int length);
    void write(const char* text) { m_generated->appendCStr(text); }

    XrefTable* m_xref;
    PdfValue m_dict;
    int m_num;
    int m_gen;
    std::unique_ptr<DynString> m_subtype;
    PdfValue m_appearance;
    std::unique_ptr<DynString> m_generated;
    double m_xMin = 0;
    double m_yMin = 0;
    double m_xMax = 0;
    double m_yMax = 0;
    int m_flags = 0;
    BorderStyle m_border;
    bool m_ok = true;
};

// The annotations of one page, in the order of its Annots array, built when
// the page is drawn and deleted afterwards.
//
// Ownership: the list owns its annotations; it borrows the table. One thread
// at a time; throws MemoryException only.
class AnnotationList {
public:
    // Annotations a page keeps: far more than any real page carries, and
    // each one drawn runs a form, so a hostile array of a million entries
    // costs no more than this many.
    static constexpr int kMaxAnnotations = 20000;
    // Field dictionaries one generation visits, over all Kids: a form of a
    // million fields is cut here rather than walked on every page.
    static constexpr int kMaxFieldVisits = 50000;
    // Kids nest no deeper than this; deeper trees are cut.
    static constexpr int kMaxFieldDepth = 64;
    // Generated appearance content one page writes in all: many widgets
    // inheriting one long value would otherwise write it over and over.
    static constexpr int64_t kMaxGeneratedBytes = 32 << 20;

    // annots: the page's Annots value (resolved); anything but an array
    // gives an empty list.
    AnnotationList(XrefTable* xref, const PdfValue& annots);
    ~AnnotationList() = default;
    AnnotationList(const AnnotationList&) = delete;
    AnnotationList& operator=(const AnnotationList&) = delete;

    int getCount() const { return static_cast<int>(m_annotations.size()); }
    Annotation* get(int i) const { return m_annotations[static_cast<size_t>(i)].get(); }
    // The first annotation with this reference, or null.
    Annotation* findAnnotation(int num, int gen) const;
    // Whether the form asks for every field's appearance to be written anew
    // (NeedAppearances true); false for a null form.
    static bool formAsksForAppearances(PdfDict* form);
    // Writes appearances for the form widgets of this page: with
    // regenerateAll every widget's (the form asks for new ones), otherwise
    // only those of widgets that have no stored appearance, which would
    // draw nothing. A widget takes part when the form's Fields tree reaches
    // it, or, when it does not, when the widget has a field type of its own
    // or through its Parent chain. form may be null (a document whose
    // widgets have no form): no fields tree, no form resources.
    void generateAppearances(PdfDict* form, bool regenerateAll);

private:
    struct FieldWalk;
    void scanField(PdfDict* field, int num, int gen, PdfDict* parent, PdfDict* form, FieldWalk& walk,
                   int depth);
    void generateFor(Annotation* annotation, PdfDict* field, PdfDict* widget, PdfDict* form, FieldWalk& walk);

    XrefTable* m_xref;
    std::vector<std::unique_ptr<Annotation>> m_annotations;
    // Reference (number and generation packed) to the first annotation
    // with it: every widget of a form is looked up once per generation.
    std::unordered_map<uint64_t, Annotation*> m_byReference;
};

}  // namespace rendova
