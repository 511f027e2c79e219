#pragma once

// Shared by the colour-space and function fuzz targets: the input is read as
// a small document, its first value (streams allowed) is the object under
// test, and the "n g obj" lines that follow are found by the cross-reference
// repair scan, so that references, and cycles of them, resolve.
#include <cstddef>
#include <cstdint>
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

}  // namespace rendova::fuzz
