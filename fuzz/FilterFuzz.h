#pragma once

// Shared by the fuzz targets of the filters whose work is linear in their
// input: a bounded input is decoded twice, and a reread after reset() must
// give the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/core/MemorySource.h"
#include "engine/core/PdfValue.h"

namespace rendova::fuzz {

// Inputs beyond this are skipped: the decoder's work is linear in its input.
constexpr size_t kMaxFilterInput = 1 << 16;

inline std::string readAll(DataStream* stream) {
    std::string out;
    stream->reset();
    for (int c; (c = stream->getChar()) != -1;)
        out.push_back(static_cast<char>(c));
    stream->close();
    return out;
}

// Decoder is a filter constructed over its owned source.
template <typename Decoder>
int fuzzFilter(const uint8_t* data, size_t size) {
    if (size > kMaxFilterInput)
        return 0;
    RefPtr<DataStream> source = RefPtr<DataStream>::adopt(
        new MemorySource(reinterpret_cast<const char*>(data), 0, uint32_t(size), PdfValue()));
    RefPtr<DataStream> decoder = RefPtr<DataStream>::adopt(new Decoder(std::move(source)));
    const std::string first = readAll(decoder.get());
    if (readAll(decoder.get()) != first)
        std::abort();
    return 0;
}

}  // namespace rendova::fuzz
