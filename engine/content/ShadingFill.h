#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/content/Shading.h"

namespace rendova {

class GraphicsState;
class OutputDevice;

// Cuts a shading into flat-coloured pieces (bands, rings, quads, triangles,
// patches) and fills each through the device, in the state's current
// matrix and clip. The interpreter sets the colour space and the clip
// before it paints and restores the state after.
//
// Borrows the interpreter's state stack (it may push and pop a level on it)
// and the device for one paint() call. One thread at a
// time; throws MemoryException only.
class ShadingFill {
public:
    // Subdivision of function shadings, triangles and patches stops here.
    static constexpr int kMaxDepth = 6;
    // A function shading is cut at least this deep (an 8 x 8 grid) before
    // corners of one colour make a piece flat: a function that repeats (a
    // checkerboard) may take one colour at every corner of a coarser grid.
    static constexpr int kMinFunctionDepth = 3;
    // Pieces one shading may be cut into in all: past it, pieces are filled
    // as they are. A mesh of a quarter of a million triangles, each cut six
    // times, would otherwise fill a billion pieces; 128 patches cut six
    // times fit.
    static constexpr int kMaxPieces = 1 << 20;
    // Axial bands and radial rings come from 256 steps of the parameter,
    // merged while the colour of every step stays close to the first, but
    // never more than 16 steps:
    // a function that comes back to a colour (a stitched one often ends as
    // it starts) would otherwise pass for a constant one.
    static constexpr int kSteps = 256;
    static constexpr int kMaxBandSteps = 16;
    // Bands also end where a stitched function changes pieces, when it has
    // no more pieces than this.
    static constexpr int kMaxBandCuts = 256;
    // Largest number of points on a radial circle.
    static constexpr int kMaxCirclePoints = 200;

    // pageBudget: the pieces the page may still fill; every piece takes one,
    // none is filled once it is spent, and none is cut once it is below
    // cutReserve.
    ShadingFill(std::unique_ptr<GraphicsState>& state, OutputDevice* device, int64_t* pageBudget,
                int64_t cutReserve = 0)
        : m_state(state), m_device(device), m_pageBudget(pageBudget), m_cutReserve(cutReserve) {}

    void paint(Shading* shading);

    // Two colours are close when every component differs by at most 1/256.
    static bool close(const ColorValue& a, const ColorValue& b, int count);
    // The component-wise mean, halved as integers.
    static void mean(const ColorValue& a, const ColorValue& b, int count, ColorValue& out);
    // The starting depth of a patch mesh: bigger meshes are cut less.
    static int patchStartDepth(int patchCount);

private:
    struct Corner {
        double x, y;
        ColorValue color;
    };

    void paintFunction(FunctionShading* shading);
    void functionRect(FunctionShading* shading, double x0, double y0, double x1, double y1,
                      const ColorValue* colors, int depth);
    void paintAxial(AxialShading* shading);
    void paintRadial(RadialShading* shading);
    // paintRadial's steps: the bands of the parameter (with the extensions
    // that reach the clip box), each band's area, and the painting of
    // nested circles or of circle hulls.
    struct RadialGeometry;
    // A band of the parameter, from sa to sb (0 to 1 over the domain).
    struct Band {
        double sa, sb;
        ColorValue color;
    };
    // The bands from lo to hi (0 <= lo < hi <= 1), colourBy giving the
    // colour at s, added to bands; none of them spans one of the cuts.
    template <typename ColorBy>
    void parameterBands(double lo, double hi, const std::vector<double>& cuts, ColorBy colorBy,
                        std::vector<Band>& bands);
    // Where the shading's stitched functions change pieces, as values of s,
    // sorted: none when there are more than kMaxBandCuts.
    static std::vector<double> stitchCuts(const AxialShading* shading);
    static void radialColorAt(RadialShading* shading, double s, ColorValue& color);
    std::vector<Band> radialBands(RadialShading* shading, const RadialGeometry& g, ColorValue& start,
                                  ColorValue& end);
    void radialBand(const RadialGeometry& g, double sa, double sb, const ColorValue& color);
    void paintNestedRadial(RadialShading* shading, const RadialGeometry& g, const std::vector<Band>& bands,
                           const ColorValue& start, const ColorValue& end);
    void paintHullRadial(const RadialGeometry& g, const std::vector<Band>& bands);
    void paintTriangles(TriangleMeshShading* shading);
    void triangle(const Corner& a, const Corner& b, const Corner& c, int depth);
    void paintPatches(PatchMeshShading* shading);
    void patch(PatchMeshShading* shading, const ShadingPatch& patch, int depth);

    // Fills the state's path in the colour and clears the path.
    void fillPath(const ColorValue& color);
    // A circle of n points as a closed sub-path, counter-clockwise or not.
    void addCircle(double x, double y, double r, int n, bool counterClockwise);
    // Whether the points span less than a device pixel both ways: such a
    // piece covers a pixel or two whatever its colours, so it is not cut.
    bool belowPixel(const double* xs, const double* ys, int count) const;
    // Whether one more piece may still be cut.
    bool mayCut() { return m_pieces<kMaxPieces&& * m_pageBudget> m_cutReserve; }

    std::unique_ptr<GraphicsState>& m_state;
    OutputDevice* m_device;
    int64_t* m_pageBudget;
    int64_t m_cutReserve;
    // Components compared and averaged.
    int m_count = 1;
    int m_pieces = 0;
};

}  // namespace rendova
