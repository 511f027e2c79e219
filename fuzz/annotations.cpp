// Fuzzes a page's annotations: the input's first value is a dictionary whose
// Annots array gives the annotations and whose AcroForm the form (objects
// anywhere in the input resolve through the repair scan, so field trees may
// loop). Field appearances are written as a page writes them (every one
// anew when NeedAppearances asks, else those of widgets that have none), and
// every annotation is drawn through the content interpreter, for printing or
// for display as the first byte picks.
#include <cstddef>
#include <cstdint>

#include "engine/content/Annotation.h"
#include "engine/content/ContentInterpreter.h"
#include "fuzz/FuzzValues.h"
#include "tests/support/RecordingDevice.h"

using namespace rendova;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 1 << 16)
        return 0;
    fuzz::FuzzDocument doc(data, size);
    const PdfValue& page = doc.value();
    if (!page.isDict())
        return 0;
    PdfValue annots, form;
    page.dictLookup("Annots", annots);
    page.dictLookup("AcroForm", form);

    AnnotationList list(doc.xref(), annots);
    PdfDict* formDict = form.isDict() ? form.getDict() : nullptr;
    list.generateAppearances(formDict, AnnotationList::formAsksForAppearances(formDict));

    test::RecordingDevice device;
    device.recordUpdates = false;
    const PageBox box = {0, 0, 200, 200};
    fuzz::OperatorBudget budget;
    {
        ContentInterpreter interpreter(doc.xref(), &device, 1, nullptr, 72, 72, box, nullptr, 0,
                                       fuzz::OperatorBudget::over, &budget);
        interpreter.setMaxNesting(fuzz::kFuzzMaxNesting);
        for (int i = 0; i < list.getCount(); ++i)
            list.get(i)->draw(&interpreter, (data[0] & 1) != 0);
    }
    return 0;
}
