#pragma once

#include "engine/raster/RasterFontKey.h"

namespace rendova {

// The raster output device's key of a loaded font file: the reference of the
// font itself (its dictionary's, or the pseudo reference of a font written
// directly into the resources), not that of its embedded file, so that two
// fonts sharing one embedded file are loaded separately (their encodings
// differ). The substitute index tells which standard face stands in for a
// font without a file of its own (-1: none), for the width correction.
class OutputFontKey : public RasterFontKey {
public:
    OutputFontKey(int objectNumber, int generation, int substituteIndex)
        : m_objectNumber(objectNumber), m_generation(generation), m_substituteIndex(substituteIndex) {}

    int matches(const RasterFontKey& other) const override {
        const auto* key = dynamic_cast<const OutputFontKey*>(&other);
        return key && key->m_objectNumber == m_objectNumber && key->m_generation == m_generation;
    }

    int getObjectNumber() const { return m_objectNumber; }
    int getGeneration() const { return m_generation; }
    int getSubstituteIndex() const { return m_substituteIndex; }
    void setSubstituteIndex(int index) { m_substituteIndex = index; }

private:
    int m_objectNumber;
    int m_generation;
    int m_substituteIndex;
};

}  // namespace rendova
