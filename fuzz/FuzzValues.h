#pragma once

// Shared by the fuzz targets that read their input as a small document: its
// first value (streams allowed) is the object under test, and the "n g obj"
// lines that follow are found by the cross-reference repair scan, so that
// references, and cycles of them, resolve. The content targets also take
// their content from the input and bound every run by an operator budget.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "engine/core/DataStream.h"
#include "engine/core/MemorySource.h"
#include "engine/core/PdfValue.h"
#include "engine/core/Tokenizer.h"
#include "engine/core/ValueParser.h"
#include "engine/core/XrefTable.h"

namespace rendova::fuzz {

class FuzzDocument {
public:
    FuzzDocument(const uint8_t* data, size_t size) {
        // The bytes are the fuzzer's, alive for the whole run of one input.
        auto* source = new MemorySource(reinterpret_cast<const char*>(data), 0, uint32_t(size), PdfValue());
        m_source = RefPtr<DataStream>::adopt(source);
        m_source->reset();
        m_xref = std::make_unique<XrefTable>(source);
        m_source->reset();
        ValueParser parser(m_xref.get(), std::make_unique<Tokenizer>(m_xref.get(), m_source.get()), true);
        parser.getValue(m_value);
    }

    const PdfValue& value() const { return m_value; }
    // The table of the "n g obj" lines, through which references resolve.
    XrefTable* xref() const { return m_xref.get(); }

private:
    RefPtr<DataStream> m_source;
    std::unique_ptr<XrefTable> m_xref;
    // Declared last: it refers to the table and the source.
    PdfValue m_value;
};

// The content of an input: everything after its first line "%%content", or
// the whole input when there is none; a stream over the fuzzer's bytes.
inline PdfValue contentAfterMarker(const uint8_t* data, size_t size) {
    static const char kMarker[] = "%%content\n";
    const char* bytes = reinterpret_cast<const char*>(data);
    size_t start = 0;
    if (const void* marker = memmem(bytes, size, kMarker, sizeof kMarker - 1))
        start = size_t(static_cast<const char*>(marker) - bytes) + sizeof kMarker - 1;
    PdfValue dict;
    dict.initNull();
    PdfValue content;
    content.initStream(new MemorySource(bytes, uint32_t(start), uint32_t(size - start), std::move(dict)));
    return content;
}

// Content that invokes itself twice per level runs 2^21 times before the
// nesting bound ends it; a page's abort check is what bounds such a page, so
// every input gets an operator budget through it.
// The targets keep the nesting bound they were tuned with, lower than the
// product's: deeper chains only make each run slower.
constexpr int kFuzzMaxNesting = 21;

struct OperatorBudget {
    int checks = 0;
    static bool over(void* data) { return ++static_cast<OperatorBudget*>(data)->checks > 2000; }
};

}  // namespace rendova::fuzz
