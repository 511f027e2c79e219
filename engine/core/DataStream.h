#pragma once

#include "engine/core/RefCounted.h"

namespace rendova {

class PdfValue;

// The engine's byte stream: a source over file or memory bytes, or a decoder
// over another stream. Shared by reference count: a stream value (kind 8) of
// PdfValue holds one reference. The full interface comes with the sources and
// decoders.
class DataStream : public RefCounted {
public:
    // The stream dictionary value of the source at the bottom of the chain.
    virtual PdfValue* getDict() = 0;

protected:
    ~DataStream() override = default;
};

}  // namespace rendova
