#pragma once

// Helpers shared by the cross-reference tests: a table opened over bytes in
// memory, as the document opens one over its file.
#include <memory>
#include <string>

#include "engine/core/DataStream.h"
#include "engine/core/PdfValue.h"
#include "engine/core/XrefTable.h"
#include "tests/engine/core/StreamTestHelpers.h"

namespace rendova::test {

struct OpenTable {
    // With junk before the header marker the source's start moves to the
    // marker, so that offsets count from it, as the document does.
    explicit OpenTable(const std::string& bytes) : source(memoryStream(bytes)) {
        SourceStream* s = source->getSourceStream();
        s->reset();
        const size_t marker = bytes.find("%PDF-");
        if (marker != std::string::npos && marker > 0 && marker < 1019)
            s->shiftStart(int(marker));
        xref = std::make_unique<XrefTable>(s);
    }
    PdfValue fetch(int num, int gen = 0) {
        PdfValue v;
        xref->fetch(num, gen, v);
        return v;
    }
    RefPtr<DataStream> source;
    std::unique_ptr<XrefTable> xref;
};

// The bytes of a string, the text of a name or command, else the kind.
inline std::string textOf(const PdfValue& v) {
    if (v.isString())
        return std::string(v.getString()->getCString(), size_t(v.getString()->getLength()));
    if (v.isName())
        return v.getName();
    if (v.isCommand())
        return v.getCommand();
    return v.typeName();
}

}  // namespace rendova::test
