#include "engine/core/DataStream.h"

#include <cassert>

#include "engine/core/ErrorReport.h"
#include "engine/core/PdfValue.h"

namespace rendova {

int DataStream::readRawByte() {
    reportError(-1, "Internal: readRawByte on a stream without a raw form");
    return -1;
}

int DataStream::readRawBlock(uint8_t* buffer, int size) {
    int n = 0;
    while (n < size) {
        const int c = readRawByte();
        if (c < 0)
            break;
        buffer[n++] = static_cast<uint8_t>(c);
    }
    return n;
}

int DataStream::getBlock(uint8_t* buffer, int size) {
    int n = 0;
    while (n < size) {
        const int c = getChar();
        if (c < 0)
            break;
        buffer[n++] = static_cast<uint8_t>(c);
    }
    return n;
}

char* DataStream::getLine(char* buffer, int size) {
    if (peekChar() == -1)
        return nullptr;
    // Without room for even the terminating NUL there is nowhere to put a
    // line; write nothing rather than past the caller's buffer.
    if (size <= 0)
        return nullptr;
    int n = 0;
    while (n < size - 1) {
        int c = getChar();
        if (c == -1 || c == '\n')
            break;
        if (c == '\r') {
            if (peekChar() == '\n')
                getChar();
            break;
        }
        buffer[n++] = static_cast<char>(c);
    }
    buffer[n] = '\0';
    return buffer;
}

std::unique_ptr<DynString> DataStream::getPrintFilter(int, const char*) {
    return std::make_unique<DynString>();
}

// --- SourceStream ---

SourceStream::SourceStream(PdfValue&& dict) : m_dict(std::make_unique<PdfValue>(std::move(dict))) {}

SourceStream::~SourceStream() = default;

PdfValue* SourceStream::getDict() {
    return m_dict.get();
}

// --- DecoderStream ---

DecoderStream::DecoderStream(RefPtr<DataStream> source) : m_source(std::move(source)) {
    assert(m_source);
}

void DecoderStream::close() {
    m_source->close();
}

int64_t DecoderStream::getPos() {
    return m_source->getPos();
}

void DecoderStream::setPos(uint32_t, int) {
    reportError(-1, "Internal: setPos on a decoder stream");
}

SourceStream* DecoderStream::getSourceStream() {
    return m_source->getSourceStream();
}

DataStream* DecoderStream::getRawSource() {
    return m_source->getRawSource();
}

PdfValue* DecoderStream::getDict() {
    return m_source->getDict();
}

std::unique_ptr<DynString> DecoderStream::appendPrintFilter(int level, const char* indent,
                                                            const char* phrase) {
    std::unique_ptr<DynString> text = m_source->getPrintFilter(level, indent);
    if (!text)
        return nullptr;
    text->appendCStr(indent).appendCStr(phrase);
    return text;
}

bool DataStream::lacksDecoder() {
    for (DataStream* s = this; s != nullptr; s = s->getChainedSource()) {
        if (s->isStandIn())
            return true;
    }
    return false;
}

}  // namespace rendova
