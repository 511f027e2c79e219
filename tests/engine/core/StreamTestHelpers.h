#pragma once

// Small helpers shared by the stream and decoder tests.
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/DataStream.h"
#include "engine/core/Memory.h"
#include "engine/core/MemorySource.h"
#include "engine/core/PdfValue.h"

namespace rendova::test {

// A memory source over a copy of bytes that lives as long as the source.
inline RefPtr<DataStream> memoryStream(const std::string& bytes, PdfValue&& dict = PdfValue()) {
    char* copy = static_cast<char*>(memAlloc(static_cast<int>(bytes.size()) + 1));
    if (!bytes.empty())
        std::memcpy(copy, bytes.data(), bytes.size());
    auto* source = new MemorySource(copy, 0, static_cast<uint32_t>(bytes.size()), std::move(dict));
    source->setOwnsBuffer(true);
    return RefPtr<DataStream>::adopt(source);
}

inline std::string bytesOf(const std::vector<uint8_t>& v) {
    return std::string(v.begin(), v.end());
}

// Resets the stream and reads it to its end (at most limit bytes).
inline std::string readAll(DataStream* stream, size_t limit = 1 << 26) {
    std::string out;
    stream->reset();
    for (int c; out.size() < limit && (c = stream->getChar()) != -1;)
        out.push_back(static_cast<char>(c));
    stream->close();
    return out;
}

// Resets the stream and reads it to its end through getBlock, in blocks of
// the given sizes in turn; every block but the last must come back full.
inline std::string readAllInBlocks(DataStream* stream, const std::vector<int>& sizes, bool* fullBlocks) {
    std::string out;
    *fullBlocks = true;
    stream->reset();
    std::vector<uint8_t> buffer;
    for (size_t turn = 0;; ++turn) {
        const int size = sizes[turn % sizes.size()];
        buffer.assign(static_cast<size_t>(size) + 1, 0xee);
        const int n = stream->getBlock(buffer.data(), size);
        if (n < 0 || n > size || buffer[static_cast<size_t>(size)] != 0xee)
            *fullBlocks = false;
        out.append(buffer.begin(), buffer.begin() + (n > 0 ? n : 0));
        if (n < size)
            break;
    }
    // The end stays the end.
    uint8_t spare;
    if (stream->getBlock(&spare, 1) != 0 || stream->getChar() != -1)
        *fullBlocks = false;
    stream->close();
    return out;
}

// Reads through peekChar before every getChar, checking that both agree.
inline std::string readAllPeeking(DataStream* stream, bool* agreed) {
    std::string out;
    *agreed = true;
    stream->reset();
    for (;;) {
        const int p = stream->peekChar();
        const int c = stream->getChar();
        if (p != c)
            *agreed = false;
        if (c == -1)
            break;
        out.push_back(static_cast<char>(c));
    }
    stream->close();
    return out;
}

// A decoder whose raw bytes are given: the input a RowPredictor pulls
// through readRawByte.
class RawBytesStream : public DataStream {
public:
    explicit RawBytesStream(std::string bytes) : m_bytes(std::move(bytes)) {}
    int getKind() override { return kOtherKind; }
    void reset() override { m_pos = 0; }
    int getChar() override { return readRawByte(); }
    int peekChar() override {
        return m_pos < m_bytes.size() ? static_cast<unsigned char>(m_bytes[m_pos]) : -1;
    }
    int readRawByte() override {
        return m_pos < m_bytes.size() ? static_cast<unsigned char>(m_bytes[m_pos++]) : -1;
    }
    int64_t getPos() override { return static_cast<int64_t>(m_pos); }
    void setPos(uint32_t, int) override {}
    bool isBinary(bool) override { return true; }
    SourceStream* getSourceStream() override { return nullptr; }
    DataStream* getRawSource() override { return this; }
    PdfValue* getDict() override { return nullptr; }

private:
    std::string m_bytes;
    size_t m_pos = 0;
};

}  // namespace rendova::test
