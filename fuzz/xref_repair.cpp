// A whole file through the cross-reference table: the table is read (and
// repaired when damaged), then every object is fetched and the data of every
// stream read through its filters.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine/core/DataStream.h"
#include "engine/core/Memory.h"
#include "engine/core/MemorySource.h"
#include "engine/core/PdfValue.h"
#include "engine/core/XrefTable.h"

using namespace rendova;

namespace {

// Bounds that keep one input fast: objects fetched, stream bytes read.
constexpr int kMaxObjects = 20000;
constexpr int kMaxStreamBytes = 1 << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        PdfValue noDict;
        noDict.initNull();
        RefPtr<SourceStream> source = RefPtr<SourceStream>::adopt(
            new MemorySource(reinterpret_cast<const char*>(data), 0, uint32_t(size), std::move(noDict)));
        source->reset();
        // Offsets count from the header marker, as the document counts them.
        for (size_t i = 0; i + 5 <= size && i <= 1018; ++i) {
            if (std::memcmp(data + i, "%PDF-", 5) == 0) {
                source->shiftStart(int(i));
                break;
            }
        }
        source->reset();
        XrefTable xref(source.get());
        if (!xref.isOk())
            return 0;
        PdfValue root;
        xref.fetch(xref.getRootNumber(), xref.getRootGeneration(), root);
        for (int num = 0; num < xref.getSize() && num < kMaxObjects; ++num) {
            const XrefTable::Entry& entry = xref.getEntry(num);
            PdfValue value;
            xref.fetch(num, entry.type == XrefTable::kInFile ? entry.generation : 0, value);
            if (value.isStream()) {
                DataStream* stream = value.getStream();
                stream->reset();
                for (int i = 0; i < kMaxStreamBytes && stream->getChar() != -1; ++i) {
                }
                stream->close();
            }
        }
    } catch (const MemoryException&) {
        // Memory exhaustion is the one failure that may end the open.
    }
    return 0;
}
