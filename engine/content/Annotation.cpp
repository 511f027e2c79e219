// Annotations of a page: what is read from their dictionaries, the choice of
// their appearance, drawing them, and the list a page builds. The generated
// field appearances are in FieldAppearance.cpp.
#include "engine/content/Annotation.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_set>

#include "engine/content/ContentInterpreter.h"
#include "engine/content/FontDirectory.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/Memory.h"

namespace rendova {

namespace {

// Dash patterns longer than this are cut: the raster device draws no more
// pieces of a pattern either.
constexpr int kMaxBorderDash = 20;

// A number element as a finite double; anything else gives fallback.
double numberOr(const PdfValue& v, double fallback) {
    if (!v.isNum())
        return fallback;
    const double d = v.getNum();
    return std::isfinite(d) ? d : fallback;
}

}  // namespace

Annotation::Annotation(XrefTable* xref, PdfDict* dict, int num, int gen)
    : m_xref(xref), m_num(num), m_gen(gen) {
    m_dict.initDictRef(dict);
    m_appearance.initNull();
    PdfValue entry;
    if (dict->lookup("Subtype", entry).isName())
        m_subtype = std::make_unique<DynString>(entry.getName());

    if (dict->lookup("Rect", entry).isArray() && entry.getArray()->getLength() == 4) {
        double v[4];
        for (int i = 0; i < 4; ++i) {
            PdfValue element;
            v[i] = numberOr(entry.getArray()->get(i, element), 0);
        }
        m_xMin = std::min(v[0], v[2]);
        m_xMax = std::max(v[0], v[2]);
        m_yMin = std::min(v[1], v[3]);
        m_yMax = std::max(v[1], v[3]);
    } else {
        reportError(-1, "Annotation without a rectangle of four elements");
        m_ok = false;
        return;
    }

    if (dict->lookup("F", entry).isInt())
        m_flags = entry.getInt();
    readBorderStyle(dict);
    readAppearance(dict);
}

void Annotation::readBorderStyle(PdfDict* dict) {
    PdfValue entry;
    auto setDash = [this](PdfArray* array) {
        const int count = std::min(array->getLength(), kMaxBorderDash);
        m_border.dash = count > 0 ? std::make_unique<double[]>(size_t(count)) : nullptr;
        m_border.dashCount = count;
        for (int i = 0; i < count; ++i) {
            PdfValue element;
            m_border.dash[i] = numberOr(array->get(i, element), 1);
        }
    };
    if (dict->lookup("BS", entry).isDict()) {
        PdfDict* bs = entry.getDict();
        PdfValue value;
        if (bs->lookup("S", value).isName()) {
            static const struct {
                const char* name;
                int type;
            } kStyles[] = {{"S", BorderStyle::kSolid},
                           {"D", BorderStyle::kDashed},
                           {"B", BorderStyle::kBeveled},
                           {"I", BorderStyle::kInset},
                           {"U", BorderStyle::kUnderline}};
            for (const auto& style : kStyles)
                if (std::strcmp(value.getName(), style.name) == 0)
                    m_border.type = style.type;
        }
        if (bs->lookup("W", value).isNum())
            m_border.width = numberOr(value, m_border.width);
        if (bs->lookup("D", value).isArray())
            setDash(value.getArray());
    } else if (dict->lookup("Border", entry).isArray() && entry.getArray()->getLength() > 2) {
        PdfArray* border = entry.getArray();
        PdfValue value;
        if (border->get(2, value).isNum())
            m_border.width = numberOr(value, m_border.width);
        if (border->getLength() > 3) {
            if (border->get(3, value).isArray()) {
                m_border.type = BorderStyle::kDashed;
                setDash(value.getArray());
            } else {
                m_border.width = 0;
            }
        }
    }
    if (dict->lookup("C", entry).isArray() && entry.getArray()->getLength() == 3) {
        double rgb[3];
        bool numbers = true;
        for (int i = 0; i < 3; ++i) {
            PdfValue element;
            numbers = numbers && entry.getArray()->get(i, element).isNum();
            rgb[i] = numberOr(element, 0);
        }
        if (numbers) {
            m_border.red = rgb[0];
            m_border.green = rgb[1];
            m_border.blue = rgb[2];
        }
    }
}

void Annotation::readAppearance(PdfDict* dict) {
    PdfValue ap;
    if (!dict->lookup("AP", ap).isDict())
        return;
    PdfValue state, normal;
    // A state picks among the normal appearances only when there are
    // several, in a dictionary: a single stream is the appearance in every
    // state (signature widgets often carry a state anyway).
    if (dict->lookup("AS", state).isName() && !ap.getDict()->lookup("N", normal).isStream()) {
        if (!normal.isDict())
            return;
        PdfValue chosen;
        if (normal.getDict()->lookupRaw(state.getName(), chosen).isRef() ||
            normal.getDict()->lookupRaw("Off", chosen).isRef())
            m_appearance = std::move(chosen);
    } else {
        PdfValue chosen;
        if (ap.getDict()->lookupRaw("N", chosen).isRef())
            m_appearance = std::move(chosen);
    }
}

void Annotation::draw(ContentInterpreter* interpreter, bool printing) {
    if ((m_flags & kFlagHidden) || (printing && !(m_flags & kFlagPrint)) ||
        (!printing && (m_flags & kFlagNoView)))
        return;
    const bool link = m_subtype && m_subtype->compareCStr("Link") == 0;
    PdfValue appearance;
    m_appearance.fetch(m_xref, appearance);
    interpreter->drawAnnotation(appearance, link ? &m_border : nullptr, m_xMin, m_yMin, m_xMax, m_yMax);
}

PdfValue& Annotation::lookupInherited(PdfDict* dict, const char* key, PdfValue& out) {
    // The references met on the way: a Parent that leads back to a
    // dictionary already asked ends the walk.
    std::vector<std::pair<int, int>> visited;
    PdfValue holder;
    for (int depth = 0; dict && depth < kMaxInheritDepth; ++depth) {
        if (!dict->lookup(key, out).isNull())
            return out;
        PdfValue raw;
        if (dict->lookupRaw("Parent", raw).isRef()) {
            const std::pair<int, int> ref(raw.getRefNum(), raw.getRefGen());
            for (const auto& seen : visited)
                if (seen == ref)
                    return out.initNull();
            visited.push_back(ref);
        }
        PdfValue parent;
        if (!dict->lookup("Parent", parent).isDict())
            break;
        // The parent's dictionary stays alive while it is asked.
        holder = std::move(parent);
        dict = holder.getDict();
    }
    return out.initNull();
}

// --- AnnotationList -------------------------------------------------------

namespace {

uint64_t packReference(int num, int gen) {
    return uint64_t(uint32_t(num)) << 32 | uint32_t(gen);
}

}  // namespace

AnnotationList::AnnotationList(XrefTable* xref, const PdfValue& annots) : m_xref(xref) {
    if (!annots.isArray())
        return;
    PdfArray* array = annots.getArray();
    const int length = array->getLength();
    if (length > kMaxAnnotations)
        reportError(-1, "Page has %d annotations; only the first %d are drawn", length, kMaxAnnotations);
    for (int i = 0; i < length && i < kMaxAnnotations; ++i) {
        PdfValue raw;
        array->getRaw(i, raw);
        const int num = raw.isRef() ? raw.getRefNum() : -1;
        const int gen = raw.isRef() ? raw.getRefGen() : -1;
        PdfValue element;
        if (!array->get(i, element).isDict())
            continue;
        auto annotation = std::make_unique<Annotation>(xref, element.getDict(), num, gen);
        if (!annotation->isOk())
            continue;
        if (num >= 0)
            m_byReference.emplace(packReference(num, gen), annotation.get());
        m_annotations.push_back(std::move(annotation));
    }
}

Annotation* AnnotationList::findAnnotation(int num, int gen) const {
    const auto it = m_byReference.find(packReference(num, gen));
    return it == m_byReference.end() ? nullptr : it->second;
}

// What one walk of the field tree has seen: the field references entered
// (a field that is its own kid, or a kid that names an ancestor, is walked
// once), the annotations reached and the number of fields visited.
struct AnnotationList::FieldWalk {
    bool regenerateAll = false;
    std::unique_ptr<FontDirectory> fonts;
    std::unordered_map<uint64_t, bool> entered;
    std::unordered_set<const Annotation*> reached;
    int visits = 0;
    bool reported = false;
    int64_t generatedBytes = 0;
    bool budgetReported = false;
};

bool AnnotationList::formAsksForAppearances(PdfDict* form) {
    PdfValue need;
    return form && form->lookup("NeedAppearances", need).isBool() && need.getBool();
}

void AnnotationList::generateAppearances(PdfDict* form, bool regenerateAll) {
    // Without regeneration only widgets with nothing to draw take part; most
    // pages of most forms have none, and then the fields are not walked.
    if (!regenerateAll && std::none_of(m_annotations.begin(), m_annotations.end(), [](const auto& a) {
            return a->isWidget() && a->getAppearance().isNull();
        }))
        return;
    FieldWalk walk;
    walk.regenerateAll = regenerateAll;
    if (form)
        walk.fonts = Annotation::formFonts(m_xref, form);
    PdfValue fields;
    if (form && form->lookup("Fields", fields).isArray()) {
        PdfArray* array = fields.getArray();
        for (int i = 0; i < array->getLength() && walk.visits < kMaxFieldVisits; ++i) {
            PdfValue raw, field;
            array->getRaw(i, raw);
            if (!array->get(i, field).isDict())
                continue;
            scanField(field.getDict(), raw.isRef() ? raw.getRefNum() : -1, raw.isRef() ? raw.getRefGen() : -1,
                      nullptr, form, walk, 0);
        }
    }
    // Widgets the tree does not reach: forms that leave fields out of
    // Fields, or list no fields at all, are still drawn with their values.
    // The widget's own Parent chain gives what it inherits.
    for (const auto& annotation : m_annotations) {
        if (!annotation->isWidget() || walk.reached.count(annotation.get()) != 0)
            continue;
        PdfDict* widget = annotation->getDict();
        PdfValue type;
        if (Annotation::lookupInherited(widget, "FT", type).isName())
            generateFor(annotation.get(), widget, widget, form, walk);
    }
}

void AnnotationList::scanField(PdfDict* field, int num, int gen, PdfDict* parent, PdfDict* form,
                               FieldWalk& walk, int depth) {
    if (++walk.visits > kMaxFieldVisits || depth > kMaxFieldDepth) {
        if (!walk.reported)
            reportError(-1, "Form field tree too large or too deep; the rest of it keeps its appearances");
        walk.reported = true;
        return;
    }
    if (num >= 0 && !walk.entered.emplace(packReference(num, gen), true).second)
        return;

    PdfValue kids;
    if (field->lookup("Kids", kids).isArray()) {
        PdfArray* array = kids.getArray();
        for (int i = 0; i < array->getLength() && walk.visits <= kMaxFieldVisits; ++i) {
            PdfValue raw, kid;
            array->getRaw(i, raw);
            if (!array->get(i, kid).isDict())
                continue;
            scanField(kid.getDict(), raw.isRef() ? raw.getRefNum() : -1, raw.isRef() ? raw.getRefGen() : -1,
                      field, form, walk, depth + 1);
        }
        return;
    }
    Annotation* annotation = num >= 0 ? findAnnotation(num, gen) : nullptr;
    if (!annotation || !walk.reached.insert(annotation).second)
        return;
    PdfValue ownParent;
    PdfDict* inheritFrom = field->lookupRaw("Parent", ownParent).isNull() && parent ? parent : field;
    generateFor(annotation, inheritFrom, field, form, walk);
}

void AnnotationList::generateFor(Annotation* annotation, PdfDict* field, PdfDict* widget, PdfDict* form,
                                 FieldWalk& walk) {
    if (!walk.regenerateAll && !annotation->getAppearance().isNull())
        return;
    if (walk.generatedBytes >= kMaxGeneratedBytes) {
        if (!walk.budgetReported)
            reportError(-1, "Generated field appearances are too large; the other fields keep theirs");
        walk.budgetReported = true;
        return;
    }
    annotation->generateFieldAppearance(field, widget, form, walk.fonts.get());
    if (const DynString* content = annotation->getGeneratedContent())
        walk.generatedBytes += content->getLength();
}

}  // namespace rendova
