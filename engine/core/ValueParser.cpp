#include "engine/core/ValueParser.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "engine/core/CharClass.h"
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

constexpr char kEndstream[] = "endstream";
constexpr int kEndstreamLength = 9;
// Stream data is searched for its endstream keyword in blocks of this size.
constexpr int kSearchBlockSize = 4096;

// Positions handed to the streams' 32-bit interface.
uint32_t toPosition(int64_t value) {
    return uint32_t(std::clamp<int64_t>(value, 0, UINT32_MAX));
}

// The position of the endstream keyword that follows position after white
// space, or -1 when something else is there.
int64_t endstreamAfter(DataStream* stream, int64_t position) {
    if (position > int64_t(UINT32_MAX))
        return -1;
    stream->setPos(uint32_t(position), 0);
    int c = stream->getChar();
    while (c != -1 && isWhiteChar(c))
        c = stream->getChar();
    const int64_t keyword = stream->getPos() - 1;
    for (int i = 0; i < kEndstreamLength; ++i, c = stream->getChar())
        if (c != kEndstream[i])
            return -1;
    // "endstreamx" is another token.
    return c == -1 || charClass(c) != kCharRegular ? keyword : -1;
}

constexpr std::string_view kEndobj = "endobj";

// The position of the first keyword word at or after from, or -1 with the
// stream at the end of its data.
int64_t findKeyword(DataStream* stream, int64_t from, std::string_view word) {
    if (from > int64_t(UINT32_MAX))
        return -1;
    stream->setPos(uint32_t(from), 0);
    char buffer[kSearchBlockSize];
    // The last bytes of a block may begin the keyword (or be one whose next
    // byte was not read yet): they are kept at the front of the next one.
    int kept = 0;
    int64_t bufferStart = from;
    for (;;) {
        const int read = stream->getBlock(reinterpret_cast<uint8_t*>(buffer + kept), kSearchBlockSize - kept);
        if (read <= 0)
            return -1;
        const int filled = kept + read;
        const std::string_view view(buffer, size_t(filled));
        for (size_t at = view.find(word); at != std::string_view::npos; at = view.find(word, at + 1)) {
            // "endstreams" is another token; the byte after a keyword at
            // the end of the block is the stream's next one.
            const size_t after = at + word.size();
            const int next = after < view.size() ? static_cast<uint8_t>(view[after]) : stream->peekChar();
            if (next == -1 || charClass(next) != kCharRegular)
                return bufferStart + int64_t(at);
        }
        kept = std::min(filled, int(word.size()));
        std::memmove(buffer, buffer + filled - kept, size_t(kept));
        bufferStart += filled - kept;
    }
}

// The end of the data before a keyword at position: the line end before the
// keyword (CR LF, LF or CR) belongs to the keyword, not to the data.
int64_t dataEndBefore(DataStream* stream, int64_t start, int64_t keyword) {
    int64_t end = keyword;
    const auto byteBefore = [&](int64_t at) {
        stream->setPos(toPosition(at - 1), 0);
        return stream->getChar();
    };
    if (end > start && byteBefore(end) == '\n')
        --end;
    if (end > start && byteBefore(end) == '\r')
        --end;
    return end;
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
    // Held for the whole construction: refilling the lookahead at the end of
    // the file must not free it.
    RefPtr<DataStream> current(m_tokenizer->getCurrentStream());
    if (!current)
        return false;
    const int64_t start = m_tokenizer->getPos();

    PdfValue lengthValue;
    dict.dictLookup("Length", lengthValue);
    const int64_t stated = lengthValue.isInt() && lengthValue.getInt() >= 0 ? lengthValue.getInt() : -1;
    const StreamExtent extent = findStreamExtent(current.get(), start, stated);

    // The lookahead goes on after the endstream keyword.
    current->setPos(toPosition(extent.resume), 0);
    m_tokenizer->getObj(m_look1);
    m_tokenizer->getObj(m_look2);

    PdfValue streamDict;
    dict.copy(streamDict);
    RefPtr<DataStream> stream = current->getSourceStream()->makeSubrange(
        toPosition(start), true, toPosition(extent.length), std::move(streamDict));
    if (decryptor)
        stream = decryptor->decryptStream(std::move(stream), num, gen);
    stream = DataStream::addFilters(std::move(stream), dict);
    out.initStream(std::move(stream));
    return true;
}

int64_t ValueParser::searchKeyword(DataStream* stream, int64_t from, bool endobj) {
    const auto which = endobj ? XrefTable::kSearchedEndobj : XrefTable::kSearchedEndstream;
    int64_t keyword, end;
    if (m_xref && m_xref->findSearchedKeyword(which, from, &keyword, &end)) {
        // The stream stands where the search would have left it.
        stream->setPos(toPosition(end), 0);
        return keyword;
    }
    keyword = findKeyword(stream, from, endobj ? kEndobj : std::string_view(kEndstream));
    if (m_xref)
        m_xref->noteSearchedKeyword(which, from, keyword, keyword >= 0 ? keyword : stream->getPos());
    return keyword;
}

ValueParser::StreamExtent ValueParser::findStreamExtent(DataStream* stream, int64_t start, int64_t stated) {
    // A Length that ends at the keyword is taken exactly: binary data may
    // hold the word before its real end.
    if (stated >= 0) {
        const int64_t keyword = endstreamAfter(stream, start + stated);
        if (keyword >= 0)
            return {stated, keyword + kEndstreamLength};
    }
    // Otherwise the data ends at the first keyword after the stream line, as
    // writers that got the Length wrong or left it out meant it to.
    const int64_t keyword = searchKeyword(stream, start, false);
    if (keyword >= 0) {
        if (stated < 0)
            reportError(start, "Stream without a usable Length: its data runs to the endstream keyword");
        else
            reportError(start, "Stream Length %lld does not end at endstream: the data runs to the keyword",
                        static_cast<long long>(stated));
        return {dataEndBefore(stream, start, keyword) - start, keyword + kEndstreamLength};
    }
    // Without the keyword the object's end closes the data, as it does for
    // the other readers; then a stated Length, then the end of the file.
    const int64_t end = std::max(start, stream->getPos());
    const int64_t endobj = searchKeyword(stream, start, true);
    if (endobj >= 0) {
        reportError(start, "Stream without an endstream keyword: its data runs to endobj");
        return {dataEndBefore(stream, start, endobj) - start, endobj};
    }
    if (stated >= 0) {
        reportError(start, "Stream without an endstream keyword: its Length is taken");
        return {stated, start + stated};
    }
    reportError(start, "Stream without a usable Length or an endstream keyword: its data runs to the end");
    return {end - start, end};
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
