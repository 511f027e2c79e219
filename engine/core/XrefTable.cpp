#include "engine/core/XrefTable.h"

#include "engine/core/PdfValue.h"

namespace rendova {

// The table is read by the parser; until it is, every reference resolves to
// null as a missing object does.
void XrefTable::fetch(int, int, PdfValue& out) { out.initNull(); }

}  // namespace rendova
