#include "engine/core/Memory.h"

#include "base/Numeric.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace rendova {

void* memAlloc(int size) {
    if (size <= 0)
        return nullptr;
    void* block = std::malloc(static_cast<size_t>(size));
    if (!block)
        throw MemoryException();
    return block;
}

void* memRealloc(void* block, int size) {
    if (size <= 0) {
        std::free(block);
        return nullptr;
    }
    void* grown = std::realloc(block, static_cast<size_t>(size));
    if (!grown)
        throw MemoryException();
    return grown;
}

// count * size must stay below INT_MAX; the test divides so that it cannot
// itself overflow.
static bool arrayFits(int count, int size) {
    return size > 0 && count >= 0 && count < INT_MAX / size;
}

void* memAllocArray(int count, int size) {
    if (count == 0)
        return nullptr;
    if (!arrayFits(count, size))
        throw MemoryException();
    return memAlloc(count * size);
}

void* memReallocArray(void* block, int count, int size) {
    if (count == 0) {
        std::free(block);
        return nullptr;
    }
    if (!arrayFits(count, size))
        throw MemoryException();
    return memRealloc(block, count * size);
}

void memFree(void* block) {
    std::free(block);
}

char* copyString(const char* text) {
    size_t n = std::strlen(text) + 1;
    if (n > static_cast<size_t>(INT_MAX))
        throw MemoryException();
    char* copy = static_cast<char*>(memAlloc(static_cast<int>(n)));
    std::memcpy(copy, text, n);
    return copy;
}

int checkedAdd(int a, int b) {
    int result;
    if (!tryAdd(a, b, &result))
        throw MemoryException();
    return result;
}

int checkedMul(int a, int b) {
    int result;
    if (!tryMul(a, b, &result))
        throw MemoryException();
    return result;
}

}  // namespace rendova
