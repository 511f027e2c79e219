// Fuzzes PsTokenizer: the first byte picks the token buffer's size, the rest
// is the text to split.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/core/PsTokenizer.h"

namespace {

struct Source {
    const uint8_t* data;
    size_t size;
    size_t pos;
    static int get(void* opaque) {
        Source* s = static_cast<Source*>(opaque);
        return s->pos < s->size ? s->data[s->pos++] : -1;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    int bufferSize = data[0] % 128 + 1;
    Source source{data + 1, size - 1, 0};
    rendova::PsTokenizer tokenizer(&Source::get, &source);
    // Exactly the buffer's size, so that ASan sees any write past it.
    std::vector<char> buffer(static_cast<size_t>(bufferSize));
    int length = -1;
    size_t tokens = 0;
    while (tokenizer.getToken(buffer.data(), bufferSize, &length)) {
        if (length < 0 || length >= bufferSize || buffer[static_cast<size_t>(length)] != '\0')
            __builtin_trap();
        // Every token consumes at least one byte.
        if (++tokens > size)
            __builtin_trap();
    }
    if (length != 0 || buffer[0] != '\0')
        __builtin_trap();
    return 0;
}
