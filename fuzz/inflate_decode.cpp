// Feeds arbitrary bytes to the inflate decoder, with and without a row
// predictor. The first byte picks the predictor, the second its column count;
// the rest is the zlib stream. The decoder must report, deliver what it can
// and end, without touching memory outside its own.
#include <cstddef>
#include <cstdint>

#include "engine/core/InflateDecoder.h"
#include "engine/core/MemorySource.h"
#include "engine/core/PdfValue.h"

using namespace rendova;

namespace {

// Output is capped: a few hundred bytes of input can legitimately inflate to
// megabytes, and the fuzzer looks for faults, not for long runs.
constexpr int kMaxOutput = 1 << 22;
constexpr size_t kMaxInput = 1 << 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > kMaxInput)
        return 0;
    static const int kPredictors[8] = {1, 1, 1, 2, 10, 12, 14, 15};
    const int predictor = kPredictors[data[0] & 7];
    const int colors = 1 + ((data[0] >> 3) & 3);
    const int bits = (data[0] & 0x20) ? 8 : 1 + ((data[0] >> 6) & 3) * 5;  // 8, 1, 6, 11, 16
    const int columns = 1 + data[1];
    RefPtr<DataStream> source = RefPtr<MemorySource>::adopt(new MemorySource(
        reinterpret_cast<const char*>(data + 2), 0, static_cast<uint32_t>(size - 2), PdfValue()));
    RefPtr<InflateDecoder> decoder = RefPtr<InflateDecoder>::adopt(
        new InflateDecoder(std::move(source), predictor, columns, colors, bits));

    // Read a little, start again, then read to the end.
    decoder->reset();
    for (int i = 0; i < 100 && decoder->getChar() != -1; ++i) {
    }
    decoder->reset();
    int n = 0;
    while (n < kMaxOutput) {
        if (decoder->peekChar() != decoder->getChar())
            __builtin_trap();
        ++n;
        if (decoder->peekChar() == -1)
            break;
    }
    decoder->close();
    return 0;
}
