#pragma once

#include "engine/core/DataStream.h"

namespace rendova {

// Decodes the ASCII85Decode filter: groups of five characters "!" to "u"
// giving four bytes, "z" for four zero bytes at the start of a group, "~"
// ending the data, white space ignored. A short last group gives one byte
// fewer than its characters, as the standard's padding with "u" gives them. A
// character outside the alphabet, or a group whose value passes 32 bits, is
// reported and ends the data after the bytes decoded before it. Holds a
// reference to its source (see DecoderStream). One thread at a time; never
// throws on bad data.
class Base85Decoder : public DecoderStream {
public:
    explicit Base85Decoder(RefPtr<DataStream> source) : DecoderStream(std::move(source)) {}

    int getKind() override { return kBase85Kind; }
    void reset() override;
    int getChar() override {
        if (m_index >= m_count && !decodeGroup())
            return -1;
        return m_bytes[m_index++];
    }
    int peekChar() override {
        if (m_index >= m_count && !decodeGroup())
            return -1;
        return m_bytes[m_index];
    }
    std::unique_ptr<DynString> getPrintFilter(int level, const char* indent) override;
    bool isBinary(bool) override { return source()->isBinary(false); }

protected:
    ~Base85Decoder() override = default;

private:
    bool decodeGroup();
    int nextNonSpace();

    int m_chars[5] = {};
    int m_bytes[4] = {};
    int m_index = 0;
    int m_count = 0;
    bool m_atEnd = false;
};

}  // namespace rendova
