#pragma once

#include <cstdint>

namespace rendova {

// A blend routine: combines the source colour with the backdrop (destination)
// colour into blend, three bytes each (the grey and 1-bit modes use the first
// only), for a bitmap of the given colour mode.
using BlendFunction = void (*)(const uint8_t* src, const uint8_t* dest, uint8_t* blend, int mode);

// Indexed by the graphics state's blend mode: 0 Normal (null, no blending),
// then Multiply, Screen, Overlay, Darken, Lighten, ColorDodge, ColorBurn,
// HardLight, SoftLight, Difference, Exclusion, Hue, Saturation, Color,
// Luminosity. All integer arithmetic, dividing with truncation; only
// SoftLight takes a square root.
extern const BlendFunction blendModeTable[16];

}  // namespace rendova
