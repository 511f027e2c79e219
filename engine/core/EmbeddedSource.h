#pragma once

#include "engine/core/DataStream.h"

namespace rendova {

// A source over data that sits inside another stream: the objects of an
// object stream, the data of an inline image. It reads its parent from the
// parent's current position, at most length bytes when limited. The parent
// is not owned and must outlive the source; the source owns its dictionary
// value. It has no range of its own, so it cannot move, make sub-ranges or
// shift its start (each reports an error). One thread at a time; never
// throws.
class EmbeddedSource : public SourceStream {
public:
    EmbeddedSource(DataStream* parent, PdfValue&& dict, bool limited, uint32_t length);

    int getKind() override { return m_parent->getKind(); }
    void reset() override {}
    int getChar() override {
        if (m_limited) {
            if (m_remaining == 0)
                return -1;
            --m_remaining;
        }
        return m_parent->getChar();
    }
    int peekChar() override {
        if (m_limited && m_remaining == 0)
            return -1;
        return m_parent->peekChar();
    }
    int64_t getPos() override { return m_parent->getPos(); }
    void setPos(uint32_t position, int direction) override;
    RefPtr<SourceStream> makeSubrange(uint32_t start, bool limited, uint32_t length,
                                      PdfValue&& dict) override;
    uint32_t getStart() override;
    void shiftStart(int delta) override;

protected:
    ~EmbeddedSource() override = default;

private:
    DataStream* m_parent;
    bool m_limited;
    uint32_t m_remaining;
};

}  // namespace rendova
