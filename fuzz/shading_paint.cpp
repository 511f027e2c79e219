// Fuzzes the cutting of shadings into pieces: the first value of the input
// (see FuzzValues.h) is a shading, painted into a device that only counts
// its fills, under a matrix and a clip taken from the input's last 25 bytes
// (degenerate, huge and turned matrices among them).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/content/ContentInterpreter.h"
#include "engine/content/GraphicsState.h"
#include "engine/content/OutputDevice.h"
#include "engine/content/Shading.h"
#include "engine/content/ShadingFill.h"
#include "fuzz/FuzzValues.h"

using namespace rendova;

namespace {

class CountingDevice : public OutputDevice {
public:
    bool yAxisPointsDown() override { return true; }
    bool wantsGlyphByGlyphText() override { return false; }
    bool runsType3Glyphs() override { return false; }
    void fill(GraphicsState* state) override {
        ++fills;
        const Path* path = state->getPath();
        for (int i = 0; i < path->getSubPathCount(); ++i)
            points += path->getSubPath(i)->getCount();
    }
    long fills = 0;
    long points = 0;
};

// A matrix entry from one byte: small values, zero, and extremes.
double entry(uint8_t b) {
    static const double kSpecial[] = {0, 1e300, -1e300, 1e-300, 1e9, -1e9};
    if (b >= 250)
        return kSpecial[b - 250];
    return (int(b) - 125) / 25.0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 25 || size > 1 << 16)
        return 0;
    fuzz::FuzzDocument doc(data, size);
    std::unique_ptr<Shading> shading = Shading::parse(doc.value());
    if (!shading)
        return 0;
    const uint8_t* tail = data + size - 25;
    const PageBox box = {0, 0, 612, 792};
    auto top = std::make_unique<GraphicsState>(72, 72, box, 0, true);
    GraphicsState& state = *top;
    double m[6];
    for (int i = 0; i < 6; ++i)
        m[i] = entry(tail[i]) * (i >= 4 ? 100 : 1);
    if (tail[6] & 1)
        state.concatMatrix(m[0], m[1], m[2], m[3], m[4], m[5]);
    // A clip rectangle of the page.
    Path* path = state.getPath();
    const double x0 = tail[7] * 2.4, y0 = tail[8] * 3.1;
    path->moveTo(x0, y0);
    path->lineTo(x0 + tail[9] * 2, y0);
    path->lineTo(x0 + tail[9] * 2, y0 + tail[10] * 2);
    path->close();
    state.clip();
    state.clearPath();
    state.setFillColorSpace(shading->getColorSpace()->copy());
    CountingDevice device;
    int64_t budget = ContentInterpreter::kMaxShadingPieces;
    ShadingFill(top, &device, &budget,
                ContentInterpreter::kMaxShadingPieces - ContentInterpreter::kShadingCutPieces)
        .paint(shading.get());
    if (top.get() != &state || top->hasSaved())
        __builtin_trap();
    return 0;
}
