// Runs a chain of transforms on a small image built from the input: the first
// bytes choose the size, depth, alpha plane and transparent index, the next
// the operations and their arguments, and the rest fill the pixel rows.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "image/ImageTransforms.h"
#include "image/OctreeQuantizer.h"
#include "image/RasterImage.h"

namespace {

class Input {
public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    uint8_t byte() { return m_position < m_size ? m_data[m_position++] : 0; }
    const uint8_t* rest(size_t& size) const {
        size = m_size - m_position;
        return m_data + m_position;
    }
    void skip(size_t count) { m_position = count < m_size - m_position ? m_position + count : m_size; }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_position = 0;
};

// Small images keep every run fast; the odd sizes are where the row ends bite.
constexpr int32_t kMaxSide = 48;
constexpr int kOperations = 6;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace rendova;
    Input in(data, size);
    const int32_t width = 1 + in.byte() % kMaxSide;
    const int32_t height = 1 + in.byte() % kMaxSide;
    static constexpr int32_t kDepths[4] = {1, 4, 8, 24};
    const uint8_t flags = in.byte();
    RasterImage image(width, height, kDepths[flags & 3], kFormatBmp);
    if (!image.HasPixels())
        return 0;
    if (flags & 4)
        image.MakeAlphaPlane();
    if (flags & 8)
        image.SetTransparentIndex(in.byte());
    uint8_t operations[kOperations][4];
    for (auto& operation : operations)
        for (uint8_t& b : operation)
            b = in.byte();
    size_t restSize = 0;
    const uint8_t* rest = in.rest(restSize);
    if (image.HasPalette()) {
        const size_t paletteBytes = image.PaletteBytes() < restSize ? image.PaletteBytes() : restSize;
        std::memcpy(image.GetPalette(), rest, paletteBytes);
        rest += paletteBytes;
        restSize -= paletteBytes;
    }
    const size_t pixelBytes = image.header().sizeImage < restSize ? image.header().sizeImage : restSize;
    std::memcpy(image.RowPointer(0), rest, pixelBytes);

    RasterImage other;
    for (const auto& op : operations) {
        if (!image.HasPixels() || image.GetWidth() > 4 * kMaxSide || image.GetHeight() > 4 * kMaxSide)
            break;
        switch (op[0] % 12) {
            case 0:
                ConvertToGrey(image);
                break;
            case 1:
                FlipVertical(image);
                break;
            case 2:
                MirrorHorizontal(image);
                break;
            case 3:
                TurnLeft(image, (op[1] & 1) ? &other : nullptr);
                break;
            case 4:
                TurnRight(image);
                break;
            case 5:
                Invert(image);
                break;
            case 6: {
                const float angles[] = {0.0f, 90.0f, -90.0f, 180.0f, 45.0f, 1e-7f, -33.3f, 1e6f};
                Rotate(image, angles[op[1] & 7] + float(op[2]) / 7.0f, (op[3] & 1) ? &other : nullptr);
                break;
            }
            case 7:
            case 8:
                Resample(image, 1 + op[1] % 96, 1 + op[2] % 96, op[3] % 4, (op[0] & 16) ? &other : nullptr);
                break;
            case 9: {
                const int32_t bits[] = {1, 4, 8, 2};
                RgbQuad palette[256];
                for (int i = 0; i < 256; ++i)
                    palette[i] = RgbQuad{uint8_t(i * op[2]), uint8_t(i), uint8_t(255 - i), 0};
                ReduceBitDepth(image, bits[op[1] & 3], op[1] & 4, (op[1] & 8) ? palette : nullptr, op[3]);
                break;
            }
            case 10: {
                OctreeQuantizer quantizer(op[1], int32_t(op[2] % 10) - 1);
                quantizer.processImage(image.RowPointer(0) - 40 - image.PaletteBytes());
                RgbQuad palette[256] = {};
                quantizer.getPalette(palette);
                if (image.GetBpp() >= 8)
                    ReduceBitDepth(image, 8, op[3] & 1, palette, quantizer.leafCount());
                break;
            }
            default: {
                image.info().escape = op[1] & 1;
                Resample(image, 1 + op[2] % 64, 1 + op[3] % 64, kResampleAverage);
                image.info().escape = 0;
                break;
            }
        }
    }
    return 0;
}
