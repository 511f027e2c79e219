#pragma once

#include <cstdint>

namespace rendova {

class DataStream;

// Undoes the row prediction that the LZW and inflate decoders carry when
// their Predictor parameter is not 1: TIFF horizontal differencing
// (predictor 2) and the PNG filters (10 and up, one tag byte per row). It
// pulls coded bytes from its decoder through readRawByte and hands out the
// reconstructed rows byte by byte, keeping the previous row as the upper row
// of the next.
//
// Owned by its decoder, which it reads through a plain pointer; one thread at
// a time. Throws MemoryException only when the row buffer cannot be had.
class RowPredictor {
public:
    // Sizes are checked before anything is allocated; when they are out of
    // range isValid() is false and the decoder goes on without a predictor.
    RowPredictor(DataStream* decoder, int predictor, int width, int colors, int bits);
    ~RowPredictor();
    RowPredictor(const RowPredictor&) = delete;
    RowPredictor& operator=(const RowPredictor&) = delete;

    bool isValid() const { return m_valid; }

    // The next reconstructed byte, or -1 when no further row can be decoded.
    int getChar() {
        if (m_readPos >= m_rowBytes && !decodeRow())
            return -1;
        return m_row[m_readPos++];
    }
    int peekChar() {
        if (m_readPos >= m_rowBytes && !decodeRow())
            return -1;
        return m_row[m_readPos];
    }
    // Up to size reconstructed bytes into buffer, as size calls of getChar
    // would; returns how many it read.
    int getBlock(uint8_t* buffer, int size);
    // Back to the state after construction (a zero upper row, no row read),
    // so that a decoder that rereads its data predicts it the same way again.
    void reset();

private:
    bool decodeRow();
    void undoTiffDifferencing();

    DataStream* m_decoder;
    int m_predictor;
    int m_width;
    int m_colors;
    int m_bits;
    int m_samplesPerRow = 0;
    int m_pixelBytes = 0;
    int m_rowBytes = 0;
    // m_pixelBytes zeros, then the row; the previous row until a new one is
    // decoded over it.
    uint8_t* m_row = nullptr;
    // The coded bytes of the row being decoded.
    uint8_t* m_coded = nullptr;
    bool m_valid = false;
    int m_readPos = 0;
};

}  // namespace rendova
