// Content nested to the interpreter's depth bound on the raster device:
// chains of forms, group forms and tiling patterns, each level drawing the
// next, draw their innermost content up to the bound and nothing past it;
// and the stack the deepest chain takes stays within a budget that any
// thread that renders has.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/content/ContentInterpreter.h"
#include "engine/core/PdfDocument.h"
#include "tests/engine/raster/RasterDevicePages.h"
#include "tests/support/ErrorCapture.h"

namespace rendova::test {
namespace {

// Remembers the deepest stack position of any fill.
class StackProbeDevice : public RasterOutputDevice {
public:
    StackProbeDevice() : RasterOutputDevice(rasterRGB8, 1, false, kPaper, true, true) {}
    void fill(GraphicsState* state) override {
        const auto here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
        if (deepest == 0 || here < deepest)
            deepest = here;
        RasterOutputDevice::fill(state);
    }
    uintptr_t deepest = 0;

private:
    static constexpr uint8_t kPaper[3] = {255, 255, 255};
};

enum class Chain { kForms, kGroupForms, kPatterns };

// A page whose content starts a chain of levels objects, each drawing the
// next; the innermost fills the page red. Zero levels fill it directly.
std::string chainPdf(Chain kind, int levels) {
    const std::string red = "1 0 0 rg 0 0 100 100 re f";
    const bool pattern = kind == Chain::kPatterns;
    const auto use = [&](int num) {
        return pattern ? "<< /Pattern << /P " + std::to_string(num) + " 0 R >> >>"
                       : "<< /XObject << /X " + std::to_string(num) + " 0 R >> >>";
    };
    const std::string draw = pattern ? "/Pattern cs /P scn 0 0 100 100 re f" : "/X Do";
    std::vector<StreamObject> objects;
    for (int i = 0; i < levels; ++i) {
        const bool last = i == levels - 1;
        std::string dict = pattern ? "<< /PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 100 100] "
                                     "/XStep 100 /YStep 100 "
                                   : "<< /Type /XObject /Subtype /Form /BBox [0 0 100 100] ";
        if (kind == Chain::kGroupForms)
            dict += "/Group << /S /Transparency >> ";
        dict += "/Resources " + (last ? std::string("<< >>") : use(11 + i)) + " >>";
        objects.push_back({10 + i, dict, last ? red : draw});
    }
    return devicePagePdf(levels == 0 ? red : draw, levels == 0 ? "<< >>" : use(10), objects);
}

struct ChainRun {
    bool red;
    size_t reports;
    uintptr_t deepest;
};

ChainRun drawChain(Chain kind, int levels) {
    ErrorCapture errors;
    auto doc = openBytes(chainPdf(kind, levels));
    StackProbeDevice device;
    device.startDocument(doc->getXref());
    doc->displayPage(&device, 1, 72, 72, 0, false, true, true);
    return {at(*device.getBitmap(), 50, 50) == std::vector<int>{255, 0, 0}, errors.count(), device.deepest};
}

// The deepest chain may take at most this much stack: an eighth of the
// 8 MB that threads get by default, so that a caller's thread of 1 MB still
// renders every page.
constexpr uintptr_t kNestingStackBudget = uintptr_t{1} << 20;

TEST(RasterDeviceNestingTest, ChainsDrawToTheBoundAndStopPastItWithOneReport) {
    constexpr int kBound = ContentInterpreter::kMaxNesting;
    for (Chain kind : {Chain::kForms, Chain::kGroupForms, Chain::kPatterns}) {
        const ChainRun flat = drawChain(kind, 0);
        const ChainRun deepest = drawChain(kind, kBound);
        const ChainRun past = drawChain(kind, kBound + 1);
        EXPECT_TRUE(flat.red);
        EXPECT_TRUE(deepest.red) << int(kind);
        EXPECT_EQ(deepest.reports, 0u) << int(kind);
        EXPECT_FALSE(past.red) << int(kind);
        EXPECT_EQ(past.reports, 1u) << int(kind);
        const uintptr_t used = flat.deepest - deepest.deepest;
        std::printf("chain %d: %d levels take %zu bytes of stack, %zu a level\n", int(kind), kBound,
                    size_t(used), size_t(used / kBound));
        EXPECT_LT(used, kNestingStackBudget) << int(kind);
    }
}

}  // namespace
}  // namespace rendova::test
