#pragma once

#include <cstdint>
#include <memory>

#include "engine/core/PdfValue.h"
#include "engine/core/Tokenizer.h"

namespace rendova {

class DataStream;
class Decryptor;
class XrefTable;

// Builds values from the tokens of a Tokenizer with two tokens of lookahead:
// arrays, dictionaries, references "n g R" and, when allowed, streams (a
// dictionary followed by the stream keyword). Used by the cross-reference
// table to read objects, trailers and object streams, and by the content
// interpreter over content streams, whose inline images rely on inlineState.
//
// Ownership: the parser owns its tokenizer; the XrefTable (may be null) is
// not owned and resolves indirect stream lengths. One thread at a time;
// throws MemoryException only.
class ValueParser {
public:
    // Inline-image states of shift(): reading ahead normally; the data
    // marker ID has entered look1 and nothing was read ahead; the caller
    // reads the image data from the tokenizer's stream.
    enum InlineState : int { kInlineNone = 0, kInlineMarker = 1, kInlineData = 2 };

    ValueParser(XrefTable* xref, std::unique_ptr<Tokenizer> tokenizer, bool allowStreams);
    ~ValueParser();
    ValueParser(const ValueParser&) = delete;
    ValueParser& operator=(const ValueParser&) = delete;

    // Parses one value into out. When decryptor is not null the value is
    // object num, generation gen of an encrypted document: its strings and
    // streams are decrypted on the way.
    PdfValue& getValue(PdfValue& out, const Decryptor* decryptor = nullptr, int num = 0, int gen = 0);
    // Advances the lookahead by one token.
    void shift();

    int getInlineState() const { return m_inlineState; }
    Tokenizer* getTokenizer() { return m_tokenizer.get(); }
    // The position for error reports.
    int64_t getPos() { return m_tokenizer->getPos(); }

private:
    PdfValue& parse(PdfValue& out, const Decryptor* decryptor, int num, int gen, int depth);
    // After a dictionary whose next token is the stream keyword: the stream
    // over the data that follows, carrying the dictionary. False when the
    // file ends before any data.
    bool makeStream(const PdfValue& dict, PdfValue& out, const Decryptor* decryptor, int num, int gen);
    // The data of a stream starting at start (file positions) and where
    // reading goes on after it.
    struct StreamExtent {
        int64_t length;
        int64_t resume;
    };
    // stated is the dictionary's Length, -1 when it is missing or unusable
    // (not an integer, a reference to nothing, negative). The stated Length
    // holds when it ends at the endstream keyword; otherwise the data runs
    // to the first keyword after start, each such correction reported once.
    StreamExtent findStreamExtent(DataStream* stream, int64_t start, int64_t stated);
    // The first endstream (or endobj) keyword at or after from, or -1 with
    // the stream at the end of its data; through the table's record of
    // earlier searches when one is bound.
    int64_t searchKeyword(DataStream* stream, int64_t from, bool endobj);
    void decryptString(PdfValue& out, const Decryptor* decryptor, int num, int gen);

    XrefTable* m_xref;
    std::unique_ptr<Tokenizer> m_tokenizer;
    bool m_allowStreams;
    PdfValue m_look1;
    PdfValue m_look2;
    int m_inlineState = kInlineNone;
};

}  // namespace rendova
