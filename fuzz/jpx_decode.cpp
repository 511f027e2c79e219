// Decodes a bounded input through the JPXDecode filter twice, after asking
// for its format: a reread after reset() must give the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/core/Jpeg2000Decoder.h"
#include "engine/core/MemorySource.h"
#include "engine/core/PdfValue.h"

namespace {

constexpr size_t kMaxInput = 1 << 16;
// A small header can declare a large image of zero coefficients, or a tall
// grid over a component subsampled 255 times, whose rows cost nothing to
// decode; reading stops here so that a run measures decoding, not copying.
constexpr size_t kMaxOutput = 1 << 22;

std::string readAll(rendova::DataStream* stream) {
    std::string out;
    stream->reset();
    uint8_t buffer[4096];
    for (int n; out.size() < kMaxOutput && (n = stream->getBlock(buffer, int(sizeof buffer))) > 0;)
        out.append(reinterpret_cast<const char*>(buffer), size_t(n));
    stream->close();
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace rendova;
    if (size > kMaxInput)
        return 0;
    RefPtr<DataStream> source = RefPtr<DataStream>::adopt(
        new MemorySource(reinterpret_cast<const char*>(data), 0, uint32_t(size), PdfValue()));
    RefPtr<DataStream> decoder = RefPtr<DataStream>::adopt(new Jpeg2000Decoder(std::move(source)));
    int bits = 0, mode = 0;
    decoder->getImageFormatInfo(bits, mode);
    const std::string first = readAll(decoder.get());
    if (readAll(decoder.get()) != first)
        std::abort();
    return 0;
}
