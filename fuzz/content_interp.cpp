// Fuzzes the content interpreter: arbitrary content bytes run against a
// recording device. The input may begin with a resource dictionary (its
// first value, with "n g obj" objects anywhere in the input found by the
// repair scan, so that forms, soft masks, patterns and colour spaces resolve
// and may refer to themselves); the content is everything after the first
// line "%%content", or the whole input when there is none. The first byte
// also picks the page rotation and whether a crop box clips.
#include <cstddef>
#include <cstdint>

#include "engine/content/ContentInterpreter.h"
#include "fuzz/FuzzValues.h"
#include "tests/support/RecordingDevice.h"

using namespace rendova;

namespace {

// Fills are counted, not written out: a shading cut into hundreds of
// thousands of pieces would spend the run formatting their paths.
class FuzzDevice : public test::RecordingDevice {
public:
    void fill(GraphicsState*) override { ++fills; }
    long fills = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 1 << 16)
        return 0;
    fuzz::FuzzDocument doc(data, size);
    const PdfValue& resources = doc.value();

    PdfValue content = fuzz::contentAfterMarker(data, size);

    FuzzDevice device;
    device.recordUpdates = false;
    device.yDown = (data[0] & 1) != 0;
    device.nonText = (data[0] & 2) == 0;
    const int rotations[4] = {0, 90, 180, 270};
    const PageBox box = {0, 0, 612, 792};
    const PageBox crop = {10, 10, 600, 700};
    fuzz::OperatorBudget budget;
    {
        ContentInterpreter interpreter(nullptr, &device, 1,
                                       resources.isDict() ? resources.getDict() : nullptr, 72, 72, box,
                                       (data[0] & 4) ? &crop : nullptr, rotations[(data[0] >> 3) & 3],
                                       fuzz::OperatorBudget::over, &budget);
        interpreter.setMaxNesting(fuzz::kFuzzMaxNesting);
        interpreter.saveState();
        interpreter.display(content, true);
        interpreter.restoreState();
    }
    return 0;
}
