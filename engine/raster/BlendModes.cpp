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

// Which colour each of hue, saturation and value is taken from.
enum class From { source, backdrop };

template <From hueFrom, From saturationFrom, From valueFrom>
void nonSeparable(const uint8_t* src, const uint8_t* dest, uint8_t* blend, int mode) {
    if (rasterModeComponents(mode) == 1) {
        blend[0] = dest[0];
        return;
    }
    int hs, ss, vs, hd, sd, vd;
    rgbToHsv(src[0], src[1], src[2], &hs, &ss, &vs);
    rgbToHsv(dest[0], dest[1], dest[2], &hd, &sd, &vd);
    int r, g, b;
    hsvToRgb(hueFrom == From::source ? hs : hd, saturationFrom == From::source ? ss : sd,
             valueFrom == From::source ? vs : vd, &r, &g, &b);
    blend[0] = static_cast<uint8_t>(r);
    blend[1] = static_cast<uint8_t>(g);
    blend[2] = static_cast<uint8_t>(b);
}

}  // namespace

void rgbToHsv(int r, int g, int b, int* hue, int* saturation, int* value) {
    int max, mid, min, k;
    // The sector; ties resolve in the order of these tests.
    if (r >= g && g >= b) {
        k = 0, max = r, mid = g, min = b;
    } else if (g > r && r >= b) {
        k = 1, max = g, mid = r, min = b;
    } else if (g >= b && b > r) {
        k = 2, max = g, mid = b, min = r;
    } else if (b > g && g > r) {
        k = 3, max = b, mid = g, min = r;
    } else if (b >= r && r >= g) {
        k = 4, max = b, mid = r, min = g;
    } else {
        k = 5, max = r, mid = b, min = g;
    }
    if (max == min) {
        *hue = 0;
        *saturation = 0;
    } else {
        *hue = 60 * k + ((k & 1) ? 3 * (max - mid) : 3 * (mid - min)) * 20 / (max - min);
        *saturation = (max - min) * 255 / max;
    }
    *value = max;
}

void hsvToRgb(int hue, int saturation, int value, int* r, int* g, int* b) {
    if (saturation == 0) {
        *r = *g = *b = value;
        return;
    }
    const int k = hue / 60, f = hue % 60;
    const int p = div255(value * (255 - saturation));
    const int m = (k & 1) ? div255(value * (255 - f * saturation / 60))
                          : div255(value * (255 - (60 - f) * saturation / 60));
    switch (k) {
        case 0:
            *r = value, *g = m, *b = p;
            break;
        case 1:
            *r = m, *g = value, *b = p;
            break;
        case 2:
            *r = p, *g = value, *b = m;
            break;
        case 3:
            *r = p, *g = m, *b = value;
            break;
        case 4:
            *r = m, *g = p, *b = value;
            break;
        default:
            *r = value, *g = p, *b = m;
            break;
    }
}

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
    nonSeparable<From::source, From::backdrop, From::backdrop>,
    nonSeparable<From::backdrop, From::source, From::backdrop>,
    nonSeparable<From::source, From::source, From::backdrop>,
    nonSeparable<From::backdrop, From::backdrop, From::source>,
};

}  // namespace rendova
