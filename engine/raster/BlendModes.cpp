#include "engine/raster/BlendModes.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "engine/raster/RasterTypes.h"

namespace rendova {

namespace {

// The separable modes, one component at a time.
int multiply(int s, int b) {
    return s * b / 255;
}
int screen(int s, int b) {
    return s + b - s * b / 255;
}
int overlay(int s, int b) {
    return b < 128 ? 2 * s * b / 255 : 255 + 2 * (s - 255) * (255 - b) / 255;
}
int darken(int s, int b) {
    return std::min(s, b);
}
int lighten(int s, int b) {
    return std::max(s, b);
}
int colorDodge(int s, int b) {
    return s == 255 ? 255 : std::min(255, b * 255 / (255 - s));
}
int colorBurn(int s, int b) {
    if (s == 0)
        return 0;
    const int q = (255 - b) * 255 / s;
    return q >= 256 ? 0 : 255 - q;
}
int hardLight(int s, int b) {
    return s < 128 ? 2 * b * s / 255 : 255 + 2 * (b - 255) * (255 - s) / 255;
}
int softLight(int s, int b) {
    if (s < 128)
        return b - (255 - 2 * s) * (255 - b) * b / 65025;
    const int d = b >= 64 ? static_cast<int>(std::sqrt(static_cast<double>(b * 255)))
                          : (((16 * b - 3060) * b / 255) + 1020) * b / 255;
    return b + (2 * s - 255) * (d - b) / 255;
}
int difference(int s, int b) {
    return std::abs(s - b);
}
int exclusion(int s, int b) {
    return s + b - 2 * s * b / 255;
}

template <int (*Op)(int, int)>
void separable(const uint8_t* src, const uint8_t* dest, uint8_t* blend, int mode) {
    const int n = rasterModeComponents(mode);
    for (int i = 0; i < n; ++i)
        blend[i] = static_cast<uint8_t>(Op(src[i], dest[i]));
}

// The non-separable modes work on a colour's luminosity and saturation as
// the format defines them (luminosity 0.3 red + 0.59 green + 0.11 blue,
// saturation the largest component less the smallest), in 0 .. 255 with
// 8-bit weights that sum to 256.
int luminosity(const int* c) {
    return (c[0] * 77 + c[1] * 151 + c[2] * 28 + 128) >> 8;
}

// Shifts the colour to luminosity l and then pulls any component outside
// 0 .. 255 back towards l, keeping the luminosity.
void setLuminosity(const int* c, int l, uint8_t* out) {
    const int d = l - luminosity(c);
    int v[3] = {c[0] + d, c[1] + d, c[2] + d};
    const int lum = luminosity(v);
    const int n = std::min({v[0], v[1], v[2]});
    const int x = std::max({v[0], v[1], v[2]});
    if (n < 0 && lum > n) {
        for (int& component : v)
            component = lum + (component - lum) * lum / (lum - n);
    }
    if (x > 255 && x > lum) {
        for (int& component : v)
            component = lum + (component - lum) * (255 - lum) / (x - lum);
    }
    for (int i = 0; i < 3; ++i)
        out[i] = static_cast<uint8_t>(std::clamp(v[i], 0, 255));
}

int saturation(const uint8_t* c) {
    return std::max({c[0], c[1], c[2]}) - std::min({c[0], c[1], c[2]});
}

// The colour with saturation s and the same order of components: the
// smallest becomes 0, the largest s, the middle one keeps its place between
// them. A grey stays at 0 throughout.
void setSaturation(const uint8_t* c, int s, int* out) {
    int order[3] = {0, 1, 2};
    std::sort(order, order + 3, [c](int a, int b) { return c[a] < c[b]; });
    const int lo = c[order[0]], mid = c[order[1]], hi = c[order[2]];
    out[order[0]] = 0;
    if (hi > lo) {
        out[order[1]] = (mid - lo) * s / (hi - lo);
        out[order[2]] = s;
    } else {
        out[order[1]] = 0;
        out[order[2]] = 0;
    }
}

void toInts(const uint8_t* c, int* out) {
    out[0] = c[0];
    out[1] = c[1];
    out[2] = c[2];
}

// A grey has no hue or saturation: Hue, Saturation and Color leave the
// backdrop's grey, Luminosity gives the source's.
void hue(const uint8_t* src, const uint8_t* dest, uint8_t* blend, int mode) {
    if (rasterModeComponents(mode) == 1) {
        blend[0] = dest[0];
        return;
    }
    int c[3], d[3];
    setSaturation(src, saturation(dest), c);
    toInts(dest, d);
    setLuminosity(c, luminosity(d), blend);
}

void saturationMode(const uint8_t* src, const uint8_t* dest, uint8_t* blend, int mode) {
    if (rasterModeComponents(mode) == 1) {
        blend[0] = dest[0];
        return;
    }
    int c[3], d[3];
    setSaturation(dest, saturation(src), c);
    toInts(dest, d);
    setLuminosity(c, luminosity(d), blend);
}

void color(const uint8_t* src, const uint8_t* dest, uint8_t* blend, int mode) {
    if (rasterModeComponents(mode) == 1) {
        blend[0] = dest[0];
        return;
    }
    int c[3], d[3];
    toInts(src, c);
    toInts(dest, d);
    setLuminosity(c, luminosity(d), blend);
}

void luminosityMode(const uint8_t* src, const uint8_t* dest, uint8_t* blend, int mode) {
    if (rasterModeComponents(mode) == 1) {
        blend[0] = src[0];
        return;
    }
    int c[3], d[3];
    toInts(src, c);
    toInts(dest, d);
    setLuminosity(d, luminosity(c), blend);
}

}  // namespace

const BlendFunction blendModeTable[16] = {
    nullptr,
    separable<multiply>,
    separable<screen>,
    separable<overlay>,
    separable<darken>,
    separable<lighten>,
    separable<colorDodge>,
    separable<colorBurn>,
    separable<hardLight>,
    separable<softLight>,
    separable<difference>,
    separable<exclusion>,
    hue,
    saturationMode,
    color,
    luminosityMode,
};

}  // namespace rendova
