#include "engine/core/Base85Decoder.h"

#include "engine/core/ErrorReport.h"

namespace rendova {

namespace {

// White space of the file syntax: NUL, tab, LF, FF, CR and space.
bool isWhiteSpace(int c) {
    return c == 0 || c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ';
}

bool isDigit85(int c) {
    return c >= '!' && c <= 'u';
}

}  // namespace

void Base85Decoder::reset() {
    source()->reset();
    m_index = 0;
    m_count = 0;
    m_atEnd = false;
}

int Base85Decoder::nextNonSpace() {
    int c;
    do {
        c = source()->getChar();
    } while (c != -1 && isWhiteSpace(c));
    return c;
}

bool Base85Decoder::decodeGroup() {
    m_index = 0;
    m_count = 0;
    if (m_atEnd)
        return false;

    int c = nextNonSpace();
    if (c == '~' || c == -1) {
        m_atEnd = true;
        return false;
    }
    if (c == 'z') {
        m_bytes[0] = m_bytes[1] = m_bytes[2] = m_bytes[3] = 0;
        m_count = 4;
        return true;
    }
    if (!isDigit85(c)) {
        reportError(getPos(), "Illegal character <%02x> in ASCII85 stream", c);
        m_atEnd = true;
        return false;
    }
    m_chars[0] = c;

    // A group cut short by the end marker, the end of the data or a bad
    // character is padded with "u"; it gives one byte fewer than it has
    // characters.
    int k = 1;
    for (; k < 5; ++k) {
        c = nextNonSpace();
        if (c == '~' || c == -1)
            break;
        if (!isDigit85(c)) {
            reportError(getPos(), "Illegal character <%02x> in ASCII85 stream", c);
            break;
        }
        m_chars[k] = c;
    }
    int count = 4;
    if (k < 5) {
        for (int i = k; i < 5; ++i)
            m_chars[i] = 'u';
        count = k - 1;
        m_atEnd = true;
    }

    uint64_t value = 0;
    for (int i = 0; i < 5; ++i)
        value = value * 85 + uint64_t(m_chars[i] - '!');
    // Five digits reach 85^5 - 1; an encoder never writes a group above
    // 2^32 - 1, so such a group is damage, not data.
    if (value > 0xffffffffu) {
        reportError(getPos(), "Group out of range in ASCII85 stream");
        m_atEnd = true;
        return false;
    }
    for (int i = 3; i >= 0; --i) {
        m_bytes[i] = int(value & 0xff);
        value >>= 8;
    }
    m_count = count;
    return count > 0;
}

std::unique_ptr<DynString> Base85Decoder::getPrintFilter(int level, const char* indent) {
    if (level < 2)
        return nullptr;
    return appendPrintFilter(level, indent, "/ASCII85Decode filter\n");
}

}  // namespace rendova
