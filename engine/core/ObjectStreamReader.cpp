#include "engine/core/ObjectStreamReader.h"

#include "engine/core/DataStream.h"
#include "engine/core/EmbeddedSource.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/ValueParser.h"
#include "engine/core/XrefTable.h"

namespace rendova {

namespace {

// A parser over the next length bytes of data (all of the rest when not
// limited), bound to the table, without streams.
std::unique_ptr<ValueParser> parserOver(XrefTable* xref, const RefPtr<DataStream>& range) {
    return std::make_unique<ValueParser>(xref, std::make_unique<Tokenizer>(xref, range.get()), false);
}

RefPtr<DataStream> embeddedRange(DataStream* data, bool limited, int64_t length) {
    PdfValue noDict;
    noDict.initNull();
    return RefPtr<DataStream>::adopt(new EmbeddedSource(data, std::move(noDict), limited, uint32_t(length)));
}

// Reads what is left of a limited range, so that the parent stream stands
// at the range's end whatever the parser left unread.
void drain(DataStream* range) {
    while (range->getChar() != -1) {
    }
}

}  // namespace

ObjectStreamReader::ObjectStreamReader(XrefTable* xref, int streamNumber) : m_streamNumber(streamNumber) {
    PdfValue stream;
    xref->fetch(streamNumber, 0, stream);
    if (!stream.isStream()) {
        reportError(-1, "Object stream %d is not a stream", streamNumber);
        return;
    }
    PdfValue countValue, firstValue;
    stream.dictLookup("N", countValue);
    if (!countValue.isInt()) {
        reportError(-1, "Object stream %d without an object count", streamNumber);
        return;
    }
    m_count = countValue.getInt();
    if (m_count <= 0)
        return;
    stream.dictLookup("First", firstValue);
    if (!firstValue.isInt() || firstValue.getInt() < 0) {
        reportError(-1, "Object stream %d without a valid First offset", streamNumber);
        return;
    }

    DataStream* data = stream.getStream();
    data->reset();

    // The header: pairs of object number and offset from First. The pairs
    // are kept as they are read (not m_count slots up front, which a damaged
    // count could make huge).
    std::vector<int64_t> offsets;
    bool complete = true;
    {
        RefPtr<DataStream> header = embeddedRange(data, true, firstValue.getInt());
        std::unique_ptr<ValueParser> parser = parserOver(xref, header);
        for (int i = 0; i < m_count; ++i) {
            PdfValue num, offset;
            parser->getValue(num);
            parser->getValue(offset);
            if (!num.isInt() || !offset.isInt() || num.getInt() < 0 || offset.getInt() < 0 ||
                (!offsets.empty() && offset.getInt() < offsets.back())) {
                reportError(-1, "Bad header in object stream %d", streamNumber);
                complete = false;
                break;
            }
            m_objectNumbers.push_back(num.getInt());
            offsets.push_back(offset.getInt());
        }
        parser.reset();
        drain(header.get());
    }
    m_objects.resize(m_objectNumbers.size());
    if (!complete || offsets.empty()) {
        data->close();
        return;
    }

    // Bytes between the header and the first object.
    for (int64_t i = 0; i < offsets[0] && data->getChar() != -1; ++i) {
    }
    for (size_t i = 0; i < offsets.size(); ++i) {
        const bool last = i + 1 == offsets.size();
        RefPtr<DataStream> range = embeddedRange(data, !last, last ? 0 : offsets[i + 1] - offsets[i]);
        parserOver(xref, range)->getValue(m_objects[i]);
        // Data that ends early (a file cut inside the stream) holds no value.
        if (m_objects[i].isEof())
            m_objects[i].initNull();
        if (!last)
            drain(range.get());
    }
    data->close();
}

PdfValue& ObjectStreamReader::getObject(int index, int num, PdfValue& out) const {
    if (index < 0 || size_t(index) >= m_objects.size() || m_objectNumbers[size_t(index)] != num)
        return out.initNull();
    m_objects[size_t(index)].copy(out);
    return out;
}

}  // namespace rendova
