// Fuzzes font objects and the glyph rasteriser: the input is read as a small
// document whose first value is a font dictionary and whose "n g obj"
// objects (descendant fonts, descriptors, embedded font programs, ToUnicode
// streams, Type 3 procedures) the repair scan finds. The font is made with
// FontObject::create, a few strings are decoded, and when it can be drawn a
// few glyphs are rasterised through the raster device's text: filled,
// stroked and clipped, or as Type 3 glyphs through their cache. The last
// byte picks the font size and the glyph codes.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/content/FontObject.h"
#include "engine/content/GraphicsState.h"
#include "engine/core/GlobalSettings.h"
#include "engine/core/MemorySource.h"
#include "engine/core/PdfValue.h"
#include "engine/core/Tokenizer.h"
#include "engine/core/ValueParser.h"
#include "engine/core/XrefTable.h"
#include "engine/raster/RasterBitmap.h"
#include "engine/raster/RasterDeviceText.h"
#include "engine/raster/RasterPattern.h"
#include "engine/raster/Rasteriser.h"

using namespace rendova;

namespace {

// One settings object for the whole run, with the standard fonts located so
// that fonts without a program of their own find a substitute.
GlobalSettings* settings() {
    static GlobalSettings* s = [] {
        auto* made = new GlobalSettings("/nonexistent/rendova-fuzz.conf");
        made->locateStandardFonts("/usr/share/fonts/type1/urw-base35");
        return made;
    }();
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 1 << 16)
        return 0;
    globalSettings = settings();

    auto* source = new MemorySource(reinterpret_cast<const char*>(data), 0, uint32_t(size), PdfValue());
    RefPtr<DataStream> stream = RefPtr<DataStream>::adopt(source);
    stream->reset();
    XrefTable xref(source);
    stream->reset();
    PdfValue dict;
    {
        ValueParser parser(&xref, std::make_unique<Tokenizer>(&xref, stream.get()), true);
        parser.getValue(dict);
    }
    if (!dict.isDict())
        return 0;

    std::unique_ptr<FontObject> font = FontObject::create(&xref, "F1", 1, 0, dict.getDict());
    if (!font->isOk())
        return 0;

    // Decode the input's own bytes as a string of the font.
    const char* bytes = reinterpret_cast<const char*>(data);
    const int length = static_cast<int>(size < 256 ? size : 256);
    for (int pos = 0; pos < length;) {
        unsigned code, unicode[8];
        int count;
        double dx, dy, ox, oy;
        pos += font->nextChar(bytes + pos, length - pos, &code, unicode, 8, &count, &dx, &dy, &ox, &oy);
    }

    const uint8_t last = data[size - 1];
    RasterBitmap bitmap(64, 64, 1, rasterBGR8, false, false);
    auto rasteriser = std::make_unique<Rasteriser>(&bitmap, true, nullptr);
    const uint8_t black[3] = {0, 0, 0};
    rasteriser->setFillPattern(new RasterSolidColor(black));
    rasteriser->setStrokePattern(new RasterSolidColor(black));
    RasterBitmap* target = &bitmap;
    const PageBox box{0, 0, 64, 64};
    GraphicsState state(72, 72, box, 0, true);
    rasteriser->setMatrix(state.getMatrix());
    const double sizes[4] = {12, 40, -7, 0.5};
    state.setFont(font.get(), sizes[last & 3]);
    {
        RasterDeviceText text(rasterBGR8, true);
        text.startDocument(&xref, true, (last >> 2) & 1);
        const unsigned codes[3] = {'A', 'O', static_cast<unsigned>(last)};
        if (font->getFontType() == kFontType3) {
            for (unsigned code : codes) {
                if (text.beginType3Char(&state, rasteriser.get(), code))
                    continue;
                text.setType3GlyphBox(&state, rasteriser, target, 0, 0, 20 + last, 30);
                rasteriser->fill(RasterPath(), false);
                text.endType3Char(&state, rasteriser, target);
            }
        } else {
            const int modes[3] = {0, 1, 7};
            for (int i = 0; i < 3; ++i) {
                state.setRenderMode(modes[i]);
                text.drawChar(&state, rasteriser.get(), 10, 40, 0, 0, codes[i]);
            }
            text.finishTextObject(rasteriser.get());
        }
    }
    return 0;
}
