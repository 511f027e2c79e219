// Decodes a bounded input through the ASCII85Decode filter, twice: a reread after
// reset() must give the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/core/Base85Decoder.h"
#include "engine/core/MemorySource.h"
#include "engine/core/PdfValue.h"

namespace {

// Inputs beyond this are skipped: the decoder's work is linear in its input.
constexpr size_t kMaxInput = 1 << 16;

std::string readAll(rendova::DataStream* stream) {
    std::string out;
    stream->reset();
    for (int c; (c = stream->getChar()) != -1;) out.push_back(static_cast<char>(c));
    stream->close();
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace rendova;
    if (size > kMaxInput) return 0;
    RefPtr<DataStream> source = RefPtr<DataStream>::adopt(
        new MemorySource(reinterpret_cast<const char*>(data), 0, uint32_t(size), PdfValue()));
    RefPtr<DataStream> decoder = RefPtr<DataStream>::adopt(new Base85Decoder(std::move(source)));
    const std::string first = readAll(decoder.get());
    if (readAll(decoder.get()) != first) std::abort();
    return 0;
}
