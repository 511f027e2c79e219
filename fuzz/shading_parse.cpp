// Fuzzes Shading::parse and Pattern::parse with the colour getters of what
// they build: the first value of the input (see FuzzValues.h) is a shading,
// or a pattern when it has a PatternType; every triangle and patch of a mesh
// is read, and the copy once more.
#include <cstddef>
#include <cstdint>

#include "engine/content/Pattern.h"
#include "engine/content/Shading.h"
#include "fuzz/FuzzValues.h"

using namespace rendova;

namespace {

void exercise(Shading* shading) {
    ColorValue color;
    switch (shading->getType()) {
        case Shading::kFunctionType: {
            auto* s = static_cast<FunctionShading*>(shading);
            const double* d = s->getDomain();
            s->getColor(d[0], d[1], color);
            s->getColor((d[0] + d[2]) / 2, (d[1] + d[3]) / 2, color);
            break;
        }
        case Shading::kAxialType:
        case Shading::kRadialType: {
            auto* s = static_cast<AxialShading*>(shading);
            for (double t : {s->getDomain0(), s->getDomain1(), -1e300, 1e300})
                s->getColor(t, color);
            break;
        }
        case Shading::kFreeTriangleType:
        case Shading::kLatticeTriangleType: {
            auto* s = static_cast<TriangleMeshShading*>(shading);
            for (int i = 0; i < s->getTriangleCount(); ++i) {
                const int* v = s->getTriangleIndices(i);
                for (int k = 0; k < 3; ++k)
                    if (v[k] < 0 || v[k] >= s->getVertexCount())
                        __builtin_trap();
                double x[3], y[3];
                ColorValue colors[3];
                s->getTriangle(i, x, y, colors);
            }
            break;
        }
        default: {
            auto* s = static_cast<PatchMeshShading*>(shading);
            for (int i = 0; i < s->getPatchCount(); ++i)
                s->getColor(s->getPatch(i).color[2], color);
            break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 16)
        return 0;
    fuzz::FuzzDocument doc(data, size);
    PdfValue type;
    if (!doc.value().dictLookup("PatternType", type).isNull()) {
        std::unique_ptr<Pattern> pattern = Pattern::parse(doc.value());
        if (pattern && pattern->getType() == Pattern::kShading) {
            std::unique_ptr<Pattern> copy = pattern->copy();
            pattern.reset();
            exercise(static_cast<ShadingPattern*>(copy.get())->getShading());
        }
        return 0;
    }
    std::unique_ptr<Shading> shading = Shading::parse(doc.value());
    if (!shading)
        return 0;
    exercise(shading.get());
    std::unique_ptr<Shading> copy = shading->copy();
    shading.reset();
    exercise(copy.get());
    return 0;
}
