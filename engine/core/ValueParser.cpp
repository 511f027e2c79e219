#include "engine/core/ValueParser.h"

#include <algorithm>
#include <cstring>

#include "engine/core/DataStream.h"
#include "engine/core/Decryptor.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/Memory.h"
#include "engine/core/MemorySource.h"
#include "engine/core/XrefTable.h"

namespace rendova {

namespace {

// Arrays and dictionaries nest this deep at most. Real documents nest a
// handful of levels; the limit keeps the recursion's stack use small on a
// file made of nothing but "[" bytes. Past it the construct is an error value.
constexpr int kMaxNesting = 100;

// A stream whose endstream keyword is not where its Length says is read with
// this many bytes more, so that a slightly short Length still covers the data.
constexpr int64_t kMissingEndstreamSlack = 5000;

// Positions handed to the streams' 32-bit interface.
uint32_t toPosition(int64_t value) {
    return uint32_t(std::clamp<int64_t>(value, 0, UINT32_MAX));
}

}  // namespace

ValueParser::ValueParser(XrefTable* xref, std::unique_ptr<Tokenizer> tokenizer, bool allowStreams)
    : m_xref(xref), m_tokenizer(std::move(tokenizer)), m_allowStreams(allowStreams) {
    m_tokenizer->getObj(m_look1);
    m_tokenizer->getObj(m_look2);
}

ValueParser::~ValueParser() = default;

PdfValue& ValueParser::getValue(PdfValue& out, const Decryptor* decryptor, int num, int gen) {
    return parse(out, decryptor, num, gen, 0);
}

PdfValue& ValueParser::parse(PdfValue& out, const Decryptor* decryptor, int num, int gen, int depth) {
    // The caller has read the inline image data: refill the lookahead.
    if (m_inlineState == kInlineData) {
        m_tokenizer->getObj(m_look1);
        m_tokenizer->getObj(m_look2);
        m_inlineState = kInlineNone;
    }

    if ((m_look1.isCommand("[") || m_look1.isCommand("<<")) && depth >= kMaxNesting) {
        reportError(getPos(), "Arrays and dictionaries nest deeper than %d levels", kMaxNesting);
        shift();
        return out.initError();
    }

    if (m_look1.isCommand("[")) {
        shift();
        PdfValue array;
        array.initArray(m_xref);
        while (!m_look1.isCommand("]") && !m_look1.isEof()) {
            PdfValue element;
            parse(element, decryptor, num, gen, depth + 1);
            array.getArray()->add(std::move(element));
        }
        if (m_look1.isEof())
            reportError(getPos(), "End of input inside an array");
        shift();
        out = std::move(array);
        return out;
    }

    if (m_look1.isCommand("<<")) {
        shift();
        PdfValue dict;
        dict.initDict(m_xref);
        while (!m_look1.isCommand(">>") && !m_look1.isEof()) {
            if (!m_look1.isName()) {
                reportError(getPos(), "Dictionary key is not a name");
                shift();
                continue;
            }
            char* key = copyString(m_look1.getName());
            shift();
            if (m_look1.isEof() || m_look1.isError()) {
                memFree(key);
                break;
            }
            PdfValue value;
            parse(value, decryptor, num, gen, depth + 1);
            dict.getDict()->add(key, std::move(value));
        }
        if (m_look1.isEof())
            reportError(getPos(), "End of input inside a dictionary");
        if (m_allowStreams && m_look2.isCommand("stream")) {
            if (!makeStream(dict, out, decryptor, num, gen))
                out.initError();
            return out;
        }
        shift();
        out = std::move(dict);
        return out;
    }

    if (m_look1.isInt()) {
        int first = m_look1.getInt();
        shift();
        if (m_look1.isInt() && m_look2.isCommand("R")) {
            out.initRef(first, m_look1.getInt());
            shift();
            shift();
        } else {
            out.initInt(first);
        }
        return out;
    }

    if (m_look1.isString() && decryptor) {
        decryptString(out, decryptor, num, gen);
        shift();
        return out;
    }

    m_look1.copy(out);
    shift();
    return out;
}

void ValueParser::decryptString(PdfValue& out, const Decryptor* decryptor, int num, int gen) {
    const DynString* encrypted = m_look1.getString();
    PdfValue noDict;
    noDict.initNull();
    RefPtr<DataStream> stream = RefPtr<DataStream>::adopt(
        new MemorySource(encrypted->getCString(), 0, uint32_t(encrypted->getLength()), std::move(noDict)));
    stream = decryptor->decryptStream(std::move(stream), num, gen);
    auto decrypted = std::make_unique<DynString>();
    stream->reset();
    for (int c; (c = stream->getChar()) != -1;)
        decrypted->appendChar(static_cast<char>(c));
    stream->close();
    out.initString(decrypted.release());
}

bool ValueParser::makeStream(const PdfValue& dict, PdfValue& out, const Decryptor* decryptor, int num,
                             int gen) {
    m_tokenizer->skipToNextLine();
    // Held for the whole construction: the shifts below must not free it.
    RefPtr<DataStream> current(m_tokenizer->getCurrentStream());
    const int64_t start = m_tokenizer->getPos();

    PdfValue lengthValue;
    dict.dictLookup("Length", lengthValue);
    if (!lengthValue.isInt()) {
        reportError(getPos(), "Stream without an integer Length");
        return false;
    }
    int64_t length = lengthValue.getInt();
    if (length < 0) {
        reportError(getPos(), "Negative stream Length %lld", static_cast<long long>(length));
        length = 0;
    }
    // The end that the repair scan recorded overrides the stated length.
    int64_t end;
    if (m_xref && m_xref->findStreamEnd(start, &end))
        length = end - start;
    if (!current)
        return false;

    current->setPos(toPosition(start + length), 0);
    shift();
    shift();
    if (m_look1.isCommand("endstream")) {
        shift();
    } else {
        reportError(getPos(), "Missing endstream keyword");
        length += kMissingEndstreamSlack;
    }

    PdfValue streamDict;
    dict.copy(streamDict);
    RefPtr<DataStream> stream = current->getSourceStream()->makeSubrange(
        toPosition(start), true, toPosition(length), std::move(streamDict));
    if (decryptor)
        stream = decryptor->decryptStream(std::move(stream), num, gen);
    stream = DataStream::addFilters(std::move(stream), dict);
    out.initStream(std::move(stream));
    return true;
}

void ValueParser::shift() {
    if (m_inlineState == kInlineMarker) {
        m_inlineState = kInlineData;
    } else if (m_inlineState == kInlineData) {
        m_inlineState = kInlineNone;
    } else if (m_look2.isCommand("ID")) {
        // The one white-space byte after the inline-image data marker.
        m_tokenizer->getChar();
        m_inlineState = kInlineMarker;
    }
    m_look1 = std::move(m_look2);
    if (m_inlineState == kInlineNone) {
        m_tokenizer->getObj(m_look2);
    } else {
        // Nothing is read ahead, so the caller can read the image data
        // directly from the stream.
        m_look2.initNull();
    }
}

}  // namespace rendova
