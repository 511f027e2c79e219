#pragma once

#include <memory>

#include "engine/content/Shading.h"
#include "engine/core/PdfValue.h"

namespace rendova {

// A pattern of the document's Pattern resources: a tiling pattern (type 1)
// or a shading pattern (type 2). The graphics state holds the fill and the
// stroke pattern; the painting operators draw with them.
//
// Owned by the resource lookup that parsed it, then by the state it is set
// in. One thread at a time; throws MemoryException only.
class Pattern {
public:
    enum Type : int { kTiling = 1, kShading = 2 };

    virtual ~Pattern();
    virtual std::unique_ptr<Pattern> copy() const = 0;
    int getType() const { return m_type; }

    // A new pattern from a pattern stream or dictionary, or null without a
    // report for an unknown PatternType or a value of the wrong kind (a
    // shading pattern whose shading fails is reported by the shading).
    static std::unique_ptr<Pattern> parse(const PdfValue& value);

protected:
    explicit Pattern(int type) : m_type(type) {}
    Pattern(const Pattern&) = default;

private:
    int m_type;
};

// A cell of content repeated at fixed steps. Missing or malformed entries
// are reported and replaced by defaults; the pattern is still made.
class TilingPattern : public Pattern {
public:
    // value is the pattern stream.
    explicit TilingPattern(const PdfValue& value);
    std::unique_ptr<Pattern> copy() const override;

    int getPaintType() const { return m_paintType; }
    int getTilingType() const { return m_tilingType; }
    // x0, y0, x1, y1.
    const double* getBox() const { return m_box; }
    double getXStep() const { return m_xStep; }
    double getYStep() const { return m_yStep; }
    // The resource dictionary, or null.
    PdfDict* getResourceDict() const { return m_resources.isDict() ? m_resources.getDict() : nullptr; }
    const double* getMatrix() const { return m_matrix; }
    // The pattern stream.
    const PdfValue& getContent() const { return m_content; }

private:
    TilingPattern(const TilingPattern& other);

    int m_paintType = 1;
    int m_tilingType = 1;
    double m_box[4] = {0, 0, 1, 1};
    double m_xStep = 1;
    double m_yStep = 1;
    PdfValue m_resources;
    double m_matrix[6] = {1, 0, 0, 1, 0, 0};
    PdfValue m_content;
};

// A shading painted through the area of a fill or stroke, placed by the
// pattern matrix. The shading is never changed after parsing, so copies of
// the pattern (one per saved state) share it instead of copying its mesh.
class ShadingPattern : public Pattern {
public:
    // Null when the Shading entry does not make a shading.
    static std::unique_ptr<ShadingPattern> parse(const PdfValue& dict);
    std::unique_ptr<Pattern> copy() const override;

    Shading* getShading() const { return m_shading.get(); }
    const double* getMatrix() const { return m_matrix; }

private:
    ShadingPattern() : Pattern(kShading) {}

    std::shared_ptr<Shading> m_shading;
    double m_matrix[6] = {1, 0, 0, 1, 0, 0};
};

}  // namespace rendova
