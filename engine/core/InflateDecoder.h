#pragma once

#include <cstdint>
#include <memory>

#include "engine/core/DataStream.h"
#include "engine/core/RowPredictor.h"

namespace rendova {

// Decoder of the FlateDecode filter: a zlib stream (RFC 1950) holding deflate
// data (RFC 1951), optionally followed by PNG or TIFF row prediction. This is
// the engine's own inflate; it does not use the zlib library.
//
// Decoding runs in steps: each step fills the 32 KB history window from where
// the last step ended (up to the end of the window at most, so the bytes of a
// step are contiguous), and getChar hands those bytes out before the next
// step runs. The window is at once the output buffer and the history that
// back-references copy from.
//
// Owns its predictor; holds a reference to its source (DecoderStream). One
// thread at a time. Never throws on bad data: a defect is reported through
// reportError, the bytes decoded up to it are delivered, then the end of the
// data. Throws MemoryException only when the predictor's row buffer cannot be
// had.
class InflateDecoder final : public DecoderStream {
public:
    // predictor 1 means none; otherwise a RowPredictor over this decoder's
    // bytes, dropped when its parameters are out of range.
    InflateDecoder(RefPtr<DataStream> source, int predictor, int columns, int colors, int bits);

    int getKind() override { return kInflateKind; }
    // Reads and checks the zlib header again and starts over with the first
    // block. The window keeps its bytes; the predictor starts afresh.
    void reset() override;
    int getChar() override {
        if (m_predictor)
            return m_predictor->getChar();
        return nextByte();
    }
    int peekChar() override {
        if (m_predictor)
            return m_predictor->peekChar();
        if (m_index == m_end && !decodeMore())
            return -1;
        return m_window[m_index];
    }
    int peekBuffered(const uint8_t** bytes) override {
        if (m_predictor || (m_index == m_end && !decodeMore()))
            return 0;
        *bytes = m_window + m_index;
        return m_end - m_index;
    }
    void skipBuffered(int count) override { m_index += count; }
    int getBlock(uint8_t* buffer, int size) override;
    // The decoded bytes before prediction: the predictor's input.
    int readRawByte() override { return nextByte(); }
    int readRawBlock(uint8_t* buffer, int size) override;
    std::unique_ptr<DynString> getPrintFilter(int level, const char* indent) override;
    bool isBinary(bool) override { return source()->isBinary(true); }

    // One entry of a decoding table, indexed by the next input bits (least
    // significant bit first, as deflate packs its codes). `length` is the
    // code's length in bits; `op` says what the code stands for (the k*
    // constants below) and, in its low four bits, how many extra bits follow
    // it or how many index bits a second-level table takes. Bit patterns that
    // no code uses hold kInvalidEntry, whose length exceeds any number of
    // bits held, so that one comparison rejects them.
    struct HuffmanEntry {
        uint16_t value;
        uint8_t length;
        uint8_t op;
    };
    // A decoding table: a first-level table indexed by rootBits input bits.
    // Codes longer than rootBits have a link entry there pointing at a
    // second-level table inside the same array, indexed by the bits after the
    // first rootBits. maxLength is the longest code.
    struct HuffmanTable {
        const HuffmanEntry* entries = nullptr;
        int rootBits = 0;
        int maxLength = 0;
    };

    static constexpr uint8_t kOpLiteral = 0x10;     // value: the byte (or code length symbol)
    static constexpr uint8_t kOpBase = 0x20;        // value: length or distance base; low bits: extra bits
    static constexpr uint8_t kOpEndOfBlock = 0x40;  // code 256
    static constexpr uint8_t kOpLink = 0x80;        // value: index of the second-level table
    static constexpr uint8_t kOpKindMask = 0xf0;
    static constexpr HuffmanEntry kInvalidEntry{0, 0xff, 0};

    // Which symbol set a table decodes; it decides the meaning of a symbol.
    enum class TableKind { kLiteralLength, kDistance, kCodeLength };

    // Builds a canonical Huffman decoding table from code lengths (0 = symbol
    // unused) into storage of capacity entries, with a first level of
    // 2^rootBits entries. Returns false when the lengths over-subscribe the
    // code space, which no encoder can produce. An incomplete code is
    // accepted: its unused bit patterns decode as errors.
    static bool buildTable(const uint8_t* lengths, int count, TableKind kind, int rootBits,
                           HuffmanEntry* storage, int capacity, HuffmanTable& table);

    // First-level sizes of the decoding tables: every table of a kind has
    // the same, so that the hot loop indexes with constant masks. 10 and 8
    // bits cover nearly all codes that real data uses while the tables stay
    // in the first-level cache.
    static constexpr int kLiteralRootBits = 10;
    static constexpr int kDistanceRootBits = 8;
    static constexpr int kMaxCodeLength = 15;

    static constexpr int kWindowSize = 32768;

private:
    ~InflateDecoder() override;

    int nextByte() {
        if (m_index == m_end && !decodeMore())
            return -1;
        return m_window[m_index++];
    }

    // Runs decoding steps until some bytes are ready; false at the end of
    // the data.
    bool decodeMore();
    // Reads a block header (and a dynamic block's tables); false when the
    // data ends here.
    bool startBlock();
    bool readDynamicTables();
    // One decoding step of each block type; they return the bytes made.
    int decodeStored();
    int decodeCompressed();
    // Copies on the back-reference that the last step cut at the end of the
    // window; the position after it.
    int resumeCopy(int pos);
    struct StepBits;

    // Bit reading outside the hot loop. getBits gives -1 when the input ends
    // first; readAlignedByte takes whole bytes still held in the bit buffer
    // before it reads the source.
    int getBits(int count);
    int readAlignedByte();
    int decodeSymbol(const HuffmanTable& table);

    // Ends the data after a defect inside it.
    void failData(const char* message);

    std::unique_ptr<RowPredictor> m_predictor;

    // Window index: where handing out continues; the bytes of the last step
    // not handed out yet run from there to m_end. One index compared with a
    // fixed end keeps the per-byte path to a single update.
    int m_index = 0;
    int m_end = 0;

    // Input bits, least significant first. Bytes are added while fewer than
    // kRefillBits are held, so at most kRefillBits + 7 are.
    static constexpr int kRefillBits = 28;
    uint64_t m_bitBuffer = 0;
    int m_bitCount = 0;

    // A back-reference that reached the end of the window: the rest is copied
    // at the start of the next step.
    int m_copyLength = 0;
    int m_copyDistance = 0;

    bool m_compressed = false;
    int m_storedLeft = 0;
    bool m_endOfBlock = true;
    bool m_endOfData = true;

    HuffmanTable m_literalTable;
    HuffmanTable m_distanceTable;

    // Deflate's largest alphabets: 288 literal/length codes and 32 distance
    // codes (30 and 31 are invalid but may have lengths), at most 15 bits.
    // First-level table plus one full-size second-level table per symbol:
    // the worst case of an incomplete code, where every long code has a
    // first-level prefix of its own.
    static constexpr int kLiteralCapacity =
        (1 << kLiteralRootBits) + 288 * (1 << (kMaxCodeLength - kLiteralRootBits));
    static constexpr int kDistanceCapacity =
        (1 << kDistanceRootBits) + 32 * (1 << (kMaxCodeLength - kDistanceRootBits));

    HuffmanEntry m_literalStorage[kLiteralCapacity];
    HuffmanEntry m_distanceStorage[kDistanceCapacity];

    // Decoded bytes and the history for back-references, as a ring; the
    // slack after it takes the surplus bytes of chunked copies and is never
    // part of the data.
    static constexpr int kWindowSlack = 16;
    uint8_t m_window[kWindowSize + kWindowSlack] = {};
};

}  // namespace rendova
