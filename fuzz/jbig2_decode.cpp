// Decodes a bounded input through the JBIG2Decode filter, with a globals
// stream when the first byte's top bit is set (the first two bytes then give
// its length, 15 bits), twice: a reread after reset() must give the same page.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/core/Jbig2Decoder.h"
#include "engine/core/MemorySource.h"
#include "engine/core/PdfValue.h"

namespace {

constexpr size_t kMaxInput = 1 << 16;
// A page may rightly be a hundred megabytes; reading it all out twice would
// spend the run on copying (each byte counted by the coverage), so reading
// stops here.
constexpr size_t kMaxOutput = 1 << 20;
// The fuzzer explores the decoder's paths, not its capacity, which the unit
// tests measure: with the product's allowances one page-size region of
// predictable content takes a minute under the sanitizers. With these a run
// stays well under a second, and every path that ends at a limit is still
// taken.
constexpr rendova::Jbig2Limits kLimits{int64_t(1) << 20, 1 << 6, int64_t(1) << 16};

std::string readAll(rendova::DataStream* stream) {
    std::string out;
    stream->reset();
    uint8_t buffer[4096];
    for (int n; out.size() < kMaxOutput && (n = stream->getBlock(buffer, int(sizeof buffer))) > 0;)
        out.append(reinterpret_cast<char*>(buffer), size_t(n));
    stream->close();
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace rendova;
    if (size < 2 || size > kMaxInput)
        return 0;
    size_t globalsLength = 0;
    if (data[0] & 0x80)
        globalsLength = std::min(size - 2, size_t(((data[0] & 0x7F) << 8) | data[1]));
    const char* bytes = reinterpret_cast<const char*>(data);
    PdfValue globals;
    if (data[0] & 0x80)
        globals.initStream(new MemorySource(bytes, 2, uint32_t(globalsLength), PdfValue()));
    RefPtr<DataStream> source = RefPtr<DataStream>::adopt(
        new MemorySource(bytes, uint32_t(2 + globalsLength), uint32_t(size - 2 - globalsLength), PdfValue()));
    RefPtr<DataStream> decoder =
        RefPtr<DataStream>::adopt(new Jbig2Decoder(std::move(source), globals, kLimits));
    const std::string first = readAll(decoder.get());
    if (readAll(decoder.get()) != first)
        std::abort();
    return 0;
}
