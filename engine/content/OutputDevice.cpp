#include "engine/content/OutputDevice.h"

#include "engine/content/ImageColorMap.h"
#include "engine/core/DataStream.h"
#include "engine/core/SaturatingCast.h"

namespace rendova {

OutputDevice::~OutputDevice() = default;

void OutputDevice::setDefaultMatrix(const double* matrix) {
    for (int i = 0; i < 6; ++i)
        m_defaultMatrix[i] = matrix[i];
    const double* m = m_defaultMatrix;
    const double det = 1 / (m[0] * m[3] - m[1] * m[2]);
    m_defaultInverse[0] = m[3] * det;
    m_defaultInverse[1] = -m[1] * det;
    m_defaultInverse[2] = -m[2] * det;
    m_defaultInverse[3] = m[0] * det;
    m_defaultInverse[4] = (m[2] * m[5] - m[3] * m[4]) * det;
    m_defaultInverse[5] = (m[1] * m[4] - m[0] * m[5]) * det;
}

bool OutputDevice::approvePageArea(Page*, double, double, int, bool, bool, int, int, int, int, bool,
                                   DocumentCatalog*, AbortCheck, void*) {
    return true;
}

void OutputDevice::startPage(int, GraphicsState*) {}

void OutputDevice::deviceToUser(double dx, double dy, double* ux, double* uy) {
    const double* i = m_defaultInverse;
    *ux = dx * i[0] + dy * i[2] + i[4];
    *uy = dx * i[1] + dy * i[3] + i[5];
}

void OutputDevice::userToDevice(double ux, double uy, int* dx, int* dy) {
    const double* m = m_defaultMatrix;
    *dx = saturateToInt(m[0] * ux + m[2] * uy + m[4] + 0.5);
    *dy = saturateToInt(m[1] * ux + m[3] * uy + m[5] + 0.5);
}

void OutputDevice::saveState(GraphicsState*) {}
void OutputDevice::restoreState(GraphicsState*) {}

void OutputDevice::refreshAllState(GraphicsState* state) {
    updateLineDash(state);
    updateFlatness(state);
    updateLineJoin(state);
    updateLineCap(state);
    updateMiterLimit(state);
    updateLineWidth(state);
    updateStrokeAdjust(state);
    updateFillColorSpace(state);
    updateFillColor(state);
    updateStrokeColorSpace(state);
    updateStrokeColor(state);
    updateBlendMode(state);
    updateFillOpacity(state);
    updateStrokeOpacity(state);
    updateFillOverprint(state);
    updateStrokeOverprint(state);
    updateTransfer(state);
    updateFont(state);
}

void OutputDevice::updateMatrix(GraphicsState*, double, double, double, double, double, double) {}
void OutputDevice::updateLineDash(GraphicsState*) {}
void OutputDevice::updateFlatness(GraphicsState*) {}
void OutputDevice::updateLineJoin(GraphicsState*) {}
void OutputDevice::updateLineCap(GraphicsState*) {}
void OutputDevice::updateMiterLimit(GraphicsState*) {}
void OutputDevice::updateLineWidth(GraphicsState*) {}
void OutputDevice::updateStrokeAdjust(GraphicsState*) {}
void OutputDevice::updateFillColorSpace(GraphicsState*) {}
void OutputDevice::updateStrokeColorSpace(GraphicsState*) {}
void OutputDevice::updateFillColor(GraphicsState*) {}
void OutputDevice::updateStrokeColor(GraphicsState*) {}
void OutputDevice::updateBlendMode(GraphicsState*) {}
void OutputDevice::updateFillOpacity(GraphicsState*) {}
void OutputDevice::updateStrokeOpacity(GraphicsState*) {}
void OutputDevice::updateFillOverprint(GraphicsState*) {}
void OutputDevice::updateStrokeOverprint(GraphicsState*) {}
void OutputDevice::updateTransfer(GraphicsState*) {}
void OutputDevice::updateFont(GraphicsState*) {}
void OutputDevice::updateTextMatrix(GraphicsState*) {}
void OutputDevice::updateCharSpacing(GraphicsState*) {}
void OutputDevice::updateRenderMode(GraphicsState*) {}
void OutputDevice::updateRise(GraphicsState*) {}
void OutputDevice::updateWordSpacing(GraphicsState*) {}
void OutputDevice::updateHorizontalScaling(GraphicsState*) {}
void OutputDevice::updateTextPosition(GraphicsState*) {}
void OutputDevice::updateTextShift(GraphicsState*, double) {}

void OutputDevice::stroke(GraphicsState*) {}
void OutputDevice::fill(GraphicsState*) {}
void OutputDevice::eoFill(GraphicsState*) {}
void OutputDevice::fillTilingPattern(GraphicsState*, const PdfValue&, int, PdfDict*, const double*,
                                     const double*, int, int, int, int, double, double) {}
bool OutputDevice::fillFunctionShading(GraphicsState*, FunctionShading*) {
    return false;
}
bool OutputDevice::fillAxialShading(GraphicsState*, AxialShading*) {
    return false;
}
bool OutputDevice::fillRadialShading(GraphicsState*, RadialShading*) {
    return false;
}
void OutputDevice::clip(GraphicsState*) {}
void OutputDevice::eoClip(GraphicsState*) {}
void OutputDevice::clipToStrokeOutline(GraphicsState*) {}

void OutputDevice::beginTextShow(GraphicsState*) {}
void OutputDevice::endTextShow(GraphicsState*) {}
void OutputDevice::beginShownString(GraphicsState*, const DynString*) {}
void OutputDevice::endShownString(GraphicsState*) {}
void OutputDevice::drawChar(GraphicsState*, double, double, double, double, double, double, unsigned int, int,
                            const unsigned int*, int) {}
void OutputDevice::drawShownString(GraphicsState*, const DynString*) {}
bool OutputDevice::beginType3Char(GraphicsState*, double, double, double, double, unsigned int,
                                  const unsigned int*, int) {
    return false;
}
void OutputDevice::endType3Char(GraphicsState*) {}
void OutputDevice::finishTextObject(GraphicsState*) {}

void OutputDevice::drainInlineImage(DataStream* stream, int64_t count) {
    // Sizes come from the image dictionary: a count that is not positive
    // (a zero or negative width, or an overflow the caller saturated) reads
    // nothing, and the end of the data ends the loop, so that an absurd size
    // never spins on a stream that is already exhausted.
    if (count <= 0)
        return;
    stream->reset();
    for (int64_t i = 0; i < count; ++i)
        if (stream->getChar() < 0)
            break;
    stream->close();
}

namespace {

// height x bytes per row, in 64-bit, with the row rounded up to whole bytes;
// 0 for a size that is not positive and INT64_MAX past the 64-bit range.
int64_t inlineImageBytes(int width, int height, int64_t bitsPerPixel) {
    if (width <= 0 || height <= 0 || bitsPerPixel <= 0)
        return 0;
    const int64_t rowBytes = (int64_t(width) * bitsPerPixel + 7) / 8;
    if (rowBytes > INT64_MAX / height)
        return INT64_MAX;
    return rowBytes * height;
}

}  // namespace

void OutputDevice::drawStencilMask(GraphicsState*, const PdfValue*, DataStream* stream, int width, int height,
                                   bool, bool inlineImage) {
    if (inlineImage)
        drainInlineImage(stream, inlineImageBytes(width, height, 1));
}

void OutputDevice::drawImage(GraphicsState*, const PdfValue*, DataStream* stream, int width, int height,
                             ImageColorMap* colorMap, const int*, bool inlineImage) {
    if (!inlineImage || !colorMap)
        return;
    const int64_t bitsPerPixel = int64_t(colorMap->getComponentCount()) * colorMap->getBits();
    drainInlineImage(stream, inlineImageBytes(width, height, bitsPerPixel));
}

void OutputDevice::drawImageWithMask(GraphicsState* state, const PdfValue* ref, DataStream* stream, int width,
                                     int height, ImageColorMap* colorMap, DataStream*, int, int, bool) {
    drawImage(state, ref, stream, width, height, colorMap, nullptr, false);
}

void OutputDevice::drawImageWithSoftMask(GraphicsState* state, const PdfValue* ref, DataStream* stream,
                                         int width, int height, ImageColorMap* colorMap, DataStream*, int,
                                         int, ImageColorMap*) {
    drawImage(state, ref, stream, width, height, colorMap, nullptr, false);
}

void OutputDevice::setType3GlyphWidth(GraphicsState*, double, double) {}
void OutputDevice::setType3GlyphBox(GraphicsState*, double, double, double, double, double, double) {}

void OutputDevice::drawForm(int, int) {}
void OutputDevice::postScriptXObject(DataStream*, DataStream*) {}
void OutputDevice::beginTransparencyGroup(GraphicsState*, const double*, ColorSpace*, bool, bool, bool) {}
void OutputDevice::endTransparencyGroup(GraphicsState*) {}
void OutputDevice::paintTransparencyGroup(GraphicsState*, const double*) {}
void OutputDevice::setSoftMask(GraphicsState*, const double*, bool, PdfFunction*, const ColorValue*) {}
void OutputDevice::clearSoftMask(GraphicsState*) {}

void OutputDevice::reservedHook(void*, void*) {}
void OutputDevice::setAntialias(bool) {}

}  // namespace rendova
