// Fuzzes inline-image parsing: the input, after a leading "BI ", runs as page
// content against a recording device, so the dictionary up to ID, the short
// keys, the filters over the embedded data, the device's drain by the
// image's size and the search for EI all see arbitrary bytes; content after
// the image (more images, paths) runs on. A resource colour space /Pal lets
// indexed images name it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "engine/content/ContentInterpreter.h"
#include "engine/core/MemorySource.h"
#include "engine/core/Tokenizer.h"
#include "engine/core/ValueParser.h"
#include "fuzz/FuzzValues.h"
#include "tests/support/RecordingDevice.h"

using namespace rendova;

namespace {

bool overBudget(void* data) {
    return ++*static_cast<int*>(data) > 200;
}

PdfValue parseValue(const char* text) {
    PdfValue dict;
    dict.initNull();
    RefPtr<DataStream> source =
        RefPtr<DataStream>::adopt(new MemorySource(text, 0, uint32_t(std::strlen(text)), std::move(dict)));
    ValueParser parser(nullptr, std::make_unique<Tokenizer>(nullptr, source.get()), true);
    PdfValue value;
    parser.getValue(value);
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 16)
        return 0;
    std::string bytes = "BI ";
    bytes.append(reinterpret_cast<const char*>(data), size);

    static const char kResources[] = "<< /ColorSpace << /Pal [/Indexed /DeviceRGB 1 <FF000000FF00>] >> >>";
    PdfValue resources = parseValue(kResources);

    PdfValue dict;
    dict.initNull();
    PdfValue content;
    content.initStream(new MemorySource(bytes.data(), 0, uint32_t(bytes.size()), std::move(dict)));

    test::RecordingDevice device;
    device.nonText = size == 0 || (data[0] & 1) == 0;
    const PageBox box = {0, 0, 612, 792};
    int checks = 0;
    {
        ContentInterpreter interpreter(nullptr, &device, 1,
                                       resources.isDict() ? resources.getDict() : nullptr, 72, 72, box,
                                       nullptr, 0, overBudget, &checks);
        interpreter.setMaxNesting(fuzz::kFuzzMaxNesting);
        interpreter.display(content, true);
    }
    return 0;
}
