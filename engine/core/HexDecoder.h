#pragma once

#include "engine/core/DataStream.h"

namespace rendova {

// Decodes the ASCIIHexDecode filter: pairs of hexadecimal digits, white
// space ignored, ">" ending the data. A bad digit is reported and counts as 0
// (or, in second place, leaves the byte at its high digit); an odd last digit
// becomes the high half of a final byte. Holds a reference to its source
// (see DecoderStream). One thread at a time; never throws on bad data.
class HexDecoder : public DecoderStream {
public:
    explicit HexDecoder(RefPtr<DataStream> source) : DecoderStream(std::move(source)) {}

    int getKind() override { return kHexKind; }
    void reset() override;
    int getChar() override {
        int c = peekChar();
        m_buffered = -1;
        return c;
    }
    int peekChar() override;
    std::unique_ptr<DynString> getPrintFilter(int level, const char* indent) override;
    bool isBinary(bool) override { return source()->isBinary(false); }

protected:
    ~HexDecoder() override = default;

private:
    int nextNonSpace();

    int m_buffered = -1;
    bool m_atEnd = false;
};

}  // namespace rendova
