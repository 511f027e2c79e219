// Fuzzes the raster output device under the content interpreter: arbitrary
// content bytes drawn on a small page in the colour mode that the first byte
// picks. As for the interpreter's target, the input may begin with a
// resource dictionary (objects anywhere in the input resolve through the
// repair scan) and the content follows the first line "%%content"; the first
// byte also picks anti-aliasing, reverse video, the rotation and whether a
// crop box clips. References resolve through the objects of the input, so
// fonts (Type 3 glyph procedures among them) and forms can be drawn.
#include <cstddef>
#include <cstdint>

#include "engine/content/ContentInterpreter.h"
#include "engine/raster/RasterBitmap.h"
#include "engine/raster/RasterOutputDevice.h"
#include "fuzz/FuzzValues.h"

using namespace rendova;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 1 << 16)
        return 0;
    fuzz::FuzzDocument doc(data, size);
    const PdfValue& resources = doc.value();

    PdfValue content = fuzz::contentAfterMarker(data, size);

    const int modes[4] = {rasterMono1, rasterMono8, rasterRGB8, rasterBGR8};
    const uint8_t paper[3] = {255, 250, 240};
    RasterOutputDevice device(modes[data[0] & 3], 1 + (data[0] >> 7) * 3, (data[0] >> 2) & 1, paper,
                              (data[0] >> 3) & 1, (data[0] >> 4) & 1);
    device.startDocument(doc.xref());
    const int rotations[4] = {0, 90, 180, 270};
    // A small page keeps every input fast: 120 x 90 pixels at 72 dpi.
    const PageBox box = {0, 0, 120, 90};
    const PageBox crop = {5, 5, 100, 80};
    fuzz::OperatorBudget budget;
    {
        ContentInterpreter interpreter(doc.xref(), &device, 1,
                                       resources.isDict() ? resources.getDict() : nullptr, 72, 72, box,
                                       (data[0] & 0x20) ? &crop : nullptr, rotations[(data[0] >> 5) & 3],
                                       fuzz::OperatorBudget::over, &budget);
        interpreter.setMaxNesting(fuzz::kFuzzMaxNesting);
        interpreter.saveState();
        interpreter.display(content, true);
        interpreter.restoreState();
    }
    // Read the page so that every pixel written is checked by the sanitizers.
    const RasterBitmap* bitmap = device.getBitmap();
    unsigned sum = 0;
    for (int i = 0; i < bitmap->blockSize(); ++i)
        sum += bitmap->block()[i];
    return sum == 0xffffffffu;
}
