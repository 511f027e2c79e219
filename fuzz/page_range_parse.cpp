// Fuzzes the custom page-range parser: the first two bytes give the page
// count, the rest is the range text; every page handed out must lie in
// 1 .. max(count, 1) and there are exactly count() of them.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "library/PageRangeList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > 4096)
        return 0;
    const int32_t pageCount = int32_t(data[0] | data[1] << 8) % 2000;
    const std::string text(reinterpret_cast<const char*>(data + 2), size - 2);
    for (bool keepDuplicates : {false, true}) {
        rendova::PageRangeList list;
        if (!list.parse(text.c_str(), pageCount, keepDuplicates))
            continue;
        int32_t handedOut = 0;
        for (int32_t page = list.next(); page != 0; page = list.next()) {
            if (page < 1 || page > (pageCount > 1 ? pageCount : 1))
                std::abort();
            ++handedOut;
        }
        if (handedOut != list.count())
            std::abort();
    }
    return 0;
}
