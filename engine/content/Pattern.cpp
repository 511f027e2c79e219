#include "engine/content/Pattern.h"

#include "engine/content/PdfFunction.h"
#include "engine/core/ErrorReport.h"

namespace rendova {

Pattern::~Pattern() = default;

std::unique_ptr<Pattern> Pattern::parse(const PdfValue& value) {
    PdfValue type;
    value.dictLookup("PatternType", type);
    if (!type.isInt())
        return nullptr;
    if (type.getInt() == kTiling && value.isStream())
        return std::make_unique<TilingPattern>(value);
    if (type.getInt() == kShading && value.isDict())
        return ShadingPattern::parse(value);
    return nullptr;
}

TilingPattern::TilingPattern(const PdfValue& value) : Pattern(kTiling) {
    PdfValue entry;
    if (value.dictLookup("PaintType", entry).isInt()) {
        m_paintType = entry.getInt();
    } else {
        reportError(-1, "Tiling pattern without an integer PaintType");
    }
    if (value.dictLookup("TilingType", entry).isInt()) {
        m_tilingType = entry.getInt();
    } else {
        reportError(-1, "Tiling pattern without an integer TilingType");
    }
    if (value.dictLookup("BBox", entry).isArray() && entry.getArray()->getLength() == 4) {
        for (int i = 0; i < 4; ++i) {
            PdfValue number;
            if (entry.getArray()->get(i, number).isNum())
                m_box[i] = number.getNum();
        }
    } else {
        reportError(-1, "Tiling pattern without a four-number BBox");
    }
    if (value.dictLookup("XStep", entry).isNum()) {
        m_xStep = entry.getNum();
    } else {
        reportError(-1, "Tiling pattern without a numeric XStep");
    }
    if (value.dictLookup("YStep", entry).isNum()) {
        m_yStep = entry.getNum();
    } else {
        reportError(-1, "Tiling pattern without a numeric YStep");
    }
    if (value.dictLookup("Resources", entry).isDict()) {
        m_resources = std::move(entry);
    } else {
        m_resources.initNull();
        reportError(-1, "Tiling pattern without a Resources dictionary");
    }
    value.dictLookup("Matrix", entry);
    PdfFunction::readNumberArray(entry, m_matrix, 6);
    value.copy(m_content);
}

TilingPattern::TilingPattern(const TilingPattern& other)
    : Pattern(other),
      m_paintType(other.m_paintType),
      m_tilingType(other.m_tilingType),
      m_xStep(other.m_xStep),
      m_yStep(other.m_yStep) {
    for (int i = 0; i < 4; ++i)
        m_box[i] = other.m_box[i];
    for (int i = 0; i < 6; ++i)
        m_matrix[i] = other.m_matrix[i];
    other.m_resources.copy(m_resources);
    other.m_content.copy(m_content);
}

std::unique_ptr<Pattern> TilingPattern::copy() const {
    return std::unique_ptr<Pattern>(new TilingPattern(*this));
}

std::unique_ptr<ShadingPattern> ShadingPattern::parse(const PdfValue& dict) {
    PdfValue entry;
    dict.dictLookup("Shading", entry);
    std::unique_ptr<Shading> shading = Shading::parse(entry);
    if (!shading)
        return nullptr;
    std::unique_ptr<ShadingPattern> pattern(new ShadingPattern());
    pattern->m_shading = std::move(shading);
    dict.dictLookup("Matrix", entry);
    PdfFunction::readNumberArray(entry, pattern->m_matrix, 6);
    return pattern;
}

std::unique_ptr<Pattern> ShadingPattern::copy() const {
    std::unique_ptr<ShadingPattern> pattern(new ShadingPattern());
    pattern->m_shading = m_shading;
    for (int i = 0; i < 6; ++i)
        pattern->m_matrix[i] = m_matrix[i];
    return pattern;
}

}  // namespace rendova
