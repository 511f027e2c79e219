// The image slots of the raster output device: stencil masks and sampled
// images with colour-key masks. Samples come through
// ImageLineReader and ImageColorMap; the rasteriser pulls the rows through
// the row sources below.
#include <cstring>
#include <memory>

#include "engine/content/ContentInterpreter.h"
#include "engine/content/GraphicsState.h"
#include "engine/content/ImageColorMap.h"
#include "engine/core/DataStream.h"
#include "engine/core/ImageLineReader.h"
#include "engine/raster/RasterOutputDevice.h"
#include "engine/raster/RasterTypes.h"
#include "engine/raster/Rasteriser.h"

namespace rendova {

struct ImageRowSourceState {
    ImageLineReader* reader = nullptr;
    ImageColorMap* colorMap = nullptr;
    const int* colorKey = nullptr;
    // 2^bits colours (1 or 3 bytes each) of a one-component image, or null.
    const uint8_t* lookup = nullptr;
    int outputKind = rasterMono8;
    int width = 0;
    int height = 0;
    int rowsDone = 0;
    uint8_t invert = 0;
};

namespace {

inline uint8_t toByte(int32_t v) {
    const int64_t b = (int64_t(v) * 255 + 32768) >> 16;
    return uint8_t(b < 0 ? 0 : b > 255 ? 255 : b);
}

int stencilRowSource(void* data, uint8_t* line, uint8_t*) {
    auto* s = static_cast<ImageRowSourceState*>(data);
    if (s->rowsDone >= s->height)
        return 0;
    const uint8_t* samples = s->reader->getLine();
    for (int x = 0; x < s->width; ++x)
        line[x] = uint8_t((samples ? samples[x] : 0) ^ s->invert);
    ++s->rowsDone;
    return 1;
}

// The colour of one row into line, one or three bytes a pixel.
void convertRow(ImageRowSourceState* s, const uint8_t* samples, uint8_t* line) {
    const int components = s->colorMap->getComponentCount();
    const bool rgb = s->outputKind >= rasterRGB8;
    if (s->lookup) {
        if (rgb) {
            for (int x = 0; x < s->width; ++x)
                std::memcpy(line + 3 * x, s->lookup + 3 * samples[x], 3);
        } else {
            for (int x = 0; x < s->width; ++x)
                line[x] = s->lookup[samples[x]];
        }
        return;
    }
    for (int x = 0; x < s->width; ++x) {
        const uint8_t* pixel = samples + x * components;
        if (rgb) {
            RgbColor c;
            s->colorMap->getRgb(pixel, c);
            line[3 * x] = toByte(c.r);
            line[3 * x + 1] = toByte(c.g);
            line[3 * x + 2] = toByte(c.b);
        } else {
            ColorComponent g;
            s->colorMap->getGray(pixel, g);
            line[x] = toByte(g);
        }
    }
}

int imageRowSource(void* data, uint8_t* line, uint8_t*) {
    auto* s = static_cast<ImageRowSourceState*>(data);
    if (s->rowsDone >= s->height)
        return 0;
    const uint8_t* samples = s->reader->getLine();
    if (samples)
        convertRow(s, samples, line);
    ++s->rowsDone;
    return 1;
}

int colorKeyRowSource(void* data, uint8_t* line, uint8_t* alpha) {
    auto* s = static_cast<ImageRowSourceState*>(data);
    if (s->rowsDone >= s->height)
        return 0;
    const uint8_t* samples = s->reader->getLine();
    if (samples) {
        convertRow(s, samples, line);
        const int components = s->colorMap->getComponentCount();
        for (int x = 0; x < s->width; ++x) {
            const uint8_t* pixel = samples + x * components;
            uint8_t a = 0;
            for (int i = 0; i < components; ++i)
                if (pixel[i] < s->colorKey[2 * i] || pixel[i] > s->colorKey[2 * i + 1]) {
                    a = 255;
                    break;
                }
            alpha[x] = a;
        }
    }
    ++s->rowsDone;
    return 1;
}

// The lookup table of a one-component map: an entry per byte value a sample
// can take (samples wider than 8 bits arrive as their high byte).
std::unique_ptr<uint8_t[]> makeLookup(ImageColorMap* map, int outputKind) {
    if (map->getComponentCount() != 1)
        return nullptr;
    const int entries = 1 << (map->getBits() < 8 ? map->getBits() : 8);
    const int bytes = outputKind >= rasterRGB8 ? 3 : 1;
    auto table = std::make_unique<uint8_t[]>(size_t(entries) * bytes);
    for (int i = 0; i < entries; ++i) {
        const uint8_t sample = uint8_t(i);
        if (bytes == 3) {
            RgbColor c;
            map->getRgb(&sample, c);
            table[3 * i] = toByte(c.r);
            table[3 * i + 1] = toByte(c.g);
            table[3 * i + 2] = toByte(c.b);
        } else {
            ColorComponent g;
            map->getGray(&sample, g);
            table[i] = toByte(g);
        }
    }
    return table;
}

// Every image is drawn so that its first sample row lies at the top of its
// unit square.
void imageMatrix(const GraphicsState* state, double* out) {
    const double* m = state->getMatrix();
    out[0] = m[0];
    out[1] = m[1];
    out[2] = -m[2];
    out[3] = -m[3];
    out[4] = m[2] + m[4];
    out[5] = m[3] + m[5];
}

// Rows of an inline image that the rasteriser did not read are still read,
// so that the content after the image parses.
void drainRows(ImageRowSourceState& s) {
    while (s.rowsDone < s.height) {
        s.reader->getLine();
        ++s.rowsDone;
    }
}

}  // namespace

void RasterOutputDevice::drawStencilMask(GraphicsState* state, const PdfValue*, DataStream* stream, int width,
                                         int height, bool invert, bool inlineImage) {
    if (state->getFillColorSpace() && state->getFillColorSpace()->paintsNothing()) {
        OutputDevice::drawStencilMask(state, nullptr, stream, width, height, invert, inlineImage);
        return;
    }
    ImageLineReader reader(stream, width, 1, 1);
    if (!reader.isOk())
        return;
    reader.reset();
    ImageRowSourceState s;
    s.reader = &reader;
    s.width = width;
    s.height = height;
    s.invert = invert ? 0 : 1;
    double matrix[6];
    imageMatrix(state, matrix);
    m_rasteriser->fillImageMask(stencilRowSource, &s, width, height, matrix, 0);
    if (inlineImage)
        drainRows(s);
    stream->close();
}

void RasterOutputDevice::drawImage(GraphicsState* state, const PdfValue*, DataStream* stream, int width,
                                   int height, ImageColorMap* colorMap, const int* maskColors, bool inlineImage) {
    ImageLineReader reader(stream, width, colorMap->getComponentCount(), colorMap->getBits());
    if (!reader.isOk())
        return;
    reader.reset();
    ImageRowSourceState s;
    s.reader = &reader;
    s.colorMap = colorMap;
    s.colorKey = maskColors;
    // Samples wider than 8 bits arrive as their high byte: the key ranges,
    // given in the samples' own range, are compared at that precision.
    int narrowKey[ContentInterpreter::kMaxColorKeyValues];
    if (maskColors && colorMap->getBits() > 8) {
        const int shift = colorMap->getBits() - 8;
        for (int i = 0; i < ContentInterpreter::kMaxColorKeyValues; ++i)
            narrowKey[i] = maskColors[i] >> shift;
        s.colorKey = narrowKey;
    }
    s.outputKind = m_colourMode == rasterMono1 ? rasterMono8 : m_colourMode;
    s.width = width;
    s.height = height;
    std::unique_ptr<uint8_t[]> lookup = makeLookup(colorMap, s.outputKind);
    s.lookup = lookup.get();
    double matrix[6];
    imageMatrix(state, matrix);
    m_rasteriser->drawImage(maskColors ? colorKeyRowSource : imageRowSource, &s, s.outputKind,
                            maskColors ? 1 : 0, width, height, matrix);
    if (inlineImage)
        drainRows(s);
    stream->close();
}

}  // namespace rendova
