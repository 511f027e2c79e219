#include "engine/core/HexDecoder.h"

#include <cctype>

#include "engine/core/CharClass.h"
#include "engine/core/ErrorReport.h"

namespace rendova {

void HexDecoder::reset() {
    source()->reset();
    m_buffered = -1;
    m_atEnd = false;
}

int HexDecoder::nextNonSpace() {
    int c;
    do {
        c = source()->getChar();
    } while (c != -1 && std::isspace(c));
    return c;
}

int HexDecoder::peekChar() {
    if (m_buffered != -1)
        return m_buffered;
    if (m_atEnd)
        return -1;

    int c1 = nextNonSpace();
    if (c1 == '>' || c1 == -1) {
        m_atEnd = true;
        return -1;
    }
    int high = hexDigitValue(c1);
    if (high < 0) {
        reportError(getPos(), "Illegal character <%02x> in ASCIIHex stream", c1);
        high = 0;
    }

    // A missing second digit, at ">" or at the end of the data, counts as 0:
    // the odd last digit is the high half of the final byte.
    int c2 = nextNonSpace();
    int low;
    if (c2 == '>' || c2 == -1) {
        m_atEnd = true;
        low = 0;
    } else {
        low = hexDigitValue(c2);
        if (low < 0) {
            reportError(getPos(), "Illegal character <%02x> in ASCIIHex stream", c2);
            low = 0;
        }
    }
    m_buffered = high * 16 + low;
    return m_buffered;
}

std::unique_ptr<DynString> HexDecoder::getPrintFilter(int level, const char* indent) {
    if (level < 2)
        return nullptr;
    return appendPrintFilter(level, indent, "/ASCIIHexDecode filter\n");
}

}  // namespace rendova
