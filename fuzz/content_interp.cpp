// Fuzzes the content interpreter: arbitrary content bytes run against a
// recording device. The input may begin with a resource dictionary (its
// first value, with "n g obj" objects anywhere in the input found by the
// repair scan, so that forms, soft masks, patterns and colour spaces resolve
// and may refer to themselves); the content is everything after the first
// line "%%content", or the whole input when there is none. The first byte
// also picks the page rotation and whether a crop box clips.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine/content/ContentInterpreter.h"
#include "engine/core/MemorySource.h"
#include "fuzz/FuzzValues.h"
#include "tests/support/RecordingDevice.h"

using namespace rendova;

namespace {

// Content that invokes itself twice per level runs 2^21 times before the
// nesting bound ends it; a page's abort check is what bounds such a page, so
// the fuzzer gives every input an operator budget through it.
struct Budget {
    int checks = 0;
};

bool overBudget(void* data) {
    return ++static_cast<Budget*>(data)->checks > 2000;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 1 << 16)
        return 0;
    fuzz::FuzzDocument doc(data, size);
    const PdfValue& resources = doc.value();

    static const char kMarker[] = "%%content\n";
    const char* bytes = reinterpret_cast<const char*>(data);
    size_t start = 0;
    const void* marker = memmem(bytes, size, kMarker, sizeof kMarker - 1);
    if (marker)
        start = size_t(static_cast<const char*>(marker) - bytes) + sizeof kMarker - 1;

    PdfValue dict;
    dict.initNull();
    PdfValue content;
    content.initStream(new MemorySource(bytes, uint32_t(start), uint32_t(size - start), std::move(dict)));

    test::RecordingDevice device;
    device.yDown = (data[0] & 1) != 0;
    device.nonText = (data[0] & 2) == 0;
    const int rotations[4] = {0, 90, 180, 270};
    const PageBox box = {0, 0, 612, 792};
    const PageBox crop = {10, 10, 600, 700};
    Budget budget;
    {
        ContentInterpreter interpreter(
            nullptr, &device, 1, resources.isDict() ? resources.getDict() : nullptr, 72, 72, box,
            (data[0] & 4) ? &crop : nullptr, rotations[(data[0] >> 3) & 3], overBudget, &budget);
        interpreter.saveState();
        interpreter.display(content, true);
        interpreter.restoreState();
    }
    return 0;
}
