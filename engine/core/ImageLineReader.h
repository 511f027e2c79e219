#pragma once

#include <cstdint>

namespace rendova {

class DataStream;

// Reads the rows of an image from a stream and unpacks them to one byte per
// sample (samples wider than 8 bits keep their high byte). Each row starts on
// a byte boundary. Samples past the end of the data read as 0, and the
// reader tells how many of a row's samples the data held, so that its caller
// can leave the missing ones unpainted.
//
// The stream is not owned and must outlive the reader. The row size (width x
// components x bits) is checked in 64 bits before the buffer is allocated;
// a reader whose sizes are out of range is not ok, returns no rows, and its
// caller skips the image. One thread at a time; throws MemoryException only
// when the row buffer cannot be had.
class ImageLineReader {
public:
    ImageLineReader(DataStream* stream, int width, int components, int bits);
    ~ImageLineReader();
    ImageLineReader(const ImageLineReader&) = delete;
    ImageLineReader& operator=(const ImageLineReader&) = delete;

    bool isOk() const { return m_buffer != nullptr; }
    // Resets the stream to the image's first row.
    void reset();
    // One row: samples-per-row bytes, each 0 to 2^min(bits, 8) - 1, in a
    // buffer that the next call overwrites. Null when the reader is not ok.
    uint8_t* getLine();
    int getSamplesPerRow() const { return m_samplesPerRow; }
    // How many samples of the last row came from the data: all of them, fewer
    // in the row where the data ends, none after it.
    int getSamplesRead() const { return m_samplesRead; }

private:
    DataStream* m_stream;
    int m_width;
    int m_components;
    int m_bits;
    int m_samplesPerRow = 0;
    int m_samplesRead = 0;
    uint8_t* m_buffer = nullptr;
};

}  // namespace rendova
