// Drives the MQ decoder over a bounded input: bits, integers and symbol ids
// in an order the first bytes choose, the data limited and continued at a
// split the input gives, as the JBIG2 and JPEG 2000 decoders use it.
#include <cstddef>
#include <cstdint>

#include "engine/core/ArithDecoder.h"
#include "engine/core/MemorySource.h"
#include "engine/core/PdfValue.h"

namespace {

constexpr size_t kMaxInput = 1 << 14;
// Decisions per input byte: the decoder goes on past its data, so the
// target bounds the work as callers do.
constexpr int kDecisionsPerByte = 64;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace rendova;
    if (size < 4 || size > kMaxInput)
        return 0;
    const int split = int((data[0] | (data[1] << 8)) % (size - 3));
    const int mode = data[2];
    const uint32_t idLength = data[3] % 12;
    RefPtr<DataStream> source = RefPtr<DataStream>::adopt(
        new MemorySource(reinterpret_cast<const char*>(data), 4, uint32_t(size - 4), PdfValue()));
    source->reset();
    ArithDecoderStats bits(1 << 10);
    ArithDecoderStats ints(512);
    ArithDecoderStats ids(int(2u << idLength));
    bits.setEntry(3, mode % 47, mode & 1);
    ArithDecoder dec;
    if (mode & 0x80)
        dec.setStream(source.get());
    else
        dec.setStream(source.get(), split);
    dec.start();
    const int count = int(size) * kDecisionsPerByte;
    uint32_t context = 0;
    bool continued = false;
    for (int i = 0; i < count; ++i) {
        if (!continued && !(mode & 0x80) && dec.getDataLength() < 0) {
            dec.setDataLength(int(size - 4) - split);
            continued = true;
        }
        switch ((context + uint32_t(i)) % 7) {
            case 0: {
                int value;
                if (dec.decodeInt(&value, &ints))
                    context ^= uint32_t(value);
                break;
            }
            case 1:
                context ^= dec.decodeIaid(idLength, &ids);
                break;
            default:
                context = ((context << 1) | uint32_t(dec.decodeBit(context & 1023, &bits))) & 1023;
        }
    }
    dec.cleanup();
    return 0;
}
