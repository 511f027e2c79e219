// Feeds arbitrary bytes to the fax decoder under every combination of its
// parameters. The first byte picks K (bits 0-2), EndOfLine (3),
// EncodedByteAlign (4), EndOfBlock (5) and BlackIs1 (6); the second the
// column count, from a list that holds the clamped extremes; the third the
// row count; the rest is the coded data. The decoder must report, deliver
// whole rows and end, without touching memory outside its own; block reads
// and byte reads must agree, and a second reading must repeat the first.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/core/FaxDecoder.h"
#include "engine/core/MemorySource.h"
#include "engine/core/PdfValue.h"

using namespace rendova;

namespace {

// Output is capped: one bit can code a whole row, and a row may be 2^28
// bytes long; the fuzzer looks for faults, not for long runs.
constexpr size_t kMaxOutput = 1 << 20;
constexpr size_t kMaxByteReads = 1 << 14;
constexpr size_t kMaxInput = 1 << 16;

std::vector<uint8_t> readBlocks(DataStream* stream) {
    std::vector<uint8_t> out;
    uint8_t buffer[4099];
    stream->reset();
    // Block sizes that split rows at odd places.
    for (int turn = 0; out.size() < kMaxOutput; ++turn) {
        const int size = (turn % 3 == 0) ? 1 : (turn % 3 == 1) ? 77 : int(sizeof buffer);
        const int n = stream->getBlock(buffer, size);
        out.insert(out.end(), buffer, buffer + n);
        if (n < size)
            break;
    }
    stream->close();
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3 || size > kMaxInput)
        return 0;
    static const int kK[8] = {-1, 0, 1, 2, 4, -1000, 1000, 0};
    static const int kColumns[16] = {0,   1,    2,    7,    8,    9,  31,         64,
                                     100, 1728, 2000, 2560, 4000, -5, 0x7ffffffd, 0x7fffffff};
    const int k = kK[data[0] & 7];
    const bool endOfLine = data[0] & 8;
    const bool byteAlign = data[0] & 16;
    const bool endOfBlock = data[0] & 32;
    const bool blackIs1 = data[0] & 64;
    const int columns = kColumns[data[1] & 15];
    const int rows = data[2] < 200 ? data[2] : -int(data[2]);
    RefPtr<DataStream> source = RefPtr<MemorySource>::adopt(
        new MemorySource(reinterpret_cast<const char*>(data + 3), 0, uint32_t(size - 3), PdfValue()));
    RefPtr<DataStream> decoder = RefPtr<DataStream>::adopt(
        new FaxDecoder(std::move(source), k, endOfLine, byteAlign, columns, rows, endOfBlock, blackIs1));

    const std::vector<uint8_t> blocks = readBlocks(decoder.get());
    const int64_t rowBytes = (int64_t(columns < 1 ? 1 : columns) + 7) / 8;
    if (blocks.size() < kMaxOutput && blocks.size() % size_t(rowBytes) != 0)
        __builtin_trap();
    if (readBlocks(decoder.get()) != blocks)
        __builtin_trap();

    decoder->reset();
    for (size_t i = 0; i < kMaxByteReads; ++i) {
        const int peeked = decoder->peekChar();
        const int c = decoder->getChar();
        if (peeked != c)
            __builtin_trap();
        if (c == -1) {
            if (i != blocks.size())
                __builtin_trap();
            break;
        }
        if (i >= blocks.size() || blocks[i] != c)
            __builtin_trap();
    }
    decoder->close();
    return 0;
}
