// Shading dictionaries of types 1 to 3 and the parts every shading shares;
// the meshes (types 4 to 7) are read in ShadingMesh.cpp.
#include "engine/content/Shading.h"

#include <cstring>

#include "engine/core/ErrorReport.h"
#include "engine/core/PdfValue.h"

namespace rendova {

// --- Functions --------------------------------------------------------------

ShadingFunctions::ShadingFunctions(const ShadingFunctions& other) {
    m_functions.reserve(other.m_functions.size());
    for (const auto& function : other.m_functions)
        m_functions.push_back(function->copy());
}

bool ShadingFunctions::parse(const PdfValue& dict, bool optional) {
    m_functions.clear();
    PdfValue entry;
    dict.dictLookup("Function", entry);
    if (entry.isNull() && optional)
        return true;
    if (!entry.isArray()) {
        std::unique_ptr<PdfFunction> function = PdfFunction::parse(entry);
        if (!function)
            return false;
        m_functions.push_back(std::move(function));
        return true;
    }
    const int count = entry.getArray()->getLength();
    if (count > kMaxFunctions) {
        reportError(-1, "Shading has %d functions, more than %d", count, kMaxFunctions);
        return false;
    }
    for (int i = 0; i < count; ++i) {
        PdfValue element;
        entry.getArray()->get(i, element);
        std::unique_ptr<PdfFunction> function = PdfFunction::parse(element);
        if (!function) {
            m_functions.clear();
            return false;
        }
        m_functions.push_back(std::move(function));
    }
    return true;
}

void ShadingFunctions::evaluate(const double* in, ColorValue& color) const {
    double values[kMaxColorComponents] = {};
    const int count = getCount();
    for (int i = 0; i < count && i < kMaxColorComponents; ++i) {
        double inputs[PdfFunction::kMaxInputs] = {};
        inputs[0] = in[0];
        inputs[1] = in[1];
        double outputs[PdfFunction::kMaxOutputs] = {};
        PdfFunction* function = m_functions[size_t(i)].get();
        function->transform(inputs, outputs);
        // A function without a Range (a stitching one) tells no count: its
        // outputs fill what is left.
        int n = function->getOutputCount();
        if (n <= 0 || n > PdfFunction::kMaxOutputs)
            n = PdfFunction::kMaxOutputs;
        for (int k = 0; k < n && i + k < kMaxColorComponents; ++k)
            values[i + k] = outputs[k];
    }
    for (int k = 0; k < kMaxColorComponents; ++k)
        color.c[k] = colorFromDouble(values[k]);
}

// --- Shading ------------------------------------------------------------------

Shading::~Shading() = default;

Shading::Shading(const Shading& other)
    : m_type(other.m_type),
      m_colorSpace(other.m_colorSpace ? other.m_colorSpace->copy() : nullptr),
      m_background(other.m_background),
      m_hasBackground(other.m_hasBackground),
      m_hasBox(other.m_hasBox) {
    std::memcpy(m_box, other.m_box, sizeof m_box);
}

std::unique_ptr<Shading> Shading::parse(const PdfValue& value) {
    if (!value.isDict() && !value.isStream()) {
        reportError(-1, "Shading is a %s, not a dictionary or a stream", value.typeName());
        return nullptr;
    }
    PdfValue entry;
    if (!value.dictLookup("ShadingType", entry).isInt()) {
        reportError(-1, "Shading without an integer ShadingType");
        return nullptr;
    }
    const int type = entry.getInt();
    switch (type) {
        case kFunctionType:
            return FunctionShading::parse(value);
        case kAxialType:
            return AxialShading::parse(value);
        case kRadialType:
            return RadialShading::parse(value);
        case kFreeTriangleType:
        case kLatticeTriangleType:
        case kCoonsPatchType:
        case kTensorPatchType:
            if (!value.isStream()) {
                reportError(-1, "Mesh shading of type %d is not a stream", type);
                return nullptr;
            }
            if (type <= kLatticeTriangleType)
                return TriangleMeshShading::parse(type, value);
            return PatchMeshShading::parse(type, value);
        default:
            reportError(-1, "Unknown shading type %d", type);
            return nullptr;
    }
}

bool Shading::parseCommon(const PdfValue& dict) {
    PdfValue entry;
    dict.dictLookup("ColorSpace", entry);
    m_colorSpace = ColorSpace::parse(entry);
    if (!m_colorSpace) {
        reportError(-1, "Shading without a usable ColorSpace");
        return false;
    }
    if (dict.dictLookup("Background", entry).isArray()) {
        const int n = m_colorSpace->getComponentCount();
        if (entry.getArray()->getLength() == n) {
            for (int i = 0; i < n; ++i) {
                PdfValue element;
                entry.getArray()->get(i, element);
                m_background.c[i] = element.isNum() ? colorFromDouble(element.getNum()) : 0;
            }
            m_hasBackground = true;
        } else {
            reportError(-1, "Shading Background has %d values for a space of %d components; ignored",
                        entry.getArray()->getLength(), n);
        }
    }
    if (dict.dictLookup("BBox", entry).isArray()) {
        if (PdfFunction::readNumberArray(entry, m_box, 4))
            m_hasBox = true;
        else
            reportError(-1, "Shading BBox is not an array of four numbers; ignored");
    }
    return true;
}

// --- Type 1 -------------------------------------------------------------------

std::unique_ptr<FunctionShading> FunctionShading::parse(const PdfValue& dict) {
    std::unique_ptr<FunctionShading> shading(new FunctionShading());
    PdfValue entry;
    double domain[4];
    // The file gives x0 x1 y0 y1.
    if (PdfFunction::readNumberArray(dict.dictLookup("Domain", entry), domain, 4)) {
        shading->m_domain[0] = domain[0];
        shading->m_domain[2] = domain[1];
        shading->m_domain[1] = domain[2];
        shading->m_domain[3] = domain[3];
    }
    PdfFunction::readNumberArray(dict.dictLookup("Matrix", entry), shading->m_matrix, 6);
    if (!shading->m_functions.parse(dict, false) || !shading->parseCommon(dict))
        return nullptr;
    return shading;
}

std::unique_ptr<Shading> FunctionShading::copy() const {
    return std::unique_ptr<Shading>(new FunctionShading(*this));
}

void FunctionShading::getColor(double x, double y, ColorValue& color) const {
    const double in[2] = {x, y};
    m_functions.evaluate(in, color);
}

// --- Types 2 and 3 ------------------------------------------------------------

bool AxialShading::parseParameter(const PdfValue& dict) {
    PdfValue entry;
    double domain[2];
    if (PdfFunction::readNumberArray(dict.dictLookup("Domain", entry), domain, 2)) {
        m_t0 = domain[0];
        m_t1 = domain[1];
    }
    if (!m_functions.parse(dict, false))
        return false;
    if (dict.dictLookup("Extend", entry).isArray() && entry.getArray()->getLength() == 2) {
        for (int i = 0; i < 2; ++i) {
            PdfValue element;
            entry.getArray()->get(i, element);
            m_extend[i] = element.isBool() && element.getBool();
        }
    }
    return parseCommon(dict);
}

std::unique_ptr<AxialShading> AxialShading::parse(const PdfValue& dict) {
    std::unique_ptr<AxialShading> shading(new AxialShading(kAxialType));
    PdfValue entry;
    if (!PdfFunction::readNumberArray(dict.dictLookup("Coords", entry), shading->m_coords, 4)) {
        reportError(-1, "Axial shading Coords is not an array of four numbers");
        return nullptr;
    }
    if (!shading->parseParameter(dict))
        return nullptr;
    return shading;
}

std::unique_ptr<Shading> AxialShading::copy() const {
    return std::unique_ptr<Shading>(new AxialShading(*this));
}

void AxialShading::getColor(double t, ColorValue& color) const {
    const double in[2] = {t, 0};
    m_functions.evaluate(in, color);
}

std::unique_ptr<RadialShading> RadialShading::parse(const PdfValue& dict) {
    std::unique_ptr<RadialShading> shading(new RadialShading());
    PdfValue entry;
    if (!PdfFunction::readNumberArray(dict.dictLookup("Coords", entry), shading->m_coords, 6)) {
        reportError(-1, "Radial shading Coords is not an array of six numbers");
        return nullptr;
    }
    if (!shading->parseParameter(dict))
        return nullptr;
    return shading;
}

std::unique_ptr<Shading> RadialShading::copy() const {
    return std::unique_ptr<Shading>(new RadialShading(*this));
}

}  // namespace rendova
