#include "platform/PageMemory.h"

#include <sys/mman.h>

namespace platform {

void* allocatePages(size_t bytes) {
    if (bytes == 0)
        return nullptr;
    void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return block == MAP_FAILED ? nullptr : block;
}

void freePages(void* block, size_t bytes) {
    if (block != nullptr && bytes != 0)
        munmap(block, bytes);
}

}  // namespace platform
