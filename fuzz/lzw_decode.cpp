// Decodes a bounded input through the LZWDecode filter with a row predictor
// chosen by the first four bytes, twice: a reread after reset() must give the
// same bytes (the predictor starts again too).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/core/LzwDecoder.h"
#include "engine/core/MemorySource.h"
#include "engine/core/PdfValue.h"

namespace {

constexpr size_t kMaxInput = 1 << 16;
// Each code can expand to a string as long as the table is deep, so output
// grows with the square of the input: reading stops here.
constexpr size_t kMaxOutput = 1 << 24;

std::string readAll(rendova::DataStream* stream) {
    std::string out;
    stream->reset();
    for (int c; out.size() < kMaxOutput && (c = stream->getChar()) != -1;)
        out.push_back(static_cast<char>(c));
    stream->close();
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace rendova;
    if (size < 4 || size > kMaxInput)
        return 0;
    // Predictor: none, TIFF, each PNG value, or an unknown value; the sizes
    // include out-of-range ones, which leave the decoder without a predictor.
    static const int kPredictors[] = {1, 2, 10, 11, 12, 13, 14, 15, 3, 1, 1, 1, 2, 15, 15, 7};
    static const int kBits[] = {1, 2, 4, 8, 16, 8, 8, 17};
    const int predictor = kPredictors[data[0] & 15];
    const int earlyChange = (data[0] >> 4) & 1;
    const int columns = data[1] == 255 ? -1 : data[1];
    const int colors = (data[2] & 31) + 1 + ((data[2] & 0x80) ? 32 : 0);
    const int bits = kBits[data[3] & 7];
    RefPtr<DataStream> source = RefPtr<DataStream>::adopt(
        new MemorySource(reinterpret_cast<const char*>(data), 4, uint32_t(size - 4), PdfValue()));
    RefPtr<DataStream> decoder = RefPtr<DataStream>::adopt(
        new LzwDecoder(std::move(source), predictor, columns, colors, bits, earlyChange));
    const std::string first = readAll(decoder.get());
    if (readAll(decoder.get()) != first)
        std::abort();
    return 0;
}
