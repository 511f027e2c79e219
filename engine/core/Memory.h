#pragma once

#include <cstddef>
#include <memory>

namespace rendova {

// Thrown by value whenever the engine cannot get memory or is asked for a size
// that overflows. It carries no message; only the exported functions catch it.
class MemoryException {};

// The engine's checked allocation routines. Sizes and counts are signed 32-bit,
// as every size in the engine is; a size of 0 or less is "nothing".
void* memAlloc(int size);
void* memRealloc(void* block, int size);
void* memAllocArray(int count, int size);
void* memReallocArray(void* block, int count, int size);
void memFree(void* block);

// Owns a block from memAlloc, so that an exception thrown while the block is
// being filled frees it on the way out.
struct MemFreeDeleter {
    void operator()(void* block) const { memFree(block); }
};
template <typename T>
using MemPtr = std::unique_ptr<T, MemFreeDeleter>;

// memReallocArray on an owned block of T: when growing throws, `block` still
// owns the old block, which realloc leaves in place.
template <typename T>
void memReallocArray(MemPtr<T>& block, int count) {
    T* resized = static_cast<T*>(memReallocArray(block.get(), count, static_cast<int>(sizeof(T))));
    static_cast<void>(block.release());  // realloc took the old block over
    block.reset(resized);
}

// A memAlloc'd copy of a NUL-terminated string, terminator included.
char* copyString(const char* text);

// Checked arithmetic for sizes read from files: the result, or throws
// MemoryException when it does not fit a signed 32-bit size.
[[nodiscard]] int checkedAdd(int a, int b);
[[nodiscard]] int checkedMul(int a, int b);

}  // namespace rendova
