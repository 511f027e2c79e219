// Bytes through the tokenizer and the value parser: every value of the input
// is parsed, and the data of every stream is read through its filters. The
// first byte chooses between one stream and a content array of two streams
// split in the middle (tokens and strings at a stream boundary).
#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/core/DataStream.h"
#include "engine/core/Memory.h"
#include "engine/core/MemorySource.h"
#include "engine/core/PdfValue.h"
#include "engine/core/Tokenizer.h"
#include "engine/core/ValueParser.h"

using namespace rendova;

namespace {

// Bounds that keep one input fast: values parsed, stream bytes read.
constexpr int kMaxValues = 20000;
constexpr int kMaxStreamBytes = 1 << 20;

RefPtr<DataStream> memory(const uint8_t* data, size_t size) {
    PdfValue noDict;
    noDict.initNull();
    return RefPtr<DataStream>::adopt(
        new MemorySource(reinterpret_cast<const char*>(data), 0, uint32_t(size), std::move(noDict)));
}

void readStream(DataStream* stream) {
    stream->reset();
    for (int i = 0; i < kMaxStreamBytes && stream->getChar() != -1; ++i) {
    }
    stream->close();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const bool split = data[0] & 1;
    ++data;
    --size;
    try {
        std::unique_ptr<Tokenizer> tokenizer;
        PdfValue content;
        if (split) {
            content.initArray(nullptr);
            PdfValue first, second;
            first.initStream(memory(data, size / 2).release());
            second.initStream(memory(data + size / 2, size - size / 2).release());
            content.getArray()->add(std::move(first));
            content.getArray()->add(std::move(second));
            tokenizer = std::make_unique<Tokenizer>(nullptr, content);
        } else {
            RefPtr<DataStream> stream = memory(data, size);
            tokenizer = std::make_unique<Tokenizer>(nullptr, stream.get());
        }
        ValueParser parser(nullptr, std::move(tokenizer), true);
        for (int i = 0; i < kMaxValues; ++i) {
            PdfValue value;
            parser.getValue(value);
            if (value.isEof())
                break;
            if (value.isStream())
                readStream(value.getStream());
        }
    } catch (const MemoryException&) {
        // Memory exhaustion is the one failure that may end the parse.
    }
    return 0;
}
