#pragma once

namespace rendova {

class PdfValue;

// The document's cross-reference table: finds and parses indirect objects.
// Owned by the document; every container built for the document keeps a plain
// pointer to it and must not outlive it.
class XrefTable {
public:
    // Fills out with object num of generation gen; a missing or free object
    // gives null.
    void fetch(int num, int gen, PdfValue& out);
};

}  // namespace rendova
