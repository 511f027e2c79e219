#pragma once

// Values for the colour and function tests, written in document syntax.
#include <cstring>
#include <memory>
#include <string>

#include "engine/core/DataStream.h"
#include "engine/core/Memory.h"
#include "engine/core/MemorySource.h"
#include "engine/core/PdfValue.h"
#include "engine/core/Tokenizer.h"
#include "engine/core/ValueParser.h"
#include "engine/core/XrefTable.h"
#include "tests/support/PdfBuilder.h"

namespace rendova::test {

// A memory source over a copy of bytes that lives as long as the source.
inline RefPtr<DataStream> contentMemoryStream(const std::string& bytes, PdfValue&& dict = PdfValue()) {
    char* copy = static_cast<char*>(memAlloc(static_cast<int>(bytes.size()) + 1));
    if (!bytes.empty())
        std::memcpy(copy, bytes.data(), bytes.size());
    auto* source = new MemorySource(copy, 0, static_cast<uint32_t>(bytes.size()), std::move(dict));
    source->setOwnsBuffer(true);
    return RefPtr<DataStream>::adopt(source);
}

// One direct value (no references, no streams) parsed from text.
inline PdfValue value(const std::string& text) {
    RefPtr<DataStream> source = contentMemoryStream(text);
    ValueParser parser(nullptr, std::make_unique<Tokenizer>(nullptr, source.get()), false);
    PdfValue v;
    parser.getValue(v);
    return v;
}

// A stream value: the dictionary in document syntax and the data, unfiltered.
inline PdfValue streamValue(const std::string& dictText, const std::string& data) {
    PdfValue v;
    v.initStream(contentMemoryStream(data, value(dictText)).release());
    return v;
}

// A document of numbered objects, for values that refer to other objects:
//   ObjectDocument doc;
//   doc.pdf.object(1, "[/Indexed 1 0 R 0 <00>]");
//   PdfValue space = doc.open().fetch(1);
// The values fetched hold the table and must not outlive the document.
struct ObjectDocument {
    ObjectDocument& open() {
        pdf.xrefTable();
        source = contentMemoryStream(pdf.bytes());
        source->reset();
        xref = std::make_unique<XrefTable>(source->getSourceStream());
        return *this;
    }
    PdfValue fetch(int num) {
        PdfValue v;
        xref->fetch(num, 0, v);
        return v;
    }

    PdfBuilder pdf;
    RefPtr<DataStream> source;
    std::unique_ptr<XrefTable> xref;
};

}  // namespace rendova::test
