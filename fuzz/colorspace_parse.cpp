// Fuzzes ColorSpace::parse and the conversions of what it builds: the first
// value of the input is the colour space (see FuzzValues.h); the last bytes
// of the input seed the colours converted and an image colour map.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine/content/ColorSpace.h"
#include "engine/content/ImageColorMap.h"
#include "fuzz/FuzzValues.h"

using namespace rendova;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 16)
        return 0;
    fuzz::FuzzDocument doc(data, size);
    std::unique_ptr<ColorSpace> space = ColorSpace::parse(doc.value());
    if (!space)
        return 0;

    const int n = space->getComponentCount();
    if (n < 0 || n > kMaxColorComponents)
        __builtin_trap();
    ColorValue color{};
    space->getDefaultColor(color);
    RgbColor rgb;
    CmykColor cmyk;
    ColorComponent gray;
    for (int round = 0; round < 4; ++round) {
        space->getGray(color, gray);
        space->getRgb(color, rgb);
        space->getCmyk(color, cmyk);
        if (gray < 0 || gray > kColorOne || rgb.r < 0 || rgb.r > kColorOne || rgb.g < 0 ||
            rgb.g > kColorOne || rgb.b < 0 || rgb.b > kColorOne || cmyk.k < 0 || cmyk.k > kColorOne)
            __builtin_trap();
        // Components from the input's tail, extreme values included.
        for (int i = 0; i < n; ++i) {
            const uint8_t b = data[(size - 1 - size_t(i + round)) % size];
            color.c[i] = b == 0xff ? INT32_MAX : b == 0xfe ? INT32_MIN : (int(b) - 64) * 0x800;
        }
    }

    std::unique_ptr<ColorSpace> copy = space->copy();
    space.reset();
    copy->getRgb(color, rgb);

    const int bits = 1 + data[size - 1] % 16;
    ImageColorMap map(bits, PdfValue().initNull(), std::move(copy));
    if (map.isOk()) {
        uint8_t pixel[kMaxColorComponents];
        for (int v = 0; v < 256; v += 17) {
            std::memset(pixel, v, sizeof pixel);
            map.getRgb(pixel, rgb);
            map.getGray(pixel, gray);
        }
    }
    return 0;
}
