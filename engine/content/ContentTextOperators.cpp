// The text operators. Text is drawn once the font objects exist; until then
// every text operator takes its checked operands, changes nothing and the
// page reports once that its text was not drawn.
#include "engine/content/ContentInterpreter.h"

namespace rendova {

void ContentInterpreter::opText(PdfValue*, int) {
    reportDeferred(kDeferredText, "Text operators");
}

}  // namespace rendova
