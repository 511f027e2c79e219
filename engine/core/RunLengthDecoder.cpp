#include "engine/core/RunLengthDecoder.h"

#include <cstring>

#include "engine/core/ErrorReport.h"

namespace rendova {

void RunLengthDecoder::reset() {
    source()->reset();
    m_read = m_end = m_buffer;
    m_atEnd = false;
}

bool RunLengthDecoder::refill() {
    m_read = m_end = m_buffer;
    if (m_atEnd)
        return false;
    DataStream* src = source();
    const int length = src->getChar();
    if (length == 128 || length == -1) {
        m_atEnd = true;
        return false;
    }
    int n = 0;
    if (length < 128) {
        for (; n <= length; ++n) {
            const int c = src->getChar();
            if (c == -1)
                break;
            m_buffer[n] = static_cast<unsigned char>(c);
        }
        if (n <= length) {
            // Bytes the data does not have are not made up: what was read is
            // delivered, then the data ends.
            reportError(getPos(), "RunLength literal run cut short (%d of %d bytes)", n, length + 1);
            m_atEnd = true;
        }
    } else {
        const int c = src->getChar();
        if (c == -1) {
            reportError(getPos(), "RunLength repeat run without its byte");
            m_atEnd = true;
        } else {
            n = 257 - length;
            std::memset(m_buffer, c, size_t(n));
        }
    }
    m_end = m_buffer + n;
    return n > 0;
}

std::unique_ptr<DynString> RunLengthDecoder::getPrintFilter(int level, const char* indent) {
    if (level < 2)
        return nullptr;
    return appendPrintFilter(level, indent, "/RunLengthDecode filter\n");
}

}  // namespace rendova
