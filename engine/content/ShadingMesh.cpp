// Mesh shadings (types 4 to 7): their packed vertex and patch data, decoded
// once when the shading is parsed.
#include <cmath>

#include "engine/content/Shading.h"
#include "engine/core/DataStream.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/PdfValue.h"

namespace rendova {

namespace {

// A vertex holds a full colour (about 140 bytes): a quarter of a million of
// them is far beyond real meshes and keeps a decompression bomb to tens of
// megabytes.
constexpr size_t kMaxMeshVertices = size_t{1} << 18;
// A patch holds 32 coordinates and four colours (about 770 bytes).
constexpr size_t kMaxMeshPatches = size_t{1} << 16;
// Values wider than 32 bits cannot be read; 0 bits would divide by zero.
constexpr int kMaxMeshBits = 32;

// The entries every mesh shares: the value widths and the Decode ranges.
struct MeshFormat {
    int coordBits = 0;
    int componentBits = 0;
    int flagBits = 0;
    double xMin = 0, xMax = 1, yMin = 0, yMax = 1;
    int colorValues = 0;
    double colorMin[kMaxColorComponents] = {};
    double colorMax[kMaxColorComponents] = {};

    double coordScale(int bits) const { return 1.0 / (std::ldexp(1.0, bits) - 1); }
};

bool readBits(const PdfValue& dict, const char* key, int& bits) {
    PdfValue entry;
    if (!dict.dictLookup(key, entry).isInt()) {
        reportError(-1, "Mesh shading without an integer %s", key);
        return false;
    }
    bits = entry.getInt();
    if (bits < 1 || bits > kMaxMeshBits) {
        reportError(-1, "Mesh shading %s %d is not from 1 to %d", key, bits, kMaxMeshBits);
        return false;
    }
    return true;
}

bool readFormat(const PdfValue& dict, bool withFlags, MeshFormat& format) {
    if (!readBits(dict, "BitsPerCoordinate", format.coordBits) ||
        !readBits(dict, "BitsPerComponent", format.componentBits))
        return false;
    if (withFlags && !readBits(dict, "BitsPerFlag", format.flagBits))
        return false;
    PdfValue decode;
    const int length = dict.dictLookup("Decode", decode).isArray() ? decode.getArray()->getLength() : 0;
    double values[4 + 2 * kMaxColorComponents];
    int count = 0;
    for (; count < length && count < 4 + 2 * kMaxColorComponents; ++count) {
        PdfValue element;
        if (!decode.getArray()->get(count, element).isNum())
            break;
        values[count] = element.getNum();
    }
    if (count < 6) {
        reportError(-1, "Mesh shading without a Decode array of at least six numbers");
        return false;
    }
    format.xMin = values[0];
    format.xMax = values[1];
    format.yMin = values[2];
    format.yMax = values[3];
    format.colorValues = (count - 4) / 2;
    for (int i = 0; i < format.colorValues; ++i) {
        format.colorMin[i] = values[4 + 2 * i];
        format.colorMax[i] = values[5 + 2 * i];
    }
    return true;
}

// Reads values in the widths of one mesh format.
class MeshReader {
public:
    MeshReader(DataStream* stream, const MeshFormat& format)
        : m_bits(stream),
          m_format(format),
          m_coordScale(format.coordScale(format.coordBits)),
          m_colorScale(format.coordScale(format.componentBits)) {}
    ~MeshReader() { m_bits.close(); }

    bool flag(uint32_t& value) { return m_bits.getBits(m_format.flagBits, value); }
    bool point(double& x, double& y) {
        uint32_t vx, vy;
        if (!m_bits.getBits(m_format.coordBits, vx) || !m_bits.getBits(m_format.coordBits, vy))
            return false;
        x = m_format.xMin + vx * (m_format.xMax - m_format.xMin) * m_coordScale;
        y = m_format.yMin + vy * (m_format.yMax - m_format.yMin) * m_coordScale;
        return true;
    }
    bool color(ColorValue& color) {
        for (int i = 0; i < m_format.colorValues; ++i) {
            uint32_t v;
            if (!m_bits.getBits(m_format.componentBits, v))
                return false;
            const double lo = m_format.colorMin[i], hi = m_format.colorMax[i];
            color.c[i] = colorFromDouble(lo + v * (hi - lo) * m_colorScale);
        }
        return true;
    }
    void flush() { m_bits.flushBits(); }

private:
    MeshBitReader m_bits;
    const MeshFormat& m_format;
    double m_coordScale;
    double m_colorScale;
};

}  // namespace

// --- Bit reader ---------------------------------------------------------------

MeshBitReader::MeshBitReader(DataStream* stream) : m_stream(stream) {
    m_stream->reset();
}

bool MeshBitReader::getBits(int n, uint32_t& value) {
    // Up to 7 buffered bits and 32 wanted fit in 64.
    uint64_t bits = m_byte & ((1u << m_bitCount) - 1);
    int have = m_bitCount;
    while (have < n) {
        const int c = m_stream->getChar();
        if (c < 0) {
            m_bitCount = 0;
            return false;
        }
        bits = (bits << 8) | uint64_t(c);
        have += 8;
    }
    value = static_cast<uint32_t>(bits >> (have - n)) & static_cast<uint32_t>((uint64_t{1} << n) - 1);
    m_bitCount = have - n;
    m_byte = static_cast<uint32_t>(bits) & 0xff;
    return true;
}

void MeshBitReader::close() {
    m_stream->close();
}

// --- Triangle meshes ------------------------------------------------------------

std::unique_ptr<TriangleMeshShading> TriangleMeshShading::parse(int type, const PdfValue& stream) {
    std::unique_ptr<TriangleMeshShading> shading(new TriangleMeshShading(type));
    const bool freeForm = type == kFreeTriangleType;
    MeshFormat format;
    if (!readFormat(stream, freeForm, format))
        return nullptr;
    int verticesPerRow = 0;
    if (!freeForm) {
        PdfValue entry;
        if (!stream.dictLookup("VerticesPerRow", entry).isInt()) {
            reportError(-1, "Lattice shading without an integer VerticesPerRow");
            return nullptr;
        }
        verticesPerRow = entry.getInt();
    }
    if (!shading->m_functions.parse(stream, true) || !shading->parseCommon(stream))
        return nullptr;

    std::vector<ShadingVertex>& vertices = shading->m_vertices;
    std::vector<Triangle>& triangles = shading->m_triangles;
    {
        MeshReader reader(stream.getStream(), format);
        int state = 0;
        for (;;) {
            uint32_t flag = 0;
            ShadingVertex vertex{};
            if ((freeForm && !reader.flag(flag)) || !reader.point(vertex.x, vertex.y) ||
                !reader.color(vertex.color))
                break;
            reader.flush();
            if (vertices.size() >= kMaxMeshVertices) {
                reportError(-1, "Mesh shading has more than %zu vertices; the rest is left out",
                            kMaxMeshVertices);
                break;
            }
            vertices.push_back(vertex);
            if (!freeForm)
                continue;
            const int k = static_cast<int>(vertices.size()) - 1;
            if (state < 2) {
                ++state;
            } else if (state == 2) {
                triangles.push_back({{k - 2, k - 1, k}});
                state = 3;
            } else if (flag == 0) {
                state = 1;
            } else {
                const Triangle& last = triangles.back();
                triangles.push_back(flag == 1 ? Triangle{{last.v[1], last.v[2], k}}
                                              : Triangle{{last.v[0], last.v[2], k}});
            }
        }
    }
    if (!freeForm) {
        const int64_t rows = verticesPerRow >= 2 ? int64_t(vertices.size()) / verticesPerRow : 0;
        if (verticesPerRow < 2 || rows < 2) {
            reportError(-1, "Lattice shading of %lld rows of %d vertices has no cells",
                        static_cast<long long>(rows), verticesPerRow);
        } else {
            triangles.reserve(size_t(2 * (rows - 1) * (verticesPerRow - 1)));
            for (int64_t i = 0; i + 1 < rows; ++i) {
                for (int j = 0; j + 1 < verticesPerRow; ++j) {
                    const int k = static_cast<int>(i * verticesPerRow + j);
                    triangles.push_back({{k, k + 1, k + verticesPerRow}});
                    triangles.push_back({{k + 1, k + verticesPerRow, k + verticesPerRow + 1}});
                }
            }
        }
    }
    return shading;
}

std::unique_ptr<Shading> TriangleMeshShading::copy() const {
    return std::unique_ptr<Shading>(new TriangleMeshShading(*this));
}

void TriangleMeshShading::getTriangle(int i, double* x, double* y, ColorValue* colors) const {
    const Triangle& triangle = m_triangles[size_t(i)];
    for (int k = 0; k < 3; ++k) {
        const ShadingVertex& vertex = m_vertices[size_t(triangle.v[k])];
        x[k] = vertex.x;
        y[k] = vertex.y;
        if (m_functions.getCount() == 0) {
            colors[k] = vertex.color;
        } else {
            const double in[2] = {colorToDouble(vertex.color.c[0]), 0};
            m_functions.evaluate(in, colors[k]);
        }
    }
}

// --- Patch meshes ---------------------------------------------------------------

std::unique_ptr<PatchMeshShading> PatchMeshShading::parse(int type, const PdfValue& stream) {
    std::unique_ptr<PatchMeshShading> shading(new PatchMeshShading(type));
    MeshFormat format;
    if (!readFormat(stream, true, format) || !shading->m_functions.parse(stream, true) ||
        !shading->parseCommon(stream))
        return nullptr;

    // The boundary points in the order the data gives them, after the four
    // of the first edge, then the interior ones of a tensor patch.
    static constexpr int kBoundary[12][2] = {{0, 0}, {0, 1}, {0, 2}, {0, 3}, {1, 3}, {2, 3},
                                             {3, 3}, {3, 2}, {3, 1}, {3, 0}, {2, 0}, {1, 0}};
    static constexpr int kInterior[4][2] = {{1, 1}, {1, 2}, {2, 2}, {2, 1}};
    // For flags 1 to 3: the points of the previous patch that become the
    // new first edge, and its corner colours that become the new first two.
    static constexpr int kShared[3][4][2] = {
        {{0, 3}, {1, 3}, {2, 3}, {3, 3}}, {{3, 3}, {3, 2}, {3, 1}, {3, 0}}, {{3, 0}, {2, 0}, {1, 0}, {0, 0}}};
    static constexpr int kSharedColors[3][2] = {{1, 2}, {2, 3}, {3, 0}};

    std::vector<ShadingPatch>& patches = shading->m_patches;
    const bool tensor = type == kTensorPatchType;
    MeshReader reader(stream.getStream(), format);
    for (;;) {
        uint32_t flag;
        if (!reader.flag(flag))
            break;
        ShadingPatch patch{};
        const int first = flag == 0 ? 0 : 4;
        bool ok = true;
        for (int p = first; p < 12 && ok; ++p)
            ok = reader.point(patch.x[kBoundary[p][0]][kBoundary[p][1]],
                              patch.y[kBoundary[p][0]][kBoundary[p][1]]);
        for (int p = 0; p < 4 && ok && tensor; ++p)
            ok = reader.point(patch.x[kInterior[p][0]][kInterior[p][1]],
                              patch.y[kInterior[p][0]][kInterior[p][1]]);
        for (int c = flag == 0 ? 0 : 2; c < 4 && ok; ++c)
            ok = reader.color(patch.color[c]);
        if (!ok)
            break;
        reader.flush();
        if (flag != 0) {
            // A flag above 3, or an edge to share before any patch: the
            // data model has no patch for it.
            if (flag > 3 || patches.empty())
                continue;
            const ShadingPatch& previous = patches.back();
            for (int p = 0; p < 4; ++p) {
                const int* from = kShared[flag - 1][p];
                patch.x[0][p] = previous.x[from[0]][from[1]];
                patch.y[0][p] = previous.y[from[0]][from[1]];
            }
            patch.color[0] = previous.color[kSharedColors[flag - 1][0]];
            patch.color[1] = previous.color[kSharedColors[flag - 1][1]];
        }
        if (patches.size() >= kMaxMeshPatches) {
            reportError(-1, "Mesh shading has more than %zu patches; the rest is left out", kMaxMeshPatches);
            break;
        }
        patches.push_back(patch);
    }

    if (!tensor) {
        // The interior points that make the tensor patch equal the Coons
        // patch of the boundary.
        for (ShadingPatch& patch : patches) {
            for (double(*p)[4] : {patch.x, patch.y}) {
                p[1][1] = (-4 * p[0][0] + 6 * (p[0][1] + p[1][0]) - 2 * (p[0][3] + p[3][0]) +
                           3 * (p[1][3] + p[3][1]) - p[3][3]) /
                          9;
                p[1][2] = (-4 * p[0][3] + 6 * (p[0][2] + p[1][3]) - 2 * (p[0][0] + p[3][3]) +
                           3 * (p[1][0] + p[3][2]) - p[3][0]) /
                          9;
                p[2][1] = (-4 * p[3][0] + 6 * (p[2][0] + p[3][1]) - 2 * (p[0][0] + p[3][3]) +
                           3 * (p[0][1] + p[2][3]) - p[0][3]) /
                          9;
                p[2][2] = (-4 * p[3][3] + 6 * (p[2][3] + p[3][2]) - 2 * (p[0][3] + p[3][0]) +
                           3 * (p[0][2] + p[2][0]) - p[0][0]) /
                          9;
            }
        }
    }
    return shading;
}

std::unique_ptr<Shading> PatchMeshShading::copy() const {
    return std::unique_ptr<Shading>(new PatchMeshShading(*this));
}

void PatchMeshShading::getColor(const ColorValue& stored, ColorValue& color) const {
    if (m_functions.getCount() == 0) {
        color = stored;
        return;
    }
    const double in[2] = {colorToDouble(stored.c[0]), 0};
    m_functions.evaluate(in, color);
}

}  // namespace rendova
