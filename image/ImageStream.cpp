#include "image/ImageStream.h"

namespace rendova {

bool ImageStream::putc(uint8_t byte) {
    return write(&byte, 1, 1) == 1;
}

}  // namespace rendova
