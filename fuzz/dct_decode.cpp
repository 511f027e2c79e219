// Feeds arbitrary bytes to the DCT decoder: the first byte picks the
// ColorTransform parameter (-1, 0 or 1), the rest is the JPEG data. The data
// is read twice, with peekChar checked against getChar, and the second
// reading must repeat the first. The decoder must report, deliver what it
// can and end, without touching memory outside its own.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/core/JpegDecoder.h"
#include "engine/core/MemorySource.h"
#include "engine/core/PdfValue.h"

using namespace rendova;

namespace {

constexpr size_t kMaxInput = 1 << 16;
// A few bits can stand for many blocks (end-of-band runs, one-bit codes):
// reading stops here.
constexpr size_t kMaxOutput = 1 << 22;
// Frames that are decoded in full allocate their coefficients up front (up
// to JpegDecoder::kMaxFrameSamples, as large documents need); the fuzzer
// looks for faults, not for the time it takes to clear half a gigabyte, so
// inputs declaring more samples than this in any frame header are skipped.
constexpr uint64_t kMaxDeclaredSamples = 1 << 22;

bool declaresHugeFrame(const uint8_t* data, size_t size) {
    for (size_t i = 0; i + 10 <= size; ++i) {
        if (data[i] == 0xFF && data[i + 1] >= 0xC0 && data[i + 1] <= 0xC2) {
            const uint64_t height = (uint64_t(data[i + 5]) << 8) | data[i + 6];
            const uint64_t width = (uint64_t(data[i + 7]) << 8) | data[i + 8];
            // Sampling factors can pad each dimension by up to 31 samples.
            if ((width + 32) * (height + 32) * 4 > kMaxDeclaredSamples)
                return true;
        }
    }
    return false;
}

std::string readAll(DataStream* stream) {
    std::string out;
    stream->reset();
    for (; out.size() < kMaxOutput;) {
        const int peeked = stream->peekChar();
        const int c = stream->getChar();
        if (peeked != c)
            __builtin_trap();
        if (c == -1)
            break;
        out.push_back(static_cast<char>(c));
    }
    stream->close();
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > kMaxInput || declaresHugeFrame(data + 1, size - 1))
        return 0;
    const int colorTransform = int(data[0] % 3) - 1;
    RefPtr<DataStream> source = RefPtr<MemorySource>::adopt(new MemorySource(
        reinterpret_cast<const char*>(data + 1), 0, static_cast<uint32_t>(size - 1), PdfValue()));
    RefPtr<DataStream> decoder =
        RefPtr<DataStream>::adopt(new JpegDecoder(std::move(source), colorTransform));
    const std::string first = readAll(decoder.get());
    const std::string second = readAll(decoder.get());
    if (first != second)
        __builtin_trap();
    return 0;
}
