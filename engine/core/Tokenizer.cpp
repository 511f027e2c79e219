#include "engine/core/Tokenizer.h"

#include <cstring>
#include <memory>

#include "engine/core/CharClass.h"
#include "engine/core/DataStream.h"
#include "engine/core/DynString.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/Memory.h"

namespace rendova {

namespace {

// Names and other regular tokens hold at most this many bytes plus a NUL;
// the format's own limit for names is 127 bytes.
constexpr int kTokenBufferSize = 128;
// Strings have no length limit; they are gathered in chunks of this size so
// that the DynString grows once per chunk rather than once per byte.
constexpr int kStringChunkSize = 128;

bool isRegular(int c) {
    return c >= 0 && charClass(c) == kCharRegular;
}

// Collects the bytes of a string in fixed chunks.
class StringBuilder {
public:
    StringBuilder() : m_string(std::make_unique<DynString>()) {}
    void put(int c) {
        if (m_count == kStringChunkSize)
            flush();
        m_chunk[m_count++] = static_cast<char>(c);
    }
    DynString* take() {
        flush();
        return m_string.release();
    }

private:
    void flush() {
        m_string->appendBytes(m_chunk, m_count);
        m_count = 0;
    }
    std::unique_ptr<DynString> m_string;
    char m_chunk[kStringChunkSize];
    int m_count = 0;
};

}  // namespace

Tokenizer::Tokenizer(XrefTable* xref, DataStream* stream)
    : m_streams(RefPtr<PdfArray>::adopt(new PdfArray(xref))) {
    PdfValue value;
    value.initStream(RefPtr<DataStream>(stream));
    m_streams->add(std::move(value));
    m_index = -1;
    nextStream();
}

Tokenizer::Tokenizer(XrefTable* xref, const PdfValue& content) {
    if (content.isStream()) {
        m_streams = RefPtr<PdfArray>::adopt(new PdfArray(xref));
        PdfValue value;
        content.copy(value);
        m_streams->add(std::move(value));
    } else {
        // Any other kind than an array reads as no input at all.
        if (content.isArray())
            m_streams = RefPtr<PdfArray>(content.getArray());
    }
    m_index = -1;
    nextStream();
}

Tokenizer::~Tokenizer() {
    sync();
    if (m_current.isStream())
        m_current.getStream()->close();
    m_current.free();
}

void Tokenizer::nextStream() {
    sync();
    m_unlent = false;
    if (m_current.isStream())
        m_current.getStream()->close();
    m_current.free();
    if (!m_streams)
        return;
    // An element that is not a stream is passed over: the caller promises
    // streams, but a damaged content array must not stop the reading.
    while (++m_index < m_streams->getLength()) {
        m_streams->get(m_index, m_current);
        if (m_current.isStream()) {
            m_current.getStream()->reset();
            return;
        }
        m_current.free();
    }
}

int Tokenizer::getChar() {
    const int c = nextByte();
    sync();
    return c;
}

int Tokenizer::peekChar() {
    const int c = peekByte();
    sync();
    return c;
}

int Tokenizer::refillByte() {
    while (m_current.isStream()) {
        DataStream* stream = m_current.getStream();
        if (borrowBuffer(stream))
            return *m_next++;
        const int c = stream->getChar();
        if (c != -1)
            return c;
        nextStream();
    }
    return -1;
}

int Tokenizer::peekByte() {
    if (m_next < m_windowEnd)
        return *m_next;
    if (!m_current.isStream())
        return -1;
    DataStream* stream = m_current.getStream();
    if (borrowBuffer(stream))
        return *m_next;
    return stream->peekChar();
}

bool Tokenizer::borrowBuffer(DataStream* stream) {
    sync();
    if (m_unlent)
        return false;
    const uint8_t* bytes;
    const int count = stream->peekBuffered(&bytes);
    if (count <= 0) {
        // Not lent or at its end: the stream is read byte by byte from here.
        m_unlent = true;
        return false;
    }
    m_windowStart = m_next = bytes;
    m_windowEnd = bytes + count;
    return true;
}

void Tokenizer::sync() {
    if (m_windowStart == nullptr)
        return;
    m_current.getStream()->skipBuffered(static_cast<int>(m_next - m_windowStart));
    m_windowStart = m_next = m_windowEnd = nullptr;
}

DataStream* Tokenizer::getCurrentStream() {
    sync();
    return m_current.isStream() ? m_current.getStream() : nullptr;
}

int64_t Tokenizer::getPos() {
    sync();
    return m_current.isStream() ? m_current.getStream()->getPos() : -1;
}

bool Tokenizer::isWhiteSpace(int c) {
    return c >= 0 && c <= 255 && isWhiteChar(c);
}

void Tokenizer::skipToNextLine() {
    for (;;) {
        int c = nextByte();
        if (c == -1 || c == '\n')
            break;
        if (c == '\r') {
            if (peekByte() == '\n')
                nextByte();
            break;
        }
    }
    sync();
}

PdfValue& Tokenizer::getObj(PdfValue& out) {
    readToken(out);
    sync();
    return out;
}

PdfValue& Tokenizer::readToken(PdfValue& out) {
    int c;
    for (;;) {
        c = nextByte();
        if (c == -1)
            return out.initEof();
        if (c == '%') {
            do {
                c = nextByte();
            } while (c != -1 && c != '\r' && c != '\n');
            if (c == -1)
                return out.initEof();
            continue;
        }
        if (!isWhiteChar(c))
            break;
    }

    switch (c) {
        case '(':
            return readString(out);
        case ')':
        case '{':
        case '}':
            reportError(getPos(), "Unexpected '%c' in the syntax", c);
            return out.initError();
        case '0':
        case '1':
        case '2':
        case '3':
        case '4':
        case '5':
        case '6':
        case '7':
        case '8':
        case '9':
        case '-':
        case '.':
            return readNumber(c, out);
        case '/':
            return readName(out);
        case '<':
            if (peekByte() == '<') {
                nextByte();
                return out.initCommand(copyString("<<"));
            }
            return readHexString(out);
        case '>':
            if (peekByte() == '>') {
                nextByte();
                return out.initCommand(copyString(">>"));
            }
            reportError(getPos(), "Unexpected '>' in the syntax");
            return out.initError();
        case '[':
            return out.initCommand(copyString("["));
        case ']':
            return out.initCommand(copyString("]"));
        default:
            return readRegular(c, out);
    }
}

PdfValue& Tokenizer::readString(PdfValue& out) {
    StringBuilder bytes;
    int depth = 1;
    for (;;) {
        int c = nextByte();
        if (c == -1) {
            reportError(getPos(), "End of input inside a string");
            break;
        }
        if (c == '(') {
            ++depth;
            bytes.put(c);
        } else if (c == ')') {
            if (--depth == 0)
                break;
            bytes.put(c);
        } else if (c != '\\') {
            // Line ends inside strings are kept as they are.
            bytes.put(c);
        } else {
            c = nextByte();
            switch (c) {
                case -1:
                    reportError(getPos(), "End of input after a backslash in a string");
                    return out.initString(bytes.take());
                case 'n':
                    bytes.put('\n');
                    break;
                case 'r':
                    bytes.put('\r');
                    break;
                case 't':
                    bytes.put('\t');
                    break;
                case 'b':
                    bytes.put('\b');
                    break;
                case 'f':
                    bytes.put('\f');
                    break;
                case '\n':
                    break;  // a continued line adds nothing
                case '\r':
                    if (peekByte() == '\n')
                        nextByte();
                    break;
                default:
                    if (c >= '0' && c <= '7') {
                        // One to three octal digits; bits above the byte drop.
                        int value = c - '0';
                        for (int i = 0; i < 2; ++i) {
                            int d = peekByte();
                            if (d < '0' || d > '7')
                                break;
                            nextByte();
                            value = value * 8 + (d - '0');
                        }
                        bytes.put(value & 0xff);
                    } else {
                        bytes.put(c);
                    }
                    break;
            }
        }
    }
    return out.initString(bytes.take());
}

PdfValue& Tokenizer::readHexString(PdfValue& out) {
    StringBuilder bytes;
    int high = -1;
    for (;;) {
        int c = nextByte();
        if (c == -1) {
            reportError(getPos(), "End of input inside a hex string");
            break;
        }
        if (c == '>')
            break;
        if (isWhiteChar(c))
            continue;
        int nibble = hexDigitValue(c);
        if (nibble < 0) {
            reportError(getPos(), "Bad character 0x%02x in a hex string", c);
            nibble = 0;
        }
        if (high < 0) {
            high = nibble;
        } else {
            bytes.put(high << 4 | nibble);
            high = -1;
        }
    }
    // An odd last digit is the high nibble of a last byte.
    if (high >= 0)
        bytes.put(high << 4);
    return out.initString(bytes.take());
}

PdfValue& Tokenizer::readNumber(int first, PdfValue& out) {
    bool negative = first == '-';
    bool real = first == '.';
    // "--10.12" is a writer's doubled sign: other readers take -10.12.
    if (negative && peekByte() == '-') {
        reportError(getPos(), "Number with more than one minus sign");
        while (peekByte() == '-')
            nextByte();
    }
    // Integers wrap in 32 bits as the format's readers always have; the
    // integer part of a real is kept in a double as well, so that a real
    // with a long integer part keeps its value.
    uint32_t integer = 0;
    double value = 0;
    double scale = 1;
    if (first >= '0' && first <= '9') {
        integer = uint32_t(first - '0');
        value = first - '0';
    }
    for (;;) {
        int c = peekByte();
        if (c >= '0' && c <= '9') {
            nextByte();
            if (real) {
                scale *= 0.1;
                value += (c - '0') * scale;
            } else {
                integer = integer * 10 + uint32_t(c - '0');
                value = value * 10 + (c - '0');
            }
        } else if (c == '.' && !real) {
            nextByte();
            real = true;
        } else if (c == '-' && real) {
            reportError(getPos(), "Minus sign among the digits of a number");
            nextByte();
        } else {
            break;
        }
    }
    if (real)
        return out.initReal(negative ? -value : value);
    return out.initInt(static_cast<int32_t>(negative ? 0u - integer : integer));
}

PdfValue& Tokenizer::readName(PdfValue& out) {
    char buffer[kTokenBufferSize];
    int n = 0;
    // False when the name is full: the byte is dropped and the rest of the
    // run stays in the stream.
    const auto append = [&](int c) {
        if (n == kTokenBufferSize - 1) {
            reportError(getPos(), "Name longer than %d bytes", kTokenBufferSize - 1);
            return false;
        }
        buffer[n++] = static_cast<char>(c);
        return true;
    };
    for (;;) {
        int c = peekByte();
        if (!isRegular(c))
            break;
        nextByte();
        if (c == '#') {
            const int digit = peekByte();
            const int high = hexDigitValue(digit);
            // "#" without two hex digits after it stands for itself, as in
            // names written before escapes existed; the byte after a single
            // digit (which may start the next token) is not swallowed.
            if (high >= 0) {
                nextByte();
                const int low = hexDigitValue(peekByte());
                if (low >= 0) {
                    nextByte();
                    c = high << 4 | low;
                } else {
                    reportError(getPos(), "Bad #xx escape in a name");
                    if (!append('#'))
                        break;
                    c = digit;
                }
            }
        }
        if (!append(c))
            break;
    }
    buffer[n] = '\0';
    return out.initName(copyString(buffer));
}

PdfValue& Tokenizer::readRegular(int first, PdfValue& out) {
    char buffer[kTokenBufferSize];
    int n = 0;
    buffer[n++] = static_cast<char>(first);
    for (;;) {
        int c = peekByte();
        if (!isRegular(c))
            break;
        nextByte();
        if (n == kTokenBufferSize - 1) {
            reportError(getPos(), "Token longer than %d bytes", kTokenBufferSize - 1);
            break;
        }
        buffer[n++] = static_cast<char>(c);
    }
    buffer[n] = '\0';
    if (first == 't' && std::strcmp(buffer, "true") == 0)
        return out.initBool(true);
    if (first == 'f' && std::strcmp(buffer, "false") == 0)
        return out.initBool(false);
    if (first == 'n' && std::strcmp(buffer, "null") == 0)
        return out.initNull();
    return out.initCommand(copyString(buffer));
}

}  // namespace rendova
