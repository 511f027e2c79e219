#pragma once

#include <cstdint>
#include <memory>

#include "engine/core/DynString.h"
#include "engine/core/RefCounted.h"

namespace rendova {

class PdfValue;
class SourceStream;

// The engine's byte stream: a source over file or memory bytes, or a decoder
// over another stream. Shared by reference count (1 after construction): a
// stream value (kind 8) of PdfValue holds one reference, a decoder holds one
// on the stream it reads, and the stream is deleted through its virtual
// destructor when the last holder lets go. A stream and its chain belong to
// one reader (one thread) at a time. Streams never throw on bad data: they
// report through reportError and end their data; only memory exhaustion
// throws MemoryException.
//
// A stream is read between reset() and close(); reset() may be called again
// to read from the start.
class DataStream : public RefCounted {
protected:
    // Deleted through RefCounted when the last reference goes.
    ~DataStream() override = default;

public:
    // Answers of getKind().
    enum Kind : int {
        kFileKind = 0,
        kHexKind = 1,
        kBase85Kind = 2,
        kLzwKind = 3,
        kRunLengthKind = 4,
        kFaxKind = 5,
        kDctKind = 6,
        kInflateKind = 7,
        kJbig2Kind = 8,
        kJpeg2000Kind = 9,
        // Memory sources, decrypting streams and the end-of-data stream.
        kOtherKind = 10,
    };

    virtual int getKind() = 0;
    // Rewinds to the first decoded byte.
    virtual void reset() = 0;
    // Ends a use begun by reset().
    virtual void close() {}
    // The next byte 0-255, or -1 at the end of the data.
    virtual int getChar() = 0;
    // The next byte without consuming it, or -1.
    virtual int peekChar() = 0;
    // The bytes that the next getChar calls will return, as far as the
    // stream holds them decoded (decoding more when it holds none): points
    // *bytes at them and returns their count. 0 at the end of the data, and
    // always for a stream that does not lend its buffer. The bytes stay
    // valid until the next call on the stream; skipBuffered consumes the
    // first count of them.
    virtual int peekBuffered(const uint8_t** bytes) {
        *bytes = nullptr;
        return 0;
    }
    virtual void skipBuffered(int count) { static_cast<void>(count); }
    // Reads up to size bytes into buffer, as size calls of getChar would,
    // and returns how many it read: fewer only at the end of the data.
    // Decoders that hold their output in a buffer copy it in blocks.
    virtual int getBlock(uint8_t* buffer, int size);
    // The next undecoded byte, for a row predictor; streams without a raw form
    // report an error and give -1.
    virtual int readRawByte();
    // Up to size such bytes into buffer, as size calls of readRawByte would;
    // returns how many it read.
    virtual int readRawBlock(uint8_t* buffer, int size);
    // Reads one line into buffer (at most size - 1 bytes and a NUL); LF, CR
    // or CR LF end a line and are not stored. Null at the end of the data.
    virtual char* getLine(char* buffer, int size);
    // The current byte offset in the file.
    virtual int64_t getPos() = 0;
    // Moves to position (direction 0 or more: from the start; negative: back
    // from the end). Decoders cannot move and report an error.
    virtual void setPos(uint32_t position, int direction) = 0;
    // The filter chain re-expressed for a page-description back end, each
    // filter on its own line after indent; null when it cannot be expressed.
    virtual std::unique_ptr<DynString> getPrintFilter(int level, const char* indent);
    // Whether the data may be binary; sources answer last.
    virtual bool isBinary(bool last) = 0;
    // The source at the bottom of the chain.
    virtual SourceStream* getSourceStream() = 0;
    // The stream below all decoders.
    virtual DataStream* getRawSource() = 0;
    // The stream dictionary value of the source at the bottom of the chain.
    virtual PdfValue* getDict() = 0;
    // Every stream of the engine decodes; none encodes.
    virtual bool isEncodingFilter() { return false; }
    // Leaves both values unchanged unless the stream knows its image format.
    virtual void getImageFormatInfo(int& bitsPerComponent, int& colorMode) {
        (void)bitsPerComponent;
        (void)colorMode;
    }
    // The stream this one reads from; null for a source.
    virtual DataStream* getChainedSource() { return nullptr; }
    // Whether this stream stands in for a decoder that could not be made.
    virtual bool isStandIn() { return false; }
    // Whether some stream of the chain stands in for a missing decoder, so
    // that the chain reads as empty whatever the data holds.
    bool lacksDecoder();

    // Wraps stream in one decoder per entry of the dictionary's Filter (or F)
    // entry, the first filter innermost, with the parameters of DecodeParms
    // (or DP), and returns the outermost stream. The reference passed in goes
    // to the first decoder made (or comes back when there is no filter).
    static RefPtr<DataStream> addFilters(RefPtr<DataStream> stream, const PdfValue& dict);
    // One decoder over stream for the filter name, reading parameters from
    // params when it is a dictionary. An unknown name, or a filter without a
    // decoder, is reported and gives an EndOfDataStream.
    static RefPtr<DataStream> makeFilter(const char* name, RefPtr<DataStream> stream, const PdfValue& params);
};

// A stream over raw bytes: of the file, of a memory buffer, or of a parent
// stream. It owns the stream dictionary value given at construction (taken
// over from the creator, freed with the source).
class SourceStream : public DataStream {
public:
    void close() override {}
    bool isBinary(bool last) override { return last; }
    SourceStream* getSourceStream() override { return this; }
    DataStream* getRawSource() override { return this; }
    PdfValue* getDict() override;
    DataStream* getChainedSource() override { return nullptr; }

    // A new source of the same kind over a range of the same data, owning
    // dict. When limited is false the range runs to the end of the data.
    virtual RefPtr<SourceStream> makeSubrange(uint32_t start, bool limited, uint32_t length,
                                              PdfValue&& dict) = 0;
    // No source of the engine has a file name of its own.
    virtual const char* getFileName() { return nullptr; }
    // The start offset of the source data.
    virtual uint32_t getStart() = 0;
    // Moves the start by delta (the parser's fix for a wrong header offset).
    virtual void shiftStart(int delta) = 0;

protected:
    explicit SourceStream(PdfValue&& dict);
    ~SourceStream() override;

private:
    std::unique_ptr<PdfValue> m_dict;
};

// Base of every decoder. It holds a reference to the stream that it reads,
// so the outermost stream of a chain keeps the whole chain down to its source
// (and the source's dictionary) alive; a stream held elsewhere as well is
// shared by count. Decoders cannot move: setPos reports an error.
class DecoderStream : public DataStream {
public:
    void close() override;
    int64_t getPos() override;
    void setPos(uint32_t position, int direction) override;
    SourceStream* getSourceStream() override;
    DataStream* getRawSource() override;
    PdfValue* getDict() override;
    DataStream* getChainedSource() override { return m_source.get(); }

protected:
    // source must not be null.
    explicit DecoderStream(RefPtr<DataStream> source);
    ~DecoderStream() override = default;

    // Never null.
    DataStream* source() const { return m_source.get(); }
    // Source text, then indent and phrase; null when the source's is null.
    std::unique_ptr<DynString> appendPrintFilter(int level, const char* indent, const char* phrase);

private:
    RefPtr<DataStream> m_source;
};

// A decoder with no data: it stands in for a filter that cannot be made, so
// that the rest of the system sees an empty stream instead of a failure.
class EndOfDataStream : public DecoderStream {
public:
    explicit EndOfDataStream(RefPtr<DataStream> source) : DecoderStream(std::move(source)) {}

    int getKind() override { return kOtherKind; }
    bool isStandIn() override { return true; }
    void reset() override {}
    int getChar() override { return -1; }
    int peekChar() override { return -1; }
    std::unique_ptr<DynString> getPrintFilter(int, const char*) override { return nullptr; }
    bool isBinary(bool) override { return false; }

protected:
    ~EndOfDataStream() override = default;
};

}  // namespace rendova
