#include "platform/PageMemory.h"

#include <sys/mman.h>

#include <cstdint>

namespace platform {

void* allocatePages(size_t bytes) {
    if (bytes == 0)
        return nullptr;
    void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return block == MAP_FAILED ? nullptr : block;
}

void* allocateHugePages(size_t bytes) {
    if (bytes == 0 || bytes > SIZE_MAX - 2 * kHugePageSize)
        return nullptr;
    const size_t mapped = (bytes + kHugePageSize - 1) & ~(kHugePageSize - 1);
    // One huge page more than needed, trimmed at both ends to the boundary.
    const size_t length = mapped + kHugePageSize;
    void* raw = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        return nullptr;
    const auto start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + kHugePageSize - 1) & ~(kHugePageSize - 1);
    if (aligned > start)
        munmap(raw, aligned - start);
    const size_t tail = start + length - (aligned + mapped);
    if (tail > 0)
        munmap(reinterpret_cast<void*>(aligned + mapped), tail);
    auto* block = reinterpret_cast<void*>(aligned);
    madvise(block, mapped, MADV_HUGEPAGE);  // a hint: without it the block still works
    return block;
}

void freePages(void* block, size_t bytes) {
    if (block != nullptr && bytes != 0)
        munmap(block, bytes);
}

}  // namespace platform
