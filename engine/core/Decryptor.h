#pragma once

#include "engine/core/DataStream.h"
#include "engine/core/RefCounted.h"

namespace rendova {

// The hook through which the parser decrypts the strings and streams of an
// encrypted document. The security handler makes one once a password has
// been accepted and hands it to the XrefTable, which passes it to the value
// parser for every object it reads from the file. Null means "not encrypted".
// Implementations hold only the file key and algorithm; one thread at a time.
class Decryptor {
public:
    virtual ~Decryptor() = default;

    // A stream reading source's bytes decrypted with the key of object num,
    // generation gen; it takes over the reference to source.
    virtual RefPtr<DataStream> decryptStream(RefPtr<DataStream> source, int num, int gen) const = 0;
};

}  // namespace rendova
