#pragma once

namespace rendova {

// Kinds of halftone screen.
constexpr int kScreenDispersed = 0;
constexpr int kScreenClustered = 1;
constexpr int kScreenStochasticClustered = 2;

// How the 1-bit colour mode's halftone screen is built. The raster output
// device fills it from the settings per resolution; a null pointer wherever
// one is taken means these defaults.
struct HalftoneParameters {
    int kind = kScreenDispersed;
    int size = 2;             // requested matrix size
    int dotRadius = 2;        // for the stochastic clustered kind
    double gamma = 1.0;       // exponent applied to every threshold
    double blackLimit = 0.0;  // 0 to 1, the lowest threshold
    double whiteLimit = 1.0;  // 0 to 1, the highest threshold
};

}  // namespace rendova
