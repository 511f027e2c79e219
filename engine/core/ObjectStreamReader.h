#pragma once

#include <vector>

#include "engine/core/PdfValue.h"

namespace rendova {

class XrefTable;

// The objects of one object stream, all parsed once when the reader is made;
// the XrefTable caches one reader and asks it for compressed objects.
// Objects inside an object stream are not decrypted again: the stream itself
// was decrypted as a stream.
//
// Ownership: the table owns the reader; the reader keeps a plain pointer to
// the table for the references of its values. One thread at a time; throws
// MemoryException only.
class ObjectStreamReader {
public:
    ObjectStreamReader(XrefTable* xref, int streamNumber);
    ObjectStreamReader(const ObjectStreamReader&) = delete;
    ObjectStreamReader& operator=(const ObjectStreamReader&) = delete;

    int getStreamNumber() const { return m_streamNumber; }
    // A copy of object index when its recorded number is num, else null.
    // An object whose header was read but that was never parsed (the header
    // broke off later) gives a none value.
    PdfValue& getObject(int index, int num, PdfValue& out) const;
    // The object numbers of the header pairs read, in stream order.
    const std::vector<int>& getObjectNumbers() const { return m_objectNumbers; }
    // The objects held, parsed or not: what keeping the reader costs.
    size_t heldObjects() const { return m_objects.size(); }

private:
    int m_streamNumber;
    // The object count the stream's N claims.
    int m_count = 0;
    // One per header pair read, in stream order.
    std::vector<PdfValue> m_objects;
    std::vector<int> m_objectNumbers;
};

}  // namespace rendova
