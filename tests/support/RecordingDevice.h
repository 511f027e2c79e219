#pragma once

// An output device that draws nothing and records every call it receives as
// one line of text with the call's key arguments ("fill nonzero M 0 0 L 10 0
// Z", "updateFillColor DeviceRGB 1 0 0"). Tests compare the lines; the
// contenttrace tool prints them. Header-only so that tests, fuzz targets and
// tools can all use it without a library of their own.

#include <cstdio>
#include <string>
#include <vector>

#include "engine/content/ColorSpace.h"
#include "engine/content/GraphicsState.h"
#include "engine/content/ImageColorMap.h"
#include "engine/content/OutputDevice.h"
#include "engine/core/DynString.h"
#include "engine/core/PdfValue.h"

namespace rendova::test {

class RecordingDevice : public OutputDevice {
public:
    // What the device answers about itself.
    bool yDown = true;
    bool glyphByGlyph = true;
    bool type3Glyphs = false;
    bool nonText = true;
    bool tilingPatterns = false;
    bool shadings = false;
    bool forms = false;
    // The answer of getAntialias; setAntialias records and changes it.
    bool antialias = false;
    // Whether updates are recorded (painting, clipping, page, group and
    // image calls always are).
    bool recordUpdates = true;
    // When set, every line is also printed there as it is recorded.
    FILE* echo = nullptr;

    std::vector<std::string> calls;
    std::vector<int> lastMaskColors;

    // The recorded lines whose call name (the first word) is one of names.
    std::vector<std::string> only(std::initializer_list<const char*> names) const {
        std::vector<std::string> out;
        for (const std::string& line : calls) {
            const std::string first = line.substr(0, line.find(' '));
            for (const char* name : names)
                if (first == name)
                    out.push_back(line);
        }
        return out;
    }
    // The painting and clipping calls.
    std::vector<std::string> paths() const {
        return only({"fill", "eoFill", "stroke", "clip", "eoClip", "clipToStrokeOutline"});
    }

    static std::string num(double v) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.6g", v);
        return buffer;
    }
    static std::string pathText(const GraphicsState* state) {
        std::string out;
        const Path* path = state->getPath();
        for (int i = 0; i < path->getSubPathCount(); ++i) {
            const SubPath* sub = path->getSubPath(i);
            out += " M " + num(sub->getX(0)) + " " + num(sub->getY(0));
            for (int j = 1; j < sub->getCount(); ++j) {
                if (sub->isCurve(j) && j + 2 < sub->getCount()) {
                    out += " C";
                    for (int k = 0; k < 3; ++k)
                        out += " " + num(sub->getX(j + k)) + " " + num(sub->getY(j + k));
                    j += 2;
                } else {
                    out += " L " + num(sub->getX(j)) + " " + num(sub->getY(j));
                }
            }
            if (sub->isClosed())
                out += " Z";
        }
        return out;
    }
    static const char* spaceName(const ColorSpace* space) {
        static const char* const names[] = {"DeviceGray", "CalGray", "DeviceRGB", "CalRGB",
                                            "DeviceCMYK", "Lab",     "ICCBased",  "Indexed",
                                            "Separation", "DeviceN", "Pattern"};
        const int kind = space ? space->getKind() : -1;
        return kind >= 0 && kind <= 10 ? names[kind] : "none";
    }
    static std::string colorText(const ColorSpace* space, const ColorValue& color) {
        std::string out = spaceName(space);
        const int n = space ? space->getComponentCount() : 0;
        for (int i = 0; i < n; ++i)
            out += " " + num(colorToDouble(color.c[i]));
        return out;
    }

    bool yAxisPointsDown() override { return yDown; }
    bool wantsGlyphByGlyphText() override { return glyphByGlyph; }
    bool fillsTilingPatterns() override { return tilingPatterns; }
    bool fillsShadings() override { return shadings; }
    bool drawsForms() override { return forms; }
    bool runsType3Glyphs() override { return type3Glyphs; }
    bool wantsNonText() override { return nonText; }

    void setDefaultMatrix(const double* m) override {
        OutputDevice::setDefaultMatrix(m);
        record("setDefaultMatrix" + matrixText(m));
    }
    void startPage(int pageNumber, GraphicsState*) override {
        record("startPage " + std::to_string(pageNumber));
    }
    void endPage() override { record("endPage"); }
    void flush() override { record("flush"); }
    void saveState(GraphicsState*) override { record("saveState"); }
    void restoreState(GraphicsState*) override { record("restoreState"); }

    void updateMatrix(GraphicsState*, double a, double b, double c, double d, double e, double f) override {
        const double m[6] = {a, b, c, d, e, f};
        update("updateMatrix" + matrixText(m));
    }
    void updateLineDash(GraphicsState* s) override {
        std::string text = "updateLineDash [";
        for (int i = 0; i < s->getLineDashLength(); ++i)
            text += (i ? " " : "") + num(s->getLineDash()[i]);
        update(text + "] " + num(s->getLineDashPhase()));
    }
    void updateFlatness(GraphicsState* s) override {
        update("updateFlatness " + std::to_string(s->getFlatness()));
    }
    void updateLineJoin(GraphicsState* s) override {
        update("updateLineJoin " + std::to_string(s->getLineJoin()));
    }
    void updateLineCap(GraphicsState* s) override {
        update("updateLineCap " + std::to_string(s->getLineCap()));
    }
    void updateMiterLimit(GraphicsState* s) override {
        update("updateMiterLimit " + num(s->getMiterLimit()));
    }
    void updateLineWidth(GraphicsState* s) override { update("updateLineWidth " + num(s->getLineWidth())); }
    void updateStrokeAdjust(GraphicsState* s) override {
        update("updateStrokeAdjust " + std::to_string(s->getStrokeAdjust()));
    }
    void updateFillColorSpace(GraphicsState* s) override {
        update(std::string("updateFillColorSpace ") + spaceName(s->getFillColorSpace()));
    }
    void updateStrokeColorSpace(GraphicsState* s) override {
        update(std::string("updateStrokeColorSpace ") + spaceName(s->getStrokeColorSpace()));
    }
    void updateFillColor(GraphicsState* s) override {
        update("updateFillColor " + colorText(s->getFillColorSpace(), s->getFillColor()));
    }
    void updateStrokeColor(GraphicsState* s) override {
        update("updateStrokeColor " + colorText(s->getStrokeColorSpace(), s->getStrokeColor()));
    }
    void updateBlendMode(GraphicsState* s) override {
        update("updateBlendMode " + std::to_string(s->getBlendMode()));
    }
    void updateFillOpacity(GraphicsState* s) override {
        update("updateFillOpacity " + num(s->getFillOpacity()));
    }
    void updateStrokeOpacity(GraphicsState* s) override {
        update("updateStrokeOpacity " + num(s->getStrokeOpacity()));
    }
    void updateFillOverprint(GraphicsState* s) override {
        update("updateFillOverprint " + std::to_string(s->getFillOverprint()));
    }
    void updateStrokeOverprint(GraphicsState* s) override {
        update("updateStrokeOverprint " + std::to_string(s->getStrokeOverprint()));
    }
    void updateTransfer(GraphicsState* s) override {
        std::string text = "updateTransfer";
        for (int i = 0; i < 4; ++i)
            text += s->getTransfer(i) ? " f" : " -";
        update(text);
    }
    void updateFont(GraphicsState*) override { update("updateFont"); }
    void updateTextMatrix(GraphicsState*) override { update("updateTextMatrix"); }
    void updateCharSpacing(GraphicsState*) override { update("updateCharSpacing"); }
    void updateRenderMode(GraphicsState*) override { update("updateRenderMode"); }
    void updateRise(GraphicsState*) override { update("updateRise"); }
    void updateWordSpacing(GraphicsState*) override { update("updateWordSpacing"); }
    void updateHorizontalScaling(GraphicsState*) override { update("updateHorizontalScaling"); }
    void updateTextPosition(GraphicsState*) override { update("updateTextPosition"); }
    void updateTextShift(GraphicsState*, double shift) override { update("updateTextShift " + num(shift)); }

    void stroke(GraphicsState* s) override { record("stroke" + pathText(s)); }
    void fill(GraphicsState* s) override { record("fill" + pathText(s)); }
    void eoFill(GraphicsState* s) override { record("eoFill" + pathText(s)); }
    void clip(GraphicsState* s) override { record("clip" + pathText(s)); }
    void eoClip(GraphicsState* s) override { record("eoClip" + pathText(s)); }
    void clipToStrokeOutline(GraphicsState* s) override { record("clipToStrokeOutline" + pathText(s)); }
    void fillTilingPattern(GraphicsState*, const PdfValue&, int paintType, PdfDict*, const double*,
                           const double*, int x0, int y0, int x1, int y1, double, double) override {
        record("fillTilingPattern " + std::to_string(paintType) + " " + std::to_string(x0) + " " +
               std::to_string(y0) + " " + std::to_string(x1) + " " + std::to_string(y1));
    }

    void beginTextShow(GraphicsState*) override { record("beginTextShow"); }
    void endTextShow(GraphicsState*) override { record("endTextShow"); }
    void drawChar(GraphicsState*, double x, double y, double, double, double, double, unsigned int code, int,
                  const unsigned int*, int) override {
        record("drawChar " + std::to_string(code) + " " + num(x) + " " + num(y));
    }
    void drawShownString(GraphicsState*, const DynString* s) override {
        record("drawShownString " + std::string(s->getCString(), size_t(s->getLength())));
    }
    void finishTextObject(GraphicsState*) override { record("finishTextObject"); }

    void drawStencilMask(GraphicsState* s, const PdfValue* ref, DataStream* stream, int w, int h, bool invert,
                         bool inlineImage) override {
        record("drawStencilMask " + std::to_string(w) + " " + std::to_string(h) + (invert ? " invert" : "") +
               (ref ? " ref" : "") + (inlineImage ? " inline" : ""));
        OutputDevice::drawStencilMask(s, ref, stream, w, h, invert, inlineImage);
    }
    // Colour-key masks record their first eight values; lastMaskColors
    // keeps all 64.
    void drawImage(GraphicsState* s, const PdfValue* ref, DataStream* stream, int w, int h,
                   ImageColorMap* map, const int* maskColors, bool inlineImage) override {
        std::string text = "drawImage " + std::to_string(w) + " " + std::to_string(h) + " " +
                           std::to_string(map->getComponentCount()) + "x" + std::to_string(map->getBits());
        if (maskColors) {
            text += " key";
            for (int i = 0; i < 8; ++i)
                text += " " + std::to_string(maskColors[i]);
            lastMaskColors.assign(maskColors, maskColors + 64);
        }
        record(text + (ref ? " ref" : "") + (inlineImage ? " inline" : ""));
        OutputDevice::drawImage(s, ref, stream, w, h, map, maskColors, inlineImage);
    }
    void drawImageWithMask(GraphicsState*, const PdfValue*, DataStream*, int w, int h, ImageColorMap*,
                           DataStream*, int mw, int mh, bool invert) override {
        record("drawImageWithMask " + std::to_string(w) + " " + std::to_string(h) + " mask " +
               std::to_string(mw) + " " + std::to_string(mh) + (invert ? " invert" : ""));
    }
    void drawImageWithSoftMask(GraphicsState*, const PdfValue*, DataStream*, int w, int h, ImageColorMap*,
                               DataStream*, int mw, int mh, ImageColorMap* maskMap) override {
        record("drawImageWithSoftMask " + std::to_string(w) + " " + std::to_string(h) + " mask " +
               std::to_string(mw) + " " + std::to_string(mh) + " " + std::to_string(maskMap->getBits()));
    }
    void postScriptXObject(DataStream*, DataStream* level1) override {
        record(std::string("postScriptXObject") + (level1 ? " level1" : ""));
    }

    bool beginType3Char(GraphicsState*, double, double, double, double, unsigned int code,
                        const unsigned int*, int) override {
        if (type3Glyphs)
            record("beginType3Char " + std::to_string(code));
        return false;
    }
    void endType3Char(GraphicsState*) override {
        if (type3Glyphs)
            record("endType3Char");
    }
    void setType3GlyphWidth(GraphicsState*, double wx, double wy) override {
        record("setType3GlyphWidth " + num(wx) + " " + num(wy));
    }
    void setType3GlyphBox(GraphicsState*, double wx, double wy, double llx, double lly, double urx,
                          double ury) override {
        record("setType3GlyphBox " + num(wx) + " " + num(wy) + " " + num(llx) + " " + num(lly) + " " +
               num(urx) + " " + num(ury));
    }
    void drawForm(int objNum, int gen) override {
        record("drawForm " + std::to_string(objNum) + " " + std::to_string(gen));
    }
    void beginTransparencyGroup(GraphicsState*, const double* box, ColorSpace* space, bool isolated,
                                bool knockout, bool forSoftMask) override {
        record("beginTransparencyGroup " + num(box[0]) + " " + num(box[1]) + " " + num(box[2]) + " " +
               num(box[3]) + " " + spaceName(space) + (isolated ? " isolated" : "") +
               (knockout ? " knockout" : "") + (forSoftMask ? " softmask" : ""));
    }
    void endTransparencyGroup(GraphicsState*) override { record("endTransparencyGroup"); }
    void paintTransparencyGroup(GraphicsState*, const double*) override { record("paintTransparencyGroup"); }
    void setSoftMask(GraphicsState*, const double*, bool alpha, PdfFunction* transfer,
                     const ColorValue* backdrop) override {
        record(std::string("setSoftMask ") + (alpha ? "alpha" : "luminosity") +
               (transfer ? " transfer" : "") + " backdrop " + num(colorToDouble(backdrop->c[0])) + " " +
               num(colorToDouble(backdrop->c[1])) + " " + num(colorToDouble(backdrop->c[2])));
    }
    void clearSoftMask(GraphicsState*) override { record("clearSoftMask"); }
    bool getAntialias() override { return antialias; }
    void setAntialias(bool on) override {
        antialias = on;
        record(on ? "setAntialias 1" : "setAntialias 0");
    }

private:
    static std::string matrixText(const double* m) {
        std::string out;
        for (int i = 0; i < 6; ++i)
            out += " " + num(m[i]);
        return out;
    }
    void record(std::string line) {
        if (echo)
            std::fprintf(echo, "%s\n", line.c_str());
        calls.push_back(std::move(line));
    }
    void update(std::string line) {
        if (recordUpdates)
            record(std::move(line));
    }
};

}  // namespace rendova::test
