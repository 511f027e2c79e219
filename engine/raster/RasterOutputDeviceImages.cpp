// The image slots of the raster output device: stencil masks, and sampled
// images alone, with colour-key masks, with explicit masks and with soft
// masks. Samples come through ImageLineReader and ImageColorMap; the
// rasteriser pulls the rows through the row sources below.
#include <algorithm>
#include <cstring>
#include <memory>

#include "engine/content/ColorSpace.h"
#include "engine/content/ContentInterpreter.h"
#include "engine/content/GraphicsState.h"
#include "engine/content/ImageColorMap.h"
#include "engine/core/DataStream.h"
#include "engine/core/ImageLineReader.h"
#include "engine/core/Memory.h"
#include "engine/core/PdfValue.h"
#include "engine/raster/RasterBitmap.h"
#include "engine/raster/RasterOutputDevice.h"
#include "engine/raster/RasterPattern.h"
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
    // An explicit mask drawn at the image's pixel size (1-bit), or null.
    const RasterBitmap* mask = nullptr;
    // The samples and colours of the last row that went through the colour
    // map (null with a lookup table): a row equal to it takes a copy of its
    // colours, because flat areas of scans and drawings repeat whole rows.
    uint8_t* lastSamples = nullptr;
    uint8_t* lastLine = nullptr;
    bool haveLastRow = false;
};

namespace {

// The next row's samples and how many of its pixels the data held; null for
// a row past the image or past the end of the data, which the rasteriser
// leaves unpainted: missing samples never paint over the page.
const uint8_t* nextSamples(ImageRowSourceState* s, int components, int& pixels) {
    if (s->rowsDone >= s->height)
        return nullptr;
    ++s->rowsDone;
    const uint8_t* samples = s->reader->getLine();
    pixels = samples ? std::min(s->width, s->reader->getSamplesRead() / components) : 0;
    return pixels > 0 ? samples : nullptr;
}

int stencilRowSource(void* data, uint8_t* line, uint8_t*) {
    auto* s = static_cast<ImageRowSourceState*>(data);
    int pixels = 0;
    const uint8_t* samples = nextSamples(s, 1, pixels);
    if (!samples)
        return 0;
    for (int x = 0; x < pixels; ++x)
        line[x] = uint8_t(samples[x] ^ s->invert);
    std::memset(line + pixels, 0, size_t(s->width - pixels));
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
    const size_t sampleBytes = size_t(s->width) * size_t(components);
    const size_t lineBytes = size_t(s->width) * (rgb ? 3 : 1);
    if (s->haveLastRow && std::memcmp(samples, s->lastSamples, sampleBytes) == 0) {
        std::memcpy(line, s->lastLine, lineBytes);
        return;
    }
    if (rgb)
        s->colorMap->getRgbRow(samples, s->width, line);
    else
        s->colorMap->getGrayRow(samples, s->width, line);
    if (s->lastSamples) {
        std::memcpy(s->lastSamples, samples, sampleBytes);
        std::memcpy(s->lastLine, line, lineBytes);
        s->haveLastRow = true;
    }
}

// The next row's samples, converted into line; null when the data has no
// more rows. pixels tells how many of the row's samples the data held.
const uint8_t* nextConvertedRow(ImageRowSourceState* s, uint8_t* line, int& pixels) {
    pixels = 0;
    const uint8_t* samples = nextSamples(s, s->colorMap->getComponentCount(), pixels);
    if (samples)
        convertRow(s, samples, line);
    return samples;
}

// The pixels of a row that the data cut short take the colour of zero
// samples; only sources with alpha can leave them out.
int imageRowSource(void* data, uint8_t* line, uint8_t*) {
    int pixels;
    return nextConvertedRow(static_cast<ImageRowSourceState*>(data), line, pixels) ? 1 : 0;
}

// A soft mask's missing samples are transparent: 0.
int softMaskRowSource(void* data, uint8_t* line, uint8_t*) {
    auto* s = static_cast<ImageRowSourceState*>(data);
    int pixels;
    if (!nextConvertedRow(s, line, pixels))
        return 0;
    std::memset(line + pixels, 0, size_t(s->width - pixels));
    return 1;
}

int colorKeyRowSource(void* data, uint8_t* line, uint8_t* alpha) {
    auto* s = static_cast<ImageRowSourceState*>(data);
    const int components = s->colorMap->getComponentCount();
    int pixels;
    const uint8_t* samples = nextConvertedRow(s, line, pixels);
    if (!samples)
        return 0;
    for (int x = 0; x < pixels; ++x) {
        const uint8_t* pixel = samples + x * components;
        uint8_t a = 0;
        for (int i = 0; i < components; ++i)
            if (pixel[i] < s->colorKey[2 * i] || pixel[i] > s->colorKey[2 * i + 1]) {
                a = 255;
                break;
            }
        alpha[x] = a;
    }
    std::memset(alpha + pixels, 0, size_t(s->width - pixels));
    return 1;
}

int maskedImageRowSource(void* data, uint8_t* line, uint8_t* alpha) {
    auto* s = static_cast<ImageRowSourceState*>(data);
    int pixels;
    if (!nextConvertedRow(s, line, pixels))
        return 0;
    // The mask bitmap has the image's width and height, so the row and every
    // column lie inside it.
    const uint8_t* maskRow = s->mask->data() + static_cast<ptrdiff_t>(s->rowsDone - 1) * s->mask->rowSize();
    for (int x = 0; x < pixels; ++x)
        alpha[x] = (maskRow[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
    std::memset(alpha + pixels, 0, size_t(s->width - pixels));
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
            table[3 * i] = colorToByte(c.r);
            table[3 * i + 1] = colorToByte(c.g);
            table[3 * i + 2] = colorToByte(c.b);
        } else {
            ColorComponent g;
            map->getGray(&sample, g);
            table[i] = colorToByte(g);
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

// Draws the rows of a sampled image through the rasteriser: with a
// colour-key array or a mask bitmap the rows carry alpha. The stream is
// closed afterwards; an inline image's unread rows are drained first.
void drawSampledImage(Rasteriser& rasteriser, int colourMode, const GraphicsState* state, DataStream* stream,
                      int width, int height, ImageColorMap* colorMap, const int* maskColors,
                      const RasterBitmap* mask, bool inlineImage) {
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
    s.mask = mask;
    s.outputKind = colourMode == rasterMono1 ? rasterMono8 : colourMode;
    s.width = width;
    s.height = height;
    std::unique_ptr<uint8_t[]> lookup = makeLookup(colorMap, s.outputKind);
    s.lookup = lookup.get();
    std::unique_ptr<uint8_t[]> lastSamples, lastLine;
    if (!lookup) {
        lastSamples = std::make_unique<uint8_t[]>(size_t(reader.getSamplesPerRow()));
        lastLine = std::make_unique<uint8_t[]>(size_t(checkedMul(width, s.outputKind >= rasterRGB8 ? 3 : 1)));
        s.lastSamples = lastSamples.get();
        s.lastLine = lastLine.get();
    }
    double matrix[6];
    imageMatrix(state, matrix);
    RasterImageSource source = mask ? maskedImageRowSource : maskColors ? colorKeyRowSource : imageRowSource;
    rasteriser.drawImage(source, &s, s.outputKind, mask || maskColors ? 1 : 0, width, height, matrix);
    if (inlineImage)
        drainRows(s);
    stream->close();
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
    // Inside a Type 3 glyph a mask is part of the glyph's shape: it covers
    // the pixels whose centres it covers, as the glyph's paths do.
    m_rasteriser->fillImageMask(stencilRowSource, &s, width, height, matrix,
                                m_text.getType3StackDepth() > 0 ? 1 : 0);
    if (inlineImage)
        drainRows(s);
    stream->close();
}

void RasterOutputDevice::drawImage(GraphicsState* state, const PdfValue*, DataStream* stream, int width,
                                   int height, ImageColorMap* colorMap, const int* maskColors,
                                   bool inlineImage) {
    drawSampledImage(*m_rasteriser, m_colourMode, state, stream, width, height, colorMap, maskColors, nullptr,
                     inlineImage);
}

void RasterOutputDevice::drawImageWithMask(GraphicsState* state, const PdfValue* ref, DataStream* stream,
                                           int width, int height, ImageColorMap* colorMap,
                                           DataStream* maskStream, int maskWidth, int maskHeight,
                                           bool maskInvert) {
    // A mask finer than the image would lose detail at the image's pixel
    // size: it becomes a 1-bit grey soft mask drawn at the device's
    // resolution instead, 1 for the samples that let the image through.
    if (width < maskWidth || height < maskHeight) {
        PdfValue decode;
        decode.initArray(nullptr);
        PdfValue low, high;
        decode.getArray()->add(std::move(low.initInt(maskInvert ? 0 : 1)));
        decode.getArray()->add(std::move(high.initInt(maskInvert ? 1 : 0)));
        ImageColorMap maskMap(1, decode, std::make_unique<DeviceGrayColorSpace>());
        drawImageWithSoftMask(state, ref, stream, width, height, colorMap, maskStream, maskWidth, maskHeight,
                              &maskMap);
        return;
    }

    // Otherwise the mask is drawn at the image's pixel size, a set bit for
    // each image pixel that shows.
    ImageLineReader maskReader(maskStream, maskWidth, 1, 1);
    if (!maskReader.isOk() || width <= 0 || height <= 0)
        return;
    maskReader.reset();
    RasterBitmap mask(width, height, 1, rasterMono1, false, true);
    {
        Rasteriser maskRasteriser(&mask, false, nullptr);
        const uint8_t black[3] = {0, 0, 0};
        const uint8_t white[3] = {255, 255, 255};
        maskRasteriser.clear(black, 0);
        maskRasteriser.setFillPattern(new RasterSolidColor(white));
        ImageRowSourceState s;
        s.reader = &maskReader;
        s.width = maskWidth;
        s.height = maskHeight;
        s.invert = maskInvert ? 0 : 1;
        // Pixel-centre edges (the rule of Type 3 glyphs): the image's edges
        // fall on pixel boundaries here, and the usual edges, nudged
        // outwards, would add a pixel on every side and shift the mask
        // against the samples it masks.
        const double matrix[6] = {double(width), 0, 0, double(height), 0, 0};
        maskRasteriser.fillImageMask(stencilRowSource, &s, maskWidth, maskHeight, matrix, 1);
    }
    maskStream->close();

    drawSampledImage(*m_rasteriser, m_colourMode, state, stream, width, height, colorMap, nullptr, &mask,
                     false);
}

void RasterOutputDevice::drawImageWithSoftMask(GraphicsState* state, const PdfValue*, DataStream* stream,
                                               int width, int height, ImageColorMap* colorMap,
                                               DataStream* maskStream, int maskWidth, int maskHeight,
                                               ImageColorMap* maskColorMap) {
    // The mask's grey samples are drawn onto a grey bitmap the size of the
    // target under the image's matrix, so that each device pixel gets the
    // mask level of the place it shows.
    ImageLineReader maskReader(maskStream, maskWidth, maskColorMap->getComponentCount(),
                               maskColorMap->getBits());
    if (!maskReader.isOk())
        return;
    maskReader.reset();
    auto mask =
        std::make_unique<RasterBitmap>(m_target->width(), m_target->height(), 1, rasterMono8, false, true);
    {
        Rasteriser maskRasteriser(mask.get(), m_antialias, *m_rasteriser->getScreen());
        const uint8_t black[3] = {0, 0, 0};
        maskRasteriser.clear(black, 0);
        ImageRowSourceState s;
        s.reader = &maskReader;
        s.colorMap = maskColorMap;
        s.outputKind = rasterMono8;
        s.width = maskWidth;
        s.height = maskHeight;
        std::unique_ptr<uint8_t[]> lookup = makeLookup(maskColorMap, rasterMono8);
        s.lookup = lookup.get();
        double matrix[6];
        imageMatrix(state, matrix);
        maskRasteriser.drawImage(softMaskRowSource, &s, rasterMono8, 0, maskWidth, maskHeight, matrix);
    }
    maskStream->close();

    // The image's mask replaces a soft mask of the graphics state only while
    // the image is drawn: it goes on a saved copy of the state, and the
    // restore deletes it and brings back the state's own.
    m_rasteriser->saveState();
    m_rasteriser->setSoftMask(mask.release());
    drawSampledImage(*m_rasteriser, m_colourMode, state, stream, width, height, colorMap, nullptr, nullptr,
                     false);
    m_rasteriser->restoreState();
}

}  // namespace rendova
