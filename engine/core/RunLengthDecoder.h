#pragma once

#include "engine/core/DataStream.h"

namespace rendova {

// Decodes the RunLengthDecode filter (the PackBits scheme): a length byte
// below 128 copies the next length + 1 bytes, 129 to 255 repeats the next
// byte 257 - length times, 128 ends the data. A run cut short by the end of
// the source is reported and its bytes read so far are delivered before the
// end. Holds a reference to its source (see DecoderStream). One thread at a
// time; never throws on bad data.
class RunLengthDecoder : public DecoderStream {
public:
    explicit RunLengthDecoder(RefPtr<DataStream> source) : DecoderStream(std::move(source)) {}

    int getKind() override { return kRunLengthKind; }
    void reset() override;
    int getChar() override {
        if (m_read >= m_end && !refill())
            return -1;
        return *m_read++;
    }
    int peekChar() override {
        if (m_read >= m_end && !refill())
            return -1;
        return *m_read;
    }
    std::unique_ptr<DynString> getPrintFilter(int level, const char* indent) override;
    bool isBinary(bool) override { return source()->isBinary(true); }

protected:
    ~RunLengthDecoder() override = default;

private:
    bool refill();

    // The longest run is 128 bytes.
    unsigned char m_buffer[128];
    unsigned char* m_read = m_buffer;
    unsigned char* m_end = m_buffer;
    bool m_atEnd = false;
};

}  // namespace rendova
