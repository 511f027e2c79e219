#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/content/ColorSpace.h"
#include "engine/content/PdfFunction.h"

namespace rendova {

class DataStream;
class PdfValue;

// The colour functions of a shading: none (meshes with colours of their
// own), one function with several outputs, or one function per colour
// component. Owned by its shading. One thread at a time.
class ShadingFunctions {
public:
    static constexpr int kMaxFunctions = 32;

    ShadingFunctions() = default;
    ShadingFunctions(const ShadingFunctions& other);
    ShadingFunctions& operator=(const ShadingFunctions&) = delete;

    // Reads the Function entry of dict. A missing entry gives no functions
    // when optional is set and fails otherwise; false after a report.
    bool parse(const PdfValue& dict, bool optional);
    int getCount() const { return static_cast<int>(m_functions.size()); }
    PdfFunction* get(int i) const { return m_functions[size_t(i)].get(); }
    // The colour at the inputs: function i writes its outputs from
    // component i onward; writes past the last component are dropped.
    void evaluate(const double* in, ColorValue& out) const;

private:
    std::vector<std::unique_ptr<PdfFunction>> m_functions;
};

// A smooth fill: one of the seven shading types, with its colour space and
// the optional background and box. parse() makes them; the painting code of
// the interpreter draws them.
//
// Owned by its pattern or by the caller of parse(). Mesh data is decoded
// once when parsed. One thread at a time (the colour getters evaluate
// functions with scratch memory); throws MemoryException only.
class Shading {
public:
    enum Type : int {
        kFunctionType = 1,
        kAxialType = 2,
        kRadialType = 3,
        kFreeTriangleType = 4,
        kLatticeTriangleType = 5,
        kCoonsPatchType = 6,
        kTensorPatchType = 7,
    };

    virtual ~Shading();
    virtual std::unique_ptr<Shading> copy() const = 0;

    // A new shading from a dictionary (types 1-3) or a stream (any type),
    // or null after a report.
    static std::unique_ptr<Shading> parse(const PdfValue& value);

    int getType() const { return m_type; }
    ColorSpace* getColorSpace() const { return m_colorSpace.get(); }
    bool hasBackground() const { return m_hasBackground; }
    const ColorValue& getBackground() const { return m_background; }
    bool hasBox() const { return m_hasBox; }
    // x0, y0, x1, y1 as the file gives them.
    const double* getBox() const { return m_box; }

protected:
    explicit Shading(int type) : m_type(type) {}
    Shading(const Shading& other);

    // ColorSpace, Background and BBox; false after a report.
    bool parseCommon(const PdfValue& dict);

private:
    int m_type;
    std::unique_ptr<ColorSpace> m_colorSpace;
    ColorValue m_background = {};
    bool m_hasBackground = false;
    double m_box[4] = {0, 0, 0, 0};
    bool m_hasBox = false;
};

// Type 1: a function of (x, y) over a rectangle of its own space.
class FunctionShading : public Shading {
public:
    static std::unique_ptr<FunctionShading> parse(const PdfValue& dict);
    std::unique_ptr<Shading> copy() const override;

    // x0, y0, x1, y1.
    const double* getDomain() const { return m_domain; }
    const double* getMatrix() const { return m_matrix; }
    const ShadingFunctions& getFunctions() const { return m_functions; }
    void getColor(double x, double y, ColorValue& color) const;

private:
    FunctionShading() : Shading(kFunctionType) {}
    FunctionShading(const FunctionShading&) = default;

    double m_domain[4] = {0, 0, 1, 1};
    double m_matrix[6] = {1, 0, 0, 1, 0, 0};
    ShadingFunctions m_functions;
};

// Types 2 and 3: a parameter t along an axis or between two circles. The
// axial shading has no radii (both 0).
class AxialShading : public Shading {
public:
    static std::unique_ptr<AxialShading> parse(const PdfValue& dict);
    std::unique_ptr<Shading> copy() const override;

    // x0, y0, x1, y1.
    const double* getCoords() const { return m_coords; }
    double getDomain0() const { return m_t0; }
    double getDomain1() const { return m_t1; }
    bool getExtendStart() const { return m_extend[0]; }
    bool getExtendEnd() const { return m_extend[1]; }
    const ShadingFunctions& getFunctions() const { return m_functions; }
    void getColor(double t, ColorValue& color) const;

protected:
    explicit AxialShading(int type) : Shading(type) {}
    AxialShading(const AxialShading&) = default;
    // Domain, Function and Extend, shared with the radial shading.
    bool parseParameter(const PdfValue& dict);

    double m_coords[6] = {};
    double m_t0 = 0;
    double m_t1 = 1;
    bool m_extend[2] = {false, false};
    ShadingFunctions m_functions;
};

class RadialShading : public AxialShading {
public:
    static std::unique_ptr<RadialShading> parse(const PdfValue& dict);
    std::unique_ptr<Shading> copy() const override;

    // x0, y0, r0, x1, y1, r1.
    const double* getCircles() const { return m_coords; }

private:
    RadialShading() : AxialShading(kRadialType) {}
    RadialShading(const RadialShading&) = default;
};

struct ShadingVertex {
    double x, y;
    ColorValue color;
};

// Types 4 and 5: Gouraud-shaded triangles over a list of vertices.
class TriangleMeshShading : public Shading {
public:
    static std::unique_ptr<TriangleMeshShading> parse(int type, const PdfValue& stream);
    std::unique_ptr<Shading> copy() const override;

    int getTriangleCount() const { return static_cast<int>(m_triangles.size()); }
    int getVertexCount() const { return static_cast<int>(m_vertices.size()); }
    // The three vertex indices of triangle i.
    const int* getTriangleIndices(int i) const { return m_triangles[size_t(i)].v; }
    // The three vertices of triangle i with their colours in the colour
    // space (through the functions when there are any).
    void getTriangle(int i, double* x, double* y, ColorValue* colors) const;
    bool hasFunctions() const { return m_functions.getCount() > 0; }

private:
    struct Triangle {
        int v[3];
    };

    explicit TriangleMeshShading(int type) : Shading(type) {}
    TriangleMeshShading(const TriangleMeshShading&) = default;

    std::vector<ShadingVertex> m_vertices;
    std::vector<Triangle> m_triangles;
    ShadingFunctions m_functions;
};

// A patch of 4 x 4 control points (row i, column j) and the colours of its
// corners (0,0), (0,3), (3,3), (3,0), in that order: around the patch's
// boundary. With functions a corner colour holds only t, in component 0.
struct ShadingPatch {
    double x[4][4];
    double y[4][4];
    ColorValue color[4];
};

// Types 6 and 7: Coons and tensor-product patches.
class PatchMeshShading : public Shading {
public:
    static std::unique_ptr<PatchMeshShading> parse(int type, const PdfValue& stream);
    std::unique_ptr<Shading> copy() const override;

    int getPatchCount() const { return static_cast<int>(m_patches.size()); }
    const ShadingPatch& getPatch(int i) const { return m_patches[size_t(i)]; }
    bool hasFunctions() const { return m_functions.getCount() > 0; }
    // A corner colour (t in component 0 with functions) in the colour space.
    void getColor(const ColorValue& stored, ColorValue& color) const;

private:
    explicit PatchMeshShading(int type) : Shading(type) {}
    PatchMeshShading(const PatchMeshShading&) = default;

    std::vector<ShadingPatch> m_patches;
    ShadingFunctions m_functions;
};

// Reads the packed values of mesh data, most significant bit first.
// Borrows the stream, which the owner keeps alive; never throws.
class MeshBitReader {
public:
    // Resets the stream.
    explicit MeshBitReader(DataStream* stream);
    // n from 1 to 32; false at the end of the data.
    bool getBits(int n, uint32_t& value);
    // Drops the unread bits of the current byte.
    void flushBits() { m_bitCount = 0; }
    void close();

private:
    DataStream* m_stream;
    uint32_t m_byte = 0;
    int m_bitCount = 0;
};

}  // namespace rendova
